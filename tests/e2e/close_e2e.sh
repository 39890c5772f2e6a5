#!/usr/bin/env bash
# Closing during a recording asks first: No keeps recording, Yes stops and removes the file.
source "$(dirname "$0")/lib.sh" "$@"
e2e_open_over_pattern
rec=$E2E_REC

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
