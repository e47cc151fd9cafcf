#!/usr/bin/env bash
# The launcher without a desktop, as systemd or an SSH session runs it: no display, no D-Bus
# session. With --start it starts the stand-in servers in order and logs to standard error one
# plain line per log line; a crashed server is relaunched; a second launcher on the folder is
# refused with a line naming the running one; SIGTERM stops the servers and ends it with status 0.
#
# corvanectl reaches it: its status, a start refused while online, a stop and a start.
#
# Usage: daemon_test.sh PATH/TO/corvane-launcherd (in a PID namespace of its own: own_processes.sh)
set -uo pipefail
daemon="$1"
programs="$(dirname "$daemon")"
work="$(mktemp -d "${TMPDIR:-/tmp}/corvane-daemon-XXXXXX")"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_STATE_HOME="$work/home/state"
export TMUX_TMPDIR="$work/home" TMPDIR="$work/home" CORVANE_STANDIN_PORT=0
unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR
mkdir -p "$HOME" "$work/servers"
cp "$programs"/{login-server,char-server,map-server} "$work/servers/"
pid=""
cleanup() {
    [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null
    pkill -KILL -f "^$work/servers/" 2>/dev/null
    pkill -KILL -x tmux 2>/dev/null # only this namespace's: the test runs in one of its own
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    echo "--- the launcher's standard error:" >&2
    cat "$work/err" >&2
    exit 1
}
wait_until() { # seconds, what, command...
    local until=$((SECONDS + $1)) what="$2"
    shift 2
    until "$@"; do
        ((SECONDS < until)) || fail "no $what within the time"
        sleep 0.2
    done
}
server_pid() { pgrep -f -x "$work/servers/$1" | head -n 1; }
all_running() { [ -n "$(server_pid login-server)" ] && [ -n "$(server_pid char-server)" ] &&
    [ -n "$(server_pid map-server)" ]; }

"$daemon" --server-dir "$work/servers" --start 2>"$work/err" &
pid=$!
wait_until 20 "three servers running" all_running
wait_until 10 "online line" grep -q "Map Server PID is" "$work/err"
grep -n $'\e' "$work/err" && fail "standard error holds escape codes"
order="$(grep -o 'Starting [A-Za-z]* Server' "$work/err" | tr '\n' ,)"
[ "$order" = "Starting Login Server,Starting Char Server,Starting Map Server," ] ||
    fail "servers started as: $order"

# One launcher per folder: the second, of either kind, names the first.
second="$("$daemon" --server-dir "$work/servers" 2>&1)"
status=$?
((status == 1)) || fail "a second launcher ended with $status"
[[ "$second" == *"a launcher already runs on $work/servers: corvane-launcherd (PID $pid)"* ]] ||
    fail "the second launcher said: $second"

desktop="$programs/corvane-launcher"
if command -v xvfb-run >/dev/null; then
    second="$(xvfb-run -a "$desktop" --server-dir "$work/servers" 2>&1)"
    status=$?
    ((status == 1)) || fail "the desktop launcher beside it ended with $status: $second"
    [[ "$second" == *"corvane-launcherd (PID $pid); not starting a second one."* ]] ||
        fail "the desktop launcher beside it said: $second"
fi

# The control client: no launcher, the status, a refusal, a stop and a start.
ctl="$programs/corvanectl"
"$ctl" --server-dir "$work" status >/dev/null 2>&1
status=$?
((status == 3)) || fail "corvanectl on a folder without a launcher ended with $status"
json="$("$ctl" --server-dir "$work/servers" status --json)" || fail "corvanectl status failed"
for label in login char map; do
    [[ "$json" =~ \"$label\":\{[^}]*\"running\":true ]] || fail "$label not running in: $json"
done
[[ "$json" == *"\"pid\":$(server_pid map-server)"* ]] || fail "the map server's PID is not in: $json"
said="$("$ctl" --server-dir "$work/servers" start 2>&1)"
status=$?
if ((status != 1)) || [[ "$said" != *"online already"* ]]; then
    fail "a second start ended with $status: $said"
fi
"$ctl" --server-dir "$work/servers" stop >/dev/null || fail "corvanectl stop failed"
none_running() { [ -z "$(server_pid login-server)$(server_pid char-server)$(server_pid map-server)" ]; }
wait_until 30 "servers stopped through corvanectl" none_running
grep -q "Control: stop asked by $(id -un) (uid $(id -u))." "$work/err" || fail "the stop's asker was not logged"
"$ctl" --server-dir "$work/servers" start >/dev/null || fail "corvanectl start failed"
wait_until 20 "three servers running again" all_running
wait_until 10 "online again" grep -q "All servers are online\|Map Server PID is" "$work/err"
sleep 1

# A crash is relaunched.
map="$(server_pid map-server)"
kill -KILL "$map"
relaunched() { local now; now="$(server_pid map-server)"; [ -n "$now" ] && [ "$now" != "$map" ]; }
wait_until 30 "relaunched map server" relaunched
grep -q "Map Server just crashed!" "$work/err" || fail "the crash was not logged"

# SIGTERM: the servers are stopped, then the launcher ends with status 0.
kill -TERM "$pid"
wait "$pid"
status=$?
pid=""
((status == 0)) || fail "the launcher ended with status $status after SIGTERM"
grep -q "All servers have ended." "$work/err" || fail "no stop was logged"
for server in login-server char-server map-server; do
    [ -z "$(server_pid $server)" ] || fail "$server still runs after the launcher ended"
done

# Without --start, nothing is started.
"$daemon" --server-dir "$work/servers" 2>"$work/err" &
pid=$!
wait_until 10 "server folder line" grep -q "Server folder: " "$work/err"
sleep 2
[ -z "$(server_pid login-server)" ] || fail "a server was started without --start"
kill -TERM "$pid"
wait "$pid"
status=$?
pid=""
((status == 0)) || fail "the idle launcher ended with status $status after SIGTERM"
echo "PASS"
