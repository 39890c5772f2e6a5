#!/usr/bin/env bash
# The program on a display scaled to 150 % (144 dots per inch): its bars are 1.5 times as high,
# its text is larger, the options dialog and the picker are 1.5 times as large, and a recording
# still holds exactly the screen's pixels under the camera panel.
source "$(dirname "$0")/lib.sh" "$@"
e2e_start_display
# A prefix of its own: a copy of the shared one with the display's dpi raised.
shared=$E2E_PREFIX
"$E2E_WINE_RUN" --prefix "$shared" cmd /c exit >>"$E2E_WORK/wine.log" 2>&1 # booted, if it was not
wine_stop "$shared"
E2E_PREFIX=$E2E_WORK/prefix144
cp -a --reflink=auto "$shared" "$E2E_PREFIX"
trap 'e2e_cleanup; [ -f "$E2E_WORK/passed" ] && rm -rf "$E2E_PREFIX"' EXIT
"$E2E_WINE_RUN" --prefix "$E2E_PREFIX" reg add 'HKCU\Control Panel\Desktop' /v LogPixels \
    /t REG_DWORD /d 144 /f >>"$E2E_WORK/wine.log" 2>&1 || fail "cannot set the display's dpi"
wine_stop "$E2E_PREFIX"

e2e_app_over_pattern 250 100 700 560
E2E_SCALE=150

# The bars: 24 and 17 pixels at 96 dpi.
read -r msg_x0 msg_top msg_x1 msg_bottom < <(e2e_pixels band "$E2E_WORK/idle.png" 219 243 218) ||
    fail "no status line on screen"
menu_h=$((MENU_BOTTOM - MENU_TOP + 1)) msg_h=$((msg_bottom - msg_top + 1))
echo "tool bar ${menu_h} px, status line ${msg_h} px"
[ "$menu_h" -eq 36 ] || fail "the tool bar is $menu_h pixels high, not 36"
[ "$msg_h" -eq 26 ] || fail "the status line is $msg_h pixels high, not 26"
# The status text's font is 11 pixels high at 96 dpi, 17 here.
ink=$(e2e_pixels ink "$E2E_WORK/idle.png" "$msg_x0" "$msg_top" "$msg_x1" "$msg_bottom" 219 243 218)
echo "status text ${ink} px high"
[ "$ink" -ge 14 ] || fail "the status text is $ink pixels high: its font did not scale"

# A dialog is 1.5 times its declared client size, plus the frame Wine draws at this dpi.
check_scaled() {
    local title=$1 cw=$2 ch=$3 id x y w h
    id=$(e2e_wait_window "$title" 10) || fail "$title did not open"
    sleep 0.5
    read -r x y w h < <(e2e_geometry "$id")
    echo "$title: ${w}x$h"
    [ "$w" -ge $((cw * 3 / 2)) ] && [ "$w" -le $((cw * 3 / 2 + 20)) ] &&
        [ "$h" -ge $((ch * 3 / 2)) ] && [ "$h" -le $((ch * 3 / 2 + 60)) ] ||
        fail "$title is ${w}x$h, not 1.5 times ${cw}x$ch"
    e2e_screenshot "$E2E_WORK/$title.png"
    xdotool key Escape
    e2e_wait_window_gone "$title" 5 || fail "Escape did not close $title"
}
e2e_click_tool 92 # Options
check_scaled Options 443 499
e2e_click_tool 70 # Select Target Window
check_scaled "Target Window" 432 484

e2e_record_matches "$MENU_X0" "$CAM_TOP"
files=("$E2E_REC"/*.avi)
width=$(ffprobe -v error -show_entries stream=width -of csv=p=0 "${files[0]}")
[ "$width" -eq $((MENU_X1 - MENU_X0 + 1)) ] || fail "the recording is $width pixels wide, the panel $((MENU_X1 - MENU_X0 + 1))"
touch "$E2E_WORK/passed"
echo "PASS"
