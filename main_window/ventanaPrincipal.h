#pragma once

class QString;
class frmPrincipal;

// What the application sets going around its main window before showing it: the login server,
// started once the window's first frame is drawn so that it never delays that frame, with what
// the first outcome needs to be drawn; and the application's icon from the PNGs `patronIconos`
// names (see instalaIconoAplicacion).
void preparaVentanaPrincipal(frmPrincipal& ventana, const QString& patronIconos);
