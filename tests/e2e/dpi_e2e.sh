#!/usr/bin/env bash
# The program on a display scaled to 150 % (144 dots per inch): its bars are 1.5 times as high,
# its text is larger, the options dialog and the picker are 1.5 times as large, and a recording
# still holds exactly the screen's pixels under the camera panel.
source "$(dirname "$0")/lib.sh" "$@"
e2e_start_display
# A prefix of its own: a copy of the shared one with the display's dpi raised.
shared=$E2E_PREFIX
"$E2E_WINE_RUN" --prefix "$shared" cmd /c exit >>"$E2E_WORK/wine.log" 2>&1 # booted, if it was not
WINEPREFIX=$shared /usr/lib/wine/wineserver -k >/dev/null 2>&1
E2E_PREFIX=$E2E_WORK/prefix144
cp -a --reflink=auto "$shared" "$E2E_PREFIX"
trap 'e2e_cleanup; [ -f "$E2E_WORK/passed" ] && rm -rf "$E2E_PREFIX"' EXIT
"$E2E_WINE_RUN" --prefix "$E2E_PREFIX" reg add 'HKCU\Control Panel\Desktop' /v LogPixels \
    /t REG_DWORD /d 144 /f >>"$E2E_WORK/wine.log" 2>&1 || fail "cannot set the display's dpi"
WINEPREFIX=$E2E_PREFIX /usr/lib/wine/wineserver -k >/dev/null 2>&1

e2e_install_app
E2E_REC=$E2E_WORK/rec
mkdir -p "$E2E_REC"
e2e_ini_set "$E2E_INI" SETTING PATH "$(e2e_winpath "$E2E_REC")"
e2e_wine "$E2E_PATTERN" 250 100 700 560
e2e_wait_window "pattern" >/dev/null || fail "the pattern window did not appear"
sleep 1
e2e_screenshot "$E2E_WORK/before.png"
e2e_wine "$E2E_APP/quarnelby.exe"
e2e_wait_window "Zo/quarnelby" >/dev/null || fail "the main window did not appear"
sleep 1
e2e_screenshot "$E2E_WORK/idle.png"
e2e_find_camera "$E2E_WORK/before.png" "$E2E_WORK/idle.png"

# The bars: 24 and 17 pixels at 96 dpi.
read -r _ menu_top _ menu_bottom < <(e2e_pixels band "$E2E_WORK/idle.png" 205 204 251)
read -r msg_x0 msg_top msg_x1 msg_bottom < <(e2e_pixels band "$E2E_WORK/idle.png" 219 243 218) ||
    fail "no status line on screen"
menu_h=$((menu_bottom - menu_top + 1)) msg_h=$((msg_bottom - msg_top + 1))
echo "tool bar ${menu_h} px, status line ${msg_h} px"
[ "$menu_h" -eq 36 ] || fail "the tool bar is $menu_h pixels high, not 36"
[ "$msg_h" -eq 26 ] || fail "the status line is $msg_h pixels high, not 26"
# The status text's font is 11 pixels high at 96 dpi, 17 here.
ink=$(e2e_pixels ink "$E2E_WORK/idle.png" "$msg_x0" "$msg_top" "$msg_x1" "$msg_bottom" 219 243 218)
echo "status text ${ink} px high"
[ "$ink" -ge 14 ] || fail "the status text is $ink pixels high: its font did not scale"

# Buttons by their left edge at 96 dpi: 1 Record, 41 Stop, 70 picker, 92 Options.
click_tool() { e2e_click $((MENU_X0 + $1 * 3 / 2 + 15)) $((MENU_TOP + 17)); }
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
click_tool 92
check_scaled Options 443 350
click_tool 70
check_scaled "Target Window" 432 484

click_tool 1
sleep 1.5
click_tool 41
sleep 2
files=("$E2E_REC"/*.avi)
[ -f "${files[0]}" ] || fail "no recording"
width=$(ffprobe -v error -show_entries stream=width -of csv=p=0 "${files[0]}")
[ "$width" -eq $((MENU_X1 - MENU_X0 + 1)) ] || fail "the recording is $width pixels wide, the panel $((MENU_X1 - MENU_X0 + 1))"
e2e_pixels frame "${files[0]}" 5 "$E2E_WORK/frame5.png"
diff=$(e2e_pixels matches "$E2E_WORK/frame5.png" "$E2E_WORK/before.png" "$MENU_X0" $((CAM_TOP - 2)) 2)
[ "$diff" -eq 0 ] || fail "$diff pixels of the recording differ from the screen under the panel"
touch "$E2E_WORK/passed"
echo "PASS"
