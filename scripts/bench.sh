#!/usr/bin/env bash
# Usage: scripts/bench.sh [--quick] [--baseline REV]
# Installs what is missing, builds bench/ in Release (build-bench/), runs every benchmark and prints
# one table (Markdown); --quick shortens the runs, for development only. --baseline REV also builds
# the launcher of git revision REV (with its own bench/ and this tree's stand-ins) and runs the
# status tick, crash wake, log and console cases with it too, side by side. Details:
# build-bench/bench.log.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/bench-common.sh"

options=()
baseline=""
while [ $# -gt 0 ]; do
    case "$1" in
    --quick) options=(--quick) ;;
    --baseline) baseline="${2:?}"; shift ;;
    *) sed -n '2,7s/^# \{0,1\}//p' "$0" >&2; exit 2 ;;
    esac
    shift
done

build_bench
if [ -n "$baseline" ]; then
    build_baseline "$baseline"
fi
CORVANE_BENCH_TMP="$(mktemp -d)"
export CORVANE_BENCH_TMP
rows="$CORVANE_BENCH_TMP/rows"
log="$bench_build/bench.log"
trap 'rm -rf "$CORVANE_BENCH_TMP"' EXIT
: >"$log"
printf 'NOTE\t%s\n' "Each case runs in a process of its own, as the first process of a PID namespace of its own where the machine allows it: the launcher sees only the processes of that case, and all of them end with it. The launcher runs as the real window and backend (offscreen Qt platform) on a private tmux socket; CPU times come from getrusage (the launcher, and the tmux clients it waited for) and /proc/PID/stat (the tmux server)." >"$rows"

# run_case PROGRAM CASE LABEL: one case in a PID namespace of its own, its rows into the table;
# a row that does not name LABEL itself gets " [LABEL]" after its first column.
run_case() {
    echo "running: $2${3:+ [$3]}" >&2
    status=0
    CORVANE_BENCH_LABEL="$3" run_isolated "$1" "$2" "${options[@]}" >"$CORVANE_BENCH_TMP/out" \
        2>>"$log" || status=$?
    cat "$CORVANE_BENCH_TMP/out" >>"$log"
    awk -F'\t' -v OFS='\t' -v label="$3" '
        $1 == "ROW" && label != "" && index($2, "[" label "]") == 0 { $2 = $2 " [" label "]" }
        $1 == "ROW" || $1 == "NOTE"
    ' "$CORVANE_BENCH_TMP/out" >>"$rows"
    if [ "$status" -ne 0 ]; then
        printf 'ROW\t%s\tdid not finish (exit %s)\t-\t-\tFAIL\n' "$2${3:+ [$3]}" "$status" >>"$rows"
    fi
}

for case in processes console tick tick-coloured tick-plaintext idle log startup priority \
    consolelog crashwake crashwake-timer waitlatency status-load web-panel web-panel-flood \
    alert-load backup-load health \
    resources history-size charts-open peers; do
    run_case "$bench_program" "$case" "${baseline:+this tree}"
done
CORVANE_STANDIN_QUIET=1 run_case "$bench_program" tick "${baseline:+this tree}"
CORVANE_STANDIN_QUIET=1 run_case "$bench_program" web-panel "${baseline:+this tree}"
for kind in history flood longline combining stalled; do
    if [ -n "$baseline" ]; then
        run_case "$baseline_program" "hostile-$kind" "$baseline"
    fi
    run_case "$bench_program" "hostile-$kind" "${baseline:+this tree}"
done
if [ -n "$baseline" ]; then
    run_case "$baseline_program" tick "$baseline"
    CORVANE_STANDIN_QUIET=1 run_case "$baseline_program" tick "$baseline"
    run_case "$baseline_program" crashwake "$baseline"
    run_case "$baseline_program" log "$baseline"
fi

echo
echo "Benchmarks, $(date '+%Y-%m-%d %H:%M'), $(nproc) cores${options:+, quick run}"
echo
awk -F'\t' '
    NR == 1 { print "| what | measured | compared with | ratio / target | result |"; print "|---|---|---|---|---|" }
    $1 == "ROW" { printf "| %s | %s | %s | %s | %s |\n", $2, $3, $4, $5, $6 }
    $1 == "NOTE" { notes[++n] = $2 }
    END { if (n) print ""; for (i = 1; i <= n; ++i) printf "%d. %s\n", i, notes[i] }
' "$rows"
# The baseline's rows are there to compare with; only this tree's decide the exit status.
if [ -n "$baseline" ]; then
    ! grep -vF "[$baseline]" "$rows" | grep -q $'\tFAIL$'
else
    ! grep -q $'\tFAIL$' "$rows"
fi
