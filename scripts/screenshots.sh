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
shots=(window_designed window_enlarged options_enlarged)

if [ ! -x "$build/launcher/corvane-launcher" ]; then
    "$root/scripts/setup.sh"
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

mkdir -p "$out"
start_xvfb
start_icewm
# shellcheck disable=SC2119 # no arguments: the stand-in servers beside the launcher
start_launcher_and_servers
for name in "${@:-${shots[@]}}"; do
    declare -F "shot_$name" >/dev/null || fail "no shot $name; there are: ${shots[*]}"
    "shot_$name"
done
