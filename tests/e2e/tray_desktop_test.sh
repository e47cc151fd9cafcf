#!/usr/bin/env bash
# The launcher's tray on a real X desktop: a private Xvfb with icewm, whose task bar has a system
# tray. Minimising with "Minimize To tray" on hides the window and puts an icon in the tray; a
# double click on the icon brings the window back; a right press opens the tray menu; its
# "Exit And Stop Servers" ends the running servers and the launcher and writes the settings.
# Usage: tray_desktop_test.sh PATH/TO/corvane-launcher
# Everything it starts is ended on exit, by process id, also when a check fails.
set -uo pipefail
launcher="$(realpath -e "${1:?usage: $0 PATH/TO/corvane-launcher}")" || exit 1
work="$(mktemp -d "${TMPDIR:-/tmp}/corvane-tray-e2e.XXXXXX")"
pids=()
cleanup() {
    local status=$?
    kill -TERM "${pids[@]}" 2>/dev/null && sleep 0.3
    kill -KILL "${pids[@]}" 2>/dev/null
    TMUX_TMPDIR="$work/tmux" tmux -L corvane-launcher kill-server 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; tail -n 20 "$work"/*.log >&2; exit 1; }
# until SECONDS WHAT COMMAND...: runs COMMAND every 100 ms until it succeeds.
until_ok() {
    local deadline=$((SECONDS + $1)) what="$2"
    shift 2
    until "$@"; do
        ((SECONDS < deadline)) || fail "gave up waiting for: $what"
        sleep 0.1
    done
}
ended() { [[ "$(ps -o stat= -p "$1")" == Z* || -z "$(ps -o stat= -p "$1")" ]]; }

mkdir -p "$work"/{home,config/CorvaneLauncher,tmux}
chmod 700 "$work/tmux"
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/tmux"
export TMUX_TMPDIR="$work/tmux" QT_QPA_PLATFORM=xcb
# Without a session bus Qt uses the X system tray protocol, which icewm's tray speaks.
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY TMUX
settings="$XDG_CONFIG_HOME/CorvaneLauncher/CorvaneLauncher.ini"
# The interval is left out: it is in the file only if the launcher wrote the file.
printf '[Settings]\nAutoRestart=0\nMinimizeToTray=1\nUpdateServerMessage=1\n' >"$settings"

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
until_ok 15 "Xvfb" test -s "$work/display"
export DISPLAY=":$(head -n 1 "$work/display")"
icewm >"$work/icewm.log" 2>&1 &
pids+=($!)
tray_icons() {
    local tray
    tray="$(xwininfo -root -tree | awk '$2 == "\"SystemTray\":" { print $1; exit }')"
    [ -n "$tray" ] && xwininfo -tree -id "$tray" | awk '/\("corvane-launcher" / { print $1 }'
}
icons_are() { [ "$(tray_icons | grep -c .)" -eq "$1" ]; }
until_ok 15 "icewm's system tray" eval 'xwininfo -name SystemTray >/dev/null 2>&1'

"$launcher" >"$work/launcher.log" 2>&1 &
launcher_pid=$!
pids+=("$launcher_pid")
find_window() { main="$(xdotool search --onlyvisible --pid "$launcher_pid" | head -n 1)" && [ -n "$main" ]; }
until_ok 20 "the launcher's window" find_window
managed() { xprop -root _NET_CLIENT_LIST | grep -q "$(printf '0x%x' "$main")"; }
shown() { xwininfo -id "$main" | grep -q IsViewable && managed; }
# Hidden by the launcher itself: unmapped and withdrawn, not even an entry on the task bar.
hidden() { ! xwininfo -id "$main" | grep -q IsViewable && ! managed; }
until_ok 10 "the window to be managed" shown
# Start Servers: the button at x 306..403, y 288..319 of the client area.
xdotool mousemove --window "$main" 354 303 click 1
servers() { tmux -L corvane-launcher list-panes -a -F '#{pane_pid}' 2>/dev/null; }
until_ok 20 "three servers" eval '[ "$(servers | grep -c .)" -eq 3 ]'
mapfile -t server_pids < <(servers)
pids+=("${server_pids[@]}")

xdotool windowminimize "$main"
until_ok 10 "the window to go to the tray" eval 'hidden && icons_are 1'
xdotool mousemove --window "$(tray_icons)" 12 12 click --repeat 2 --delay 80 1
until_ok 10 "the double click to bring the window back" eval 'shown && icons_are 0'

xdotool mousemove --window "$main" 254 160
xdotool windowminimize "$main"
until_ok 10 "the window to go to the tray again" eval 'hidden && icons_are 1'
# An operator's hand takes a moment to reach a new icon: icewm sometimes misses a press within
# some 300 ms of an icon coming back to its tray.
sleep 0.5
menu() {
    local id
    for id in $(xdotool search --onlyvisible --pid "$launcher_pid"); do
        [ "$id" != "$main" ] && xwininfo -id "$id" | grep -q 'Override Redirect State: yes' &&
            xprop -id "$id" WM_TRANSIENT_FOR | grep -q "$(printf '0x%x' "$main")" &&
            echo "$id" && return 0
    done
    return 1
}
# The menu opens on the press itself, while the button is still held.
xdotool mousemove --window "$(tray_icons)" 12 12 mousedown 3
until_ok 5 "the tray menu to open on the right press" menu
xdotool mouseup 3
m="$(menu)" || fail "the tray menu closed when the right button was released"
eval "$(xdotool getwindowgeometry --shell "$m")"
# The last item is "Exit And Stop Servers".
xdotool mousemove --window "$m" $((WIDTH / 2)) $((HEIGHT - 12)) click 1
until_ok 20 "the launcher to end" ended "$launcher_pid"
wait "$launcher_pid" || fail "the launcher ended with status $?"
for pid in "${server_pids[@]}"; do
    until_ok 15 "server $pid to end" ended "$pid"
done
# Minimising suspended the message update; the exit saves the operator's own value.
for line in 'ServerMessage%20Update%20Interval=5' MinimizeToTray=1 AutoRestart=0 UpdateServerMessage=1; do
    grep -qx "$line" "$settings" || fail "settings lack $line: $(cat "$settings")"
done
echo "PASS: tray on a real desktop"
