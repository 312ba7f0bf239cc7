#include "main_window/frmPrincipal.h"

#include "main_window/CajaTexto.h"
#include "main_window/CajaTextoMultilinea.h"
#include "main_window/ContenedorPestanas.h"
#include "main_window/EstiloAsteriscos.h"
#include "main_window/disposicion.h"
#include "main_window/fuentes.h"
#include "main_window/twips.h"
#include "main_window/ventanaAccesible.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTabBar>
#include <utility>

namespace {

template <typename Control> Control* nuevoControl(QWidget* padre, const char* nombre) {
    auto* control = new Control(padre);
    control->setObjectName(QString::fromLatin1(nombre));
    return control;
}

QLabel* nuevaEtiqueta(QWidget* padre, const char* nombre, const QString& texto) {
    auto* etiqueta = nuevoControl<QLabel>(padre, nombre);
    etiqueta->setText(texto);
    etiqueta->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return etiqueta;
}

QGroupBox* nuevoMarco(QWidget* padre, const char* nombre, const QString& titulo) {
    auto* marco = nuevoControl<QGroupBox>(padre, nombre);
    marco->setTitle(titulo);
    return marco;
}

// Outcome label: sunken border like a text box's, bold.
QLabel* nuevaEtiquetaResultado(QWidget* padre, const char* nombre) {
    auto* etiqueta = nuevaEtiqueta(padre, nombre, QString());
    etiqueta->setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
    etiqueta->setFont(fuenteMsSansSerif(8.25, QFont::Bold));
    etiqueta->setForegroundRole(QPalette::Highlight);
    return etiqueta;
}

} // namespace

frmPrincipal::frmPrincipal(probe::FabricaConexion fabrica, QWidget* padre)
    : QWidget(padre), fabricaConexion(std::move(fabrica)) {
    setObjectName(QStringLiteral("frmPrincipal"));
    instalaAccesibilidadVentana();
    setWindowTitle(QStringLiteral("USUARIO SQL SERVER"));
    setFont(fuenteMsSansSerif(8.25));
    creaControles();
    colocaControles();
    conectaEventos();
    txtServer->setFocus();
}

frmPrincipal::~frmPrincipal() = default;

void frmPrincipal::creaControles() {
    Label5 = nuevaEtiqueta(this, "Label5", QStringLiteral("TEST SQL Server"));
    Label5->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Label5->setFont(fuenteMsSansSerif(13.5, QFont::Bold));
    Label5->setForegroundRole(QPalette::Highlight);

    SSTab1 = nuevoControl<ContenedorPestanas>(this, "SSTab1");
    paginaTest = SSTab1->agregaPagina(QStringLiteral("Test"));
    paginaErrores = SSTab1->agregaPagina(QStringLiteral("Errores"));

    cmTest = nuevoControl<QPushButton>(this, "cmTest");
    cmTest->setText(QStringLiteral("Test Conexión"));
    cmTest->setFont(fuenteMsSansSerif(9.75));
    cmTest->setAutoDefault(false);

    Frame1 = nuevoMarco(paginaTest, "Frame1", QStringLiteral("Servidor SQL Server"));
    Label4 = nuevaEtiqueta(Frame1, "Label4", QStringLiteral("Servidor *"));
    txtServer = nuevoControl<CajaTexto>(Frame1, "txtServer");
    Label14 = nuevaEtiqueta(Frame1, "Label14", QStringLiteral("Usuario"));
    txtUsuario = nuevoControl<CajaTexto>(Frame1, "txtUsuario");
    Label15 = nuevaEtiqueta(Frame1, "Label15", QStringLiteral("Password"));
    txtPwd = nuevoControl<CajaTexto>(Frame1, "txtPwd");
    txtPwd->setEchoMode(QLineEdit::Password);
    // After setEchoMode, which switches the input method back on.
    txtPwd->setAttribute(Qt::WA_InputMethodEnabled, false);
    auto* asteriscos = new EstiloAsteriscos;
    asteriscos->setParent(txtPwd);
    txtPwd->setStyle(asteriscos);
    Label1 = nuevaEtiqueta(Frame1, "Label1", QStringLiteral("BBDD"));
    txtBD = nuevoControl<CajaTexto>(Frame1, "txtBD");

    Frame2 = nuevoMarco(paginaTest, "Frame2", QStringLiteral("Resultado"));
    Label2 = nuevaEtiqueta(Frame2, "Label2", QStringLiteral("Test Versión 2005"));
    lbl2005 = nuevaEtiquetaResultado(Frame2, "lbl2005");
    Label3 = nuevaEtiqueta(Frame2, "Label3", QStringLiteral("Test Versión 2008"));
    lbl2008 = nuevaEtiquetaResultado(Frame2, "lbl2008");

    Label6 = nuevaEtiqueta(paginaErrores, "Label6", QStringLiteral("Versión 2005"));
    txtErr2005 = nuevoControl<CajaTextoMultilinea>(paginaErrores, "txtErr2005");
    Label7 = nuevaEtiqueta(paginaErrores, "Label7", QStringLiteral("Versión 2008"));
    txtErr2008 = nuevoControl<CajaTextoMultilinea>(paginaErrores, "txtErr2008");

    nombraAccesibles();
}

// A screen reader names each box and result label by the caption beside it.
// Not through buddies: those would bring access keys the window does not have.
void frmPrincipal::nombraAccesibles() {
    const std::pair<QWidget*, QLabel*> pares[] = {
        {txtServer, Label4}, {txtUsuario, Label14}, {txtPwd, Label15},    {txtBD, Label1},
        {lbl2005, Label2},   {lbl2008, Label3},     {txtErr2005, Label6}, {txtErr2008, Label7},
    };
    for (const auto& [control, rotulo] : pares)
        control->setAccessibleName(rotulo->text());
}

// Fixed positions, in twips of each control's container; nothing is laid out
// again when the window is resized.
void frmPrincipal::colocaControles() {
    const int dpiX = logicalDpiX();
    const int dpiY = logicalDpiY();
    const auto coloca = [dpiX, dpiY](QWidget* control, int izquierda, int arriba, int ancho, int alto) {
        control->setGeometry(rectanguloTwips(izquierda, arriba, ancho, alto, dpiX, dpiY));
    };

    resize(twipsAPixeles(6135, dpiX), twipsAPixeles(5415, dpiY));

    for (const Colocacion& c : kDisposicion)
        if (auto* control = findChild<QWidget*>(QLatin1String(c.nombre)))
            coloca(control, c.izquierda, c.arriba, c.ancho, c.alto);
    SSTab1->fijaAltoPestanas(twipsAPixeles(295, dpiY));

    if (const QScreen* pantalla = screen())
        setGeometry(
            QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(), pantalla->availableGeometry()));
}

void frmPrincipal::conectaEventos() {
    QWidget::setTabOrder(txtServer, txtUsuario);
    QWidget::setTabOrder(txtUsuario, txtPwd);
    QWidget::setTabOrder(txtPwd, txtBD);
    QWidget::setTabOrder(txtBD, cmTest);
    // The container's strip itself: its pages' controls are its descendants too.
    QWidget::setTabOrder(cmTest, SSTab1->pestanas());
    QWidget::setTabOrder(SSTab1->pestanas(), txtErr2005);
    QWidget::setTabOrder(txtErr2005, txtErr2008);

    connect(cmTest, &QPushButton::clicked, this, &frmPrincipal::cmTest_Click);
    cmTest->installEventFilter(this);
    connect(txtServer, &CajaTexto::recibeFoco, this, &frmPrincipal::txtServer_GotFocus);
    connect(txtUsuario, &CajaTexto::recibeFoco, this, &frmPrincipal::txtUsuario_GotFocus);
    connect(txtPwd, &CajaTexto::recibeFoco, this, &frmPrincipal::txtPwd_GotFocus);
}

void frmPrincipal::txtServer_GotFocus() {
    seleccionaTexto(txtServer);
}

void frmPrincipal::txtUsuario_GotFocus() {
    seleccionaTexto(txtUsuario);
}

void frmPrincipal::txtPwd_GotFocus() {
    seleccionaTexto(txtPwd);
}
