#!/usr/bin/env bash
# Installs what is missing, builds, and starts Tarpelino. Unless TARPELINO_DEMO=0,
# a demo SQL Server stand-in runs on loopback beside the window and stops with it.
#   run.sh lote [options] <file>...   builds and runs tarpelino-lote instead (no display needed)
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ "${1:-}" == lote ]]; then
    shift
    # What installing and building print goes to standard error: standard output is the command's
    # table, CSV or JSON.
    scripts/install-deps.sh run >&2
    scripts/build.sh tarpelino-lote tarpelino-login >&2
    exec "${TARPELINO_BUILD_DIR:-build}/tarpelino-lote" "$@"
fi

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    echo "No display: run this from a desktop session (or set DISPLAY, e.g. to an Xvfb server)." >&2
    echo "Without one, test a list of servers with: bash scripts/run.sh lote --usuario USER servers.txt" >&2
    exit 1
fi

scripts/install-deps.sh run
# Only the window, its login process and the demo server: the tests are left to test.sh.
scripts/build.sh tarpelino tarpelino-login tds-stand-in
build_dir=${TARPELINO_BUILD_DIR:-build}

demo_pid=
demo_log=
stop_demo() {
    [[ -n "$demo_pid" ]] && kill "$demo_pid" 2>/dev/null && wait "$demo_pid" 2>/dev/null
    [[ -n "$demo_log" ]] && rm -f "$demo_log"
    true
}
trap stop_demo EXIT INT TERM

if [[ "${TARPELINO_DEMO:-1}" != 0 ]]; then
    demo_log=$(mktemp)
    "$build_dir/tests/stand_in/tds-stand-in" --address 127.0.0.1 --port "${TARPELINO_DEMO_PORT:-0}" \
        --login demo:Demo-2026 --database Ventas --encryption login >"$demo_log" 2>&1 &
    demo_pid=$!
    for _ in $(seq 50); do
        grep -q '^listening on' "$demo_log" && break
        kill -0 "$demo_pid" 2>/dev/null || break
        sleep 0.1
    done
    port=$(awk '/^listening on/ {print $4; exit}' "$demo_log")
    if [[ -z "$port" ]]; then
        echo "The demo server did not start:" >&2
        cat "$demo_log" >&2
        exit 1
    fi
    cat <<MSG
Demo SQL Server stand-in on loopback (stops when the window closes; TARPELINO_DEMO=0 turns it off):
    Servidor *  127.0.0.1,$port
    Usuario     demo
    Password    Demo-2026
    BBDD        Ventas   (or empty for MASTER)
A wrong password shows the server's own error (Msg 18456).
MSG
fi

"$build_dir/tarpelino"
