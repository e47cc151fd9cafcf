#!/usr/bin/env bash
# The Debian package as an operator gets it: built by scripts/package.sh, unpacked into a scratch
# root, checked with the desktop's own validators, and the installed launcher started on a private
# Xvfb with icewm on a folder of stand-in servers, given by --server-dir and by a link. The
# servers must start from that folder; a second start on the folder must bring the first window
# back from the tray and end; a launcher killed with kill -9 must not block the next one.
#
# Usage: package_install_test.sh PACKAGE_FOLDER STANDIN_FOLDER
# Exits 77 (skipped) when no package was built, unless CORVANE_REQUIRE_PACKAGE=1.
set -uo pipefail

package_dir="${1:?usage: $0 PACKAGE_FOLDER STANDIN_FOLDER}"
standins="${2:?usage: $0 PACKAGE_FOLDER STANDIN_FOLDER}"
deb="$(ls -t "$package_dir"/corvane-launcher_*.deb 2>/dev/null | head -n 1)"
if [ -z "$deb" ]; then
    echo "no package in $package_dir: scripts/package.sh builds it" >&2
    [ "${CORVANE_REQUIRE_PACKAGE:-0}" = 1 ] && exit 1
    exit 77
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/corvane-package.XXXXXX")"
pids=()
xvfb_pid=""
icewm_pid=""

cleanup() {
    local status=$?
    trap - EXIT INT TERM
    for pid in "${pids[@]}"; do
        kill -KILL "$pid" 2>/dev/null
    done
    [ -d "$work/tmux" ] && TMUX_TMPDIR="$work/tmux" kill_tmux_servers
    [ -n "$icewm_pid" ] && kill -KILL "$icewm_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill -KILL "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

fail() {
    echo "FAIL: $*" >&2
    for log in "$work"/*.log; do
        [ -s "$log" ] && { echo "--- $log:" >&2; tail -n 20 "$log" >&2; }
    done
    exit 1
}
step() { echo "[$SECONDS s] $*"; }
poll() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.1
    done
}
wait_until() {
    local seconds="$1" what="$2"
    shift 2
    poll "$seconds" "$@" || fail "gave up after ${seconds} s waiting for: $what"
}
process_ended() {
    local state
    state="$(ps -o stat= -p "$1" 2>/dev/null)"
    [ -z "$state" ] || [[ "$state" == Z* ]]
}

# ---- the package itself ------------------------------------------------------------------------

depends="$(dpkg-deb -f "$deb" Depends)"
grep -q 'tmux' <<<"$depends" || fail "tmux is not among the dependencies: $depends"
grep -q 'libqt6widgets6' <<<"$depends" || fail "no dependency found from the libraries: $depends"
grep -q 'libc6' <<<"$depends" || fail "no dependency found from the libraries: $depends"
if dpkg-deb -c "$deb" | grep -E '/(login|char|map)-server$'; then
    fail "the package holds stand-in servers"
fi
root="$work/root"
dpkg-deb -x "$deb" "$root" || fail "cannot unpack $deb"
prefix="$root/usr"
for file in bin/corvane-launcher libexec/corvane-launcher/corvane-exec \
    libexec/corvane-launcher/corvane-log \
    share/corvane-launcher/launcherdata/off.ico share/corvane-launcher/launcherdata/on.ico \
    share/corvane-launcher/launcherdata/error.ico \
    share/applications/org.corvane.CorvaneLauncher.desktop \
    share/metainfo/org.corvane.CorvaneLauncher.metainfo.xml \
    share/icons/hicolor/scalable/apps/org.corvane.CorvaneLauncher.svg \
    share/man/man1/corvane-launcher.1.gz; do
    [ -f "$prefix/$file" ] || fail "the package lacks /usr/$file"
done
for size in 16 22 24 32 48 64 128 256; do
    png="$prefix/share/icons/hicolor/${size}x${size}/apps/org.corvane.CorvaneLauncher.png"
    file "$png" | grep -q "PNG image data, $size x $size" || fail "no ${size}px icon: $(file "$png")"
done
desktop-file-validate "$prefix/share/applications/org.corvane.CorvaneLauncher.desktop" ||
    fail "desktop-file-validate"
appstreamcli validate --no-net "$prefix/share/metainfo/org.corvane.CorvaneLauncher.metainfo.xml" ||
    fail "appstreamcli validate"
zcat "$prefix/share/man/man1/corvane-launcher.1.gz" | grep -q '^\.SH OPTIONS' ||
    fail "the man page does not read"
step "package contents, desktop entry and metainfo are sound"

# ---- the command line, without a display -------------------------------------------------------

launcher="$prefix/bin/corvane-launcher"
(unset DISPLAY WAYLAND_DISPLAY; "$launcher" --help >"$work/help.out" 2>"$work/help.err") ||
    fail "--help ended with status $?"
grep -q -- '--server-dir' "$work/help.out" || fail "--help does not show --server-dir"
version="$(unset DISPLAY; "$launcher" --version)" || fail "--version failed"
[[ "$version" =~ ^corvane-launcher\ [0-9]+\.[0-9]+ ]] || fail "--version printed: $version"
(unset DISPLAY; "$launcher" --no-such-option >"$work/bad.out" 2>"$work/bad.err")
status=$?
[ "$status" -eq 2 ] || fail "an unknown option ended with status $status"
[ "$(wc -l <"$work/bad.err")" -eq 1 ] && grep -q 'no-such-option' "$work/bad.err" ||
    fail "an unknown option printed: $(cat "$work/bad.err")"
step "--help, --version and an unknown option answer without a window"

# ---- a private desktop ---------------------------------------------------------------------------

mkdir -p "$work/home" "$work/config" "$work/runtime" "$work/tmux"
chmod 700 "$work/runtime" "$work/tmux"
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime"
export TMUX_TMPDIR="$work/tmux" QT_QPA_PLATFORM=xcb
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY TMUX
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
wait_until 15 "Xvfb to report its display" test -s "$work/display"
export DISPLAY=":$(head -n 1 "$work/display")"
icewm >"$work/icewm.log" 2>&1 &
icewm_pid=$!
has_tray() { xwininfo -root -tree 2>/dev/null | grep -q '"SystemTray":'; }
wait_until 15 "icewm's system tray" has_tray

# Two server folders of stand-ins, with spaces in their names.
for folder in "given folder" "linked folder"; do
    mkdir -p "$work/$folder"
    cp "$standins"/login-server "$standins"/char-server "$standins"/map-server "$work/$folder/"
done
ln -s "$launcher" "$work/linked folder/corvane-launcher"

is_viewable() { xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'; }
window_of() { xdotool search --onlyvisible --pid "$1" 2>/dev/null | head -n 1; }
has_window() {
    process_ended "$1" && fail "launcher $1 ended at start-up"
    [ -n "$(window_of "$1")" ]
}

# start_launcher NAME ARGS...: starts the installed launcher in the background; sets $launcher_pid.
start_launcher() {
    local name="$1"
    shift
    (cd "$work/home" && exec "$@") >"$work/$name.log" 2>&1 &
    launcher_pid=$!
    pids+=("$launcher_pid")
}

# The launcher's tmux socket is named after its folder: every socket of this run is looked at.
server_pane_pids() {
    local socket
    for socket in "$TMUX_TMPDIR/tmux-$(id -u)"/*; do
        # Not the launcher's own control session, only the servers' consoles.
        [ -S "$socket" ] && tmux -S "$socket" list-panes -a -F '#{session_name}	#{pane_pid}' 2>/dev/null |
            awk -F'\t' '$1 !~ /^corvane-control-/ { print $2 }'
    done
}
kill_tmux_servers() {
    local socket
    for socket in "$TMUX_TMPDIR/tmux-$(id -u)"/*; do
        [ -S "$socket" ] && tmux -S "$socket" kill-server 2>/dev/null
    done
}
three_servers_running() { [ "$(server_pane_pids | grep -c .)" -eq 3 ]; }

# run_servers_from NAME FOLDER ARGS...: starts a launcher, presses Start Servers, and checks that
# the three servers run the programs of FOLDER with FOLDER as their working directory.
run_servers_from() {
    local name="$1" folder="$2"
    shift 2
    start_launcher "$name" "$@"
    local pid="$launcher_pid"
    wait_until 20 "the $name launcher's window" has_window "$pid"
    local window
    window="$(window_of "$pid")"
    xprop -id "$window" WM_CLASS | grep -q '"CorvaneLauncher"' ||
        fail "the window's class is not the desktop entry's StartupWMClass: $(xprop -id "$window" WM_CLASS)"
    sleep 0.5
    # Start Servers: the button at x 306..403, y 288..319 of the window's client area.
    xdotool mousemove --window "$window" 354 303 click 1
    wait_until 20 "three servers started by the $name launcher" three_servers_running
    local server exe cwd
    for server in $(server_pane_pids); do
        exe="$(readlink "/proc/$server/exe")"
        cwd="$(readlink "/proc/$server/cwd")"
        [[ "$exe" == "$folder"/*-server ]] || fail "$name: a server runs $exe, not from $folder"
        [ "$cwd" = "$folder" ] || fail "$name: a server runs in $cwd, not in $folder"
    done
    step "$name: the servers run from $folder"
}

# ---- --server-dir ------------------------------------------------------------------------------

run_servers_from given "$work/given folder" "$launcher" --server-dir "$work/given folder"
first="$launcher_pid"
first_window="$(window_of "$first")"

# A second start on the same folder brings the first window back from the tray and ends.
xdotool windowminimize "$first_window"
hidden() { ! is_viewable "$first_window"; }
wait_until 10 "the first window to go to the tray" hidden
start_launcher second "$launcher" --server-dir "$work/given folder/"
wait_until 10 "the second start to end" process_ended "$launcher_pid"
wait "$launcher_pid"
status=$?
[ "$status" -eq 0 ] || fail "the second start ended with status $status"
wait_until 10 "the first window to come back" is_viewable "$first_window"
[ "$(xdotool search --class CorvaneLauncher 2>/dev/null | while read -r id; do
    is_viewable "$id" && echo "$id"; done | grep -c .)" -eq 1 ] || fail "more than one window is shown"
step "a second start brought the first window back from the tray and ended"

# A launcher killed outright leaves its lock and socket behind; they do not block the next start.
kill -KILL "$first"
wait "$first" 2>/dev/null
kill_tmux_servers
start_launcher after-kill "$launcher" --server-dir "$work/given folder"
wait_until 20 "a launcher after the killed one" has_window "$launcher_pid"
kill -KILL "$launcher_pid"
wait "$launcher_pid" 2>/dev/null
step "a killed launcher does not block the next start"

# ---- a link in the server folder -----------------------------------------------------------------

run_servers_from linked "$work/linked folder" "$work/linked folder/corvane-launcher"
kill -KILL "$launcher_pid"
step "a link in the server folder starts that folder's servers"

echo "PASS: the package installs and its launcher runs the servers of the folder it is given"
