#!/usr/bin/env bash
# The Debian package as an operator gets it: built by scripts/package.sh, unpacked into a scratch
# root and checked with the desktop's own validators. The installed launcher answers its command
# line and a missing display without a window; on a private Xvfb with icewm it runs the servers of
# a folder of stand-ins given by --server-dir and by a link; after one is killed outright, the next
# start watches the servers it left, a second start on the folder brings its window back from the
# tray and ends, and SIGTERM or SIGHUP end it as closing its window does.
#
# Usage: package_install_test.sh PACKAGE_FOLDER STANDIN_FOLDER
# Exits 77 (skipped) when no package was built, unless CORVANE_REQUIRE_PACKAGE=1.
set -uo pipefail
standins="${2:?usage: $0 PACKAGE_FOLDER STANDIN_FOLDER}"
deb="$(ls -t "$1"/corvane-launcher_*.deb 2>/dev/null | head -n 1)"
if [ -z "$deb" ]; then
    echo "no package in $1: scripts/package.sh builds it" >&2
    [ "${CORVANE_REQUIRE_PACKAGE:-0}" = 1 ] && exit 1
    exit 77
fi
launcher="" # the installed one, once the package is unpacked
# shellcheck source=../e2e/desktop_session.sh
source "$(dirname "${BASH_SOURCE[0]}")/../e2e/desktop_session.sh"

# ---- the package itself ------------------------------------------------------------------------

# lintian, pedantic: no error or warning, and only the informational and pedantic tags that the
# developers' page on the Debian package names, each with why it is kept.
command -v lintian >/dev/null || fail "no lintian: scripts/setup.sh --for-tests installs it"
lintian --pedantic --info --tag-display-limit 0 --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 ||
    fail "lintian: $(cat "$work/lintian.log")"
source_dir="$(dirname "${BASH_SOURCE[0]}")/../.."
kept="$(sed -n '/^## Lintian/,/^## /p' "$source_dir/docs/dev/package.md" | sed -n 's/^- `\([a-z0-9-]*\)`.*/\1/p')"
while read -r kind _ tag _; do
    [ -n "$tag" ] || continue
    grep -qx -- "$tag" <<<"$kept" || fail "lintian's $kind $tag is not named in docs/dev/package.md: $(cat "$work/lintian.log")"
done < <(grep -E '^[EWIPX]: ' "$work/lintian.log")
step "lintian --pedantic accepts the package"

depends="$(dpkg-deb -f "$deb" Depends)"
# tmux and the history's SQLite driver plugin named; the libraries (Qt Charts and Qt SQL among
# them) found by shlibdeps
for dependency in tmux libqt6sql6-sqlite libqt6widgets6 libqt6charts6 libc6; do
    grep -q "$dependency" <<<"$depends" || fail "$dependency is not among the dependencies: $depends"
done
dpkg-deb -c "$deb" | grep -E '/(login|char|map)-server$' && fail "the package holds stand-in servers"
dpkg-deb -x "$deb" "$work/root" || fail "cannot unpack $deb"
[ -f "$work/root/lib/systemd/system/corvane-launcherd@.service" ] ||
    fail "the package lacks /lib/systemd/system/corvane-launcherd@.service"
prefix="$work/root/usr" share="$work/root/usr/share" id=org.corvane.CorvaneLauncher
for file in bin/corvane-launcher bin/corvane-launcherd bin/corvanectl \
    share/man/man1/corvane-launcherd.1.gz share/man/man1/corvanectl.1.gz \
    share/bash-completion/completions/corvanectl \
    libexec/corvane-launcher/corvane-exec \
    libexec/corvane-launcher/corvane-log libexec/corvane-launcher/corvane-noutmp.so \
    share/corvane-launcher/launcherdata/{off,on,error}.ico share/applications/$id.desktop \
    share/metainfo/$id.metainfo.xml share/icons/hicolor/scalable/apps/$id.svg; do
    [ -f "$prefix/$file" ] || fail "the package lacks /usr/$file"
done
for size in 16 22 24 32 48 64 128 256; do
    png="$share/icons/hicolor/${size}x${size}/apps/$id.png"
    file "$png" | grep -q "PNG image data, $size x $size" || fail "no ${size}px icon: $(file "$png")"
done
desktop-file-validate "$share/applications/$id.desktop" || fail "desktop-file-validate"
appstreamcli validate --pedantic --no-net "$share/metainfo/$id.metainfo.xml" || fail "appstreamcli validate"
zcat "$share/man/man1/corvane-launcher.1.gz" | grep -q '^\.SH OPTIONS' || fail "the man page does not read"
zcat "$share/man/man5/corvane-launcher.ini.5.gz" | grep -q '^\.SH \[Schedule NAME\]' ||
    fail "the installation file's man page does not read"
# The README, the manual and the examples, as they are in the source.
doc="$share/doc/corvane-launcher"
for file in README.md manual/index.md manual/installation-file.md manual/files.md \
    examples/corvane-launcher.ini; do
    [ -f "$doc/$file" ] || fail "the package lacks /usr/share/doc/corvane-launcher/$file"
done
diff -r "$source_dir/docs/manual" "$doc/manual" || fail "the packaged manual is not the source's"
cmp "$source_dir/docs/prometheus/corvane-alerts.yml" "$doc/examples/corvane-alerts.yml" ||
    fail "the package lacks the Prometheus rules as the source has them"
step "package contents, desktop entry and metainfo are sound"

# ---- without a display ---------------------------------------------------------------------------

launcher="$prefix/bin/corvane-launcher"
env -u DISPLAY "$launcher" --help | grep -q -- '--server-dir' || fail "--help does not show --server-dir"
# answers EXIT-CODE START-OF-ITS-ONE-LINE [ENV...] -- ARGS...: what the launcher says on stderr.
answers() {
    local code="$1" start="$2" env=() said status
    shift 2; while [ "$1" != -- ]; do env+=("$1"); shift; done; shift
    said="$(env -u DISPLAY -u QT_QPA_PLATFORM "${env[@]}" "$launcher" "$@" 2>&1 >/dev/null)"; status=$?
    [ "$status" = "$code" ] && [ "$(wc -l <<<"$said")" = 1 ] && [[ "$said" == "$start"* ]] ||
        fail "${env[*]} $*: status $status, said: $said"
}
answers 2 "corvane-launcher: " -- --no-such-option
cannot_show="corvane-launcher: cannot show the window: "
answers 1 "$cannot_show" --
answers 1 "$cannot_show" QT_QPA_PLATFORM=xcb --
answers 1 "$cannot_show" QT_QPA_PLATFORM=xcb DISPLAY=:65000 --
step "--help, an unknown option and no display answer in one line without a window"

# ---- on a desktop --------------------------------------------------------------------------------

start_xvfb
start_icewm
# Two server folders of stand-ins, with spaces in their names.
for folder in "given folder" "linked folder"; do
    mkdir -p "$work/$folder" && cp "$standins"/{login,char,map}-server "$work/$folder/"
done
ln -s "$launcher" "$work/linked folder/corvane-launcher"
# The servers run the programs of the folder, in the folder: each console holds the package's
# helper, and the helper the server.
servers_run_from() {
    local s program && for s in "${server_pids[@]}"; do
        [ "$(readlink "/proc/$s/exe")" = "$prefix/libexec/corvane-launcher/corvane-exec" ] ||
            fail "console $s holds $(readlink "/proc/$s/exe"), not the package's helper"
        read -r program _ <"/proc/$s/task/$s/children"
        [[ "$(readlink "/proc/$program/exe")" == "$1"/*-server &&
            "$(readlink "/proc/$program/cwd")" == "$1" ]] ||
            fail "server $program runs $(readlink "/proc/$program/exe") in" \
                "$(readlink "/proc/$program/cwd"), not from $1"
    done
}
watched_servers() { [ "$(ls -l "/proc/$launcher_pid/fd" 2>/dev/null | grep -c pidfd)" = 3 ]; }

start_launcher_and_servers --server-dir "$work/given folder"
servers_run_from "$work/given folder"
xprop -id "$main_window" WM_CLASS | grep -q '"CorvaneLauncher"' ||
    fail "the window's class is not the desktop entry's StartupWMClass"

# Killed outright, it leaves its servers, its instance lock and its socket behind; the next start
# watches those servers, and a start after that hands over to it.
kill -KILL "$launcher_pid" && wait "$launcher_pid" 2>/dev/null
before="${server_pids[*]}"
start_launcher --server-dir "$work/given folder"
wait_until 15 "the next launcher to watch the three servers" watched_servers
three_servers_running && [ "${server_pids[*]}" = "$before" ] || fail "servers started anew: ${server_pids[*]}"
xdotool windowminimize "$main_window"
wait_until 10 "the window to go to the tray" window_hidden "$main_window"
# Started from another environment (runtime folder, home) it still finds the first.
mkdir -m 700 "$work/runtime-2" "$work/home-2"
HOME="$work/home-2" XDG_RUNTIME_DIR="$work/runtime-2" \
    timeout 10 "$launcher" --server-dir "$work/given folder/" >"$work/second.log" 2>&1 ||
    fail "the second start ended with status $?"
wait_until 10 "the window to come back" window_back "$main_window"
[ "$(xdotool search --onlyvisible --class CorvaneLauncher | grep -c .)" = 1 ] ||
    fail "more than one window is shown"
step "a second start brought the window back from the tray and ended"
kill -TERM "$launcher_pid"
ended_like_closing

fresh_settings
launcher="$work/linked folder/corvane-launcher" start_launcher_and_servers
servers_run_from "$work/linked folder"
kill -HUP "$launcher_pid"
ended_like_closing
echo "PASS: the package installs and its launcher runs the servers of the folder it is given"
