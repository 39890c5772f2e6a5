# Shared steps of the end-to-end tests: a private virtual display, the program under Wine,
# and looking at the screen and the recorded files as a person would. Sourced by each test:
#   source lib.sh EXE PREFIX WORKDIR
set -u

E2E_EXE=$1
E2E_PREFIX=$2
E2E_WORK=$3
E2E_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
E2E_WINE_RUN=$E2E_DIR/../../scripts/wine-run
E2E_PATTERN=$(dirname "$E2E_EXE")/../tests/e2e/pattern_window.exe
E2E_XVFB=
rm -rf "$E2E_WORK"
mkdir -p "$E2E_WORK"

fail() {
    echo "FAIL: $*" >&2
    e2e_screenshot "$E2E_WORK/failure.png" 2>/dev/null && echo "screenshot: $E2E_WORK/failure.png" >&2
    exit 1
}

e2e_cleanup() {
    WINEPREFIX=$E2E_PREFIX /usr/lib/wine/wineserver -k >/dev/null 2>&1
    [ -n "$E2E_XVFB" ] && kill "$E2E_XVFB" 2>/dev/null
    wait 2>/dev/null
}
trap e2e_cleanup EXIT

# Starts a private Xvfb (1280x1024, depth $1 or 24) and points DISPLAY at it.
e2e_start_display() {
    local fifo num
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 "1280x1024x${1:-24}" -nolisten tcp -noreset 3>"$fifo" >/dev/null 2>&1 &
    E2E_XVFB=$!
    read -r -t 20 num <"$fifo" || fail "Xvfb did not start"
    rm -f "$fifo"
    export DISPLAY=:$num QUARNELBY_DISPLAY=:$num
}

# Runs a Windows program in the background in the shared prefix on our display.
e2e_wine() {
    "$E2E_WINE_RUN" --prefix "$E2E_PREFIX" "$@" >>"$E2E_WORK/wine.log" 2>&1 &
}

# Waits for a visible window whose title is exactly $1; prints its X window id.
e2e_wait_window() {
    local name=$1 timeout=${2:-30} i id
    for ((i = 0; i < timeout * 5; i++)); do
        id=$(xdotool search --onlyvisible --name "^${name}\$" 2>/dev/null | head -1)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.2
    done
    return 1
}

# Waits until no visible window has the title $1.
e2e_wait_window_gone() {
    local name=$1 timeout=${2:-30} i
    for ((i = 0; i < timeout * 5; i++)); do
        xdotool search --onlyvisible --name "^${name}\$" >/dev/null 2>&1 || return 0
        sleep 0.2
    done
    return 1
}

# Prints "X Y W H" of an X window (its outer frame as Wine draws it).
e2e_geometry() {
    xwininfo -id "$1" | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4}
        /^  Width/{w=$2} /^  Height/{h=$2} END{print x, y, w, h}'
}

e2e_screenshot() { import -window root "$1"; }

e2e_click() {
    xdotool mousemove --sync "$1" "$2" click 1
}

# Runs the pixel helper (python) on a screenshot or a recorded file.
e2e_pixels() { python3 "$E2E_DIR/pixels.py" "$@"; }
