#!/usr/bin/env bash
# Kept options survive a restart: H.264, about a second between frames and Keep, OK, close,
# start again, record. Then a garbled [OPTIONS] section starts quietly on the defaults.
source "$(dirname "$0")/lib.sh" "$@"
e2e_open_over_pattern

e2e_click_tool 92 # Options
dialog=$(e2e_wait_window "Options") || fail "the options dialog did not open"
sleep 0.5
# "h" selects H.264 (MP4); the capture bar goes to 997 ms as in options_e2e.sh; the Keep box is
# clicked where the dialog lays it out (16, 470), inside Wine's 4 px border and 23 px caption.
xdotool windowfocus --sync "$dialog" type h
xdotool key Tab Tab Tab Next Right Right Right Right Right Right Right Right Right Right
read -r dx dy _ _ < <(e2e_geometry "$dialog")
e2e_click $((dx + 4 + 24)) $((dy + 23 + 478))
xdotool key Return
e2e_wait_window_gone "Options" 5 || fail "OK did not close the options dialog"

# Closes and starts the program, then records $1 seconds into one file of extension $2.
restart_and_record() {
    e2e_click_tool 297 # Close
    e2e_wait_window_gone "Zo/quarnelby" 10 || fail "the program did not close"
    e2e_wine "$E2E_APP/quarnelby.exe"
    e2e_wait_window "Zo/quarnelby" >/dev/null || fail "the main window did not appear again"
    sleep 2
    [ "$(e2e_count_windows "Zo/quarnelby")" -eq 1 ] || fail "a message box at the start"
    rm -f "$E2E_REC"/*
    e2e_click_tool 1 && sleep "$1" && e2e_click_tool 41 && sleep 2
    RECORDED=$(ls "$E2E_REC"/*."$2") || fail "no .$2 recording: $(ls "$E2E_REC")"
    PROBE=$(e2e_probe "$RECORDED") && echo "$PROBE" || fail "ffprobe cannot read $RECORDED"
    grep -qx "r_frame_rate=10/1" <<<"$PROBE" || fail "the playback rate is not 10 fps"
    FRAMES=$(sed -n 's/^nb_read_frames=//p' <<<"$PROBE")
}

restart_and_record 5.5 mp4
[ "$(ffprobe -v error -show_entries stream=codec_name -of csv=p=0 "$RECORDED")" = h264 ] ||
    fail "the recording is not h264"
[ "$FRAMES" -ge 4 ] && [ "$FRAMES" -le 7 ] || fail "$FRAMES frames for 5.5 s at one a second"

for kv in Compressor=H2 Quality=-5 KeyFrameRate=zz CaptureInterval=0x PlaybackRate=500; do
    e2e_ini_set "$E2E_INI" OPTIONS "${kv%%=*}" "${kv#*=}"
done
restart_and_record 2 avi
[ "$FRAMES" -ge 12 ] && [ "$FRAMES" -le 25 ] || fail "$FRAMES frames for 2 s at 100 ms"
echo "PASS"
