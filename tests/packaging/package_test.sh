#!/usr/bin/env bash
# Builds the .deb from a built tree, checks its control data and contents,
# runs lintian (an error fails), unpacks it into a throw-away root and starts
# the unpacked tarpelino: its window must appear and a login must run the
# unpacked tarpelino-login, not the one in the build tree.
# Usage: package_test.sh <build dir> <application id>
set -euo pipefail

construccion=$(cd "$1" && pwd)
id=$2
tmp=$(mktemp -d)
pid_xvfb=""
pid_app=""
pid_strace=""
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/xvfb.sh"
limpia() {
    para "$pid_app"
    para "$pid_strace"
    para "$pid_xvfb"
    rm -rf "$tmp"
}
trap limpia EXIT
falla() {
    echo "FALLO: $*" >&2
    exit 1
}

# --- the package ---
cpack --config "$construccion/CPackConfig.cmake" -G DEB -B "$tmp/cpack" >"$tmp/cpack.log" 2>&1 ||
    { cat "$tmp/cpack.log" >&2; falla "cpack"; }
debs=("$tmp"/cpack/*.deb)
[[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || falla "cpack made no single .deb"
deb=${debs[0]}
echo "Paquete: $(basename "$deb")"

[[ $(dpkg-deb -f "$deb" Package) == tarpelino ]] || falla "Package is not tarpelino"
[[ $(dpkg-deb -f "$deb" Version) == 1.0.0.0-1 ]] || falla "Version: $(dpkg-deb -f "$deb" Version)"
[[ -n $(dpkg-deb -f "$deb" Maintainer) ]] || falla "no Maintainer"
depende=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depende"
# Computed from the binaries: the window's toolkit and the login process's db-lib.
for biblioteca in libqt6widgets6 libsybdb5 libc6; do
    [[ $depende == *"$biblioteca"* ]] || falla "Depends lacks $biblioteca"
done
# And Qt's Spanish translation, which no binary links.
[[ $depende == *qt6-translations-l10n* ]] || falla "Depends lacks qt6-translations-l10n"

# Exactly these files, nothing from the tests or the build tree.
esperado=(
    ./usr/bin/tarpelino
    ./usr/bin/tarpelino-lote
    ./usr/libexec/tarpelino/tarpelino-login
    "./usr/share/applications/$id.desktop"
    "./usr/share/metainfo/$id.metainfo.xml"
    "./usr/share/icons/hicolor/scalable/apps/$id.svg"
    ./usr/share/doc/tarpelino/copyright
    ./usr/share/doc/tarpelino/changelog.Debian.gz
    ./usr/share/man/man1/tarpelino.1.gz
    ./usr/share/man/man1/tarpelino-lote.1.gz
)
for lado in 16 24 32 48 64 128 256; do
    esperado+=("./usr/share/icons/hicolor/${lado}x${lado}/apps/$id.png")
done
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort >"$tmp/contenido"
printf '%s\n' "${esperado[@]}" | sort >"$tmp/esperado"
diff -u "$tmp/esperado" "$tmp/contenido" || falla "package contents differ (- expected, + packaged)"

# --- lintian: errors fail, the rest is reported ---
# Its own temporary files go with ours (it leaves /tmp/mldbm-elf-* behind otherwise).
mkdir "$tmp/lintian-tmp"
TMPDIR="$tmp/lintian-tmp" lintian --tag-display-limit 0 --display-info "$deb" >"$tmp/lintian" 2>&1 || true
echo "lintian:"
sed 's/^/    /' "$tmp/lintian"
if grep -q '^E: ' "$tmp/lintian"; then
    falla "lintian reports errors"
fi

# --- unpacked and started ---
raiz="$tmp/raiz"
dpkg-deb -x "$deb" "$raiz"
ejecutable="$raiz/usr/bin/tarpelino"
ayudante="$raiz/usr/libexec/tarpelino/tarpelino-login"
[[ -x $ejecutable && -x $ayudante ]] || falla "unpacked executables missing or not executable"

arranca_xvfb 1024x768

# strace shows which tarpelino-login the window starts.
QT_QPA_PLATFORM=xcb strace -f -qq -e trace=execve -o "$tmp/execve" "$ejecutable" >"$tmp/app.log" 2>&1 &
pid_strace=$!

# Qt names its window some milliseconds before it maps it, and X refuses the focus to a window
# that is not viewable (BadMatch), so only a viewable one counts as shown. Nothing here unmaps it.
ventana=""
for _ in $(seq 150); do
    ventana=$(xdotool search --onlyvisible --name '^USUARIO SQL SERVER$' 2>/dev/null | head -1 || true)
    [[ -n $ventana ]] && break
    kill -0 "$pid_strace" 2>/dev/null || { cat "$tmp/app.log" >&2; falla "the installed tarpelino ended"; }
    sleep 0.1
done
[[ -n $ventana ]] || falla "the installed tarpelino showed no window"
echo "Ventana: $ventana"
pid_app=$(xdotool getwindowpid "$ventana")

# A SQL Server login (an empty one would ask Kerberos first) on a port nobody
# listens on: each pass runs a login process and fails at once.
xdotool windowfocus --sync "$ventana"
sleep 0.5
xdotool type --delay 20 '127.0.0.1,1'
xdotool key Tab
xdotool type --delay 20 'sa'
xdotool key Tab
xdotool type --delay 20 'x'
xdotool key Tab Tab space

for _ in $(seq 200); do
    grep -q 'tarpelino-login' "$tmp/execve" && break
    sleep 0.1
done
sleep 1
grep 'execve(.*tarpelino-login' "$tmp/execve" | sed 's/^/    /'
grep -q "execve(\"$raiz/usr/bin/../libexec/tarpelino/tarpelino-login\".* = 0\$" "$tmp/execve" ||
    falla "the installed tarpelino did not start the installed tarpelino-login"
if grep 'execve(.*tarpelino-login' "$tmp/execve" | grep -qv "\"$raiz/"; then
    falla "a tarpelino-login outside the installed tree was started"
fi

# The unpacked tarpelino-lote answers on its own, and runs the unpacked login process: a
# refused port gets the login's own description, not a missing login process.
lote="$raiz/usr/bin/tarpelino-lote"
[[ $("$lote" --version) == "tarpelino-lote 1.0.0.0" ]] || falla "tarpelino-lote --version"
estado=0
echo "127.0.0.1,1" | TARPELINO_PASSWORD=x "$lote" --usuario sa --tiempo 10 --formato csv - >"$tmp/lote.csv" \
    2>"$tmp/lote.err" || estado=$?
sed 's/^/    /' "$tmp/lote.csv"
[[ $estado -eq 1 ]] || falla "tarpelino-lote against a refused port ended with $estado: $(cat "$tmp/lote.err")"
grep -q 'Conexión INCORRECTA.,.*rechazada' "$tmp/lote.csv" || falla "tarpelino-lote did not run its login process"
echo "Correcto"
