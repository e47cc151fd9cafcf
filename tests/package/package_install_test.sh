#!/usr/bin/env bash
# The Debian packages as an operator gets them: built by scripts/package.sh and checked by lintian;
# the launcher without a desktop shown to pull in no graphical library; an upgrade from the single
# package of earlier versions made in a scratch dpkg database; both unpacked into a scratch root and
# checked with the desktop's own validators. The installed launcher answers its command line and a
# missing display without a window; on a private Xvfb with icewm it runs the servers of a folder of
# stand-ins given by --server-dir and by a link; after one is killed outright, the next start
# watches the servers it left, a second start on the folder brings its window back from the tray
# and ends, and SIGTERM or SIGHUP end it as closing its window does.
#
# Usage: package_install_test.sh PACKAGE_FOLDER STANDIN_FOLDER
# Exits 77 (skipped) when no package was built, unless CORVANE_REQUIRE_PACKAGE=1.
set -uo pipefail
standins="${2:?usage: $0 PACKAGE_FOLDER STANDIN_FOLDER}"
# corvane-launcherd: the launcher without a desktop, corvanectl, the helpers; corvane-launcher: the
# desktop launcher.
daemon_deb="$(ls -t "$1"/corvane-launcherd_*.deb 2>/dev/null | head -n 1)"
desktop_deb="$(ls -t "$1"/corvane-launcher_*.deb 2>/dev/null | head -n 1)"
if [ -z "$daemon_deb" ] && [ -z "$desktop_deb" ]; then
    echo "no package in $1: scripts/package.sh builds it" >&2
    [ "${CORVANE_REQUIRE_PACKAGE:-0}" = 1 ] && exit 1
    exit 77
fi
launcher="" # the installed one, once the packages are unpacked
# shellcheck source=../e2e/desktop_session.sh
source "$(dirname "${BASH_SOURCE[0]}")/../e2e/desktop_session.sh"
[ -n "$daemon_deb" ] && [ -n "$desktop_deb" ] ||
    fail "scripts/package.sh makes two packages, $1 holds: $(ls "$1"/*.deb)"
version="$(dpkg-deb -f "$desktop_deb" Version)"
[ "$(dpkg-deb -f "$daemon_deb" Version)" = "$version" ] ||
    fail "the packages' versions differ: $(dpkg-deb -f "$daemon_deb" Version) and $version"

# ---- the packages themselves ---------------------------------------------------------------------

# lintian, pedantic: no error or warning, and only the informational and pedantic tags that the
# developers' page on the Debian packages names, each with why it is kept.
command -v lintian >/dev/null || fail "no lintian: scripts/setup.sh --for-tests installs it"
source_dir="$(dirname "${BASH_SOURCE[0]}")/../.."
kept="$(sed -n '/^## Lintian/,/^## /p' "$source_dir/docs/dev/package.md" | sed -n 's/^- `\([a-z0-9-]*\)`.*/\1/p')"
for deb in "$daemon_deb" "$desktop_deb"; do
    lintian --pedantic --info --tag-display-limit 0 --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 ||
        fail "lintian on $deb: $(cat "$work/lintian.log")"
    while read -r kind _ tag _; do
        [ -n "$tag" ] || continue
        grep -qx -- "$tag" <<<"$kept" ||
            fail "lintian's $kind $tag is not named in docs/dev/package.md: $(cat "$work/lintian.log")"
    done < <(grep -E '^[EWIPX]: ' "$work/lintian.log")
done
step "lintian --pedantic accepts both packages"

daemon_depends="$(dpkg-deb -f "$daemon_deb" Depends)"
desktop_depends="$(dpkg-deb -f "$desktop_deb" Depends)"
# tmux and the history's SQLite driver plugin named; the libraries (Qt Network, Qt HTTP Server, Qt
# SQL among them) found by shlibdeps
for dependency in tmux libqt6sql6-sqlite libqt6network6 libqt6httpserver6 libqt6sql6 libqt6core6 libc6; do
    grep -qw -- "$dependency" <<<"$daemon_depends" ||
        fail "$dependency is not among corvane-launcherd's dependencies: $daemon_depends"
done
# The desktop launcher runs the helpers of its own build; the libraries (Qt Widgets, Qt Charts)
# found by shlibdeps.
grep -qF "corvane-launcherd (= $version)" <<<"$desktop_depends" ||
    fail "corvane-launcher does not depend on corvane-launcherd (= $version): $desktop_depends"
for dependency in libqt6widgets6 libqt6charts6; do
    grep -qw -- "$dependency" <<<"$desktop_depends" ||
        fail "$dependency is not among corvane-launcher's dependencies: $desktop_depends"
done

# Everything the launcher without a desktop pulls in, recursively, as apt would install it on a
# machine without a desktop: no graphical library.
graphical=(libqt6gui6 libqt6widgets6 libx11-6 libxcb1 libgl1 libegl1 libwayland-client0)
mapfile -t names < <(tr ',|' '\n\n' <<<"$daemon_depends" | sed 's/(.*)//; s/:any//; s/[[:space:]]//g' | grep .)
apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks --no-replaces \
    --no-enhances "${names[@]}" >"$work/closure.txt" 2>&1 ||
    fail "apt-cache depends ${names[*]}: $(cat "$work/closure.txt")"
closure="$(sed -n 's/^[ |]*[A-Za-z]*Depends: //p; /^[^ |]/p' "$work/closure.txt" | tr -d '<>' | sort -u)"
# The closure holds what the package names and what those depend on, or it was not read.
for needed in tmux libqt6core6 libicu72 libssl3; do
    grep -qx -- "$needed" <<<"$closure" || fail "$needed is not in corvane-launcherd's closure: $closure"
done
for library in "${graphical[@]}"; do
    grep -qx -- "$library" <<<"$closure" &&
        fail "corvane-launcherd pulls in $library, which is a dependency of:" \
            "$(awk -v l="$library" '/^[^ |]/ {p = $0} /Depends: / && ($NF == l || $NF == "<" l ">") {print p}' \
                "$work/closure.txt" | sort -u | tr '\n' ' ')"
done
# What apt would do here; on this machine the desktop is installed, so this is for the record.
apt-get install --simulate --no-install-recommends "$daemon_deb" >"$work/simulate.txt" 2>&1 ||
    fail "apt-get install --simulate $daemon_deb: $(cat "$work/simulate.txt")"
sed 's/^/    apt: /' "$work/simulate.txt"
for library in "${graphical[@]}"; do
    grep -q "^Inst $library " "$work/simulate.txt" && fail "apt would install $library for corvane-launcherd"
done
step "corvane-launcherd pulls in $(wc -l <<<"$closure") packages, none of ${graphical[*]}"

# Who holds what: the launcher without a desktop, its client, the helpers, the unit, their pages and
# the documentation in corvane-launcherd; the window and all that the desktop shows in
# corvane-launcher; nothing in both, no stand-in server in either.
id=org.corvane.CorvaneLauncher
files_of() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ {print substr($6, 2)}' | sort; }
daemon_files="$(files_of "$daemon_deb")" desktop_files="$(files_of "$desktop_deb")"
# holds PACKAGE FILE...: the package's list has each file.
holds() {
    local package="$1" files file && shift
    [ "$package" = corvane-launcherd ] && files="$daemon_files" || files="$desktop_files"
    for file in "$@"; do grep -qx -- "$file" <<<"$files" || fail "$package lacks $file: $files"; done
}
holds corvane-launcherd /usr/bin/corvane-launcherd /usr/bin/corvanectl /usr/libexec/corvane-launcher/corvane-exec \
    /usr/libexec/corvane-launcher/corvane-log /usr/libexec/corvane-launcher/corvane-noutmp.so \
    /lib/systemd/system/corvane-launcherd@.service /usr/share/man/man1/corvane-launcherd.1.gz \
    /usr/share/man/man1/corvanectl.1.gz /usr/share/man/man5/corvane-launcher.ini.5.gz \
    /usr/share/bash-completion/completions/corvanectl \
    /usr/share/doc/corvane-launcherd/copyright /usr/share/doc/corvane-launcherd/changelog.gz
holds corvane-launcher /usr/bin/corvane-launcher /usr/share/man/man1/corvane-launcher.1.gz \
    /usr/share/applications/$id.desktop /usr/share/metainfo/$id.metainfo.xml \
    /usr/share/icons/hicolor/scalable/apps/$id.svg \
    /usr/share/corvane-launcher/launcherdata/{off,on,error}.ico \
    /usr/share/doc/corvane-launcher/copyright /usr/share/doc/corvane-launcher/changelog.gz
both="$(comm -12 <(echo "$daemon_files") <(echo "$desktop_files"))"
[ -z "$both" ] || fail "both packages hold: $both"
grep -E '^/usr/share/(applications|metainfo|icons)/|^/usr/bin/corvane-launcher$' <<<"$daemon_files" &&
    fail "corvane-launcherd holds what belongs to the desktop"
grep -E '/(login|char|map)-server$' <<<"$daemon_files$desktop_files" && fail "a package holds stand-in servers"
step "corvane-launcherd holds the headless programs, corvane-launcher the window, nothing both"

# An upgrade from the single corvane-launcher package of earlier versions, which held all these
# files, in a scratch dpkg database: corvane-launcherd alone is refused (Breaks), as it would leave
# that package without its files; both together take them over (Replaces), each file then owned by
# its new package.
old="$work/unsplit" scratch="$work/dpkg"
mkdir -p "$old/DEBIAN" "$scratch/var/lib/dpkg/"{info,updates,triggers}
touch "$scratch/var/lib/dpkg/"{status,available}
for deb in "$daemon_deb" "$desktop_deb"; do dpkg-deb -x "$deb" "$old" || fail "cannot unpack $deb"; done
printf '%s\n' "Package: corvane-launcher" "Version: 1.8" \
    "Architecture: $(dpkg-deb -f "$desktop_deb" Architecture)" \
    "Maintainer: $(dpkg-deb -f "$desktop_deb" Maintainer)" \
    "Description: the launcher in one package, as it was before" >"$old/DEBIAN/control"
dpkg-deb --root-owner-group -b "$old" "$work/unsplit.deb" >/dev/null || fail "cannot build the earlier package"
in_scratch() { dpkg --root="$scratch" --log=/dev/null --force-depends --force-script-chrootless "$@"; }
in_scratch -i "$work/unsplit.deb" >"$work/dpkg.log" 2>&1 ||
    fail "cannot install the earlier package: $(cat "$work/dpkg.log")"
in_scratch -i "$daemon_deb" >"$work/dpkg.log" 2>&1 &&
    fail "corvane-launcherd went in beside the earlier corvane-launcher, which then lacks its files"
grep -q "breaks corvane-launcher" "$work/dpkg.log" || fail "corvane-launcherd alone: $(cat "$work/dpkg.log")"
# Both, letting dpkg deconfigure what a Breaks names until its upgrade is unpacked, as apt does.
in_scratch --auto-deconfigure -i "$daemon_deb" "$desktop_deb" >"$work/dpkg.log" 2>&1 ||
    fail "the upgrade from the earlier package fails: $(cat "$work/dpkg.log")"
owner() { dpkg --root="$scratch" -S "$1" 2>&1 | sed 's/: .*//'; }
for package in corvane-launcher corvane-launcherd; do
    [ "$package" = corvane-launcherd ] && files="$daemon_files" || files="$desktop_files"
    while read -r file; do
        [ -e "$scratch$file" ] || fail "the upgrade lost $file"
        [ "$(owner "$file")" = "$package" ] || fail "after the upgrade $file belongs to $(owner "$file")"
    done <<<"$files"
    [ "$(dpkg --root="$scratch" -s "$package" | sed -n 's/^Version: //p')" = "$version" ] ||
        fail "$package is not at $version after the upgrade: $(dpkg --root="$scratch" -s "$package")"
done
step "an upgrade from the earlier single package hands its files to the two, none lost"

for deb in "$daemon_deb" "$desktop_deb"; do dpkg-deb -x "$deb" "$work/root" || fail "cannot unpack $deb"; done
prefix="$work/root/usr" share="$work/root/usr/share"
# The installed programs without a desktop link no graphical library.
for program in corvane-launcherd corvanectl; do
    ldd "$prefix/bin/$program" >"$work/ldd.txt" 2>&1 || fail "ldd $program: $(cat "$work/ldd.txt")"
    grep -q 'libQt6Core' "$work/ldd.txt" || fail "ldd $program did not read: $(cat "$work/ldd.txt")"
    grep -E 'libQt6(Gui|Widgets|OpenGL)|libX11|libxcb|libGL|libEGL|libwayland' "$work/ldd.txt" &&
        fail "$program links a graphical library"
done
step "ldd: corvane-launcherd and corvanectl link no Qt Gui, Qt Widgets or X library"
for size in 16 22 24 32 48 64 128 256; do
    png="$share/icons/hicolor/${size}x${size}/apps/$id.png"
    file "$png" | grep -q "PNG image data, $size x $size" || fail "no ${size}px icon: $(file "$png")"
done
desktop-file-validate "$share/applications/$id.desktop" || fail "desktop-file-validate"
appstreamcli validate --pedantic --no-net "$share/metainfo/$id.metainfo.xml" || fail "appstreamcli validate"
zcat "$share/man/man1/corvane-launcher.1.gz" | grep -q '^\.SH OPTIONS' || fail "the man page does not read"
zcat "$share/man/man5/corvane-launcher.ini.5.gz" | grep -q '^\.SH \[Schedule NAME\]' ||
    fail "the installation file's man page does not read"
# The README, the manual and the examples, as they are in the source, with the launcher without a
# desktop.
doc="$share/doc/corvane-launcherd"
for file in README.md manual/index.md manual/installation-file.md manual/files.md \
    examples/corvane-launcher.ini; do
    [ -f "$doc/$file" ] || fail "the package lacks /usr/share/doc/corvane-launcherd/$file"
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
echo "PASS: the packages install and their launcher runs the servers of the folder it is given"
