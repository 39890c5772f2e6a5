#!/usr/bin/env bash
# The program on a second monitor. Wine reads the Xinerama heads of an Xvfb without RandR as its
# monitors; Xvfb puts every screen at the origin, so here the main monitor is 0,0 1024x768 and
# the second one 0,0 1280x1024, and what lies right of or below 1024x768 is on the second alone.
# There a window stored off every monitor comes back onto the second one, Shift+Right grows past
# the main monitor's width, and the picker lays the camera exactly over a window and records it.
source "$(dirname "$0")/lib.sh" "$@"

e2e_start_xvfb +xinerama -extension RANDR -screen 0 1024x768x24 -screen 1 1280x1024x24
e2e_install_app

close_app() {
    xdotool windowfocus --sync "$1" key alt+F4
    e2e_wait_window_gone "Zo/quarnelby" 10 || fail "Alt+F4 did not close the window"
}
start_app() { # sets id to the main window's
    e2e_wine "$E2E_APP/quarnelby.exe"
    id=$(e2e_wait_window "Zo/quarnelby") || fail "the main window did not appear on the screen"
}
store_place() {
    local key value
    for key in Left Top Width Height; do
        value=$1
        shift
        e2e_ini_set "$E2E_INI" FORM "Main$key" "$value"
    done
}

# Nearest to 5000,5000 is the second monitor: against its corner, not the main one's (696,478).
store_place 5000 5000 328 290
start_app
geometry=$(e2e_geometry "$id")
[ "$geometry" = "952 734 328 290" ] || fail "stored at 5000,5000: opened at $geometry"
close_app "$id"

# Mostly on the second monitor, as wide as the main one: it stays, and grows one pixel.
store_place 100 700 1024 300
start_app
geometry=$(e2e_geometry "$id")
[ "$geometry" = "100 700 1024 300" ] || fail "stored at 100,700: opened at $geometry"
xdotool windowfocus --sync "$id" key shift+Right
sleep 0.5
geometry=$(e2e_geometry "$id")
[ "$geometry" = "100 700 1025 300" ] || fail "after Shift+Right at $geometry, expected 1025 wide"
close_app "$id"

# The picker lays the camera over a window on the second monitor alone; with the main monitor's
# work area the main window could not go right of 1016.
store_place 100 100 328 290
TX=1040 TY=780 TW=200 TH=150
e2e_app_over_pattern $TX $TY $TW $TH target
id=$E2E_MAIN
e2e_click_tool 70 # Select Target Window
e2e_wait_window "Target Window" >/dev/null || fail "the picker did not open"
sleep 0.5
xdotool type --delay 100 target
sleep 0.5
xdotool key Return
e2e_wait_window_gone "Target Window" 5 || fail "Enter did not close the picker"
sleep 1
echo "main window now at $(e2e_geometry "$id")"
e2e_expect_camera_at $TX $TY $TH
# A recording there shows the target pixel for pixel.
e2e_record_matches $TX $TY
echo "PASS"
