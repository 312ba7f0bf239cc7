#pragma once

// Screen readers meet frmPrincipal as what it is, a top-level window ("frame"),
// not as the "filler" Qt gives a plain widget. Installed once, by the window.
void instalaAccesibilidadVentana();
