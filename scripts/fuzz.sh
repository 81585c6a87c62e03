#!/bin/bash
# Builds the libFuzzer targets (build/fuzz, clang) and runs each in turn for
# the given time, on a working copy of its seed corpus kept outside the
# sources (build/fuzz/corpus-work/<target>, which grows from run to run).
# Prints per target the executions, coverage and findings; exits non-zero
# when any target found something (crash inputs in build/fuzz/findings/).
# Usage: fuzz.sh [seconds-per-target] [target...]   (default 60, all targets)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
build="$root/build/fuzz"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVELLUM_FUZZ=ON >/dev/null
cmake --build "$build"

if [ $# -gt 0 ]; then
    targets=("$@")
else
    mapfile -t targets < "$build/fuzz_targets.txt"
fi

found=0
printf '%-24s %12s %8s %8s %8s  %s\n' target executions cov ft corpus result
for target in "${targets[@]}"; do
    [ -n "$target" ] || continue
    name=${target#fuzz_}
    work="$build/corpus-work/$target"
    findings="$build/findings/$target"
    log="$build/logs/$target.log"
    mkdir -p "$work" "$findings" "$(dirname "$log")"
    if [ -d "$root/fuzz/corpus/$name" ]; then
        cp -n "$root/fuzz/corpus/$name"/* "$work"/ 2>/dev/null || true
    fi
    options=(-max_total_time="$seconds" -timeout=10 -print_final_stats=1
             -artifact_prefix="$findings/")
    [ -f "$root/fuzz/dict/$name.dict" ] && options+=(-dict="$root/fuzz/dict/$name.dict")

    before=$(find "$findings" -type f | wc -l)
    status=0
    # Other work shares the machine: the fuzzer takes only idle time.
    nice -n 19 "$build/fuzz/$target" "${options[@]}" "$work" >"$log" 2>&1 || status=$?
    after=$(find "$findings" -type f | wc -l)

    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1 || true)
    [ -n "$done_line" ] || done_line=$(grep -E '^#[0-9]+[[:space:]]' "$log" | tail -1 || true)
    cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$done_line")
    ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$done_line")
    corpus=$(find "$work" -type f | wc -l)
    if [ "$status" -ne 0 ] || [ "$after" -gt "$before" ]; then
        found=1
        result="FOUND (exit $status): see $log, inputs in $findings"
    else
        result="nothing found"
    fi
    printf '%-24s %12s %8s %8s %8s  %s\n' "$target" "${executions:-?}" "${cov:-?}" "${ft:-?}" "$corpus" "$result"
    if [ "$found" -ne 0 ]; then
        grep -m1 -E 'property broken|ERROR: ' "$log" | sed 's/^/    /' || true
    fi
done
exit $found
