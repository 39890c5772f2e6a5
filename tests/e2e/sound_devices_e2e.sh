#!/usr/bin/env bash
# Sound sources that come and go never stop a recording. The microphone (a device chosen by name)
# is unplugged for about three seconds of an AVI recording that goes on in a new file every
# megabytes or so: the recording goes on, silence fills the gap, the microphone comes back when
# its device does, each file's sound is as long as its picture and the tone runs on across the
# files; after Stop a notice says what was missing. Then, with no sound server at all, the picture
# is still recorded and the notice says so.
source "$(dirname "$0")/lib.sh" "$@"
sound_server_start || fail "no sound server"
MIC=2000
export QUARNELBY_MAX_FILE_BYTES=3000000

# Stops the recording and answers the notice that must come after it.
stop_with_notice() {
    e2e_click_tool 41 # Stop
    e2e_wait_window "Notice" 15 >/dev/null || fail "no notice of the missing sound after Stop"
    e2e_screenshot "$E2E_WORK/notice-$1.png"
    xdotool key Return
    e2e_wait_window_gone "Notice" 5 || fail "the notice did not close"
    # Without a window manager Wine hands the activation to the window under ours when the box
    # (the recording's thread's own) closes, and raises it.
    xdotool windowraise "$E2E_MAIN"
    sleep 1
}

e2e_start_display
E2E_OPTIONS=(Compressor= CaptureInterval=100 PlaybackRate=10 Microphone=1
    "MicrophoneDevice=Monitor of Microphone")
e2e_app_over_pattern 250 100 400 330
sound_play_tone "$SOUND_INPUT_SINK" "$MIC" 6 &
e2e_click_tool 1 # Record
sleep 5
sound_sink_unload "$SOUND_INPUT_SINK" || fail "could not unplug the microphone"
sleep 3
sound_sink_load "$SOUND_INPUT_SINK" Microphone || fail "could not plug the microphone in again"
sound_play_tone "$SOUND_INPUT_SINK" "$MIC" 8 &
sleep 5
stop_with_notice unplugged

files=("$E2E_REC"/*.avi)
[ "${#files[@]}" -ge 3 ] || fail "only ${#files[@]} files: the recording did not go on in new files"
tones=
for f in "${files[@]}"; do
    video=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$f")
    audio=$(python3 "$E2E_DIR/sound.py" length "$f")
    echo "$(basename "$f"): $video frames, $audio s of sound"
    python3 -c "import sys; sys.exit(abs(int(sys.argv[1]) / 10 - float(sys.argv[2])) > 0.1)" "$video" "$audio" ||
        fail "$(basename "$f"): the sound is not as long as the picture"
    tones+=$(python3 "$E2E_DIR/sound.py" tones "$f" "$MIC")
done
echo "the microphone every 50 ms across the files: $tones"
# Sound, a gap of the three seconds unplugged and up to three more while the device comes back
# (under Wine its first packet comes 2 to 3 s after it opens), sound again.
[[ "$tones" =~ ^\.*a{20,}\.{50,130}a{20,}\.?$ ]] || fail "not sound, a gap of silence, sound again"

# No sound server at all: the picture is recorded, and the notice says the sound was missing.
e2e_click_tool 297 # Close
e2e_wait_window_gone "Zo/quarnelby" 10 || fail "the program did not close"
sound_server_stop
rm -f "$E2E_REC"/*
QUARNELBY_SOUND_SERVER=none e2e_wine "$E2E_APP/quarnelby.exe"
e2e_wait_window "Zo/quarnelby" >/dev/null || fail "the main window did not appear again"
sleep 2
e2e_click_tool 1 && sleep 2
stop_with_notice "no server"
files=("$E2E_REC"/*.avi)
frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "${files[0]}")
[ "${frames:-0}" -ge 10 ] || fail "no picture recorded without a sound server: ${frames:-no} frames"
echo "PASS"
