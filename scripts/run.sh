#!/bin/bash
# Sets up a fresh Debian 12 machine if needed, builds Vellum and starts it under
# Wine, listening on 127.0.0.1:8080 unless the command line names another
# address. Uses the current X display when there is
# one, else a private virtual display. Stop it from its menu (ﾌｧｲﾙ > Vellumの終了)
# or with Ctrl+C here.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup-debian.sh"
bash "$root/scripts/build.sh" win vellum tessel vellumie vellumie_pages vellum_manual vellum_probe
session="$root/build/run"
# Vellum keeps its cookie and password files beside itself and records there
# unless told otherwise: it runs from a folder of its own under build/run,
# which a rebuild never touches. A file is copied only when the build's copy
# changed.
program_dir="$session/program"
mkdir -p "$program_dir"
for name in vellum.exe tessel.dll vellumie.exe ReserveAutoGet.htm ReserveAutoGetParent.htm Velm131.chm; do
    cp -p -u "$root/build/win/bin/$name" "$program_dir/$name"
done
exe="$program_dir/vellum.exe"
. "$root/scripts/wine-env.sh"
vellum_wine_env "$session"
if [ -z "${DISPLAY:-}" ]; then
    bash "$root/scripts/wine-session.sh" start "$session"
    vellum_wine_display "$session"
    trap 'bash "$root/scripts/wine-session.sh" stop "$session"' EXIT
fi
# Say where it really listens (the address it publishes for the browser
# component), whatever the command line chose; nothing when it could not
# listen (its message box says why).
probe="$root/build/win/bin/vellum_probe.exe"
wine "$probe" delete-address >/dev/null 2>&1 || true  # a run ended by Ctrl+C leaves them
wine "$exe" "$@" &
program=$!
for _ in $(seq 120); do
    kill -0 "$program" 2>/dev/null || break
    published=$(wine "$probe" registry 2>/dev/null | tr -d '\r' || true)
    case "$published" in
    ServerAddress=*)
        address=$(printf '%s' "$published" | sed -n 's/.*ServerAddress=\([0-9A-Fa-f]*\).*/\1/p')
        port=$(printf '%s' "$published" | sed -n 's/.*ServerPort=\([0-9]*\).*/\1/p')
        a=$((16#$address))
        echo "Vellum is listening on $((a >> 24 & 255)).$((a >> 16 & 255)).$((a >> 8 & 255)).$((a & 255)):$port (set the browser's HTTP proxy to it)."
        break
        ;;
    esac
    sleep 0.5
done
wait "$program"
