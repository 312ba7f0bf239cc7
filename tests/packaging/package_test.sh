#!/usr/bin/env bash
# Builds the two .deb packages from a built tree (tarpelino-lote: the command
# and the login process, no Qt; tarpelino: the window, depending on it),
# checks their control data and contents, runs lintian on both (an error
# fails), and unpacks them into throw-away roots: the unpacked tarpelino must
# show its window and run the unpacked tarpelino-login, and the unpacked
# tarpelino-lote, from its package alone, must log in against the stand-in.
# Usage: package_test.sh <build dir> <application id>
set -euo pipefail

construccion=$(cd "$1" && pwd)
id=$2
tmp=$(mktemp -d)
pid_xvfb=""
pid_app=""
pid_strace=""
pid_suplente=""
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/xvfb.sh"
limpia() {
    para "$pid_app"
    para "$pid_strace"
    para "$pid_xvfb"
    para "$pid_suplente"
    rm -rf "$tmp"
}
trap limpia EXIT
falla() {
    echo "FALLO: $*" >&2
    exit 1
}

# --- the packages ---
cpack --config "$construccion/CPackConfig.cmake" -G DEB -B "$tmp/cpack" >"$tmp/cpack.log" 2>&1 ||
    { cat "$tmp/cpack.log" >&2; falla "cpack"; }
(cd "$tmp/cpack" && ls ./*.deb) | sort >"$tmp/debs"
printf '%s\n' ./tarpelino-lote_1.0.0.0-1_amd64.deb ./tarpelino_1.0.0.0-1_amd64.deb | sort >"$tmp/debs-esperados"
diff -u "$tmp/debs-esperados" "$tmp/debs" || falla "cpack did not make the two packages (- expected, + made)"
deb_lote=$tmp/cpack/tarpelino-lote_1.0.0.0-1_amd64.deb
deb_ventana=$tmp/cpack/tarpelino_1.0.0.0-1_amd64.deb

for deb in "$deb_lote" "$deb_ventana"; do
    paquete=$(basename "$deb" | cut -d_ -f1)
    [[ $(dpkg-deb -f "$deb" Package) == "$paquete" ]] || falla "Package is not $paquete"
    [[ $(dpkg-deb -f "$deb" Version) == 1.0.0.0-1 ]] || falla "$paquete: Version: $(dpkg-deb -f "$deb" Version)"
    [[ -n $(dpkg-deb -f "$deb" Maintainer) ]] || falla "$paquete: no Maintainer"
    # Both descriptions name the command, and say which package has what.
    [[ $(dpkg-deb -f "$deb" Description) == *tarpelino-lote* ]] || falla "$paquete: its description never names tarpelino-lote"
    echo "$paquete: $(dpkg-deb -f "$deb" Description | head -1)"
    echo "    Depends: $(dpkg-deb -f "$deb" Depends)"
done
[[ $(dpkg-deb -f "$deb_lote" Source) == tarpelino ]] || falla "tarpelino-lote: Source is not tarpelino"

# Computed from the binaries: the command's and login process's db-lib and GnuTLS, and no Qt,
# so that a machine without a desktop installs it alone.
depende=$(dpkg-deb -f "$deb_lote" Depends)
for biblioteca in libsybdb5 libgnutls30 libc6; do
    [[ $depende == *"$biblioteca"* ]] || falla "tarpelino-lote: Depends lacks $biblioteca"
done
[[ ${depende,,} != *qt* ]] || falla "tarpelino-lote depends on Qt: $depende"
# The window's toolkit, Qt's Spanish translation (which no binary links), and the login process
# of its own version.
depende=$(dpkg-deb -f "$deb_ventana" Depends)
for dependencia in libqt6widgets6 libc6 qt6-translations-l10n "tarpelino-lote (= 1.0.0.0-1)"; do
    [[ $depende == *"$dependencia"* ]] || falla "tarpelino: Depends lacks $dependencia"
done

# Exactly these files in each, nothing from the tests or the build tree.
contenido() {
    dpkg-deb -c "$1" | awk '$1 !~ /^d/ { print $6 }' | sort >"$tmp/contenido"
    printf '%s\n' "${@:2}" | sort >"$tmp/esperado"
    diff -u "$tmp/esperado" "$tmp/contenido" || falla "$(basename "$1"): contents differ (- expected, + packaged)"
}
contenido "$deb_lote" \
    ./usr/bin/tarpelino-lote \
    ./usr/libexec/tarpelino/tarpelino-login \
    ./usr/share/doc/tarpelino-lote/copyright \
    ./usr/share/doc/tarpelino-lote/changelog.Debian.gz \
    ./usr/share/man/man1/tarpelino-lote.1.gz \
    ./usr/share/bash-completion/completions/tarpelino-lote
iconos=()
for lado in 16 24 32 48 64 128 256; do
    iconos+=("./usr/share/icons/hicolor/${lado}x${lado}/apps/$id.png")
done
contenido "$deb_ventana" \
    ./usr/bin/tarpelino \
    "./usr/share/applications/$id.desktop" \
    "./usr/share/metainfo/$id.metainfo.xml" \
    "./usr/share/icons/hicolor/scalable/apps/$id.svg" \
    "${iconos[@]}" \
    ./usr/share/doc/tarpelino/copyright \
    ./usr/share/doc/tarpelino/changelog.Debian.gz \
    ./usr/share/man/man1/tarpelino.1.gz
# The changelog tells of the command's package.
zcat <(dpkg-deb --fsys-tarfile "$deb_lote" | tar -xO ./usr/share/doc/tarpelino-lote/changelog.Debian.gz) |
    grep -q 'tarpelino-lote' || falla "the changelog never names tarpelino-lote"

# --- lintian: errors fail, the rest is reported ---
# Its own temporary files go with ours (it leaves /tmp/mldbm-elf-* behind otherwise).
mkdir "$tmp/lintian-tmp"
TMPDIR="$tmp/lintian-tmp" lintian --tag-display-limit 0 --display-info "$deb_lote" "$deb_ventana" >"$tmp/lintian" 2>&1 ||
    true
echo "lintian:"
sed 's/^/    /' "$tmp/lintian"
if grep -q '^E: ' "$tmp/lintian"; then
    falla "lintian reports errors"
fi

# --- unpacked and started: the window, which needs both ---
raiz="$tmp/raiz"
dpkg-deb -x "$deb_lote" "$raiz"
dpkg-deb -x "$deb_ventana" "$raiz"
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

# --- the command from its package alone ---
# It answers on its own, runs the login process unpacked beside it (../libexec/tarpelino), and
# both passes log in against the stand-in.
raiz_lote="$tmp/raiz-lote"
dpkg-deb -x "$deb_lote" "$raiz_lote"
lote="$raiz_lote/usr/bin/tarpelino-lote"
[[ $("$lote" --version) == "tarpelino-lote 1.0.0.0" ]] || falla "tarpelino-lote --version"
"$construccion/tests/stand_in/tds-stand-in" --address 127.0.0.1 --port 0 --login demo:Demo-2026 \
    --encryption login >"$tmp/suplente.log" 2>&1 &
pid_suplente=$!
puerto=""
for _ in $(seq 100); do
    puerto=$(awk '/^listening on/ {print $4; exit}' "$tmp/suplente.log")
    [[ -n $puerto ]] && break
    kill -0 "$pid_suplente" 2>/dev/null || break
    sleep 0.1
done
[[ -n $puerto ]] || { cat "$tmp/suplente.log" >&2; falla "the stand-in did not start"; }
estado=0
echo "127.0.0.1,$puerto" | TARPELINO_PASSWORD=Demo-2026 strace -f -qq -e trace=execve -o "$tmp/execve-lote" \
    "$lote" --usuario demo --tiempo 10 --formato csv - >"$tmp/lote.csv" 2>"$tmp/lote.err" || estado=$?
sed 's/^/    /' "$tmp/lote.csv"
[[ $estado -eq 0 ]] || falla "tarpelino-lote against the stand-in ended with $estado: $(cat "$tmp/lote.err")"
[[ $(grep -o 'Conexión CORRECTA\.' "$tmp/lote.csv" | wc -l) -eq 2 ]] || falla "tarpelino-lote: not both passes logged in"
grep 'execve(.*tarpelino-login' "$tmp/execve-lote" | sed 's/^/    /'
grep -q "execve(\"$raiz_lote/usr/bin/../libexec/tarpelino/tarpelino-login\".* = 0\$" "$tmp/execve-lote" ||
    falla "tarpelino-lote did not start the tarpelino-login of its package"
if grep 'execve(.*tarpelino-login' "$tmp/execve-lote" | grep -qv "\"$raiz_lote/"; then
    falla "tarpelino-lote started a tarpelino-login outside its package"
fi

# The completion bash-completion loads on the command's first Tab, as bash calls it: formats, a
# generation after a comma, an abbreviation's option, files.
completado="$raiz_lote/usr/share/bash-completion/completions/tarpelino-lote"
completa() {
    (cd "$tmp" && bash --norc --noprofile -c 'source "$1" && complete -p tarpelino-lote >/dev/null || exit 1
        shift; COMP_WORDS=(tarpelino-lote "$@"); COMP_CWORD=$#; _tarpelino_lote; echo "${COMPREPLY[*]}"' \
        _ "$completado" "$@")
}
[[ $(completa --formato "") == "tabla csv csv-excel json jsonl" ]] || falla "completion of --formato: $(completa --formato "")"
[[ $(completa --generaciones = 2005,o) == "2005,odbc17 2005,odbc18" ]] ||
    falla "completion of --generaciones: $(completa --generaciones = 2005,o)"
[[ $(completa -u sa --para) == "--paralelo" ]] || falla "completion of an option: $(completa -u sa --para)"
[[ $(completa -- lote.cs) == "lote.csv" ]] || falla "completion of a file: $(completa -- lote.cs)"
echo "Correcto"
