# Sourced, not run: the one place that says how Vellum's programs run under
# Wine. Defines two functions for POSIX shells:
#   vellum_wine_env DIR      the private prefix in DIR/prefix, quiet Wine, no
#                            .NET or Gecko installs, and the Japanese locale
#                            (ANSI code page 932)
#   vellum_wine_display DIR  DISPLAY from DIR/display, the virtual display a
#                            session started by wine-session.sh wrote there
#                            (nothing when there is none)
vellum_wine_env() {
    WINEPREFIX="$1/prefix"
    WINEDEBUG="${WINEDEBUG:--all}"
    WINEDLLOVERRIDES="mscoree,mshtml="
    LC_ALL=ja_JP.UTF-8
    export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES LC_ALL
}

vellum_wine_display() {
    if [ -f "$1/display" ]; then
        DISPLAY=$(cat "$1/display")
        export DISPLAY
    fi
}
