# What the real-desktop tray tests share: a private X server, session bus and window manager, the
# real launcher on the stand-in servers, and the checks on its window, menu, servers and settings.
# Sourced by a test script, which sets "tools" and "logs" before it sources this file.
#
# Everything started here is ended on exit, also when a check fails, by pid: the X server, the
# session bus, the window manager and panel (owned_pids), the launcher, the servers, and the
# launcher's tmux server on this run's own socket folder.

launcher="$(realpath -e "${1:?usage: $0 PATH/TO/corvane-launcher}")" || exit 1
# The launcher's tmux socket: its server folder's own, "corvane-" and a short hash of its path.
socket="corvane-$(printf '%s' "$(dirname "$launcher")" | sha256sum | cut -c1-10)"
[ -x "$launcher" ] || {
    echo "FAIL: $launcher is not a program" >&2
    exit 1
}

for tool in Xvfb icewm xdotool xwininfo xprop tmux ${tools:-}; do
    if ! command -v "$tool" >/dev/null; then
        echo "FAIL: $tool is missing; scripts/setup.sh installs it" >&2
        exit 1
    fi
done

work="$(mktemp -d "${TMPDIR:-/tmp}/corvane-tray-e2e.XXXXXX")"
xvfb_pid=""
bus_pid=""
owned_pids=()
launcher_pid=""
server_pids=()

# ---- cleanup: only what this script started, by pid -------------------------------------------

cleanup() {
    local status=$?
    trap - EXIT INT TERM
    [ -n "$launcher_pid" ] && kill -KILL "$launcher_pid" 2>/dev/null
    for pid in "${server_pids[@]}"; do
        kill -KILL "$pid" 2>/dev/null
    done
    # The launcher's own tmux server, on the socket folder of this run only.
    if [ -d "$work/tmux" ]; then
        TMUX_TMPDIR="$work/tmux" tmux -L "$socket" kill-server 2>/dev/null
    fi
    for pid in "${owned_pids[@]}"; do
        stop_process "$pid"
    done
    # The bus last but one: services it started for the panel end with their bus.
    stop_process "$bus_pid"
    stop_process "$xvfb_pid"
    wait 2>/dev/null
    rm -rf "$work"
    exit "$status"
}

# stop_process PID: asks it to end, and makes it end after a second.
stop_process() {
    [ -n "$1" ] || return 0
    kill -TERM "$1" 2>/dev/null || return 0
    for _ in 1 2 3 4 5 6 7 8 9 10; do
        process_ended "$1" && return 0
        sleep 0.1
    done
    kill -KILL "$1" 2>/dev/null
}

trap cleanup EXIT
trap 'exit 130' INT TERM

fail() {
    echo "FAIL: $*" >&2
    if [ -n "${DISPLAY:-}" ]; then
        echo "--- windows on the display:" >&2
        xwininfo -root -tree 2>&1 | head -60 >&2
    fi
    for log in launcher ${logs:-} xvfb; do
        if [ -s "$work/$log.log" ]; then
            echo "--- $log output:" >&2
            tail -n 30 "$work/$log.log" >&2
        fi
    done
    exit 1
}

# poll SECONDS COMMAND...: runs COMMAND every 100 ms until it succeeds; fails after SECONDS.
poll() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.1
    done
}

# wait_until SECONDS WHAT COMMAND...: polls COMMAND, and fails the test if it never succeeds.
wait_until() {
    local seconds="$1" what="$2"
    shift 2
    poll "$seconds" "$@" || fail "gave up after ${seconds} s waiting for: $what"
}

step() { echo "[$SECONDS s] $*"; }

# Whether a process has ended (a child not yet waited for counts as ended).
process_ended() {
    local state
    state="$(ps -o stat= -p "$1" 2>/dev/null)"
    [ -z "$state" ] || [[ "$state" == Z* ]]
}

# ---- a private environment ----------------------------------------------------------------------

mkdir -p "$work/home" "$work/config/CorvaneLauncher" "$work/runtime" "$work/tmux"
chmod 700 "$work/runtime" "$work/tmux"
export HOME="$work/home"
export XDG_CONFIG_HOME="$work/config"
export XDG_DATA_HOME="$work/data"
export XDG_CACHE_HOME="$work/cache"
export XDG_RUNTIME_DIR="$work/runtime"
export TMUX_TMPDIR="$work/tmux"
export QT_QPA_PLATFORM=xcb
# No session bus until start_session_bus: a bus address that leads nowhere, so that nothing
# starts a bus of its own for the display.
export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus"
unset WAYLAND_DISPLAY TMUX SESSION_MANAGER

settings="$XDG_CONFIG_HOME/CorvaneLauncher/CorvaneLauncher.ini"
# The interval is left out on purpose: it is in the file only if the launcher wrote the file.
printf '[Settings]\nAutoRestart=0\nMinimizeToTray=1\nUpdateServerMessage=1\n' >"$settings"

# ---- X server, session bus, window manager ------------------------------------------------------

start_xvfb() {
    # No reset when the last client leaves: the window manager must not find the server resetting.
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" \
        >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    wait_until 15 "Xvfb to report its display" test -s "$work/display"
    DISPLAY=":$(head -n 1 "$work/display")"
    export DISPLAY
    step "Xvfb on $DISPLAY"
}

start_session_bus() {
    dbus-daemon --session --fork --nopidfile --address="unix:path=$work/bus" \
        --print-pid=3 3>"$work/bus.pid" >"$work/bus.log" 2>&1 || fail "the session bus did not start"
    bus_pid="$(head -n 1 "$work/bus.pid")"
    [ -n "$bus_pid" ] || fail "the session bus did not tell its pid"
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/bus"
    step "session bus $bus_pid"
}

start_icewm() {
    icewm >"$work/icewm.log" 2>&1 &
    owned_pids+=($!)
}

# ---- window queries -----------------------------------------------------------------------------

is_viewable() { xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'; }

# Normal, Iconic, or Withdrawn when the window manager no longer manages the window.
wm_state() {
    local state
    state="$(xprop -id "$1" WM_STATE 2>/dev/null | awk '/window state:/ { print $3 }')"
    echo "${state:-Withdrawn}"
}

in_client_list() {
    local id
    for id in $(xprop -root _NET_CLIENT_LIST 2>/dev/null | grep -o '0x[0-9a-f]*'); do
        [ $((id)) -eq $(($1)) ] && return 0
    done
    return 1
}

# Hidden by the launcher itself: unmapped and withdrawn, so not even an entry on the task bar.
window_hidden() {
    ! is_viewable "$1" && [ "$(wm_state "$1")" = Withdrawn ] && ! in_client_list "$1"
}
window_back() {
    is_viewable "$1" && [ "$(wm_state "$1")" = Normal ] && in_client_list "$1"
}

# The launcher's open pop-up menu, if any: a window of its own that bypasses the window manager
# and belongs to the main window.
open_menu() {
    local id
    for id in $(xdotool search --onlyvisible --pid "$launcher_pid" 2>/dev/null); do
        [ $((id)) -ne $((main_window)) ] || continue
        is_viewable "$id" || continue
        xwininfo -id "$id" 2>/dev/null | grep -q 'Override Redirect State: yes' || continue
        local owner
        owner="$(xprop -id "$id" WM_TRANSIENT_FOR 2>/dev/null | grep -o '0x[0-9a-f]*')"
        if [ -n "$owner" ] && [ $((owner)) -eq $((main_window)) ]; then
            echo "$id"
            return 0
        fi
    done
    return 1
}
menu_is_open() { open_menu >/dev/null; }

all_servers_ended() {
    local pid
    for pid in "${server_pids[@]}"; do
        process_ended "$pid" || return 1
    done
}

server_pane_pids() { tmux -L "$socket" list-panes -a -F '#{pane_pid}' 2>/dev/null; }
three_servers_running() {
    local pids pid
    pids="$(server_pane_pids)"
    [ "$(grep -c . <<<"$pids")" -eq 3 ] || return 1
    for pid in $pids; do
        process_ended "$pid" && return 1
    done
    return 0
}

# ---- the launcher -------------------------------------------------------------------------------

main_window=""
find_main_window() {
    process_ended "$launcher_pid" && fail "the launcher ended at start-up"
    main_window="$(xdotool search --onlyvisible --pid "$launcher_pid" 2>/dev/null | head -n 1)"
    [ -n "$main_window" ]
}

# Starts the launcher, and the servers with its Start button.
start_launcher_and_servers() {
    cd "$work" || fail "cannot enter $work"
    "$launcher" >"$work/launcher.log" 2>&1 &
    launcher_pid=$!
    wait_until 20 "the launcher's window" find_main_window
    wait_until 10 "the launcher's window to be managed" window_back "$main_window"
    step "launcher window $main_window is up"

    # Start Servers: the button at x 306..403, y 288..319 of the window's client area.
    xdotool mousemove --window "$main_window" 354 303 click 1
    wait_until 20 "three servers in the launcher's tmux" three_servers_running
    mapfile -t server_pids < <(server_pane_pids)
    [ "${#server_pids[@]}" -eq 3 ] || fail "expected three servers, found: ${server_pids[*]}"
    step "servers running: ${server_pids[*]}"
}

# Chooses the last item of the open menu, "Exit And Stop Servers", and checks that the launcher
# and its servers end and that the settings were written.
exit_through_menu() {
    local menu="$1"
    eval "$(xdotool getwindowgeometry --shell "$menu")"
    xdotool mousemove --window "$menu" $((WIDTH / 2)) $((HEIGHT - 12)) click 1
    wait_until 20 "the launcher to end" process_ended "$launcher_pid"
    wait "$launcher_pid"
    local launcher_status=$?
    launcher_pid=""
    [ "$launcher_status" -eq 0 ] || fail "the launcher ended with status $launcher_status"
    poll 15 all_servers_ended ||
        fail "servers still running 15 s after the exit:" \
            "$(ps -o pid=,stat=,args= -p "${server_pids[*]}")" \
            "; their consoles: $(tmux -L "$socket" ls 2>&1)"
    step "launcher and servers ${server_pids[*]} ended"

    grep -q '^ServerMessage%20Update%20Interval=5$' "$settings" ||
        fail "the settings were not written at exit: $(cat "$settings")"
    grep -q '^MinimizeToTray=1$' "$settings" || fail "MinimizeToTray lost: $(cat "$settings")"
    grep -q '^AutoRestart=0$' "$settings" || fail "AutoRestart lost: $(cat "$settings")"
    # Minimising suspends the message update; exit saves the operator's own value.
    grep -q '^UpdateServerMessage=1$' "$settings" ||
        fail "UpdateServerMessage saved as suspended: $(cat "$settings")"
    step "settings written"
}
