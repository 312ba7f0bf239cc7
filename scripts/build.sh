#!/usr/bin/env bash
# Configures and builds everything (application, stand-in server, tests) in build/.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${TARPELINO_BUILD_DIR:-build}
extra=()
[[ -n "${CI:-}" ]] && extra+=(-DTARPELINO_WERROR=ON)
[[ -n "${TARPELINO_SANITIZE:-}" ]] && extra+=(-DTARPELINO_SANITIZE=ON)

cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${extra[@]}" >/dev/null
cmake --build "$build_dir" -- --quiet
