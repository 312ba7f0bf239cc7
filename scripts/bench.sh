#!/usr/bin/env bash
# Builds the benchmarks into build-bench/ (RelWithDebInfo) and prints each
# figure as a ratio to its floor. The stand-in runs inside the benchmark
# programs; an Xvfb of its own serves the start-up figure. Not run by CI.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
build_dir=build-bench
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
    -DTARPELINO_BENCH=ON >/dev/null
# Two jobs at most: the machines are shared.
cmake --build "$build_dir" -j2 --target bench_conexion bench_ventana bench_arranque bench_qt_desnudo \
    tarpelino tarpelino-login >&2

out="$build_dir/bench/resultados"
mkdir -p "$out"
runtime_dir=$(mktemp -d)
xvfb_pid=
cleanup() {
    [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$runtime_dir"
    true
}
trap cleanup EXIT INT TERM
# Qt complains without one; a private one leaves nothing behind.
export XDG_RUNTIME_DIR=$runtime_dir

run() { # name, then the program and its arguments
    local name=$1
    shift
    echo "== $name" >&2
    "$@" --benchmark_out="$out/$name.json" --benchmark_out_format=json >&2
}

run conexion "$build_dir/bench/bench_conexion"
QT_QPA_PLATFORM=offscreen run ventana "$build_dir/bench/bench_ventana"

# Xvfb picks a free display and writes its number to fd 3 once it listens.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$runtime_dir/display" 2>"$runtime_dir/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 50); do
    [[ -s "$runtime_dir/display" ]] && break
    sleep 0.1
done
[[ -s "$runtime_dir/display" ]] || { cat "$runtime_dir/xvfb.log" >&2; exit 1; }
DISPLAY=:$(cat "$runtime_dir/display") run arranque "$build_dir/bench/bench_arranque"

echo
python3 bench/tabla.py "$out/conexion.json" "$out/ventana.json" "$out/arranque.json"
