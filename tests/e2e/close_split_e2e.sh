#!/usr/bin/env bash
# Closing during a recording that has gone on in further files: Yes removes every file of it.
# QUARNELBY_MAX_FILE_BYTES (the program's test hook) lowers the file size limit to 3 MB, about a
# second of the camera panel's full frames.
source "$(dirname "$0")/lib.sh" "$@"
e2e_start_display
e2e_install_app
rec=$E2E_WORK/rec
mkdir -p "$rec"
e2e_ini_set "$E2E_INI" SETTING PATH "$(e2e_winpath "$rec")"
# An earlier recording in the folder is not part of this one and stays.
touch "$rec/20000101000000.avi"
export QUARNELBY_MAX_FILE_BYTES=3000000

e2e_wine "$E2E_PATTERN" 250 100 400 330
sleep 2
e2e_screenshot "$E2E_WORK/before.png"
e2e_wine "$E2E_APP/quarnelby.exe"
e2e_wait_window "Zo/quarnelby" >/dev/null || fail "the main window did not appear"
sleep 1
e2e_screenshot "$E2E_WORK/idle.png"
e2e_find_camera "$E2E_WORK/before.png" "$E2E_WORK/idle.png"

e2e_click_tool 1                     # Record
for ((i = 0; i < 60; i++)); do
    n=$(ls "$rec"/2*.avi | grep -vc 20000101000000)
    [ "$n" -ge 3 ] && break
    sleep 0.5
done
[ "$n" -ge 3 ] || fail "the recording did not go on in new files ($n files): $(ls -l "$rec")"
ls -l "$rec"
for f in "$rec"/*.avi; do
    [ "$(stat -c %s "$f")" -le 3000000 ] || fail "$f is larger than the limit"
done

e2e_click $((MENU_X1 - 10)) $((MENU_TOP + 11))   # Close
e2e_wait_count "Zo/quarnelby" 2 || fail "no confirmation while recording"
sleep 0.5
xdotool key y
e2e_wait_window_gone "Zo/quarnelby" 40 || fail "the program did not end after Yes"
sleep 1
left=$(ls "$rec" | grep -v '^20000101000000.avi$')
[ -z "$left" ] || fail "files of the unfinished recording were kept: $left"
[ -f "$rec/20000101000000.avi" ] || fail "an earlier file was removed"
echo "PASS"
