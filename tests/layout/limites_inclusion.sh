#!/usr/bin/env bash
# Each process sees only its own folder and what both share: the login
# process includes nothing of the application's side, and the shared folder
# nothing of either. Prints every include that crosses the line.
set -uo pipefail
raiz=${1:?source root}
fallos=0

# compruebaCarpeta <folder> <folders it may include from...>
compruebaCarpeta() {
    local carpeta=$1
    shift
    local permitidas
    permitidas=$(printf '%s/\\|' "$@")
    permitidas=${permitidas%\\|}
    local cruces
    cruces=$(grep -rn --include='*.h' --include='*.cpp' -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' \
        "$raiz/$carpeta" | grep -v "#[[:space:]]*include[[:space:]]*\"\\($permitidas\\)")
    if [[ -n "$cruces" ]]; then
        echo "$carpeta/ includes from outside $*:"
        echo "$cruces"
        fallos=1
    fi
    # Nothing at all: the check would pass on an empty or moved folder.
    if ! ls "$raiz/$carpeta"/*.cpp >/dev/null 2>&1; then
        echo "$carpeta/ has no sources"
        fallos=1
    fi
}

compruebaCarpeta login_process login_process login_shared
compruebaCarpeta login_shared login_shared
exit $fallos
