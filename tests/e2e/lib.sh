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
source "$E2E_DIR/../../scripts/wine.sh"
rm -rf "$E2E_WORK"
mkdir -p "$E2E_WORK"

fail() {
    echo "FAIL: $*" >&2
    e2e_screenshot "$E2E_WORK/failure.png" 2>/dev/null && echo "screenshot: $E2E_WORK/failure.png" >&2
    exit 1
}

e2e_cleanup() {
    wine_stop "$E2E_PREFIX"
    display_stop
    # A test's sound server and the tones it played end with it.
    sound_server_stop
    local left
    left=$(jobs -p)
    [ -z "$left" ] || kill $left 2>/dev/null
    wait 2>/dev/null
}
trap e2e_cleanup EXIT

# Starts a private Xvfb (1280x1024, depth $1 or 24) and points DISPLAY at it.
e2e_start_display() { e2e_start_xvfb -screen 0 "1280x1024x${1:-24}"; }

# The same with the given screens and options of Xvfb.
e2e_start_xvfb() { display_start "$@" || fail "Xvfb did not start"; }

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

# Number of visible windows whose title is exactly $1.
e2e_count_windows() {
    xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | wc -l
}

# Waits until $2 visible windows have the title $1.
e2e_wait_count() {
    local i
    for ((i = 0; i < ${3:-20} * 5; i++)); do
        [ "$(e2e_count_windows "$1")" -eq "$2" ] && return 0
        sleep 0.2
    done
    return 1
}

# A copy of the program in its own folder, so that its settings file is the test's own (a
# program unpacked there already is used as it is).
e2e_install_app() {
    E2E_APP=$E2E_WORK/app
    mkdir -p "$E2E_APP"
    [ "$E2E_EXE" -ef "$E2E_APP/quarnelby.exe" ] || cp "$E2E_EXE" "$E2E_APP/quarnelby.exe"
    E2E_INI=$E2E_APP/Quarnelby.ini
}

# The Windows path (drive Z:) of a Unix path.
e2e_winpath() { echo "Z:$1" | tr / '\\'; }

# Sets one value in a settings file the way an editor would, keeping its encoding.
e2e_ini_set() {
    python3 - "$@" <<'PY'
import os, sys
path, section, key, value = sys.argv[1:5]
raw = open(path, "rb").read() if os.path.exists(path) else b""
utf16 = raw.startswith(b"\xff\xfe")
text = raw.decode("utf-16") if utf16 else raw.decode("latin-1")
lines = text.splitlines()
out, inside, done = [], False, False
for line in lines:
    if line.startswith("["):
        if inside and not done:
            out.append(f"{key}={value}")
            done = True
        inside = line.strip().lower() == f"[{section.lower()}]"
    elif inside and line.split("=", 1)[0].strip().lower() == key.lower():
        line, done = f"{key}={value}", True
    out.append(line)
if not done:
    if not inside:
        out.append(f"[{section}]")
    out.append(f"{key}={value}")
data = "\r\n".join(out) + "\r\n"
open(path, "wb").write(data.encode("utf-16") if utf16 else data.encode("latin-1"))
PY
}

# Reads one value of a settings file (UTF-16 or ANSI).
e2e_ini_get() {
    python3 - "$@" <<'PY'
import sys
path, section, key = sys.argv[1:4]
raw = open(path, "rb").read()
text = raw.decode("utf-16") if raw.startswith(b"\xff\xfe") else raw.decode("latin-1")
inside = False
for line in text.splitlines():
    if line.startswith("["):
        inside = line.strip().lower() == f"[{section.lower()}]"
    elif inside and line.split("=", 1)[0].strip().lower() == key.lower():
        print(line.split("=", 1)[1])
        break
PY
}

# Prints "key=value" lines of ffprobe about the file's streams.
e2e_probe() {
    ffprobe -v error -count_frames -show_entries \
        stream=codec_type,width,height,r_frame_rate,nb_read_frames:format=duration,nb_streams \
        -of default=nw=1 "$1"
}

# A finished MP4 file ($1, of $2 frames as ffprobe counts them) is a regular one: ftyp, then only
# free and mdat boxes, the moov with the sample tables last, one sample a frame; and ffmpeg seeks
# into its middle without a word.
e2e_check_regular_mp4() {
    local boxes layout samples middle
    boxes=$(python3 "$E2E_DIR/mp4_boxes.py" "$1") || fail "cannot read $1"
    layout=${boxes% *} samples=${boxes##* }
    echo "boxes: $layout; samples in stsz: $samples"
    [[ "$layout" =~ ^ftyp\ free\ mdat(\ free\ mdat)*\ moov$ ]] || fail "not a regular MP4: $layout"
    [ "$samples" = "$2" ] || fail "stsz holds $samples samples, ffprobe decodes $2 frames"
    middle=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$1" | awk '{ print $1 / 2 }')
    ffmpeg -v error -ss "$middle" -i "$1" -frames:v 3 -f null - 2>"$E2E_WORK/seek.log"
    [ ! -s "$E2E_WORK/seek.log" ] || fail "ffmpeg seeking to $middle s reports: $(head -3 "$E2E_WORK/seek.log")"
}

# The main window's tool bar and camera panel on a screenshot taken after one taken without
# the window ($1 before, $2 after). Sets MENU_X0 MENU_X1 MENU_TOP MENU_BOTTOM and CAM_TOP.
e2e_find_camera() {
    read -r MENU_X0 MENU_TOP MENU_X1 MENU_BOTTOM < <(e2e_pixels band "$2" 205 204 251) || fail "no tool bar on screen"
    CAM_TOP=$(e2e_pixels seethrough "$1" "$2" "$MENU_X0" "$MENU_X1" "$MENU_TOP")
}

# The tool-bar button whose left edge is $1 pixels into the tool bar at 96 dpi; on a display
# scaled to E2E_SCALE percent the bar and its buttons are that much larger.
E2E_SCALE=100
e2e_click_tool() {
    e2e_click $((MENU_X0 + ($1 + 10) * E2E_SCALE / 100)) $((MENU_TOP + 11 * E2E_SCALE / 100))
}

# Checks on a new screenshot that the camera panel's corner is at $1,$2 above a tool bar that
# starts below a panel $3 high.
e2e_expect_camera_at() {
    e2e_screenshot "$E2E_WORK/placed.png"
    e2e_find_camera "$E2E_WORK/before.png" "$E2E_WORK/placed.png"
    [ "$MENU_X0" -eq "$1" ] || fail "the camera panel starts at x $MENU_X0, not at $1"
    [ "$MENU_TOP" -eq $(($2 + $3 + 1)) ] || fail "the tool bar starts at y $MENU_TOP, not below the panel"
}

# Records 1.5 s and checks that frame 5 shows the screen without the program (before.png) from
# $1,$2 on, pixel for pixel, the first two rows (above the panel) left out.
e2e_record_matches() {
    local files diff
    e2e_click_tool 1  # Record
    sleep 1.5
    e2e_click_tool 41 # Stop
    sleep 2
    files=("$E2E_REC"/*.avi)
    [ -f "${files[0]}" ] || fail "no recording"
    e2e_pixels frame "${files[0]}" 5 "$E2E_WORK/frame5.png"
    diff=$(e2e_pixels matches "$E2E_WORK/frame5.png" "$E2E_WORK/before.png" "$1" $(($2 - 2)) 2)
    [ "$diff" -eq 0 ] || fail "$diff pixels of the recording differ from the screen under the panel"
}

# Chooses the compressor whose name begins with $1 in the options dialog (typing selects by the
# first letter), and OK.
e2e_choose_compressor() {
    local dialog
    e2e_click_tool 92 # Options
    dialog=$(e2e_wait_window "Options") || fail "the options dialog did not open"
    sleep 0.5
    xdotool windowfocus --sync "$dialog" type "$1"
    xdotool key Return
    e2e_wait_window_gone "Options" 5 || fail "OK did not close the options dialog"
}

# Starts the program and answers the message box it shows at the start ($1 names it).
e2e_start_with_report() {
    e2e_wine "$E2E_APP/quarnelby.exe"
    e2e_wait_count "Zo/quarnelby" 2 30 || fail "no $1 at the start"
    sleep 0.5
    e2e_screenshot "$E2E_WORK/$1.png"
    xdotool key Return
    e2e_wait_count "Zo/quarnelby" 1 10 || fail "the $1 did not close"
}

# The usual start of a recording test: the program (its own copy, recording into $E2E_REC)
# over the pattern window, with screenshots before (no program) and after (idle), and the camera
# panel found on them (see e2e_find_camera).
e2e_open_over_pattern() {
    e2e_start_display
    e2e_app_over_pattern 250 100 400 330
}

# The same on the display already started, with the pattern window at $1,$2 sized $3 x $4 and
# titled $5 (default "pattern"). Kept options in E2E_OPTIONS (KEY=VALUE ...) are written to the
# settings file first. Sets E2E_MAIN to the main window's id.
E2E_OPTIONS=()
e2e_app_over_pattern() {
    local kv
    e2e_install_app
    E2E_REC=$E2E_WORK/rec
    mkdir -p "$E2E_REC"
    e2e_ini_set "$E2E_INI" SETTING PATH "$(e2e_winpath "$E2E_REC")"
    for kv in "${E2E_OPTIONS[@]}"; do
        e2e_ini_set "$E2E_INI" OPTIONS "${kv%%=*}" "${kv#*=}"
    done
    e2e_wine "$E2E_PATTERN" "$@"
    # On a loaded machine the pattern can take longer than a fixed pause to appear; without it on
    # the first screenshot, the see-through panel cannot be found.
    e2e_wait_window "${5:-pattern}" >/dev/null || fail "the pattern window did not appear"
    sleep 1
    e2e_screenshot "$E2E_WORK/before.png"
    e2e_wine "$E2E_APP/quarnelby.exe"
    E2E_MAIN=$(e2e_wait_window "Zo/quarnelby") || fail "the main window did not appear"
    sleep 1
    e2e_screenshot "$E2E_WORK/idle.png"
    e2e_find_camera "$E2E_WORK/before.png" "$E2E_WORK/idle.png"
}
