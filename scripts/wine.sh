# The virtual display and Wine, shared by the scripts and the end-to-end tests. Sourced:
#
#   source scripts/wine.sh
#   display_start -screen 0 1280x1024x24     # a private Xvfb; exports DISPLAY
#   wine_prefix DIR                          # exports WINEPREFIX ..., boots the prefix once
#   "$WINE64" program.exe ...
#   wine_stop DIR; display_stop              # its wineserver, then the display
#
# Only the 64-bit loader is called: the 32-bit one cannot run on these kernels, and once wine32
# is installed /usr/bin/wine picks it for every exe.
WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
DISPLAY_PID=

# Starts Xvfb with the given screens and options on a display number of its own choosing and
# points DISPLAY (and QUARNELBY_DISPLAY, which scripts/wine-run takes) at it.
display_start() {
    local fifo num
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 3 "$@" -nolisten tcp -noreset 3>"$fifo" >/dev/null 2>&1 &
    DISPLAY_PID=$!
    read -r -t 20 num <"$fifo"
    rm -f "$fifo"
    [ -n "${num:-}" ] || { echo "Xvfb did not start" >&2; return 1; }
    export DISPLAY=:$num QUARNELBY_DISPLAY=:$num
}

# Stops the display started by display_start, if any.
display_stop() {
    [ -n "$DISPLAY_PID" ] || return 0
    kill "$DISPLAY_PID" 2>/dev/null
    wait "$DISPLAY_PID" 2>/dev/null
    DISPLAY_PID=
}

# Stops the wineserver of the prefix $1 and with it every program running there.
wine_stop() { WINEPREFIX=$1 "$WINESERVER" -k >/dev/null 2>&1; }

# Uses the prefix $1 for the Wine programs started from here on, creating it the first time.
# Wine draws window frames itself and manages no window through a window manager (there is
# none in Xvfb): a window's X geometry is then its outer rectangle, its caption and borders can
# be seen and clicked, and hiding a window does not wait two seconds for a manager to answer.
wine_prefix() {
    [ -x "$WINE64" ] || { echo "$WINE64 not found (run scripts/setup)" >&2; return 2; }
    mkdir -p "$1"
    export WINEPREFIX WINEARCH=win64 WINEDEBUG=${WINEDEBUG:--all}
    WINEPREFIX=$(cd "$1" && pwd)
    # No Mono or Gecko installer dialogs.
    export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
    local mark=$WINEPREFIX/.quarnelby-prefix-2 value
    [ -f "$mark" ] && return 0
    # The lock keeps two first runs from booting the prefix at the same time.
    (
        flock 9
        [ -f "$mark" ] && exit 0
        [ -f "$WINEPREFIX/system.reg" ] || "$WINE64" wineboot -i >/dev/null 2>&1
        for value in Decorated Managed; do
            "$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v $value /t REG_SZ /d N /f >/dev/null 2>&1
        done
        "$WINESERVER" -w
        touch "$mark"
    ) 9>"$WINEPREFIX.lock"
}
