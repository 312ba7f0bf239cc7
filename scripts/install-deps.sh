#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need; only
# the missing ones, so a second run costs nothing.
set -euo pipefail

packages=(
    g++ cmake ninja-build pkg-config
    qt6-base-dev qt6-base-private-dev libgl-dev
    freetds-dev freetds-bin
    libkrb5-dev libgnutls28-dev
    libgtest-dev libgmock-dev
    python3 python3-tds python3-openssl
    xvfb xauth x11-utils imagemagick
    fonts-liberation fonts-dejavu-core
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
    [[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# tedious at the versions in its committed lock file; reinstalled only when that file changes.
tedious_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/tests/stand_in/tedious"
installed_lock="$tedious_dir/node_modules/.installed-package-lock.json"
if ! cmp -s "$tedious_dir/package-lock.json" "$installed_lock"; then
    echo "Instalando tedious (npm ci)"
    npm ci --prefix "$tedious_dir" --no-audit --no-fund
    cp "$tedious_dir/package-lock.json" "$installed_lock"
fi
