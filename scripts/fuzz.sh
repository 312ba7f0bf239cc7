#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each one.
# Usage: scripts/fuzz.sh [executions per target, default 10000000] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-10000000}
shift || true
targets=("$@")
[[ ${#targets[@]} -eq 0 ]] && targets=(fuzz_connection_string fuzz_direccion_servidor fuzz_respuesta_login fuzz_handshake_servidor)
build_dir=${TARPELINO_FUZZ_BUILD_DIR:-build-fuzz}

CC=clang CXX=clang++ cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTARPELINO_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
# Shared machine: one compile job, one fuzzing process.
cmake --build "$build_dir" --target "${targets[@]}" -j1 -- --quiet

status=0
for target in "${targets[@]}"; do
    case $target in
        fuzz_direccion_servidor) max_len=512 ;;
        fuzz_respuesta_login) max_len=8192 ;;
        fuzz_handshake_servidor) max_len=8192 ;;
        *) max_len=2048 ;;
    esac
    # New inputs go to the first (build) directory; the seeds in fuzz/corpus stay untouched.
    work_corpus="$build_dir/corpus/$target"
    crashes="fuzz/${target}_crashes"
    log="$build_dir/$target.log"
    mkdir -p "$work_corpus" "$crashes"
    echo "== $target: $runs executions, -max_len=$max_len (log: $log)"
    rc=0
    "$build_dir/fuzz/$target" -runs="$runs" -max_len="$max_len" -timeout=10 -print_final_stats=1 \
        -dict="fuzz/$target.dict" -artifact_prefix="$crashes/" \
        "$work_corpus" "fuzz/corpus/$target" >"$log" 2>&1 || rc=$?
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    done_line=$(grep -E '^Done [0-9]+ runs in' "$log" | tail -1 || true)
    last=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
    echo "   executions: ${execs:-?}  exec/s: ${rate:-?}"
    [[ -n $done_line ]] && echo "   $done_line"
    echo "   last status: ${last:-none}"
    if [[ $rc -ne 0 ]]; then
        echo "   FAILED (exit $rc); reproducer in $crashes/, end of the log:"
        tail -40 "$log" | sed 's/^/   | /'
        status=1
    fi
    rmdir "$crashes" 2>/dev/null || true
done
exit $status
