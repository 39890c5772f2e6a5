#!/usr/bin/env bash
# A person's time-lapse: open Options, set the capture interval to about a second with the
# keyboard, keep 10 fps playback, record about five seconds. The file plays ten times faster.
source "$(dirname "$0")/lib.sh" "$@"
e2e_open_over_pattern

e2e_click_tool 92    # Options
dialog=$(e2e_wait_window "Options") || fail "the options dialog did not open"
sleep 0.5
e2e_screenshot "$E2E_WORK/options.png"
# Focus order: compressor list, quality bar, key-frame box, capture bar. From the default
# 100 ms (thumb 419) a page (199) and ten steps to the right give thumb 628: 997 ms.
xdotool windowfocus --sync "$dialog"
xdotool key Tab Tab Tab Next Right Right Right Right Right Right Right Right Right Right
sleep 0.3
e2e_screenshot "$E2E_WORK/options-set.png"
xdotool key Return
e2e_wait_window_gone "Options" 5 || fail "OK did not close the options dialog"

e2e_click_tool 1     # Record
sleep 5.5
e2e_click_tool 41    # Stop
sleep 2
files=("$E2E_REC"/*.avi)
[ -f "${files[0]}" ] || fail "no recording"
probe=$(e2e_probe "${files[0]}") || fail "ffprobe cannot read the recording"
echo "$probe"
grep -qx "r_frame_rate=10/1" <<<"$probe" || fail "the playback rate is not 10 fps"
frames=$(sed -n 's/^nb_read_frames=//p' <<<"$probe")
[ "$frames" -ge 4 ] && [ "$frames" -le 7 ] ||
    fail "$frames frames for 5.5 s at one a second (a 100 ms interval would give about 55)"
ffmpeg -v error -i "${files[0]}" -f null - 2>"$E2E_WORK/decode.log"
[ ! -s "$E2E_WORK/decode.log" ] || fail "ffmpeg reports errors: $(head -3 "$E2E_WORK/decode.log")"
echo "PASS"
