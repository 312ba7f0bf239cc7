#!/usr/bin/env bash
# Installs the Debian packages one use of the project needs, and only the
# missing ones, so a second run costs nothing:
#   install-deps.sh run       building and running the window (and its demo server)
#   install-deps.sh package   that, and making the Debian package
#   install-deps.sh test      everything the tests use (the default)
set -euo pipefail
uso=${1:-test}

run=(
    g++ cmake ninja-build pkg-config
    qt6-base-dev libgl-dev qt6-translations-l10n
    freetds-dev libkrb5-dev libgnutls28-dev libunistring-dev librsvg2-bin nlohmann-json3-dev
)
# bash-completion: its pkg-config file says where the command's completion goes.
package=(dpkg-dev file bash-completion)
test=(
    clang-format freetds-bin qt6-base-private-dev
    krb5-kdc krb5-admin-server krb5-user
    libgtest-dev libgmock-dev
    python3 python3-tds python3-openssl gnutls-bin
    xvfb xauth x11-utils imagemagick
    desktop-file-utils appstream
    lintian xdotool strace ansible-core
    fonts-liberation fonts-dejavu-core
    libbenchmark-dev libxdamage-dev linux-perf
)

case $uso in
run) packages=("${run[@]}") ;;
package) packages=("${run[@]}" "${package[@]}") ;;
test) packages=("${run[@]}" "${package[@]}" "${test[@]}") ;;
*)
    echo "uso: install-deps.sh run|package|test" >&2
    exit 2
    ;;
esac

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

# Node and npm for the tedious check of the stand-in; any on PATH will do (NodeSource's bundles npm).
if [[ $uso == test ]]; then
    command -v node >/dev/null || missing+=(nodejs)
    command -v npm >/dev/null || missing+=(npm)
fi

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

[[ $uso == test ]] || exit 0

# tedious at the versions in its committed lock file; reinstalled only when that file changes. Its
# download cache stays inside the clone. Where the npm registry cannot be reached (a proxy that
# intercepts TLS, no network) the four tedious tests are skipped and say why; in CI it is an error.
tedious_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/tests/stand_in/tedious"
installed_lock="$tedious_dir/node_modules/.installed-package-lock.json"
if ! cmp -s "$tedious_dir/package-lock.json" "$installed_lock"; then
    echo "Instalando tedious (npm ci)"
    if npm ci --prefix "$tedious_dir" --cache "$tedious_dir/.npm-cache" --no-audit --no-fund --no-update-notifier; then
        cp "$tedious_dir/package-lock.json" "$installed_lock"
    elif [[ -n ${CI:-} ]]; then
        echo "No se pudo instalar tedious con npm." >&2
        exit 1
    else
        rm -rf "$tedious_dir/node_modules"
        echo "AVISO: no se pudo instalar tedious (npm ci); sus pruebas se saltarán." >&2
    fi
fi
