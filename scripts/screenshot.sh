#!/usr/bin/env bash
# Takes screenshots of the main window at 96 dpi into docs/frmPrincipal.png and,
# at a scale factor of 2, into docs/frmPrincipal@2x.png.
# Builds nothing: pass the built executable (default build/tarpelino).
set -euo pipefail

raiz="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
ejecutable="${1:-$raiz/build/tarpelino}"
salida="${2:-$raiz/docs/frmPrincipal.png}"
salida2x="${3:-$raiz/docs/frmPrincipal@2x.png}"

if [[ ! -x "$ejecutable" ]]; then
    echo "No executable at $ejecutable (build it first or pass its path)" >&2
    exit 1
fi
for herramienta in Xvfb xwininfo import; do
    command -v "$herramienta" >/dev/null || { echo "Missing $herramienta" >&2; exit 1; }
done

source "$raiz/scripts/xvfb.sh"
pid_xvfb=""
pid_app=""
limpia() {
    para "$pid_app"
    para "$pid_xvfb"
}
trap limpia EXIT

# Room for the window at twice its size.
arranca_xvfb 2048x1536

# captura <scale factor> <file>
captura() {
    QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR="$1" "$ejecutable" >/dev/null 2>&1 &
    pid_app=$!

    local ventana=""
    for _ in $(seq 100); do
        ventana="$(xwininfo -root -tree 2>/dev/null |
            awk '/"USUARIO SQL SERVER"/ { print $1; exit }')"
        [[ -n "$ventana" ]] && break
        sleep 0.1
    done
    if [[ -z "$ventana" ]]; then
        echo "The window did not appear" >&2
        exit 1
    fi
    sleep 1 # let the first paint finish

    mkdir -p "$(dirname "$2")"
    import -window "$ventana" "$2"
    echo "Wrote $2"
    para "$pid_app"
    pid_app=""
}

captura 1 "$salida"
captura 2 "$salida2x"
