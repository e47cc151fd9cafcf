#!/usr/bin/env bash
# The launcher without a desktop, as systemd or an SSH session runs it: no display, no D-Bus
# session. With --start it starts the stand-in servers in order and logs to standard error one
# plain line per log line; a crashed server is relaunched; a second launcher on the folder is
# refused with a line naming the running one; SIGTERM stops the servers and ends it with status 0.
#
# corvanectl reaches it: its status, a start refused while online, a stop and a start, then every
# other verb once; with a control group, a member of the group reaches it and nobody else does.
#
# Usage: daemon_test.sh PATH/TO/corvane-launcherd (in a PID namespace of its own: own_processes.sh)
set -uo pipefail
daemon="$1"
programs="$(dirname "$daemon")"
# The shared helpers and clean-up, without a desktop; the launcher's standard error goes to
# launcher.log, which a failed check shows.
desktop_tools="" launcher="$programs/corvane-launcher"
# shellcheck source=desktop_session.sh
source "$(dirname "${BASH_SOURCE[0]}")/desktop_session.sh"
export XDG_STATE_HOME="$work/home/state" TMPDIR="$work/home" CORVANE_STANDIN_PORT=0
unset DISPLAY DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR QT_QPA_PLATFORM
err="$work/launcher.log"
mkdir -p "$work/servers"
cp "$programs"/{login-server,char-server,map-server} "$work/servers/"
# A world to back up, and a restart of the map server scheduled half a day away.
echo "the world" >"$work/servers/world.txt"
ini="$work/servers/corvane-launcher.ini"
printf '[Map Server]\nbackup path = world.txt\n[Schedule nightly]\nservers = map\ntask = restart\nat = %02d:00\n' \
    $(((10#$(date +%H) + 12) % 24)) >"$ini"
chmod 600 "$ini"
rm -rf "$(dirname "$settings")" # no user settings
follower="" group=""
on_exit+=('[ -n "$follower" ] && kill -KILL "$follower" 2>/dev/null')
on_exit+=('[ -n "$group" ] && groupdel "$group" 2>/dev/null' 'pkill -KILL -f "^$work/servers/"')
server_pid() { pgrep -f -x "$work/servers/$1" | head -n 1; }
ended() { [ -z "$(server_pid "$1")" ]; }
# A map server other than the one of PID $map runs.
map_replaced() { local now; now="$(server_pid map-server)"; [ -n "$now" ] && [ "$now" != "$map" ]; }
# refused STATUS TEXT COMMAND...: the command ends with that status and says the text.
refused() {
    local want="$1" text="$2" said status
    shift 2
    said="$("$@" 2>&1)"
    status=$?
    ((status == want)) && [[ "$said" == *"$text"* ]] || fail "$* ended with $status: $said"
}
all_running() { [ -n "$(server_pid login-server)" ] && [ -n "$(server_pid char-server)" ] &&
    [ -n "$(server_pid map-server)" ]; }

"$daemon" --server-dir "$work/servers" --start 2>"$err" &
launcher_pid=$!
wait_until 20 "three servers running" all_running
wait_until 10 "online line" grep -q "Map Server PID is" "$err"
grep -n $'\e' "$err" && fail "standard error holds escape codes"
order="$(grep -o 'Starting [A-Za-z]* Server' "$err" | tr '\n' ,)"
[ "$order" = "Starting Login Server,Starting Char Server,Starting Map Server," ] ||
    fail "servers started as: $order"

# One launcher per folder: the second, of either kind, names the first.
refused 1 "a launcher already runs on $work/servers: corvane-launcherd (PID $launcher_pid)" \
    "$daemon" --server-dir "$work/servers"

desktop="$programs/corvane-launcher"
if command -v xvfb-run >/dev/null; then
    # The launcher's own status, printed: xvfb-run's can be its cleanup's when another X server
    # of the machine comes or goes meanwhile.
    second="$(xvfb-run -a bash -c '"$0" --server-dir "$1" 2>&1; echo "ended with $?"' \
        "$desktop" "$work/servers" 2>/dev/null)"
    [[ "$second" == *"ended with 1" ]] || fail "the desktop launcher beside it: $second"
    [[ "$second" == *"corvane-launcherd (PID $launcher_pid); not starting a second one."* ]] ||
        fail "the desktop launcher beside it said: $second"
fi

# The control client: no launcher, the status, a refusal, a stop and a start.
ctl="$programs/corvanectl"
# Its bash completion offers the verbs that --help lists, the servers and each verb's options.
complete() { :; }
_init_completion() { words=("${COMP_WORDS[@]}") cword=$COMP_CWORD cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}; }
# shellcheck source=../../packaging/corvanectl.bash-completion
source "$(dirname "$0")/../../packaging/corvanectl.bash-completion"
completed() { COMP_WORDS=(corvanectl "$@") COMP_CWORD=$# && { _corvanectl; printf '%s\n' "${COMPREPLY[@]}" | sort | xargs; }; }
verbs="$("$ctl" --help | awk '/^  [a-z]/ { print $1 }' | sort | xargs)"
# shellcheck disable=SC2086
[ "$(completed --server-dir /srv "")" = "$(printf '%s\n' --help --server-dir $verbs | sort | xargs)" ] ||
    fail "the verbs completed: $(completed "") (--help lists: $verbs)"
[ "$(completed kill "")" = "--yes char login map" ] || fail "kill completes: $(completed kill "")"
[ "$(completed console map -)" = "-f -n" ] || fail "console map completes: $(completed console map -)"
[ "$(completed send map "")" = "" ] || fail "send map completes: $(completed send map "")"
refused 3 "" "$ctl" --server-dir "$work" status # no launcher there
json="$("$ctl" --server-dir "$work/servers" status --json)" || fail "corvanectl status failed"
for label in login char map; do
    [[ "$json" =~ \"$label\":\{[^}]*\"running\":true ]] || fail "$label not running in: $json"
done
[[ "$json" == *"\"pid\":$(server_pid map-server)"* ]] || fail "the map server's PID is not in: $json"
refused 1 "online already" "$ctl" --server-dir "$work/servers" start
"$ctl" --server-dir "$work/servers" stop >/dev/null || fail "corvanectl stop failed"
none_running() { ended login-server && ended char-server && ended map-server; }
wait_until 30 "servers stopped through corvanectl" none_running
grep -q "Control: stop asked by $(id -un) (uid $(id -u))." "$err" || fail "the stop's asker was not logged"
"$ctl" --server-dir "$work/servers" start >/dev/null || fail "corvanectl start failed"
wait_until 20 "three servers running again" all_running
wait_until 10 "online again" grep -q "All servers are online\|Map Server PID is" "$err"
sleep 1

# Every other verb once, each logged with who asked; the log followed meanwhile.
c() { "$ctl" --server-dir "$work/servers" "$@"; }
refused 2 "" c stop nosuch
c log -f >"$work/follow" &
follower=$!
(($(c log -n 2 | wc -l) == 2)) || fail "log -n 2 printed: $(c log -n 2)"
map="$(server_pid map-server)"
c restart "Map Server" >/dev/null || fail "corvanectl restart failed"
wait_until 30 "the map server restarted" map_replaced
refused 1 "--yes" c kill char
c kill --yes char >/dev/null || fail "corvanectl kill --yes failed"
wait_until 10 "the char server killed" ended char-server
c start char >/dev/null || fail "corvanectl start char failed"
wait_until 20 "three servers running after the kill" all_running
refused 1 "control characters" c send map $'status\x03'
wait_until 10 "a command sent to the map server" c send map status
answered() { c console map -n 100 | grep -q "answers status"; }
wait_until 10 "the map server's answer in its console" answered
c backup map >/dev/null || fail "corvanectl backup failed"
backed_up() { c backups map | grep -q "^map-server-"; }
wait_until 30 "the backup listed" backed_up
archive="$(c backups map | head -n 1 | cut -d' ' -f1)"
refused 1 "--yes" c restore map "$archive"
# Refused while the char server's start above still runs, as the window's button is disabled then.
stopped_map() { c stop map >/dev/null 2>&1; }
wait_until 20 "a stop of the map server" stopped_map
wait_until 30 "the map server stopped" ended map-server
echo "changed" >"$work/servers/world.txt"
c restore --yes map "$archive" >/dev/null || fail "corvanectl restore failed"
restored() { grep -qx "the world" "$work/servers/world.txt"; }
wait_until 30 "the world restored" restored
started_after_restore() { c start map >/dev/null 2>&1; }
wait_until 10 "a start of the map server after its restore" started_after_restore
c schedule | grep -q "^Map Server: Next: restart at" || fail "schedule printed: $(c schedule)"
c skip-next-restart map >/dev/null || fail "corvanectl skip-next-restart failed"
c test-alert >/dev/null || fail "corvanectl test-alert failed"
wait_until 10 "the test alert in the followed log" grep -q "No test alert sent" "$work/follow"
kill "$follower"
follower=""
for action in "restart Map Server" "kill Char Server" "send to Map Server" "backup of Map Server" \
    "restore of Map Server from $archive" "skip of the next restart of Map Server" test-alert; do
    grep -q "Control: $action asked by $(id -un) (uid $(id -u))." "$work/follow" ||
        fail "\"$action\" was not logged with its asker"
done
wait_until 20 "three servers running after the verbs" all_running

# A crash is relaunched.
map="$(server_pid map-server)"
kill -KILL "$map"
wait_until 30 "relaunched map server" map_replaced
grep -q "Map Server just crashed!" "$err" || fail "the crash was not logged"

# A launcher killed outright leaves its servers running; the next one (the unit's restart) adopts
# them: the same processes, watched again, a crash relaunched.
servers_before="$(server_pid login-server) $(server_pid char-server) $(server_pid map-server)"
kill -KILL "$launcher_pid"
wait "$launcher_pid" 2>/dev/null
sleep 1
[ "$(server_pid login-server) $(server_pid char-server) $(server_pid map-server)" = "$servers_before" ] ||
    fail "the servers did not outlive the killed launcher: $servers_before"
"$daemon" --server-dir "$work/servers" --start 2>"$err" &
launcher_pid=$!
wait_until 20 "adoption of the servers" grep -q "Map Server was already running (PID $(server_pid map-server)); watching it." "$err"
[ "$(server_pid login-server) $(server_pid char-server) $(server_pid map-server)" = "$servers_before" ] ||
    fail "the adopting launcher started other servers: $servers_before"
map="$(server_pid map-server)"
kill -KILL "$map"
wait_until 30 "an adopted map server relaunched" map_replaced

# SIGTERM: the servers are stopped, then the launcher ends with status 0.
kill -TERM "$launcher_pid"
wait "$launcher_pid"
status=$?
launcher_pid=""
((status == 0)) || fail "the launcher ended with status $status after SIGTERM"
grep -q "All servers have ended." "$err" || fail "no stop was logged"
none_running || fail "a server still runs after the launcher ended"

# Without --start, nothing is started. With a control group (where groups can be made), its
# members reach the launcher through the server folder's socket and others are refused.
if (($(id -u) == 0)) && command -v groupadd >/dev/null && command -v setpriv >/dev/null; then
    group="corvane-ctl-$(od -An -N4 -tx4 /dev/urandom | tr -d " ")" # machine-wide: no PID in it
    groupadd "$group" || fail "cannot make group $group"
    printf '[Launcher]\ncontrol group = %s\n' "$group" >>"$ini"
    chmod o+x "$work"
fi
"$daemon" --server-dir "$work/servers" 2>"$err" &
launcher_pid=$!
wait_until 10 "server folder line" grep -q "Server folder: " "$err"
sleep 2
ended login-server || fail "a server was started without --start"
if [ -n "$group" ]; then
    modes="$(stat -c '%a %G' "$work/servers/.corvane-control"{,/corvanectl.sock} | xargs)"
    [ "$modes" = "2750 $group 660 $group" ] || fail "the control folder and socket are: $modes"
    as_nobody() { setpriv --reuid=nobody --regid=nogroup "$@" "$ctl" --server-dir "$work/servers" test-alert; }
    as_nobody --clear-groups >/dev/null 2>&1
    status=$?
    ((status == 3)) || fail "a user outside the control group was not refused: $status"
    as_nobody --groups="$(getent group "$group" | cut -d: -f3)" >/dev/null ||
        fail "a member of the control group was refused"
    grep -q "Control: test-alert asked by nobody (uid $(id -u nobody))." "$err" ||
        fail "the member's test alert was not logged"
    c status >/dev/null || fail "the launcher's own user was refused with a control group"
fi
kill -TERM "$launcher_pid"
wait "$launcher_pid"
status=$?
launcher_pid=""
((status == 0)) || fail "the idle launcher ended with status $status after SIGTERM"
echo "PASS"
