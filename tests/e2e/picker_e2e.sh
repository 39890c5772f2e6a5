#!/usr/bin/env bash
# A person lays the camera over a window with the picker: open it, select the window by typing
# its title, see the flashing outline around it, choose it with Enter. The camera panel then
# covers that window and a recording shows it pixel for pixel. The program's own window is
# refused and moves nothing.
source "$(dirname "$0")/lib.sh" "$@"
e2e_start_display
TX=900 TY=450 TW=320 TH=240
e2e_app_over_pattern $TX $TY $TW $TH target
main=$E2E_MAIN

# The tree lists the program's own window first (it is on top); typing a title selects it.
e2e_click_tool 70    # Select Target Window
e2e_wait_window "Target Window" >/dev/null || fail "the picker did not open"
sleep 0.5
xdotool type --delay 100 target
sleep 0.7
e2e_screenshot "$E2E_WORK/picker.png"
# The outline lies just outside the window, 3 pixels wide; inside it the window is seen.
outline=$(e2e_pixels outline "$E2E_WORK/picker.png" "$E2E_WORK/before.png" $TX $TY $TW $TH) ||
    fail "no flashing outline around the target: $outline"
echo "outline: $outline"

xdotool key Return
e2e_wait_window_gone "Target Window" 5 || fail "Enter did not close the picker"
sleep 1
read -r mx my mw mh < <(e2e_geometry "$main")
echo "main window now at $mx,$my ${mw}x$mh"
e2e_expect_camera_at $TX $TY $TH
# A recording shows the target.
e2e_record_matches $TX $TY

# The program's own window is refused with its message; nothing moves.
e2e_click_tool 70
e2e_wait_window "Target Window" >/dev/null || fail "the picker did not open a second time"
sleep 0.5
xdotool type --delay 100 Zo
xdotool key Return
e2e_wait_count "Zo/quarnelby" 2 10 || fail "no refusal for the program's own window"
sleep 0.5
e2e_screenshot "$E2E_WORK/refusal.png"
xdotool key Return
e2e_wait_count "Zo/quarnelby" 1 10 || fail "the refusal did not close"
e2e_count_windows "Target Window" | grep -qx 1 || fail "the picker closed after the refusal"
xdotool key Escape
e2e_wait_window_gone "Target Window" 5 || fail "Escape did not close the picker"
read -r nx ny nw nh < <(e2e_geometry "$main")
[ "$nx $ny $nw $nh" = "$mx $my $mw $mh" ] || fail "the main window moved: $nx,$ny ${nw}x$nh"
echo "PASS"
