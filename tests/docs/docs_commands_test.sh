#!/usr/bin/env bash
# What the man page, the README and the manual show an operator is what the launcher does: the
# options and their texts of --help, the line --version prints, the commands that find the tmux
# socket of a server folder, run as shown on the socket that a launcher started on a folder reached
# through a link names in its log, the manual's commands that remove every file a user's launcher
# wrote, and the source layout page's libraries and folders, which are the build's.
#
# Usage: docs_commands_test.sh SOURCE_FOLDER MAN_PAGE LAUNCHER
# MAN_PAGE is the configured one of the build (its version filled in).
set -uo pipefail
source_dir="${1:?usage: $0 SOURCE_FOLDER MAN_PAGE LAUNCHER}" man_page="${2:?}" launcher="${3:?}"
readme="$source_dir/README.md"
manual="$source_dir/docs/manual"
# The shared helpers and clean-up, without a desktop: the launcher runs offscreen, with the user's
# own configuration and state folders under the run's home.
desktop_tools=""
# shellcheck source=../e2e/desktop_session.sh
source "$(dirname "${BASH_SOURCE[0]}")/../e2e/desktop_session.sh"
export QT_QPA_PLATFORM=offscreen
unset XDG_CONFIG_HOME XDG_STATE_HOME XDG_DATA_HOME XDG_CACHE_HOME DISPLAY

# The man page's source, with the escapes of its shown text undone.
man_text="$(sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' "$man_page")"

# ---- --help and --version ----------------------------------------------------------------------

# One line per option, "OPTION: DESCRIPTION", sorted: from the man page's OPTIONS entries (.TP,
# the option line, its text) and from --help (an option line and its indented continuations).
man_options() {
    sed -n '/^\.SH OPTIONS/,/^\.\(SH\|PP\)/p' <<<"$man_text" | awk '
        function flush() { if (option != "") print option ": " text; option = ""; text = "" }
        /^\.TP/ { flush(); want = 1; next }
        /^\.(SH|PP)/ { flush(); next }
        want { sub(/^\.B[IR]? /, ""); gsub(/ "|" /, ""); gsub(/"/, ""); option = $0; want = 0; next }
        option != "" { text = text (text == "" ? "" : " ") $0 }
        END { flush() }' | sed -E 's/ +/ /g' | sort
}
help_options() {
    awk '
        function flush() { if (option != "") print option ": " text; option = "" }
        /^Options:/ { inside = 1; next }
        inside && /^$/ { flush(); inside = 0 }
        inside && /^  -/ { flush(); line = $0; sub(/^ +/, "", line); split(line, parts, /  +/)
                           option = parts[1]; text = parts[2]; next }
        inside && option != "" { line = $0; sub(/^ +/, "", line); text = text " " line }
        END { flush() }' | sed -E -e 's/<([a-z]+)>/\1/' -e 's/ +/ /g' | sort
}
help="$(env -u DISPLAY "$launcher" --help)" || fail "--help ended with status $?"
[ -n "$(man_options)" ] && [ -n "$(help_options <<<"$help")" ] || fail "no options read: $help"
diff <(man_options) <(help_options <<<"$help") >"$work/options.diff" ||
    fail "the man page's OPTIONS (<) are not those of --help (>):$(printf '\n')$(cat "$work/options.diff")"
shown_version="$(sed -n '/--version$/,/^\.fi/p' <<<"$man_text" | grep '^corvane-launcher [0-9]')"
[ -n "$shown_version" ] || fail "the man page shows no --version line"
[ "$(env -u DISPLAY "$launcher" --version)" = "$shown_version" ] ||
    fail "--version prints '$("$launcher" --version)', the man page shows '$shown_version'"
step "the man page's options and --version line are what the launcher prints"

# ---- the commands that find a server folder's tmux socket ------------------------------------

# The shown commands name the server folder /srv/game; the README's and the manual's are inside
# ```sh blocks.
sh_blocks() { sed -n '/^```sh$/,/^```$/p' "$@" | grep -v '^```'; }
shown_commands() {
    { sh_blocks "$readme" "$manual"/*.md | sed "s/^/docs: /"
      grep '^tmux ' <<<"$man_text" | sed "s/^/man page: /"; } | grep 'sha256sum' | grep '/srv/game'
}
mapfile -t commands < <(shown_commands)
grep -q '^docs: .* ls$' < <(printf '%s\n' "${commands[@]}") || fail "the manual shows no command that lists the consoles"
grep -q '^docs: .* kill-server$' < <(printf '%s\n' "${commands[@]}") || fail "the manual shows no command that ends the consoles"
grep -q '^man page: .* ls$' < <(printf '%s\n' "${commands[@]}") || fail "the man page shows no command that lists the consoles"
((${#commands[@]} >= 4)) || fail "too few commands shown: ${commands[*]}"

# A server folder with a space, reached through a link: the socket is named after where it lies.
mkdir -p "$work/servers/game folder"
ln -s "servers/game folder" "$work/game-link"
folder="$work/game-link"
# shown COMMAND: the shown command, run by a shell on this run's folder and tmux socket folder.
shown() { bash -c "${1//\/srv\/game/\'$folder\'}"; }

"$launcher" --server-dir "$folder" >"$work/launcher.log" 2>&1 &
launcher_pid=$!
log="$work/servers/game folder/logs/launcher.log"
socket_line() { grep -o 'tmux socket "corvane-[0-9a-f]*"' "$log" 2>/dev/null; }
poll 20 socket_line >/dev/null || fail "the launcher's log names no tmux socket"
socket="$(socket_line | grep -o 'corvane-[0-9a-f]*')"
[[ "$socket" =~ ^corvane-[0-9a-f]{10}$ ]] || fail "the log names the socket '$socket'"
# The launcher starts tmux only with its servers: a console of the same name stands in for them,
# for the shown commands to list and end.
tmux -L "$socket" new-session -d -s "Map Server" "sleep 600" || fail "cannot start tmux on $socket"

for command in "${commands[@]}"; do
    # The socket each shown command names, with what it does left out.
    named="$(shown "echo ${command#*: tmux -L }" | awk '{ print $1 }')"
    [ "$named" = "$socket" ] || fail "${command%%: *} names the socket $named, the launcher uses $socket: $command"
done
for command in "${commands[@]}"; do
    [[ "$command" == *" ls" ]] || continue
    shown "${command#*: }" | grep -q "^Map Server: " ||
        fail "${command%%: *}'s command does not list the launcher's consoles: $command"
done
step "every shown command names the launcher's socket $socket, and the shown ls lists its console"

kill_server="$(printf '%s\n' "${commands[@]}" | grep '^docs: .* kill-server$' | head -n 1)"
shown "${kill_server#*: }" || fail "the shown kill-server failed: $kill_server"
tmux -L "$socket" ls >/dev/null 2>&1 && fail "the consoles' tmux server still runs after: $kill_server"
step "the shown kill-server ends the consoles' tmux server"
kill -TERM "$launcher_pid"
poll 20 process_ended "$launcher_pid" || fail "the launcher did not end on SIGTERM"
step "the launcher ended on SIGTERM"

# ---- the manual's commands that remove what a user's launcher wrote -------------------------------

# A logs folder others may write to is not used: the logs go to the state folder instead.
mkdir -p "$work/shared/logs" && chmod 777 "$work/shared/logs"
"$launcher" --server-dir "$work/shared" >>"$work/launcher.log" 2>&1 &
launcher_pid=$!
poll 20 bash -c 'ls "$HOME"/.local/state/CorvaneLauncher/logs-*/launcher.log' >/dev/null 2>&1 ||
    fail "the launcher on a folder whose logs others may write wrote no log under the state folder"
kill -TERM "$launcher_pid"
poll 20 process_ended "$launcher_pid" || fail "the second launcher did not end on SIGTERM"
# Start at Login's entry, as the tray menu writes it.
mkdir -p "$HOME/.config/autostart" &&
    touch "$HOME/.config/autostart/org.corvane.CorvaneLauncher-0123456789.desktop"
# What lies there of the launcher's, named from the work folder (whose own name says corvane).
launchers_files() { find "$HOME" "$XDG_RUNTIME_DIR" -mindepth 1 | sed "s|^$work/||" | grep -i corvane; }
written="$(launchers_files)"
grep -q 'CorvaneLauncher.ini$' <<<"$written" && grep -q '^home/.local/state/' <<<"$written" ||
    fail "the launchers wrote neither settings nor state: $written"
mapfile -t removals < <(sed -n '/^## Uninstalling/,/^## /p' "$manual/files.md" | sh_blocks /dev/stdin |
    grep '^rm ' | sed 's/ *#.*//')
((${#removals[@]} >= 3)) || fail "the manual shows too few commands that remove a user's files: ${removals[*]}"
for command in "${removals[@]}"; do bash -c "$command" || fail "the shown '$command' failed"; done
left="$(launchers_files)"
[ -z "$left" ] || fail "the manual's removals (${removals[*]}) leave: $left"
step "the manual's ${#removals[@]} removals leave nothing of the launcher under the home and runtime folders"

# ---- the run command without a display -------------------------------------------------------

# It says so in one line, before it installs or builds anything.
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM CORVANE_BUILD_DIR="$work/run-build" \
    bash "$source_dir/scripts/run.sh" >"$work/run.out" 2>&1
run_status=$?
[ "$run_status" -eq 1 ] || fail "scripts/run.sh without a display ended with $run_status: $(cat "$work/run.out")"
[ "$(wc -l <"$work/run.out")" -eq 1 ] && grep -q '^No display' "$work/run.out" ||
    fail "scripts/run.sh without a display printed: $(cat "$work/run.out")"
[ -e "$work/run-build" ] && fail "scripts/run.sh without a display made its build folder"
step "scripts/run.sh without a display says so and builds nothing"
# ---- the source layout page -----------------------------------------------------------------------

layout="$source_dir/docs/dev/source-layout.md"
built="$(sed -n 's/^add_library(\(corvane_[a-z_]*\) .*/\1/p' "$source_dir/src/CMakeLists.txt" | sort -u)"
shown="$(grep '^src/' "$layout" | grep -o ' corvane_[a-z_]*' | tr -d ' ' | sort -u)"
[ -n "$built" ] && [ "$built" = "$shown" ] ||
    fail "the layout page names the libraries [$(echo $shown)], the build makes [$(echo $built)]"
for folder in "$source_dir"/src/*/ "$source_dir"/src/core/*/; do
    folder="${folder#"$source_dir/"}"
    grep -qF "\`$folder" "$layout" || grep -q "^${folder%/}[/ *]" "$layout" ||
        fail "the layout page does not name $folder"
done
step "the layout page names the build's $(echo "$built" | wc -l) libraries and every source folder"
echo "PASS: the documents show what the launcher does"
