#!/usr/bin/env bash
# First start without a settings file, moving and sizing with the arrow keys, closing with the
# close button, and the next start restoring position and size.
source "$(dirname "$0")/lib.sh" "$@"
e2e_start_display
e2e_install_app

e2e_wine "$E2E_APP/quarnelby.exe"
id=$(e2e_wait_window "Zo/quarnelby") || fail "the main window did not appear"
geometry=$(e2e_geometry "$id")
[ "$geometry" = "274 122 328 290" ] || fail "first start at $geometry, expected 274 122 328 290"
[ ! -e "$E2E_INI" ] || fail "a settings file exists before anything was saved"

# Five steps right, three steps taller.
xdotool windowfocus --sync "$id"
xdotool key Right Right Right Right Right shift+Down shift+Down shift+Down
sleep 0.5
geometry=$(e2e_geometry "$id")
[ "$geometry" = "279 122 328 293" ] || fail "after the arrow keys at $geometry, expected 279 122 328 293"

e2e_screenshot "$E2E_WORK/open.png"
read -r x0 top x1 y1 < <(e2e_pixels band "$E2E_WORK/open.png" 205 204 251) || fail "no tool bar"
e2e_click $((x1 - 10)) $((top + 11)) # the close button at the tool bar's right end
e2e_wait_window_gone "Zo/quarnelby" 10 || fail "the window did not close"

for kv in MainLeft=279 MainTop=122 MainWidth=328 MainHeight=293; do
    got=$(e2e_ini_get "$E2E_INI" FORM "${kv%=*}")
    [ "$got" = "${kv#*=}" ] || fail "settings file has ${kv%=*}=$got, expected ${kv#*=}"
done

# A stored position is restored as it stands, also partly off the screen.
e2e_ini_set "$E2E_INI" FORM MainLeft -40
e2e_wine "$E2E_APP/quarnelby.exe"
id=$(e2e_wait_window "Zo/quarnelby") || fail "the main window did not appear again"
geometry=$(e2e_geometry "$id")
[ "$geometry" = "-40 122 328 293" ] || fail "restarted at $geometry, expected -40 122 328 293"
echo "PASS"
