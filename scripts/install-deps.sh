#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need; only
# the missing ones, so a second run costs nothing.
set -euo pipefail

packages=(
    g++ cmake ninja-build pkg-config clang-format
    qt6-base-dev qt6-base-private-dev libgl-dev
    freetds-dev freetds-bin
    libkrb5-dev libgnutls28-dev
    krb5-kdc krb5-admin-server krb5-user
    libgtest-dev libgmock-dev
    python3 python3-tds python3-openssl
    xvfb xauth x11-utils imagemagick
    librsvg2-bin desktop-file-utils appstream
    dpkg-dev file lintian xdotool strace
    fonts-liberation fonts-dejavu-core
    libbenchmark-dev libxdamage-dev linux-perf
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

# Node and npm for the tedious check of the stand-in; any on PATH will do (NodeSource's bundles npm).
command -v node >/dev/null || missing+=(nodejs)
command -v npm >/dev/null || missing+=(npm)

if ((${#missing[@]})); then
    echo "Instalando: ${missing[*]}"
    sudo_cmd=()
    if [[ $(id -u) -ne 0 ]]; then
        command -v sudo >/dev/null || { echo "Hace falta root o sudo para instalarlos." >&2; exit 1; }
        sudo_cmd=(sudo)
    fi
    "${sudo_cmd[@]}" apt-get update -qq
    # Through env: sudo drops the caller's environment.
    "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# tedious at the versions in its committed lock file; reinstalled only when that file changes.
tedious_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/tests/stand_in/tedious"
installed_lock="$tedious_dir/node_modules/.installed-package-lock.json"
if ! cmp -s "$tedious_dir/package-lock.json" "$installed_lock"; then
    echo "Instalando tedious (npm ci)"
    npm ci --prefix "$tedious_dir" --no-audit --no-fund
    cp "$tedious_dir/package-lock.json" "$installed_lock"
fi
