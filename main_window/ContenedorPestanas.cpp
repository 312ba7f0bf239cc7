#include "main_window/ContenedorPestanas.h"

#include <QTabBar>

ContenedorPestanas::ContenedorPestanas(QWidget* padre) : QWidget(padre), barra(new QTabBar(this)) {
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
    barra->setShape(QTabBar::RoundedSouth);
    barra->setExpanding(true);
    barra->setDrawBase(false);
    barra->setUsesScrollButtons(false);
    setFocusProxy(barra);
    connect(barra, &QTabBar::currentChanged, this, &ContenedorPestanas::muestraSoloPagina);
}

QWidget* ContenedorPestanas::agregaPagina(const QString& titulo) {
    auto* pagina = new QWidget(this);
    pagina->setBackgroundRole(QPalette::Button);
    pagina->setAutoFillBackground(true);
    paginas.push_back(pagina);
    barra->addTab(titulo);
    colocaPiezas();
    muestraSoloPagina(barra->currentIndex());
    return pagina;
}

void ContenedorPestanas::fijaAltoPestanas(int pixeles) {
    altoPestanas = pixeles;
    colocaPiezas();
}

int ContenedorPestanas::paginaActual() const {
    return barra->currentIndex();
}

void ContenedorPestanas::muestraPagina(int indice) {
    barra->setCurrentIndex(indice);
}

void ContenedorPestanas::resizeEvent(QResizeEvent* evento) {
    QWidget::resizeEvent(evento);
    colocaPiezas();
}

void ContenedorPestanas::colocaPiezas() {
    const int altoPaginas = height() - altoPestanas;
    barra->setGeometry(0, altoPaginas, width(), altoPestanas);
    for (QWidget* pagina : paginas)
        pagina->setGeometry(0, 0, width(), altoPaginas);
}

void ContenedorPestanas::muestraSoloPagina(int indice) {
    for (int i = 0; i < int(paginas.size()); ++i)
        paginas[i]->setVisible(i == indice);
}
