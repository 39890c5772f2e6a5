#!/usr/bin/env bash
# The hotkeys from another program: with the pattern window holding the keyboard, Ctrl+Shift+F9
# records, Ctrl+Shift+F10 pauses, Ctrl+Shift+F9 resumes and Ctrl+Shift+F11 stops; the file is the
# one the buttons make. Then an unreadable Pause key in the settings file: the next start says so,
# and Record and Stop still work by their keys while Pause's does nothing.
source "$(dirname "$0")/lib.sh" "$@"
e2e_open_over_pattern
rec=$E2E_REC
width=$((MENU_X1 - MENU_X0 + 1))
height=$((MENU_TOP - CAM_TOP))

# The pattern window takes the keyboard: the program is in the background.
pattern_to_front() {
    xdotool windowfocus --sync "$(e2e_wait_window pattern)"
    sleep 0.5
    [ "$(xdotool getwindowfocus getwindowname)" = "pattern" ] || fail "the pattern window has no focus"
}
size_of_recording() { stat -c %s "$rec"/*.avi 2>/dev/null || echo 0; }
# Presses the hotkey $1, waits $2 seconds, then fails unless the recording's file grows ($3 =
# yes) or stays as it is ($3 = no) for a second.
press() {
    local a b
    xdotool key "$1"
    sleep "$2"
    a=$(size_of_recording)
    sleep 1
    b=$(size_of_recording)
    if [ "$3" = yes ]; then [ "$b" -gt "$a" ] || fail "after $1: the file does not grow ($a -> $b)"
    else [ "$b" -eq "$a" ] || fail "after $1: the file grows ($a -> $b)"; fi
}

pattern_to_front
press ctrl+shift+F9 0.5 yes  # records
press ctrl+shift+F10 0.5 no  # pauses
sleep 1
press ctrl+shift+F9 0.5 yes  # resumes
press ctrl+shift+F11 1.5 no  # stops

files=("$rec"/*.avi)
[ ${#files[@]} -eq 1 ] && [ -f "${files[0]}" ] || fail "expected one recording, found: ${files[*]}"
probe=$(e2e_probe "${files[0]}") || fail "ffprobe cannot read ${files[0]}"
echo "$probe"
grep -qx "r_frame_rate=10/1" <<<"$probe" || fail "not 10 frames per second"
grep -qx "width=$width" <<<"$probe" || fail "frame width is not the panel's $width"
grep -qx "height=$((height + 1))" <<<"$probe" || fail "frame height is not the panel's $height + 1"
# About 3 s recorded (1.5 + 1.5 around the 2.5 s pause, which does not count).
frames=$(sed -n 's/^nb_read_frames=//p' <<<"$probe")
[ "$frames" -ge 20 ] && [ "$frames" -le 40 ] || fail "$frames frames for about 3 recorded seconds"

# Close, make Pause's key unreadable and start again: a report comes (its text is checked by the
# Windows-side test).
e2e_click $((MENU_X1 - 10)) $((MENU_TOP + 11))
e2e_wait_window_gone "Zo/quarnelby" 10 || fail "the program did not close"
rm -f "$rec"/*.avi
e2e_ini_set "$E2E_INI" HOTKEY Pause "Ctrl+Shift+Banana"
e2e_start_with_report "hotkey report"

pattern_to_front
press ctrl+shift+F9 0.5 yes
press ctrl+shift+F10 0.5 yes # Pause has no hotkey now
press ctrl+shift+F11 1.5 no
e2e_probe "$rec"/*.avi >/dev/null || fail "ffprobe cannot read the second recording"
echo "PASS"
