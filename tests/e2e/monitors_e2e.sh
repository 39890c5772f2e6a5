#!/usr/bin/env bash
# A settings file from a desktop with another monitor layout: a window stored where no monitor is
# opens wholly on the screen, at its size, and is saved there; one stored partly off the screen
# opens exactly where it was stored.
source "$(dirname "$0")/lib.sh" "$@"
e2e_start_display
e2e_install_app

# Closes the program as a person would, with Alt+F4 (which saves its place).
close_app() {
    xdotool windowfocus --sync "$1" key alt+F4
    e2e_wait_window_gone "Zo/quarnelby" 10 || fail "Alt+F4 did not close the window"
}

e2e_ini_set "$E2E_INI" FORM MainLeft 5000
e2e_ini_set "$E2E_INI" FORM MainTop 5000
e2e_wine "$E2E_APP/quarnelby.exe"
id=$(e2e_wait_window "Zo/quarnelby") || fail "the main window did not appear on the screen"
read -r x y w h < <(e2e_geometry "$id")
echo "stored at 5000,5000: opened at $x,$y ${w}x$h"
[ "$w $h" = "328 290" ] || fail "the size changed to ${w}x$h"
((x >= 0 && y >= 0 && x + w <= 1280 && y + h <= 1024)) || fail "not wholly on the screen"
# It was moved only as far as needed: it lies against the right and bottom edges.
((x + w == 1280 && y + h == 1024)) || fail "not moved onto the nearest corner"
close_app "$id"
[ "$(e2e_ini_get "$E2E_INI" FORM MainLeft),$(e2e_ini_get "$E2E_INI" FORM MainTop)" = "$x,$y" ] ||
    fail "the place on the screen was not saved"

e2e_ini_set "$E2E_INI" FORM MainLeft -40
e2e_ini_set "$E2E_INI" FORM MainTop 122
e2e_wine "$E2E_APP/quarnelby.exe"
id=$(e2e_wait_window "Zo/quarnelby") || fail "the main window did not appear again"
geometry=$(e2e_geometry "$id")
[ "$geometry" = "-40 122 328 290" ] || fail "stored at -40,122: opened at $geometry"
echo "PASS"
