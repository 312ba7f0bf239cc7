#include "main_window/ventanaPrincipal.h"

#include "data_access/Lanzadera.h"
#include "main_window/frmPrincipal.h"
#include "main_window/iconoAplicacion.h"
#include "main_window/primerFotograma.h"

void preparaVentanaPrincipal(frmPrincipal& ventana, const QString& patronIconos) {
    // A click before the server is ready only waits for the rest of its start.
    alPrimerFotograma(&ventana, [&ventana] {
        data_access::preparaLogins();
        ventana.preparaPrimerResultado();
    });
    instalaIconoAplicacion(ventana, patronIconos);
}
