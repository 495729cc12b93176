#!/usr/bin/env bash
# Bounded fuzzing run of the libFuzzer targets (the corpus of <name>_fuzz is corpus/<name>).
#
#   fuzz/run.sh BUILD_DIR [SECONDS_PER_TARGET]     (default 60 s)
#
# Configures a clang build of the tree in BUILD_DIR with -DKEST_FUZZ=ON, builds the targets, runs
# each for the given time on a copy of its committed corpus (fuzz/corpus/<target>/, left
# unchanged), prints the executions run, and fails when a target crashes, leaks, hangs or breaks
# one of its checks (the input that did it is kept in BUILD_DIR/fuzz-run/).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build=${1:?usage: fuzz/run.sh BUILD_DIR [SECONDS_PER_TARGET]}
secs=${2:-60}
targets=(fuzz_names fuzz_reply fuzz_zipname zonefile_fuzz)
targets+=(datagram_fuzz)
targets+=(xfrin_fuzz)
targets+=(tcp_fuzz)
targets+=(lookup_reply_fuzz lookup_xfr_fuzz)
targets+=(dhcp_fuzz)

gen=()
command -v ninja >/dev/null && gen=(-G Ninja)
if [[ -f "$build/CMakeCache.txt" ]] && ! grep -q '^KEST_FUZZ:BOOL=ON' "$build/CMakeCache.txt"; then
    echo "fuzz/run.sh: $build is not a KEST_FUZZ build; use another folder" >&2
    exit 2
fi
mkdir -p "$build"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" "${gen[@]}" -DKEST_FUZZ=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKEST_BENCH=OFF >"$build/kest-configure.log" 2>&1 || {
    cat "$build/kest-configure.log" >&2
    exit 2
}
cmake --build "$build" --target fuzz_targets

work="$build/fuzz-run"
rm -rf "$work"
mkdir -p "$work"
status=0
total=0
for t in "${targets[@]}"; do
    corpus="$work/$t-corpus"
    cp -r "$here/corpus/${t%_fuzz}" "$corpus"
    log="$work/$t.log"
    rc=0
    "$build/fuzz/$t" -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$work/$t-" "$corpus" >"$log" 2>&1 || rc=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    runs=${runs:-0}
    total=$((total + runs))
    if [[ $rc -ne 0 ]]; then
        echo "$t: FAILED (exit $rc) after $runs executions; log $log" >&2
        grep -E 'ERROR|check failed|SUMMARY|Test unit written' "$log" | head -20 >&2 || true
        status=1
    else
        echo "$t: $runs executions in ${secs} s, no crash"
    fi
done
echo "fuzzing: $total executions in all"
exit $status
