#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scripts/build.sh
cd "${TARPELINO_BUILD_DIR:-build}"
ctest --output-on-failure --timeout 300 "$@"
