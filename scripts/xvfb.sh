# Sourced by the scripts and tests that need an X server of their own.
#   para <pid>                      stops a background process, if any, and waits for it
#   arranca_xvfb <width>x<height>   starts Xvfb at 96 dpi on a display nobody uses, sets
#                                   pid_xvfb and exports DISPLAY once it accepts clients

para() {
    if [[ -n "$1" ]]; then
        kill "$1" 2>/dev/null || true
        wait "$1" 2>/dev/null || true
    fi
}

arranca_xvfb() {
    local numero
    numero=$(mktemp)
    # -displayfd: Xvfb picks a free display and writes its number once it listens.
    Xvfb -displayfd 3 -screen 0 "$1x24" -dpi 96 -nolisten tcp 3>"$numero" >/dev/null 2>&1 &
    pid_xvfb=$!
    for _ in $(seq 100); do
        [[ -s "$numero" ]] && break
        sleep 0.1
    done
    if [[ ! -s "$numero" ]]; then
        rm -f "$numero"
        echo "Xvfb did not start" >&2
        return 1
    fi
    export DISPLAY=":$(cat "$numero")"
    rm -f "$numero"
}
