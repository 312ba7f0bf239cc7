#!/usr/bin/env bash
# Builds the benchmarks into build-bench/ (RelWithDebInfo) and prints each
# figure as a ratio to its floor. The stand-in runs inside the benchmark
# programs; an Xvfb of its own serves the start-up figure. Not run by CI.
# Memory is the window's process with every process descending from it, each
# physical page counted once (bench/arbol.h): a library the window and its
# login processes all map occupies memory once, so it counts once.
# `bench.sh lote` runs tarpelino-lote over 1,000 stand-ins instead (bench/lote.py), then
# side by side with tedious over the same stand-ins (bench/lote_frente.py), then with every
# generation and --versiones-tls beside the default two (bench/lote_generaciones.py).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test
build_dir=build-bench
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
    -DTARPELINO_BENCH=ON >/dev/null
# Two jobs at most: the machines are shared.
if [[ ${1:-} == lote ]]; then
    # tarpelino-lote over 1,000 stand-ins, at --paralelo 1, 8 and 32 (a few minutes); then it and
    # tedious, in turn, three times each, over 1,000 stand-ins with and without a 20-ms reply
    # delay and over 10,000; then each output format over 100,000 servers.
    cmake --build "$build_dir" -j2 --target tarpelino-lote tarpelino-login tds-stand-in >&2
    mkdir -p "$build_dir/tmp"
    export TMPDIR="$PWD/$build_dir/tmp"
    estado=0
    python3 bench/lote.py --servidores 1000 --paralelo 1,8,32 \
        --lote "$build_dir/tarpelino-lote" --stand-in "$build_dir/bench/stand_in/tds-stand-in" || estado=1
    python3 bench/lote_frente.py --lote "$build_dir/tarpelino-lote" \
        --stand-in "$build_dir/bench/stand_in/tds-stand-in" --tedious tests/stand_in/tedious || estado=1
    # Each format's time and peak memory over 100,000 servers (1,000 stand-ins, each named 100 times).
    python3 bench/lote.py --servidores 1000 --memoria 100000 \
        --lote "$build_dir/tarpelino-lote" --stand-in "$build_dir/bench/stand_in/tds-stand-in" || estado=1
    # Today's drivers and the TLS versions beside the window's two: at most 2.5 times the wall time.
    python3 bench/lote_generaciones.py --lote "$build_dir/tarpelino-lote" \
        --stand-in "$build_dir/bench/stand_in/tds-stand-in" || estado=1
    exit $estado
fi
cmake --build "$build_dir" -j2 --target bench_conexion bench_ventana bench_ventana_hija bench_arranque \
    bench_qt_desnudo tarpelino tarpelino-login >&2

out="$build_dir/bench/resultados"
mkdir -p "$out"
runtime_dir=$(mktemp -d)
source scripts/xvfb.sh
pid_xvfb=
cleanup() {
    para "$pid_xvfb"
    rm -rf "$runtime_dir"
    true
}
trap cleanup EXIT INT TERM
# Qt complains without one; a private one leaves nothing behind.
export XDG_RUNTIME_DIR=$runtime_dir

# Three runs of each figure, for its spread.
run() { # name, then the program and its arguments
    local name=$1
    shift
    echo "== $name" >&2
    "$@" --benchmark_repetitions=3 --benchmark_out="$out/$name.json" --benchmark_out_format=json >&2
}

echo "load before the runs: $(cut -d' ' -f1-3 /proc/loadavg)" >&2

run conexion "$build_dir/bench/bench_conexion"
QT_QPA_PLATFORM=offscreen run ventana "$build_dir/bench/bench_ventana"

arranca_xvfb 1280x1024
run arranque "$build_dir/bench/bench_arranque"

echo "load after the runs: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
echo
python3 bench/tabla.py "$out/conexion.json" "$out/ventana.json" "$out/arranque.json"
