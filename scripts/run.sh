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
. "$root/scripts/wine-env.sh"
vellum_wine_env "$session"
if [ -z "${DISPLAY:-}" ]; then
    bash "$root/scripts/wine-session.sh" start "$session"
    vellum_wine_display "$session"
    trap 'bash "$root/scripts/wine-session.sh" stop "$session"' EXIT
fi
echo "Vellum is listening on 127.0.0.1:8080 (set the browser's HTTP proxy to it)."
wine "$exe" "$@"
