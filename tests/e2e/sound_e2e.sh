#!/usr/bin/env bash
# Sound switched on in the kept options, a tone on each source (the microphone hears 2000 Hz all
# along; the computer starts playing 440 Hz when the picture changes): for MP4 and for AVI one
# video and one audio stream at 48 kHz that ffmpeg decodes without a word, of the same length,
# both tones in it, the computer's tone starting with the picture's change, and a pause that
# leaves no gap. A time-lapse records no sound.
source "$(dirname "$0")/lib.sh" "$@"
sound_server_start || fail "no sound server"
MIC=2000 SYSTEM=440

# Records with sound: the microphone's tone throughout, the pattern moved away after 4 s as the
# computer's tone starts (Wine's capture delivers its first packet 2 to 3 s after it opens, later
# on a loaded machine), a pause of 1.5 s after 8 s. $1: the file's extension.
record_with_sound() {
    sound_play_tone "$SOUND_INPUT_SINK" "$MIC" 30 &
    local mic=$!
    sleep 0.5
    e2e_click_tool 1 # Record
    sleep 4
    xdotool windowmove "$PATTERN" 700 600 &
    sound_play_tone "$SOUND_OUTPUT_SINK" "$SYSTEM" 6 &
    sleep 4
    e2e_click_tool 21 # Pause
    sleep 1.5
    e2e_click_tool 1 # Record resumes
    sleep 1.5
    e2e_click_tool 41 # Stop
    sleep 2
    kill "$mic" 2>/dev/null
    xdotool windowmove "$PATTERN" 250 100
    RECORDED=$(ls "$E2E_REC"/*."$1") || fail "no .$1 recording: $(ls "$E2E_REC")"
}

# Checks the recording: streams, lengths, a silent decode, the tones, the event, no gap.
check_sound() {
    local streams video audio tones change onset
    streams=$(python3 "$E2E_DIR/sound.py" streams "$RECORDED") || fail "ffprobe cannot read $RECORDED"
    echo "$streams"
    [ "$(wc -l <<<"$streams")" -eq 2 ] || fail "not one video and one audio stream"
    grep -q "^$1,audio,48000,2," <<<"$streams" || fail "the sound is not $1 at 48 kHz stereo"
    video=$(ffprobe -v error -select_streams v:0 -show_entries format=duration -of csv=p=0 "$RECORDED")
    audio=$(python3 "$E2E_DIR/sound.py" length "$RECORDED")
    ffmpeg -v error -i "$RECORDED" -f null - 2>"$E2E_WORK/decode.log"
    [ ! -s "$E2E_WORK/decode.log" ] || fail "ffmpeg reports: $(head -3 "$E2E_WORK/decode.log")"
    tones=$(python3 "$E2E_DIR/sound.py" tones "$RECORDED" "$MIC" "$SYSTEM")
    echo "tones (a: microphone, b: computer, +: both) every 50 ms: $tones"
    # Both sources heard; the microphone heard before the pause (at 8 s: 160 marks of 50 ms), and
    # from its first sound on no gap, the pause included.
    [[ "$tones" == *+* ]] || fail "the two tones never sound together"
    [[ "$tones" =~ ^[.b]*[a+]+\.?$ ]] || fail "the microphone's tone has a gap"
    local before=${tones%%[a+]*}
    [ "${#before}" -lt 150 ] || fail "the microphone was first heard after the pause"
    change=$(python3 "$E2E_DIR/sound.py" change "$RECORDED" 3) || fail "the picture never changes"
    onset=$(python3 "$E2E_DIR/sound.py" onset "$RECORDED" "$SYSTEM") || fail "no computer's tone"
    echo "durations: video $video s, sound $audio s; picture change at $change s, tone at $onset s"
    python3 -c "import sys; v, a, c, o = map(float, sys.argv[1:]); sys.exit(abs(v - a) > 0.2 or abs(c - o) > 0.1)" \
        "$video" "$audio" "$change" "$onset" || fail "sound and picture are not in step"
}

e2e_start_display
E2E_OPTIONS=(Compressor=H264 "CompressorName=H.264 (MP4)" CaptureInterval=33 PlaybackRate=30
    Microphone=1 SystemSound=1)
e2e_app_over_pattern 250 100 400 330
PATTERN=$(xdotool search --name "^pattern\$" | head -1)
record_with_sound mp4
check_sound aac
shown=$(python3 "$E2E_DIR/browser.py" --sound "$RECORDED" "$E2E_WORK/browser.png") || fail "chromium: $shown"
echo "chromium: $shown"

# The same as AVI (no compression), started afresh with the options kept.
restart() {
    e2e_click_tool 297 # Close
    e2e_wait_window_gone "Zo/quarnelby" 10 || fail "the program did not close"
    e2e_wine "$E2E_APP/quarnelby.exe"
    e2e_wait_window "Zo/quarnelby" >/dev/null || fail "the main window did not appear again"
    sleep 2
    rm -f "$E2E_REC"/*
}
e2e_ini_set "$E2E_INI" OPTIONS Compressor ""
restart
record_with_sound avi
check_sound pcm_s16le

# A time-lapse (a second a frame played at 30 fps) has no sound.
e2e_ini_set "$E2E_INI" OPTIONS CaptureInterval 1000
restart
e2e_click_tool 1 && sleep 3 && e2e_click_tool 41 && sleep 2
RECORDED=$(ls "$E2E_REC"/*.avi) || fail "no time-lapse recording"
[ "$(ffprobe -v error -show_entries stream=codec_type -of csv=p=0 "$RECORDED")" = video ] ||
    fail "the time-lapse has more than a video stream"
echo "PASS"
