#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test; then builds again
# with AddressSanitizer and UndefinedBehaviorSanitizer and runs every test
# there too (TARPELINO_SANITIZER_PASS=0 skips that second pass).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test
# Every file follows the committed .clang-format.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror
fi
scripts/build.sh

# What the tests and the tools they run write (temporary files, Qt's runtime
# folder) stays in the clone, in a folder emptied before each run.
privado() {
    rm -rf "$1/test-tmp" "$1/test-runtime"
    mkdir -p "$1/test-tmp"
    mkdir -m 0700 "$1/test-runtime"
    TMPDIR="$(cd "$1/test-tmp" && pwd)" XDG_RUNTIME_DIR="$(cd "$1/test-runtime" && pwd)"
    export TMPDIR XDG_RUNTIME_DIR
}
privado "${TARPELINO_BUILD_DIR:-build}"
# --no-tests=error: a build that found no test tools must not pass for a tested one.
(cd "${TARPELINO_BUILD_DIR:-build}" && ctest --no-tests=error --output-on-failure --timeout 300 "$@")

if [[ "${TARPELINO_SANITIZER_PASS:-1}" != 0 && -z "${TARPELINO_SANITIZE:-}" ]]; then
    echo "Con AddressSanitizer y UndefinedBehaviorSanitizer:"
    TARPELINO_SANITIZE=1 TARPELINO_BUILD_DIR=build-asan scripts/build.sh
    privado build-asan
    cd build-asan
    ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        ctest --no-tests=error --output-on-failure --timeout 300 "$@"
fi
