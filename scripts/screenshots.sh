#!/usr/bin/env bash
# Takes the pictures of the launcher in docs/screenshots/, on a private Xvfb with icewm and the
# bundled stand-in servers running. Each picture is one function, shot_NAME, writing NAME.png;
# add a function and its name to "shots" for another picture.
#
# Usage: scripts/screenshots.sh [NAME...]   (default: every shot)
# The launcher is built in $CORVANE_BUILD_DIR (default build/) when it is not there yet.
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${CORVANE_BUILD_DIR:-$root/build}"
out="$root/docs/screenshots"
shots=(window_designed window_enlarged options_enlarged tab_state_marks about_box tray_menu charts_light
    charts_dark)

if [ ! -x "$build/launcher/corvane-launcher" ]; then
    "$root/scripts/setup.sh" --for-screenshots
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCORVANE_BUILD_TESTS=OFF -DCORVANE_BUILD_BENCH=OFF >/dev/null || exit 1
    cmake --build "$build" || exit 1
fi
launcher="$build/launcher/corvane-launcher" tools="import" logs="icewm"
# shellcheck source-path=SCRIPTDIR source=../tests/e2e/desktop_session.sh
source "$root/tests/e2e/desktop_session.sh"

# The client area of a window, without the window manager's frame.
capture() { import -window "$1" "$out/$2.png" || fail "could not capture $2"; step "docs/screenshots/$2.png"; }
client_size() { eval "$(xdotool getwindowgeometry --shell "$1")"; [ "${WIDTH}x${HEIGHT}" = "$2" ]; }
resize_window() {
    xdotool windowsize "$main_window" "${1%x*}" "${1#*x}"
    wait_until 10 "the window to be $1" client_size "$main_window" "$1"
    sleep 0.5 # the controls follow, and are drawn anew
}

# The window at its designed size, a server's console shown.
shot_window_designed() {
    resize_window 508x325
    xdotool mousemove --window "$main_window" 200 18 click 1 # "Character Server Status"
    sleep 0.5
    capture "$main_window" window_designed
}
# The window enlarged: the console pane takes the room, the buttons keep to the corner.
shot_window_enlarged() {
    resize_window 900x600
    capture "$main_window" window_enlarged
    resize_window 508x325
}
# The options enlarged: the launcher log takes the room.
shot_options_enlarged() {
    resize_window 900x600
    xdotool mousemove --window "$main_window" 412 18 click 1 # "Options and Diagnostics"
    sleep 0.5
    capture "$main_window" options_enlarged
    resize_window 508x325
}

# The server tabs' marks, the servers running.
shot_tab_state_marks() {
    resize_window 508x325
    three_servers_running || fail "the servers are not running"
    import -window "$main_window" -crop 508x60+0+0 +repage "$out/tab_state_marks.png" ||
        fail "could not capture tab_state_marks"
    step "docs/screenshots/tab_state_marks.png"
}
# The About box, from the launcher log's menu.
shot_about_box() {
    local box
    xdotool mousemove --window "$main_window" 412 18 click 1 # "Options and Diagnostics"
    sleep 0.5
    xdotool mousemove --window "$main_window" 200 200 click 3
    sleep 0.5
    xdotool key a # &About...
    wait_until 5 "the About box" eval 'box="$(xdotool search --onlyvisible --name "^About Corvane Launcher$" | head -n 1)"'
    sleep 0.5
    capture "$box" about_box
    xdotool key --window "$box" Escape
}
# The tray menu, on icewm's tray, the window hidden.
shot_tray_menu() {
    local icon menu
    xdotool windowminimize "$main_window"
    wait_until 10 "the window to be hidden" window_hidden "$main_window"
    icon_in_tray() { icon="$(xwininfo -tree -id "$(tray_window)" 2>/dev/null | awk '/\("corvane-launcher" / { print $1; exit }')"; [ -n "$icon" ]; }
    wait_until 10 "the launcher's icon in the tray" icon_in_tray
    sleep 0.5
    xdotool mousemove --window "$icon" 12 12 mousedown 3
    wait_until 5 "the tray menu" eval 'menu="$(open_menu)"'
    xdotool mouseup 3
    sleep 0.3
    capture "$menu" tray_menu
    xdotool key Escape
}

# The charts page of the map server, from its tab's menu, after some samples of the servers
# running (the day's chart shows what earlier runs on this machine left in the history too).
charts_page() {
    local charts
    xdotool windowactivate --sync "$main_window" 2>/dev/null
    sleep 12 # six samples
    xdotool mousemove --window "$main_window" 330 18 click 3 # "Map Server Status"
    wait_until 5 "the tab's menu" menu_is_open
    xdotool key c # &Charts...
    wait_until 10 "the charts page" eval 'charts="$(xdotool search --onlyvisible --name "^Charts - Corvane Launcher$" | head -n 1)"'
    sleep 1 # the history read and drawn
    capture "$charts" "$1"
    xdotool windowunmap "$charts"
}
shot_charts_light() { charts_page charts_light; }
# The same in a dark palette: the launcher started again with CORVANE_PALETTE=dark (the Fusion
# style with a dark palette).
shot_charts_dark() {
    kill -TERM "$launcher_pid"
    wait_until 20 "the launcher to end" process_ended "$launcher_pid"
    poll 15 all_servers_ended || fail "servers still running after the launcher ended"
    CORVANE_PALETTE=dark start_launcher_and_servers
    charts_page charts_dark
}

mkdir -p "$out"
start_xvfb
start_icewm
# shellcheck disable=SC2119 # no arguments: the stand-in servers beside the launcher
start_launcher_and_servers
for name in "${@:-${shots[@]}}"; do
    declare -F "shot_$name" >/dev/null || fail "no shot $name; there are: ${shots[*]}"
    "shot_$name"
done
