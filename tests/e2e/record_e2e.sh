#!/usr/bin/env bash
# A person's recording: a known pattern under the camera frame, Record, Stop, then Pause in the
# middle of a second recording. The files must hold what lay under the frame, at 10 fps.
source "$(dirname "$0")/lib.sh" "$@"
e2e_open_over_pattern
rec=$E2E_REC
width=$((MENU_X1 - MENU_X0 + 1))
height=$((MENU_TOP - CAM_TOP))
echo "camera panel: ${width}x${height} at $MENU_X0,$CAM_TOP"
[ "$height" -gt 100 ] || fail "camera panel only $height pixels high"

e2e_click_tool 1     # Record
sleep 3
e2e_screenshot "$E2E_WORK/recording.png"
e2e_click_tool 41    # Stop
sleep 2

files=("$rec"/*.avi)
[ ${#files[@]} -eq 1 ] && [ -f "${files[0]}" ] || fail "expected one recording, found: ${files[*]}"
name=$(basename "${files[0]}")
[[ "$name" =~ ^20[0-9]{12}\.avi$ ]] || fail "file name $name is not YYYYMMDDHHMMSS.avi"
probe=$(e2e_probe "${files[0]}") || fail "ffprobe cannot read $name"
echo "$probe"
grep -qx "codec_type=video" <<<"$probe" || fail "no video stream"
grep -qx "nb_streams=1" <<<"$probe" || fail "not exactly one stream"
grep -qx "r_frame_rate=10/1" <<<"$probe" || fail "not 10 frames per second"
grep -qx "width=$width" <<<"$probe" || fail "frame width is not the panel's $width"
grep -qx "height=$((height + 1))" <<<"$probe" || fail "frame height is not the panel's $height + 1"
frames=$(sed -n 's/^nb_read_frames=//p' <<<"$probe")
[ "$frames" -ge 20 ] && [ "$frames" -le 40 ] || fail "$frames frames for about 3 seconds"
ffmpeg -v error -i "${files[0]}" -f null - 2>"$E2E_WORK/decode.log"
[ ! -s "$E2E_WORK/decode.log" ] || fail "ffmpeg reports errors: $(head -3 "$E2E_WORK/decode.log")"

# The frame is see-through: what it recorded is what lay under the panel (the top two rows
# belong to the caption above it).
e2e_pixels frame "${files[0]}" 10 "$E2E_WORK/frame10.png"
diff=$(e2e_pixels matches "$E2E_WORK/frame10.png" "$E2E_WORK/before.png" "$MENU_X0" $((CAM_TOP - 2)) 2)
[ "$diff" -eq 0 ] || fail "$diff pixels of frame 10 differ from the screen under the panel"
e2e_pixels fuchsia "$E2E_WORK/frame10.png" >/dev/null || fail "the camera panel's fuchsia was recorded"

# The status line showed the progress text while recording (it is not the folder any more).
e2e_pixels band "$E2E_WORK/recording.png" 219 243 218 >/dev/null || fail "no status line"

# Pause for two seconds in the middle: the file's duration leaves it out.
rm -f "$rec"/*.avi
e2e_click_tool 1     # Record
sleep 1.5
e2e_click_tool 21    # Pause
sleep 2
e2e_click_tool 21    # Pause again: resume
sleep 1.5
e2e_click_tool 41    # Stop
sleep 2
files=("$rec"/*.avi)
[ -f "${files[0]}" ] || fail "no file for the paused recording"
duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "${files[0]}")
echo "paused recording: $duration s"
python3 -c "import sys; d=float(sys.argv[1]); sys.exit(0 if 2.2 <= d <= 4.2 else 1)" "$duration" ||
    fail "duration $duration s: the 2-second pause should not count (about 3 s expected)"
echo "PASS"
