#!/usr/bin/env bash
# Closing during a recording that has gone on in further files: Yes removes every file of it.
# QUARNELBY_MAX_FILE_BYTES (the program's test hook) lowers the file size limit to 3 MB, about a
# second of the camera panel's full frames.
source "$(dirname "$0")/lib.sh" "$@"
export QUARNELBY_MAX_FILE_BYTES=3000000
e2e_open_over_pattern
rec=$E2E_REC
# An earlier recording in the folder is not part of this one and stays.
touch "$rec/20000101000000.avi"

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
