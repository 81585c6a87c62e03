#!/bin/bash
# Configures and builds both configurations:
#   build/win   the Windows programs and tests (MinGW-w64), in build/win/bin
#   build/host  the portable core and its tests under ASan/UBSan
# Usage: build.sh [win|host|all] [TARGET...]   (default all; TARGETs only
#        with win: build just those and what they need, e.g. the programs
#        run.sh starts, without the tests)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
which=${1:-all}
[ $# -gt 0 ] && shift
targets=("$@")
jobs=$(nproc)

if [ "$which" = all ] || [ "$which" = win ]; then
    cmake -S "$root" -B "$root/build/win" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
    cmake --build "$root/build/win" -j "$jobs" ${targets[@]+--target "${targets[@]}"}
fi
if [ "$which" = all ] || [ "$which" = host ]; then
    cmake -S "$root" -B "$root/build/host" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
    cmake --build "$root/build/host" -j "$jobs"
fi
