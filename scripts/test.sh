#!/bin/bash
# Sets up a fresh Debian 12 machine if needed, builds both configurations and
# runs every test: the host core tests under ASan/UBSan, every fuzz target
# briefly, the benchmark's smoke run, then the Windows tests and end-to-end
# tests under Wine (last, so that the run ends with their CTest summary).
# Exits non-zero on any failure.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup-debian.sh" --tests
bash "$root/scripts/build.sh" all
jobs=$(nproc)
status=0
echo "== host tests (ASan/UBSan)"
(cd "$root/build/host" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --output-on-failure -j "$jobs") || status=1
echo "== fuzz targets (20 s each)"
bash "$root/scripts/fuzz.sh" 20 || status=1
# The benchmark on its tiniest setting: only that it still runs, no figure is
# checked. It says "bench: skipped: ..." and passes when a peer can't be
# installed.
echo "== benchmark smoke run (bench/run.sh --smoke)"
if bash "$root/bench/run.sh" --smoke >"$root/build/bench-smoke.txt" 2>&1; then
    grep -E "^bench: skipped|^Machine|^Mode" "$root/build/bench-smoke.txt" || true
else
    tail -30 "$root/build/bench-smoke.txt"
    status=1
fi
echo "== Windows tests (Wine, code page 932)"
(cd "$root/build/win" && ctest --output-on-failure -j "$jobs") || status=1
exit $status
