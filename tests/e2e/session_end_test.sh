#!/usr/bin/env bash
# The end of the desktop session under a real X session manager: xsm, in a private Xvfb with icewm,
# which the launcher joins through SESSION_MANAGER as any Qt program does. A checkpoint (a save
# while the session goes on) leaves the launcher and its servers running; the session's end, with
# the window in the tray, ends them as closing the window does. Both are asked as desktops ask at
# log-out: save of both kinds, any interaction allowed. corvanectl reaches the desktop launcher as
# it reaches the one without a window.
#
# Usage: session_end_test.sh PATH/TO/corvane-launcher
set -uo pipefail
tools="xsm iceauth stdbuf" logs="xsm icewm"
# shellcheck source=desktop_session.sh
source "$(dirname "${BASH_SOURCE[0]}")/desktop_session.sh"

start_xvfb
start_icewm
# xsm starts the programs of ~/.xsmstartup in the new session: this one passes on its address.
cat >"$work/tell-address" <<EOF
#!/bin/sh
echo "\$SESSION_MANAGER" >"$work/address.new" && mv "$work/address.new" "$work/address"
EOF
chmod +x "$work/tell-address" && echo "$work/tell-address" >"$HOME/.xsmstartup"
stdbuf -oL xsm -verbose >"$work/xsm.log" 2>&1 &
xsm_pid=$! owned_pids+=($!)
wait_until 15 "xsm to start its session" test -s "$work/address"
SESSION_MANAGER="$(cat "$work/address")" && export SESSION_MANAGER
saves_done() { (($(grep -c 'received SAVE YOURSELF DONE' "$work/xsm.log") >= $1)); }
start_launcher_and_servers
# corvanectl reaches the desktop launcher too: a line typed into a console, its answer read back.
ctl=("$(dirname "$launcher")/corvanectl" --server-dir "$launched_folder")
wait_until 10 "corvanectl to send to the map server" eval '"${ctl[@]}" send map status >/dev/null'
answered() { "${ctl[@]}" console map -n 100 | grep -q "answers status"; }
wait_until 10 "the map server's answer through corvanectl" answered
# A new client answers a first save at once.
wait_until 10 "the launcher to join the session" saves_done 1
sm_window="$(xdotool search --name '^xsm: ' | head -n 1)"

# The dialog of a checkpoint or shutdown: a session name, and Return to go on.
confirm() {
    wait_until 5 "xsm's dialog" eval 'dialog="$(xdotool search --onlyvisible --classname savePopup)"'
    xdotool mousemove --window "$dialog" 174 18 click 1 type "$1"
    xdotool key Return
}
xdotool mousemove --window "$sm_window" 50 48 click 1 # Checkpoint
confirm test
checkpoint_done() { process_ended "$launcher_pid" && fail "the launcher ended on a checkpoint"; saves_done 2; }
wait_until 10 "the launcher to answer the checkpoint" checkpoint_done
three_servers_running || fail "servers ended on a checkpoint: $(for_each_socket ls)"
step "checkpoint answered, launcher and servers running"

xdotool windowminimize "$main_window"
wait_until 10 "the window to be hidden in the tray" window_hidden "$main_window"
# Shutdown is a menu button: pressed, it shows a menu in a window of its own, whose first item,
# "With Checkpoint", opens the dialog when the button is let go on it.
root_children() { xwininfo -root -children | awk '$1 ~ /^0x/ { print $1 }'; }
before="$(root_children)"
menu_shown() {
    local id
    for id in $(root_children); do ! grep -qx "$id" <<<"$before" && is_viewable "$id" && return; done
    return 1
}
xdotool mousemove --window "$sm_window" 150 48 mousedown 1
wait_until 5 "xsm's Shutdown menu" menu_shown
xdotool mousemove --window "$sm_window" 165 77 sleep 0.2 mouseup 1
confirm ""
step "the session is ending"
ended_like_closing
wait_until 10 "xsm to end the session" process_ended "$xsm_pid"
grep -q 'sent DIE' "$work/xsm.log" || fail "xsm ended without telling the launcher to die"
echo "PASS: the end of the desktop session ends the launcher as closing its window does"
