# What the real-desktop tests share: a private X server, session bus and window manager, the real
# launcher on the stand-in servers, and the checks on its window, menu, servers and settings.
# Sourced by a test script, which sets "tools" and "logs" first, "launcher" when it is not the
# first argument, and "desktop_tools" empty when it shows no desktop. Everything started here is
# ended on exit by pid, also when a check fails, and so is every tmux server on this run's own
# socket folder; a script adds what else its end takes to "on_exit".
launcher="${launcher-${1:?usage: $0 PATH/TO/corvane-launcher}}"
for tool in ${desktop_tools-Xvfb icewm xdotool xwininfo xprop} tmux ${tools:-}; do
    command -v "$tool" >/dev/null || { echo "FAIL: no program $tool; scripts/setup.sh installs the tools" >&2; exit 1; }
done
work="$(mktemp -d "${TMPDIR:-/tmp}/corvane-desktop.XXXXXX")"
owned_pids=() # ended last to first: the X server last, its session bus just before it
on_exit=()    # commands run on exit once the launcher is killed
launcher_pid="" main_window="" server_pids=() launched_folder=""

cleanup() {
    local status=$? i
    trap - EXIT INT TERM
    kill -KILL $launcher_pid "${server_pids[@]}" 2>/dev/null
    for i in "${on_exit[@]}"; do eval "$i" 2>/dev/null; done
    for_each_socket kill-server
    for ((i = ${#owned_pids[@]} - 1; i >= 0; i--)); do # TERM, and KILL after a second
        kill -TERM "${owned_pids[i]}" 2>/dev/null && ! poll 1 process_ended "${owned_pids[i]}" &&
            kill -KILL "${owned_pids[i]}" 2>/dev/null
    done
    wait 2>/dev/null; rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT && trap 'exit 130' INT TERM

fail() {
    echo "FAIL: $*" >&2
    [ -n "${DISPLAY:-}" ] && { echo "--- windows:"; xwininfo -root -tree 2>&1 | head -60; } >&2
    for log in launcher ${logs:-} xvfb; do [ -s "$work/$log.log" ] && { echo "--- $log output:"; tail -n 30 "$work/$log.log"; } >&2; done
    exit 1
}
# poll SECONDS COMMAND...: runs COMMAND every 100 ms until it succeeds; fails after SECONDS.
poll() { local end=$((SECONDS + $1)); shift; until "$@"; do ((SECONDS < end)) || return 1; sleep 0.1; done; }
wait_until() { local s="$1" what="$2"; shift 2; poll "$s" "$@" || fail "gave up after $s s waiting for: $what"; }
step() { echo "[$SECONDS s] $*"; }
# A child not yet waited for counts as ended.
process_ended() { local s; s="$(ps -o stat= -p "$1" 2>/dev/null)"; [ -z "$s" ] || [[ "$s" == Z* ]]; }

mkdir -p "$work/home" "$work/config/CorvaneLauncher" && mkdir -m 700 "$work/runtime" "$work/tmux"
# No session bus until one starts: an address that leads nowhere, so nothing starts its own.
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" \
    XDG_CACHE_HOME="$work/cache" XDG_RUNTIME_DIR="$work/runtime" TMUX_TMPDIR="$work/tmux" \
    QT_QPA_PLATFORM=xcb DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus"
unset WAYLAND_DISPLAY TMUX SESSION_MANAGER
settings="$XDG_CONFIG_HOME/CorvaneLauncher/CorvaneLauncher.ini"
# No interval: it is in the file only if the launcher wrote the file.
# Console logs on: their helpers report through a pipe of the launcher's, which must go at exit.
fresh_settings() { printf '[Settings]\nAutoRestart=0\nMinimizeToTray=1\nUpdateServerMessage=1\nLogServerMessages=1\n' >"$settings"; }
fresh_settings

start_xvfb() { # -noreset: the window manager must not find the server resetting
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 &
    owned_pids+=($!)
    wait_until 15 "Xvfb to report its display" test -s "$work/display"
    export DISPLAY=":$(head -n 1 "$work/display")"
}
start_session_bus() {
    dbus-daemon --session --fork --nopidfile --address="unix:path=$work/bus" --print-pid=3 \
        3>"$work/bus.pid" >"$work/bus.log" 2>&1 || fail "the session bus did not start"
    read -r bus_pid <"$work/bus.pid" && owned_pids+=("$bus_pid") || fail "the session bus did not tell its pid"
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/bus"
}
# The id of icewm's system tray window.
tray_window() { xwininfo -root -tree 2>/dev/null | awk '$2 == "\"SystemTray\":" { print $1; exit }'; }
has_tray() { process_ended "$icewm_pid" && fail "icewm ended"; [ -n "$(tray_window)" ]; }
start_icewm() {
    icewm >"$work/icewm.log" 2>&1 & icewm_pid=$! owned_pids+=($!)
    wait_until 15 "icewm's system tray" has_tray
}

is_viewable() { xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'; }
# Normal, Iconic, or Withdrawn when the window manager no longer manages the window.
wm_state() { local s; s="$(xprop -id "$1" WM_STATE 2>/dev/null | awk '/window state:/ { print $3 }')"; echo "${s:-Withdrawn}"; }
# Whether the window manager lists the window (given in decimal, as xdotool gives it).
in_client_list() { [[ " $(xprop -root _NET_CLIENT_LIST 2>/dev/null | grep -o '0x[0-9a-f]*' | xargs printf '%d ') " == *" $1 "* ]]; }
# Hidden by the launcher itself: unmapped and withdrawn, not even an entry on the task bar.
window_hidden() { ! is_viewable "$1" && [ "$(wm_state "$1")" = Withdrawn ] && ! in_client_list "$1"; }
window_back() { is_viewable "$1" && [ "$(wm_state "$1")" = Normal ] && in_client_list "$1"; }
# The launcher's open pop-up menu: a shown window of its own that bypasses the window manager and
# belongs to the main window.
open_menu() {
    local id owner
    for id in $(xdotool search --onlyvisible --pid "$launcher_pid" 2>/dev/null); do
        ((id != main_window)) && xwininfo -id "$id" 2>/dev/null | grep -q 'Override Redirect State: yes' &&
            is_viewable "$id" || continue
        owner="$(xprop -id "$id" WM_TRANSIENT_FOR 2>/dev/null | grep -o '0x[0-9a-f]*')"
        [ -n "$owner" ] && ((owner == main_window)) && echo "$id" && return
    done
    return 1
}
menu_is_open() { open_menu >/dev/null; }
# for_each_socket TMUX-COMMAND...: runs it on every tmux server of this run (each server folder
# has a socket of its own).
for_each_socket() { local s; for s in "$work/tmux/tmux-$(id -u)"/*; do [ -S "$s" ] && tmux -S "$s" "$@" 2>/dev/null; done; }
all_servers_ended() { local pid; for pid in "${server_pids[@]}"; do process_ended "$pid" || return 1; done; }
# Sets server_pids to the servers in the consoles (not the launcher's own control session).
three_servers_running() {
    mapfile -t server_pids < <(for_each_socket list-panes -a -F '#{session_name}	#{pane_pid}' |
        awk -F'\t' '$1 !~ /^corvane-control-/ { print $2 }')
    local pid; for pid in "${server_pids[@]}"; do process_ended "$pid" && return 1; done
    ((${#server_pids[@]} == 3))
}
find_main_window() {
    process_ended "$launcher_pid" && fail "the launcher ended at start-up"
    main_window="$(xdotool search --onlyvisible --pid "$launcher_pid" 2>/dev/null | head -n 1)"
    [ -n "$main_window" ]
}
# start_launcher ARGS...: starts the launcher and waits for its window to be managed.
start_launcher() {
    # The server folder it runs: the one given, else its program's own (or its link's) folder.
    launched_folder="$(dirname "$launcher")"
    local a=("$@") i
    for ((i = 0; i + 1 < ${#a[@]}; i++)); do
        [ "${a[i]}" = --server-dir ] && launched_folder="${a[i + 1]}"
    done
    (cd "$work" && exec "$launcher" "$@") >"$work/launcher.log" 2>&1 &
    launcher_pid=$!
    wait_until 20 "the launcher's window" find_main_window
    wait_until 10 "the launcher's window to be managed" window_back "$main_window"
}
# Starts the launcher with ARGS, and the servers with its Start button.
start_launcher_and_servers() {
    start_launcher "$@"
    # Start Servers: the button at x 306..403, y 288..319 of the window's client area.
    xdotool mousemove --window "$main_window" 354 303 click 1
    wait_until 20 "three servers in the launcher's tmux" three_servers_running
    step "launcher window $main_window, servers ${server_pids[*]}"
}

# The launcher ends with 0, its servers end, and the settings are written with the operator's own
# values, as closing the window does.
ended_like_closing() {
    wait_until 20 "the launcher to end" process_ended "$launcher_pid"
    local pid="$launcher_pid"
    wait "$launcher_pid"; local status=$?; launcher_pid=""
    ((status == 0)) || fail "the launcher ended with status $status"
    poll 15 all_servers_ended || fail "servers still running 15 s after the exit:" \
        "$(ps -o pid=,stat=,args= -p "${server_pids[*]}"); consoles: $(for_each_socket ls)"
    # Minimising suspends the message update; exit saves the operator's own value.
    for line in ${closing_settings:-'ServerMessage%20Update%20Interval=5' MinimizeToTray=1 AutoRestart=0 UpdateServerMessage=1}; do
        grep -qx "$line" "$settings" || fail "$line not in the settings at exit: $(cat "$settings")"
    done
    nothing_left_behind "$pid" "$launched_folder"
    step "launcher and servers ended, settings written, nothing of the run left"
}
# nothing_left_behind PID [FOLDER]: no tmux session (the launcher's control session included), no
# pipe of the launcher with that PID, and neither its lock nor its socket outlive it. Given the
# server folder, its own lock is looked at: in PID namespaces of their own, launchers of other
# tests may have this one's PID in their locks.
nothing_left_behind() {
    local run lock locks
    poll 5 eval '[ -z "$(for_each_socket ls)" ]' || fail "tmux sessions left: $(for_each_socket ls)"
    local left; left="$(ls -A "$XDG_RUNTIME_DIR" | grep '^corvane-')"
    [ -z "$left" ] || fail "left in the runtime folder: $left"
    run="$(getent passwd "$(id -u)" | cut -d: -f6)/.local/state/corvane-launcher/run"
    locks=("$run"/*.lock)
    [ -n "${2:-}" ] && locks=("$run/$(printf '%s' "$(realpath "$2")" | sha256sum | cut -c1-16).lock")
    for lock in "${locks[@]}"; do
        [ -f "$lock" ] && [ "$(head -n 1 "$lock")" = "$1" ] && fail "its lock is left: $lock"
    done
    return 0
}
