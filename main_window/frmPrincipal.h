#pragma once

#include "data_access/Conexion.h"
#include "probe/pasadaConexion.h"

#include <QWidget>
#include <functional>
#include <memory>

class CajaTexto;
class CajaTextoMultilinea;
class ContenedorPestanas;
class QGroupBox;
class QLabel;
class QPushButton;

// The tool's only window: four input boxes, the "Test Conexión" button and
// the outcome of the two probes it starts.
class frmPrincipal : public QWidget {
    Q_OBJECT

public:
    // `fabrica` makes the connection objects the probes work on; tests put fakes here.
    // The cast picks the overload without a timeout, whatever else the includer has declared.
    explicit frmPrincipal(
        probe::FabricaConexion fabrica =
            static_cast<std::unique_ptr<data_access::Conexion> (*)()>(data_access::nuevaConexion),
        QWidget* padre = nullptr);
    ~frmPrincipal() override;

    // Selects the whole text of any control that offers "SelStart",
    // "SelLength" and "Text" by name; skips what the control lacks.
    void seleccionaTexto(QObject* editC) noexcept;

    // Readies what drawing the first outcome needs, so that it shows as fast as later ones;
    // changes nothing on the window. For after its first frame.
    void preparaPrimerResultado();

protected:
    void closeEvent(QCloseEvent* evento) override;
    bool eventFilter(QObject* objeto, QEvent* evento) override;

private slots:
    void cmTest_Click();
    void txtServer_GotFocus();
    void txtUsuario_GotFocus();
    void txtPwd_GotFocus();

private:
    enum class ColorResultado { ResaltadoSistema, Rojo };

    void creaControles();
    void colocaControles();
    void conectaEventos();
    void nombraAccesibles();

    void ejecutaTest();
    void entregaEntradaRetenida();
    static void pintaResultado(QLabel* etiqueta, ColorResultado color);

    // One pass of the run: the probe's pass, inside the window's wait and cursor. A failure's
    // text goes to `textoError`, which an empty server leaves as it was.
    probe::ResultadoPasada compruebaConexion(QString proveedor, QString servidor, QString baseDatos,
                                             QString usuario, QString password, QString& textoError);

    probe::FabricaConexion fabricaConexion;
    std::unique_ptr<data_access::Conexion> conexion;
    // A run waits on the network with the event loop running; these keep a
    // second run and a close from starting inside it.
    bool testEnCurso = false;
    bool cierrePendiente = false;
    // While set, presses of cmTest are dropped: see eventFilter().
    bool descartandoPulsaciones = false;

    QLabel* Label5 = nullptr;
    ContenedorPestanas* SSTab1 = nullptr;
    QPushButton* cmTest = nullptr;
    QWidget* paginaTest = nullptr;
    QWidget* paginaErrores = nullptr;
    QGroupBox* Frame1 = nullptr;
    QLabel* Label4 = nullptr;
    CajaTexto* txtServer = nullptr;
    QLabel* Label14 = nullptr;
    CajaTexto* txtUsuario = nullptr;
    QLabel* Label15 = nullptr;
    CajaTexto* txtPwd = nullptr;
    QLabel* Label1 = nullptr;
    CajaTexto* txtBD = nullptr;
    QGroupBox* Frame2 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* lbl2005 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* lbl2008 = nullptr;
    QLabel* Label6 = nullptr;
    CajaTextoMultilinea* txtErr2005 = nullptr;
    QLabel* Label7 = nullptr;
    CajaTextoMultilinea* txtErr2008 = nullptr;
};
