#!/usr/bin/env bash
# Closing during a recording asks first: No keeps recording, Yes stops and removes the file.
source "$(dirname "$0")/lib.sh" "$@"
e2e_start_display
e2e_install_app
rec=$E2E_WORK/rec
mkdir -p "$rec"
e2e_ini_set "$E2E_INI" SETTING PATH "$(e2e_winpath "$rec")"

e2e_wine "$E2E_PATTERN" 250 100 400 330
sleep 2
e2e_screenshot "$E2E_WORK/before.png"
e2e_wine "$E2E_APP/quarnelby.exe"
e2e_wait_window "Zo/quarnelby" >/dev/null || fail "the main window did not appear"
sleep 1
e2e_screenshot "$E2E_WORK/idle.png"
e2e_find_camera "$E2E_WORK/before.png" "$E2E_WORK/idle.png"

e2e_click_tool 1                     # Record
sleep 1.5
e2e_click $((MENU_X1 - 10)) $((MENU_TOP + 11))   # Close
e2e_wait_count "Zo/quarnelby" 2 || fail "no confirmation while recording"
sleep 0.5
e2e_screenshot "$E2E_WORK/confirm.png"
xdotool key n
e2e_wait_count "Zo/quarnelby" 1 || fail "the confirmation did not go away after N"
sleep 1.5
files=("$rec"/*.avi)
[ -f "${files[0]}" ] || fail "the recording's file is gone after No"
size1=$(stat -c %s "${files[0]}")
sleep 1.5
size2=$(stat -c %s "${files[0]}")
[ "$size2" -gt "$size1" ] || fail "the recording does not go on after No ($size1 -> $size2 bytes)"

e2e_click $((MENU_X1 - 10)) $((MENU_TOP + 11))   # Close again
e2e_wait_count "Zo/quarnelby" 2 || fail "no confirmation the second time"
sleep 0.5
xdotool key y
e2e_wait_window_gone "Zo/quarnelby" 20 || fail "the program did not end after Yes"
sleep 1
ls "$rec"/*.avi >/dev/null 2>&1 && fail "the unfinished recording was kept: $(ls "$rec")"
[ "$(e2e_ini_get "$E2E_INI" FORM MainLeft)" = "274" ] || fail "position not saved on close"
echo "PASS"
