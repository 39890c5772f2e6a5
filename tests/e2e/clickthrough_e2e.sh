#!/usr/bin/env bash
# A person records the work they do in another program: the options kept in the settings file
# (full frames, one a second, the cursor highlighted with click rings), a full-screen picture under the
# camera, Record, a click through the see-through panel onto that picture, Stop. The camera
# frame stays on top of the window clicked, Stop reaches it, every frame is the picture but for
# the cursor and its ring, and the frame after the click shows the ring.
source "$(dirname "$0")/lib.sh" "$@"
e2e_start_display
e2e_install_app
for kv in Compressor= CaptureInterval=1000 PlaybackRate=10 DrawCursor=1 HighlightCursor=${E2E_HIGHLIGHT:-1} ShowClicks=1; do
    e2e_ini_set "$E2E_INI" OPTIONS "${kv%%=*}" "${kv#*=}"
done
# The picture's bars (below its white band) fill the panel: a white grab cannot pass for it.
e2e_app_over_pattern 0 -200 1280 1224

# The middle of the blue bar, inside the panel.
read -r x0 _ x1 _ < <(e2e_pixels bbox "$E2E_WORK/before.png" 0 0 255) || fail "no blue bar"
click_x=$(((x0 + x1) / 2)) click_y=$(((CAM_TOP + MENU_TOP) / 2))
[ "$click_x" -gt "$MENU_X0" ] && [ "$click_x" -lt "$MENU_X1" ] || fail "the blue bar is not under the panel"
echo "panel $MENU_X0..$MENU_X1 x $CAM_TOP..$MENU_TOP, click at $click_x,$click_y"

e2e_click_tool 1 # Record
sleep 1.6
e2e_click "$click_x" "$click_y"
sleep 0.5
e2e_screenshot "$E2E_WORK/after-click.png"
read -r bar_x0 bar_top _ _ < <(e2e_pixels band "$E2E_WORK/after-click.png" 205 204 251) ||
    fail "the camera frame's tool bar is gone after the click"
[ "$bar_x0" -eq "$MENU_X0" ] && [ "$bar_top" -eq "$MENU_TOP" ] ||
    fail "the tool bar moved to $bar_x0,$bar_top after the click"
sleep 4
e2e_click_tool 41 # Stop
sleep 2
[ -z "$(ls "$E2E_REC"/*.avi.recovering 2>/dev/null)" ] || fail "Stop did not end the recording"

files=("$E2E_REC"/*.avi)
[ -f "${files[0]}" ] || fail "no recording"
frames=$(sed -n 's/^nb_read_frames=//p' <<<"$(e2e_probe "${files[0]}")")
echo "$frames frames"
[ "$frames" -ge 5 ] && [ "$frames" -le 8 ] || fail "$frames frames for about 6 s at one a second"
# Frame pixels are screen pixels from the panel's corner, two caption rows above it.
fx=$MENU_X0 fy=$((CAM_TOP - 2))
ringed=-1
for ((n = 0; n < frames; n++)); do
    e2e_pixels frame "${files[0]}" "$n" "$E2E_WORK/frame$n.png"
    # The cursor is on the Record button, at the click or on the Stop button, with its marks.
    diff=$(e2e_pixels matches "$E2E_WORK/frame$n.png" "$E2E_WORK/before.png" "$fx" "$fy" 2 \
        $((click_x - fx)) $((click_y - fy)) 48 11 $((MENU_TOP + 11 - fy)) 32 \
        51 $((MENU_TOP + 11 - fy)) 32)
    red=$(e2e_pixels mark "$E2E_WORK/frame$n.png" $((click_x - fx)) $((click_y - fy)) 2 7 red)
    echo "frame $n: $diff pixels differ from the picture away from the cursor, $red red round the click"
    [ "$diff" -eq 0 ] || fail "frame $n is not the picture under the panel"
    clear=$(e2e_pixels transparent "$E2E_WORK/frame$n.png")
    [ "$clear" -eq 0 ] || fail "frame $n has $clear transparent pixels: players show what lies behind"
    [ "$red" -ge 5 ] && [ "$ringed" -lt 0 ] && ringed=$n
done
[ "$ringed" -ge 1 ] || fail "no frame after the click shows its ring"
echo "PASS"
