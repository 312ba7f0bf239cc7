#!/usr/bin/env bash
# Configures and builds in build/: everything (application, stand-in server,
# tests), or only the targets given as arguments.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${TARPELINO_BUILD_DIR:-build}
extra=()
[[ -n "${CI:-}" ]] && extra+=(-DTARPELINO_WERROR=ON)
[[ -n "${TARPELINO_SANITIZE:-}" ]] && extra+=(-DTARPELINO_SANITIZE=ON)

cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${extra[@]}" >/dev/null
targets=()
(($#)) && targets=(--target "$@")
cmake --build "$build_dir" "${targets[@]}" -- --quiet
