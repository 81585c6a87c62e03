#!/bin/bash
# Sets up a fresh Debian 12 machine if needed, builds Vellum and starts it under
# Wine, listening on 127.0.0.1:8080. Uses the current X display when there is
# one, else a private virtual display. Stop it from its menu (ﾌｧｲﾙ > Vellumの終了)
# or with Ctrl+C here.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup-debian.sh"
bash "$root/scripts/build.sh" win
exe="$root/build/win/bin/vellum.exe"
if [ ! -f "$exe" ]; then
    echo "vellum.exe is not built yet"
    exit 0
fi
session="$root/build/run"
export WINEPREFIX="$session/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=ja_JP.UTF-8
if [ -z "${DISPLAY:-}" ]; then
    bash "$root/scripts/wine-session.sh" start "$session"
    DISPLAY=$(cat "$session/display"); export DISPLAY
    trap 'bash "$root/scripts/wine-session.sh" stop "$session"' EXIT
fi
echo "Vellum is listening on 127.0.0.1:8080 (set the browser's HTTP proxy to it)."
wine "$exe" "$@"
