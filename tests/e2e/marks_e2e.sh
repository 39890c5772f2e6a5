#!/usr/bin/env bash
# A person's recording with the cursor marks: Options, tick "Highlight the cursor" and "Show
# clicks", capture about one frame a second, record, left-click on the blue bar and rest the mouse
# on the white one. A recorded frame shows a red ring where the click was, though the click fell
# between two frames, and the frames are tinted yellow round the cursor.
source "$(dirname "$0")/lib.sh" "$@"
e2e_open_over_pattern

e2e_click_tool 92    # Options
dialog=$(e2e_wait_window "Options") || fail "the options dialog did not open"
sleep 0.5
xdotool windowfocus --sync "$dialog"
# From the compressor list to the capture bar, and from 100 ms to 997 ms (see options_e2e.sh).
xdotool key Tab Tab Tab Next Right Right Right Right Right Right Right Right Right Right
read -r dx dy _ _ < <(e2e_geometry "$dialog")
# The check boxes lie at 156 and 308, 335 in the dialog's client area, below Wine's 4 px border
# and 23 px caption (the y is the box's middle give or take the border).
e2e_click $((dx + 4 + 156 + 30)) $((dy + 25 + 344))   # Highlight the cursor
e2e_click $((dx + 4 + 308 + 30)) $((dy + 25 + 344))   # Show clicks
sleep 0.3
e2e_screenshot "$E2E_WORK/options-set.png"
xdotool key Return
e2e_wait_window_gone "Options" 5 || fail "OK did not close the options dialog"

# A point in the middle of the bar of colour R G B, or of the bar $4 bars to its right (the white
# bar is found beside the cyan one: the pattern's top band is white too), inside the camera
# panel, in screen pixels: BAR_X BAR_Y.
bar_middle() {
    local x0 y0 x1 y1 shift
    read -r x0 y0 x1 y1 < <(e2e_pixels bbox "$E2E_WORK/before.png" "$1" "$2" "$3")
    [ -n "$y1" ] || fail "no bar of colour $1 $2 $3"
    shift=$(((x1 - x0 + 1) * ${4:-0}))
    x0=$((x0 + shift)) x1=$((x1 + shift))
    x0=$((x0 > MENU_X0 ? x0 : MENU_X0)); x1=$((x1 < MENU_X1 ? x1 : MENU_X1))
    y0=$((y0 > CAM_TOP ? y0 : CAM_TOP)); y1=$((y1 < MENU_TOP - 1 ? y1 : MENU_TOP - 1))
    [ $((x1 - x0)) -gt 30 ] && [ $((y1 - y0)) -gt 60 ] || fail "bar $* not under the panel"
    BAR_X=$(((x0 + x1) / 2)) BAR_Y=$(((y0 + y1) / 2))
}
bar_middle 0 0 255
click_x=$BAR_X click_y=$BAR_Y
bar_middle 0 255 255 1
rest_x=$BAR_X rest_y=$BAR_Y
echo "click at $click_x,$click_y (blue), cursor rests at $rest_x,$rest_y (white)"

e2e_click_tool 1     # Record
sleep 1.6
xdotool mousemove --sync "$click_x" "$click_y" click 1 mousemove "$rest_x" "$rest_y"
# The click went through the see-through panel to the pattern window, which Wine (with no window
# manager) raised over the program: bring the program back on top to reach its Stop button.
xdotool windowraise "$E2E_MAIN"
sleep 3
e2e_click_tool 41    # Stop
sleep 2

files=("$E2E_REC"/*.avi)
[ -f "${files[0]}" ] || fail "no recording"
frames=$(sed -n 's/^nb_read_frames=//p' <<<"$(e2e_probe "${files[0]}")")
[ "$frames" -ge 3 ] && [ "$frames" -le 7 ] || fail "$frames frames for 4.6 s at one a second"
# Frame pixels are screen pixels from the panel's corner, two caption rows above it.
fx=$((MENU_X0)); fy=$((CAM_TOP - 2))
ringed=0
for ((n = 0; n < frames; n++)); do
    e2e_pixels frame "${files[0]}" "$n" "$E2E_WORK/frame$n.png"
    red=$(e2e_pixels mark "$E2E_WORK/frame$n.png" $((click_x - fx)) $((click_y - fy)) 2 7 red)
    echo "frame $n: $red red pixels round the click"
    [ "$red" -ge 5 ] && ringed=$((ringed + 1))
done
[ "$ringed" -ge 1 ] || fail "no frame shows a ring where the click was"
last=$E2E_WORK/frame$((frames - 1)).png
yellow=$(e2e_pixels mark "$last" $((rest_x - fx)) $((rest_y - fy)) 2 12 yellow)
echo "last frame: $yellow yellow pixels round the cursor"
[ "$yellow" -ge 30 ] || fail "the last frame is not tinted yellow round the cursor"
red=$(e2e_pixels mark "$last" $((click_x - fx)) $((click_y - fy)) 2 30 red)
[ "$red" -eq 0 ] || fail "the ring still shows $red red pixels seconds after the click"
echo "PASS"
