#!/bin/bash
# wine-session.sh start|stop DIR
# Keeps one Wine prefix, one persistent wineserver and one Xvfb display for a
# test run in DIR, so that each Windows test program starts in well under a
# second and windows have a screen to live on.
set -u
cmd=${1:?start or stop}
dir=${2:?session directory}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
. "$(dirname "$0")/wine-env.sh"
vellum_wine_env "$dir"

stop_session() {
    wineserver -k 2>/dev/null
    if [ -f "$dir/xvfb.pid" ]; then
        kill "$(cat "$dir/xvfb.pid")" 2>/dev/null
        rm -f "$dir/xvfb.pid" "$dir/display"
    fi
    return 0
}

case "$cmd" in
start)
    stop_session
    # A display for the programs that make windows. The number file of an
    # earlier session must not be taken for this one's.
    rm -f "$dir/display.num"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$dir/display.num" \
        >"$dir/xvfb.log" 2>&1 &
    echo $! >"$dir/xvfb.pid"
    for _ in $(seq 100); do
        [ -s "$dir/display.num" ] && break
        sleep 0.1
    done
    [ -s "$dir/display.num" ] || { echo "Xvfb did not start" >&2; cat "$dir/xvfb.log" >&2; exit 1; }
    echo ":$(cat "$dir/display.num")" >"$dir/display"
    vellum_wine_display "$dir"
    # The server and the services Wine starts live on after this script; they
    # must not hold the caller's output open (CTest waits for it to close).
    wineserver -p </dev/null >"$dir/wineserver.log" 2>&1
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        wineboot -i </dev/null >"$dir/wineboot.log" 2>&1
    fi
    # The private display has no window manager. Wine would wait for one to
    # acknowledge every window it hides (about two seconds each); with its
    # windows unmanaged it places and hides them itself.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f </dev/null \
        >>"$dir/wineboot.log" 2>&1 || { echo "wine does not run" >&2; exit 1; }
    echo "wine session ready in $dir (DISPLAY $DISPLAY)"
    ;;
stop)
    stop_session
    echo "wine session stopped"
    ;;
*)
    echo "usage: $0 start|stop DIR" >&2
    exit 2
    ;;
esac
