#!/usr/bin/env bash
# A first run, as a new operator makes it: no user settings and no installation file. The stand-in
# servers are started, the map server is killed outright and relaunched, and the launcher is ended
# as closing its window does. Every file in the home, the XDG folders, the runtime and temporary
# folders and the server folder is listed before and after: what is new is the user settings with
# the four classic options alone, and the launcher log and the crash report in the logs folder.
# The window opens centred, at its designed size, with no maximise box.
#
# Usage: first_run_test.sh PATH/TO/corvane-launcher
set -uo pipefail
logs="icewm"
# shellcheck source=desktop_session.sh
source "$(dirname "${BASH_SOURCE[0]}")/desktop_session.sh"

rm -rf "$(dirname "$settings")" # a first run: not even the settings folder
mkdir -m 700 "$work/tmp" && export TMPDIR="$work/tmp"
folder="$work/servers"
mkdir -p "$folder" && cp "$(dirname "$launcher")"/{login-server,char-server,map-server} "$folder/"
start_xvfb
start_icewm
places=("$HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR" "$TMPDIR" "$folder" "$work/data" "$work/cache")
listing() { find "${places[@]}" -mindepth 1 2>/dev/null | grep -v "^$work/tmux" | sort; }
listing >"$work/before"

start_launcher_and_servers --server-dir "$folder"
eval "$(xdotool getwindowgeometry --shell "$main_window")"
geometry="${WIDTH}x${HEIGHT}+${X}+${Y}"
# Centred on the 1024x768 screen, give or take the frame; fixed: the hints' minimum is the maximum.
((WIDTH == 508 && HEIGHT == 325)) || fail "the window is $geometry, not the designed 508x325"
((X > 230 && X < 290 && Y > 190 && Y < 260)) || fail "the window is not centred: $geometry"
hints="$(xprop -id "$main_window" WM_NORMAL_HINTS)"
[[ "$hints" == *"minimum size: 508 by 325"* && "$hints" == *"maximum size: 508 by 325"* ]] ||
    fail "the window may be resized: $hints"
step "window $geometry, fixed"

map="${server_pids[2]}"
kill -KILL "$map"
relaunched() { three_servers_running && [[ " ${server_pids[*]} " != *" $map "* ]]; }
wait_until 20 "the map server's relaunch" relaunched
wait_until 10 "its crash report" grep -q "; crash report: " "$folder/logs/launcher.log"
step "map server $map killed and relaunched"

# The folder's own lock, as nothing_left_behind finds it, is held while the launcher runs.
own_lock="$(getent passwd "$(id -u)" | cut -d: -f6)/.local/state/corvane-launcher/run/$(printf '%s' \
    "$(realpath "$folder")" | sha256sum | cut -c1-16).lock"
[ "$(head -n 1 "$own_lock" 2>/dev/null)" = "$launcher_pid" ] || fail "no lock of the launcher at $own_lock"
# Ended as closing the window ends it: the settings hold the four options' defaults.
closing_settings="AutoRestart=1 MinimizeToTray=1 UpdateServerMessage=1 ServerMessage%20Update%20Interval=5"
kill -TERM "$launcher_pid"
ended_like_closing
listing >"$work/after"
report="$(grep -o '; crash report: .*' "$folder/logs/launcher.log" | head -n 1 | cut -d' ' -f4-)"
expected="$(printf '%s\n' "$XDG_CONFIG_HOME/CorvaneLauncher" "$settings" "$folder/logs" \
    "$folder/logs/launcher.log" "$report" | sort)"
new="$(comm -13 "$work/before" "$work/after")"
[ "$new" = "$expected" ] || fail "a first run left: $new
--- after: $(cat "$work/after")
expected: $expected"
keys="$(grep -v '^\[Settings\]$' "$settings" | cut -d= -f1 | sort | tr '\n' ' ')"
[ "$keys" = "AutoRestart MinimizeToTray ServerMessage%20Update%20Interval UpdateServerMessage " ] ||
    fail "the settings hold: $(cat "$settings")"
echo "PASS: a first run wrote the settings' four options, the launcher log and one crash report"
