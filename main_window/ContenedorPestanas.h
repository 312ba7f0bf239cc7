#pragma once

#include <QWidget>
#include <vector>

class QTabBar;

// Tab container with its tab strip along the bottom edge. Each page fills the
// container above the strip from the container's top-left corner, so a
// page's controls stand in the container's own coordinates. Only the showing
// page is visible, which keeps the other page's controls out of the focus
// cycle. The tab strip takes the container's focus.
class ContenedorPestanas : public QWidget {
    Q_OBJECT

public:
    explicit ContenedorPestanas(QWidget* padre = nullptr);

    // Adds a page captioned `titulo` and returns it to be filled.
    QWidget* agregaPagina(const QString& titulo);
    void fijaAltoPestanas(int pixeles);

    int paginaActual() const;
    void muestraPagina(int indice);
    QTabBar* pestanas() const { return barra; }

protected:
    void resizeEvent(QResizeEvent* evento) override;

private:
    void colocaPiezas();
    void muestraSoloPagina(int indice);

    QTabBar* barra;
    std::vector<QWidget*> paginas;
    int altoPestanas = 20;
};
