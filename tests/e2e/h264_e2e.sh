#!/usr/bin/env bash
# A person chooses H.264 in the options dialog and records: the MP4 file is h264 at the playback
# rate that ffmpeg decodes without a word, its pictures match the screen, and it plays in a real
# browser. Then a recording is killed as a crash would: at the next start the file is cut back
# to its whole fragments, finished as a regular MP4, reported, and plays with all but about its
# last second.
source "$(dirname "$0")/lib.sh" "$@"
e2e_start_display
# 4:2:0 gives two rows one colour: the pattern's hard edge between white and its saturated bars
# bleeds where it falls inside such a pair (33 dB here a pixel higher). One pixel lower than the
# other tests' pattern, it falls between two pairs, so what is measured is our recording.
e2e_app_over_pattern 250 101 400 330
e2e_choose_compressor h

# Checks a recording ($1): a regular MP4 that plays silently in ffprobe and ffmpeg, h264 yuv420p
# at 10 fps, frame 5 and the browser's first picture match the screen under the panel at 35 dB or
# more. Sets FRAMES and DURATION (the browser's).
check_mp4() {
    local probe psnr shown
    [ -z "$(ffprobe -v error "$1" 2>&1)" ] || fail "ffprobe reports: $(ffprobe -v error "$1" 2>&1 | head -3)"
    probe=$(e2e_probe "$1")
    echo "$probe"
    grep -qx "r_frame_rate=10/1" <<<"$probe" || fail "not 10 frames per second"
    [ "$(ffprobe -v error -show_entries stream=codec_name,pix_fmt -of csv=p=0 "$1")" = "h264,yuv420p" ] ||
        fail "the stream is not h264 yuv420p"
    FRAMES=$(sed -n 's/^nb_read_frames=//p' <<<"$probe")
    e2e_check_regular_mp4 "$1" "$FRAMES"
    ffmpeg -v error -i "$1" -f null - 2>"$E2E_WORK/decode.log"
    [ ! -s "$E2E_WORK/decode.log" ] || fail "ffmpeg reports: $(head -3 "$E2E_WORK/decode.log")"
    e2e_pixels frame "$1" 5 "$E2E_WORK/frame5.png"
    psnr=$(e2e_pixels psnr "$E2E_WORK/frame5.png" "$E2E_WORK/before.png" "$MENU_X0" $((CAM_TOP - 2)) 2)
    echo "frame 5 against the screen: $psnr dB"
    python3 -c "import sys; sys.exit(float(sys.argv[1]) < 35)" "$psnr" || fail "frame 5 is $psnr dB from the screen"
    shown=$(python3 "$E2E_DIR/browser.py" "$1" "$E2E_WORK/browser.png") || fail "chromium: $shown"
    DURATION=${shown%% *}
    psnr=$(e2e_pixels psnr "$E2E_WORK/browser.png" "$E2E_WORK/before.png" "$MENU_X0" $((CAM_TOP - 2)) 2)
    echo "chromium: $shown, its first picture against the screen: $psnr dB"
    python3 -c "import sys; sys.exit(float(sys.argv[1]) < 35)" "$psnr" || fail "chromium shows $psnr dB from the screen"
}

e2e_click_tool 1 # Record
sleep 3
e2e_click_tool 41 # Stop
sleep 2
files=("$E2E_REC"/*.mp4)
[ -f "${files[0]}" ] || fail "no MP4 recording: $(ls "$E2E_REC")"
[[ "$(basename "${files[0]}")" =~ ^20[0-9]{12}\.mp4$ ]] || fail "${files[0]} is not YYYYMMDDHHMMSS.mp4"
check_mp4 "${files[0]}"
[ "$FRAMES" -ge 20 ] && [ "$FRAMES" -le 40 ] || fail "$FRAMES frames for about 3 seconds"

# Killed after 4 s: the fragments on the disk hold all but about the last second.
rm -f "$E2E_REC"/*
e2e_click_tool 1
sleep 4
pkill -9 -xf "$E2E_APP/quarnelby.exe" || fail "no program process to kill"
e2e_wait_window_gone "Zo/quarnelby" 10 || fail "the killed program's window stays"
files=("$E2E_REC"/*.mp4)
[ -f "${files[0]}.recovering" ] || fail "no recovery note beside ${files[0]}"
e2e_start_with_report "recovery report"
[ ! -e "${files[0]}.recovering" ] || fail "the note is left"
check_mp4 "${files[0]}"
echo "after the kill: $FRAMES frames, $DURATION s in chromium"
[ "$FRAMES" -ge 25 ] || fail "only $FRAMES frames of about 40 kept"
python3 -c "import sys; sys.exit(float(sys.argv[1]) < 2.5)" "$DURATION" || fail "chromium plays $DURATION s"
echo "PASS"
