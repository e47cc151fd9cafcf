#!/usr/bin/env bash
# Usage: scripts/save-check.sh [--runs N] [--systemd] [--programs FOLDER]
# Whether the launcher without a desktop saves a real world when systemd stops it: Debian's
# minetest-server is the map server, run through a script of the server folder (one that execs
# it and one that does not, in turn), beside the stand-in login and char servers. Each run starts
# corvane-launcherd --start, waits for minetest to listen, removes the world's env_meta.txt (only
# a save writes it), then sends SIGTERM to the launcher alone, as `systemctl stop` does with
# KillMode=process, and checks that the launcher ended with status 0, that its log confirms the
# save, that env_meta.txt was written again and that no minetest is left. Prints one line per run,
# then "saved N of RUNS"; exits 0 only when every run saved, 77 when minetest is not installed
# (or, with --systemd, when systemd cannot run here).
#
# --systemd: the launcher runs under a real systemd user manager, started for the runs alone in
# their own mount namespace (root only), as the package's unit corvane-launcherd@.service, with
# `systemctl --user start` and `systemctl --user stop`; its ExecStart names the built launcher.
# --programs: the folder of corvane-launcherd, the stand-ins and corvane-exec (the test suite
# passes its own); without it, what is missing is installed and they are built in Release into
# build-bench/. --runs: 10 unless given.
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
minetest=/usr/lib/minetest/minetestserver

runs=10
programs=""
systemd=""
while [ $# -gt 0 ]; do
    case "$1" in
    --runs) runs="${2:?}"; shift ;;
    --systemd) systemd=1 ;;
    --programs) programs="${2:?}"; shift ;;
    *) sed -n '2,17s/^# \{0,1\}//p' "$0" >&2; exit 2 ;;
    esac
    shift
done

# Once, outside: the programs, then the runs in a PID namespace of their own, where nothing else
# can pass for a server and everything they started ends with them.
if [ -z "${CORVANE_SAVE_CHECK_INSIDE:-}" ]; then
    source "$root/scripts/bench-common.sh"
    if [ -z "$programs" ]; then
        "$root/scripts/setup.sh" --for-tests || exit 1
        cmake -S "$root" -B "$bench_build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
            -DCORVANE_BUILD_TESTS=OFF -DCORVANE_BUILD_BENCH=ON >/dev/null || exit 1
        cmake --build "$bench_build" --target corvane-launcherd login-server char-server \
            corvane-exec >/dev/null || exit 1
        programs="$bench_build/launcher"
    fi
    if [ ! -x "$minetest" ]; then
        echo "SKIPPED: Debian's minetest-server is not installed (no $minetest); scripts/setup.sh --for-tests installs it"
        exit 77
    fi
    if [ -n "$systemd" ] && { ((EUID != 0)) || [ ! -x /lib/systemd/systemd ]; }; then
        echo "SKIPPED: --systemd needs root (for a /run of its own) and systemd (/lib/systemd/systemd)"
        exit 77
    fi
    programs="$(cd "$programs" && pwd)" || exit 1
    CORVANE_SAVE_CHECK_INSIDE=1 run_isolated "$0" --runs "$runs" ${systemd:+--systemd} \
        --programs "$programs"
    exit
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/corvane-save-check-XXXXXX")"
folder="$work/game"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_STATE_HOME="$work/home/state"
export TMUX_TMPDIR="$work/tmp" TMPDIR="$work/tmp" CORVANE_STANDIN_PORT=0
unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR NOTIFY_SOCKET
mkdir -p "$HOME" "$TMPDIR" "$folder"
cp "$programs"/{login-server,char-server} "$folder/"
printf 'name = admin\nserver_map_save_interval = 3600\n' >"$folder/minetest.conf"
cat >"$folder/corvane-launcher.ini" <<'EOF'
[Map Server]
# minetest prints this once its world is written
save confirmation = Saved map to
stop = close request
stop = await save 30
stop = await end 30
EOF
chmod 600 "$folder/corvane-launcher.ini"
# The launcher's standard error, every run's after the one before.
err="$work/launcher.err"
: >"$err"

# The minetest processes of the folder.
ours() {
    local entry
    for entry in /proc/[0-9]*; do
        [ "$(readlink "$entry/cwd" 2>/dev/null)" = "$folder" ] || continue
        [[ "$(readlink "$entry/exe" 2>/dev/null)" == */minetestserver ]] && echo "${entry#/proc/}"
    done
}
launcher=""
manager=""
cleanup() {
    end_run
    tmux -f /dev/null -L "$(socket_name)" kill-server 2>/dev/null
    if [ -n "$manager" ]; then
        kill -TERM "$manager" 2>/dev/null
        wait "$manager" 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT
# The launcher's tmux socket, named after the folder.
socket_name() { printf 'corvane-%s' "$(printf '%s' "$folder" | sha256sum | cut -c1-10)"; }
free_udp_port() {
    python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("", 0)); print(s.getsockname()[1])' 2>/dev/null ||
        echo $((40000 + RANDOM % 20000))
}
udp_bound() { grep -qs ":$(printf '%04X' "$1") " /proc/net/udp /proc/net/udp6; }
# wait_for SECONDS COMMAND...: whether the command succeeded within the time.
wait_for() {
    local until=$((SECONDS + $1))
    shift
    until "$@"; do
        ((SECONDS < until)) || return 1
        sleep 0.2
    done
}
listening() { udp_bound "$port" && [ "$(ours | wc -l)" -eq 1 ]; }
ended() { [ -z "$launcher" ] || ! kill -0 "$launcher" 2>/dev/null; }
# This run's part of the launcher's standard error.
run_log() { tail -c +"$((log_from + 1))" "$err"; }
online() { run_log | grep -q "Map Server PID is"; }
# Whatever is left of a run, before the next.
end_run() {
    if [ -n "$systemd" ] && [ -n "$manager" ]; then
        systemctl --user kill --signal=KILL "$unit" 2>/dev/null
        systemctl --user reset-failed "$unit" 2>/dev/null
    elif ! ended; then
        kill -KILL "$launcher" 2>/dev/null
        wait "$launcher" 2>/dev/null
    fi
    launcher=""
    local pid
    for pid in $(ours); do kill -KILL "$pid" 2>/dev/null; done
    pkill -KILL -f "^$folder/" 2>/dev/null
}

if [ -n "$systemd" ]; then
    # A systemd user manager of the runs' own: it starts only where systemd runs the machine,
    # which it tells by /run/systemd/system; a /run of this mount namespace's own holds that.
    mount -t tmpfs -o mode=755 tmpfs /run || exit 1
    mkdir -p /run/systemd/system "/run/user/$EUID"
    chmod 700 "/run/user/$EUID"
    export XDG_RUNTIME_DIR="/run/user/$EUID"
    # The package's unit, with the built launcher; its standard error into this run's file, as
    # no journal runs here.
    mkdir -p "$XDG_CONFIG_HOME/systemd/user"
    sed "s|^ExecStart=/usr/bin/corvane-launcherd |ExecStart=$programs/corvane-launcherd |" \
        "$root/packaging/corvane-launcherd@.service" \
        >"$XDG_CONFIG_HOME/systemd/user/corvane-launcherd@.service"
    grep -q "^ExecStart=$programs/" "$XDG_CONFIG_HOME/systemd/user/corvane-launcherd@.service" ||
        { echo "the unit's ExecStart is not the one expected" >&2; exit 1; }
    mkdir -p "$XDG_CONFIG_HOME/systemd/user/corvane-launcherd@.service.d"
    cat >"$XDG_CONFIG_HOME/systemd/user/corvane-launcherd@.service.d/save-check.conf" <<EOF
[Service]
StandardError=append:$err
EOF
    /lib/systemd/systemd --user >"$work/manager.out" 2>&1 &
    manager=$!
    up() { systemctl --user is-system-running 2>/dev/null | grep -qx 'running\|degraded'; }
    wait_for 30 up || { echo "the systemd user manager did not come up:" >&2; cat "$work/manager.out" >&2; exit 1; }
    systemctl --user import-environment HOME XDG_CONFIG_HOME XDG_STATE_HOME TMUX_TMPDIR TMPDIR \
        CORVANE_STANDIN_PORT PATH LANG ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS 2>/dev/null
    unit="corvane-launcherd@$(systemd-escape --path "$folder").service"
    echo "$(systemd --version | head -n 1), a user manager; the unit $unit"
fi

stop_how=SIGTERM
[ -z "$systemd" ] || stop_how="systemctl --user stop"
saved=0
for ((run = 1; run <= runs; ++run)); do
    port="$(free_udp_port)"
    # In turn a script that execs minetest and one that runs it as its child.
    prefix="exec "
    how="script that execs minetest"
    if ((run % 2 == 0)); then
        prefix=""
        how="script that runs minetest as its child"
    fi
    cat >"$folder/map-server" <<EOF
#!/bin/sh
${prefix}$minetest --config "\$PWD/minetest.conf" --world "\$PWD/world" --gameid minetest_game --port $port --logfile "\$PWD/minetest-debug.txt" --info
EOF
    chmod 700 "$folder/map-server"
    log_from="$(stat -c %s "$err")"
    why=""
    if [ -n "$systemd" ]; then
        # Type=notify: the start returns once the launcher is set up.
        timeout 60 systemctl --user start "$unit" || why="systemctl --user start failed"
        launcher="$(systemctl --user show -p MainPID --value "$unit")"
        [ "${launcher:-0}" != 0 ] || launcher=""
    else
        "$programs/corvane-launcherd" --server-dir "$folder" --start 2>>"$err" &
        launcher=$!
    fi
    if [ -n "$why" ]; then
        :
    elif ! wait_for 90 listening; then
        why="minetest did not listen on port $port within 90 s"
    elif ! wait_for 30 online; then
        why="the launcher did not get online within 30 s"
    fi
    started=$SECONDS
    status=-1
    if [ -z "$why" ]; then
        sleep 2 # a moment of play
        rm -f "$folder/world/env_meta.txt"
        if [ -n "$systemd" ]; then
            # Returns once the unit has stopped: KillMode=process, the launcher alone signalled.
            timeout 120 systemctl --user stop "$unit" || why="systemctl --user stop failed"
            result="$(systemctl --user show -p Result --value "$unit")"
            status="$(systemctl --user show -p ExecMainStatus --value "$unit")"
            [ -n "$why" ] || [ "$result" = success ] || why="the unit's result is $result"
            ended || why="${why:-the launcher still runs after systemctl stop}"
        else
            # As systemctl stop does with KillMode=process: SIGTERM to the launcher alone.
            kill -TERM "$launcher"
            if wait_for 90 ended; then
                wait "$launcher"
                status=$?
            else
                why="the launcher still ran 90 s after SIGTERM"
            fi
        fi
    fi
    took=$((SECONDS - started))
    if [ -z "$why" ]; then
        if [ "$status" != 0 ]; then
            why="the launcher ended with status $status"
        elif ! run_log | grep -q "Map Server saved its world" || run_log | grep -q "without confirming a save"; then
            why="the launcher's log confirms no save"
        elif [ ! -f "$folder/world/env_meta.txt" ]; then
            why="the world's env_meta.txt was not written"
        elif [ -n "$(ours)" ]; then
            why="minetest still runs"
        fi
    fi
    if [ -z "$why" ]; then
        saved=$((saved + 1))
        echo "run $run ($how): saved; the launcher ended ${took} s after $stop_how, status 0"
    else
        echo "run $run ($how): NOT saved: $why"
        echo "--- the launcher's standard error:"
        run_log | tail -n 40
    fi
    end_run
done
echo "saved $saved of $runs"
((saved == runs))
