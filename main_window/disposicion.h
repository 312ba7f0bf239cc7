#pragma once

// Where each control of the window sits: place and size in twips of its
// container (a tab page's controls: of the tab container itself).
struct Colocacion {
    const char* nombre; // the control's objectName
    int izquierda, arriba, ancho, alto;
};

inline constexpr Colocacion kDisposicion[] = {
    {"Label5", 120, 240, 5895, 495},      {"SSTab1", 120, 840, 5895, 3735},
    {"cmTest", 120, 4680, 5895, 615},

    {"Frame1", 120, 120, 5655, 1815},     {"Label4", 240, 420, 735, 255},
    {"txtServer", 1005, 390, 4215, 285},  {"Label14", 240, 750, 735, 255},
    {"txtUsuario", 1000, 720, 1695, 285}, {"Label15", 240, 1080, 735, 255},
    {"txtPwd", 1000, 1050, 1695, 285},    {"Label1", 240, 1410, 735, 255},
    {"txtBD", 1005, 1380, 4215, 285},

    {"Frame2", 120, 1950, 5655, 1335},    {"Label2", 240, 480, 1455, 255},
    {"lbl2005", 1680, 450, 3550, 285},    {"Label3", 240, 840, 1455, 255},
    {"lbl2008", 1680, 810, 3555, 285},

    {"Label6", 240, 240, 1455, 255},      {"txtErr2005", 240, 480, 5535, 1215},
    {"Label7", 240, 1800, 1455, 255},     {"txtErr2008", 240, 2040, 5535, 1215},
};
