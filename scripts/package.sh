#!/usr/bin/env bash
# Installs what is missing, builds Tarpelino for release in build-package/
# with Debian's hardening flags, and makes the two Debian packages there:
# tarpelino-lote (the command and the login process, no Qt) and tarpelino
# (the window, which depends on it).
# Extra CMake settings (the package's identity): TARPELINO_CMAKE_ARGS.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh package
build_dir=${TARPELINO_PACKAGE_DIR:-build-package}

read -r -a extra <<<"${TARPELINO_CMAKE_ARGS:-}"
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" "${extra[@]}" >/dev/null
cmake --build "$build_dir" -- --quiet
cpack --config "$build_dir/CPackConfig.cmake" -G DEB -B "$build_dir" >/dev/null
echo "Paquetes:"
ls "$build_dir"/tarpelino-lote_*.deb "$build_dir"/tarpelino_*.deb
