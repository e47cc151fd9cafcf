#!/usr/bin/env bash
# The launcher's tray on a real X desktop whose tray is the X system tray: a private Xvfb with
# icewm, whose task bar has one, and no session bus. Minimising with "Minimize To tray" on hides
# the window and puts an icon in the tray; a double click on the icon brings the window back; a
# right press opens the tray menu; its "Exit And Stop Servers" ends the running servers and the
# launcher and writes the settings.
#
# Usage: tray_desktop_test.sh PATH/TO/corvane-launcher
set -uo pipefail
logs="icewm"
# shellcheck source=desktop_session.sh
source "$(dirname "${BASH_SOURCE[0]}")/desktop_session.sh"

start_xvfb
start_icewm
step "icewm is up with its tray"

# The launcher's icons in the tray, one window id a line.
tray_icons() {
    local tray
    tray="$(tray_window)"
    [ -n "$tray" ] || return 0
    xwininfo -tree -id "$tray" 2>/dev/null | awk '/\("corvane-launcher" / { print $1 }'
}
icons_in_tray() { [ "$(tray_icons | grep -c .)" -eq "$1" ]; }

start_launcher_and_servers

# ---- minimise to the tray -----------------------------------------------------------------------

xdotool windowminimize "$main_window"
wait_until 10 "the window to be hidden" window_hidden "$main_window"
wait_until 10 "one launcher icon in the tray" icons_in_tray 1
icon="$(tray_icons)"
is_viewable "$icon" || fail "the tray icon $icon is not shown"
step "window hidden, icon $icon in the tray"

# ---- a single click leaves it there, a double click brings the window back ----------------------

xdotool mousemove --window "$icon" 12 12 click 1
sleep 0.5
window_hidden "$main_window" || fail "a single click on the X tray icon restored the window"
# Far enough apart not to count as a double click with the first.
sleep 0.5
xdotool click --repeat 2 --delay 80 1
wait_until 10 "the window to come back after the double click" window_back "$main_window"
wait_until 10 "the icon to leave the tray" icons_in_tray 0
step "double click restored the window and removed the icon"

# ---- right press opens the tray menu ------------------------------------------------------------

# Back to the window, as an operator's hand goes, before the next trip to the tray.
xdotool mousemove --window "$main_window" 254 160
xdotool windowminimize "$main_window"
wait_until 10 "the window to be hidden again" window_hidden "$main_window"
wait_until 10 "the icon to be back in the tray" icons_in_tray 1
icon="$(tray_icons)"
# An operator's hand takes a moment to reach a new icon. A press within some 300 ms of an icon
# coming back to icewm's tray after a restore sometimes goes unanswered (seen about one run in
# five when pressed at once; never with this pause in a hundred runs).
sleep 0.5
menu_is_open && fail "a menu is open before the right press"

xdotool mousemove --window "$icon" 12 12 mousedown 3
# The menu opens on the press itself, while the button is still held.
wait_until 5 "the tray menu to open on the right press" menu_is_open
xdotool mouseup 3
menu="$(open_menu)" || fail "the tray menu closed when the right button was released"
step "right press opened menu $menu"

# ---- Exit And Stop Servers ----------------------------------------------------------------------

exit_through_menu "$menu"
echo "PASS: tray on a real desktop with the X system tray"
