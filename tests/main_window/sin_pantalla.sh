#!/usr/bin/env bash
# tarpelino with no display to show its window on, started as a user would:
# it says so in Spanish, points to tarpelino-lote and ends with status 1,
# never with Qt's abort; on Qt's offscreen platform it still runs.
# Usage: sin_pantalla.sh <tarpelino>
set -uo pipefail
tarpelino=$1
fallos=0

# caso <name> <expected status, or "running"> <why, as it says> [VARIABLE=value...] <executable> [arguments...]
caso() {
    local nombre=$1 esperado=$2 motivo_esperado=$3 espera=30
    shift 3
    # The window runs until killed: alive after 2 s is what counts there.
    [[ $esperado == running ]] && espera=2
    local salida estado
    salida=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u XDG_SESSION_TYPE \
        timeout "$espera" env "$@" 2>&1 </dev/null)
    estado=$?
    [[ $estado -eq 124 ]] && estado=running
    local motivo=""
    if [[ $estado != "$esperado" ]]; then
        motivo="status $estado, expected $esperado"
    elif [[ $esperado == 1 ]]; then
        [[ $salida == *"no hay ninguna pantalla gráfica en la que mostrar la ventana ($motivo_esperado)."* &&
            $salida == *"use tarpelino-lote"* && $salida != *"could not connect"* ]] ||
            motivo="not the message without a display"
    elif [[ $salida == *pantalla* ]]; then
        motivo="the message without a display, with one"
    fi
    if [[ -n $motivo ]]; then
        echo "FALLO ($nombre): $motivo:"
        echo "$salida"
        fallos=$((fallos + 1))
    else
        echo "Correcto ($nombre)"
    fi
}

caso "nothing names a display" 1 "ni DISPLAY ni WAYLAND_DISPLAY nombran una" "$tarpelino"
caso "Qt asked for X11 with no DISPLAY" 1 "DISPLAY no nombra ninguna" QT_QPA_PLATFORM=xcb "$tarpelino"
caso "X11 asked for on the command line" 1 "DISPLAY no nombra ninguna" "$tarpelino" -platform xcb
caso "a DISPLAY no X server answers at" 1 "no se pudo conectar con la de DISPLAY=«:7391»" DISPLAY=:7391 "$tarpelino"
caso "offscreen, as the tests run it" running "" QT_QPA_PLATFORM=offscreen "$tarpelino"
exit $((fallos > 0))
