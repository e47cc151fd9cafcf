#!/usr/bin/env bash
# Usage: scripts/bench.sh [--quick]
# Installs what is missing, builds bench/ in Release (build-bench/), runs every benchmark and prints
# one table (Markdown); --quick shortens the runs, for development only. Details: build-bench/bench.log.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/bench-common.sh"

options=()
if [ "${1:-}" = "--quick" ]; then
    options=(--quick)
elif [ $# -gt 0 ]; then
    sed -n '2,4s/^# \{0,1\}//p' "$0" >&2
    exit 2
fi

build_bench
CORVANE_BENCH_TMP="$(mktemp -d)"
export CORVANE_BENCH_TMP
rows="$CORVANE_BENCH_TMP/rows"
log="$bench_build/bench.log"
trap 'rm -rf "$CORVANE_BENCH_TMP"' EXIT
: >"$log"
printf 'NOTE\t%s\n' "Each case runs in a process of its own, as the first process of a PID namespace of its own where the machine allows it: the launcher sees only the processes of that case, and all of them end with it. The launcher runs as the real window and backend (offscreen Qt platform) on a private tmux socket; CPU times come from getrusage (the launcher, and the tmux clients it waited for) and /proc/PID/stat (the tmux server)." >"$rows"

for case in processes console tick idle log startup priority; do
    echo "running: $case" >&2
    status=0
    run_isolated "$bench_program" "$case" "${options[@]}" >"$CORVANE_BENCH_TMP/out" \
        2>>"$log" || status=$?
    cat "$CORVANE_BENCH_TMP/out" >>"$log"
    grep -E '^(ROW|NOTE)'$'\t' "$CORVANE_BENCH_TMP/out" >>"$rows" || true
    if [ "$status" -ne 0 ]; then
        printf 'ROW\t%s\tdid not finish (exit %s)\t-\t-\tFAIL\n' "$case" "$status" >>"$rows"
    fi
done

echo
echo "Benchmarks, $(date '+%Y-%m-%d %H:%M'), $(nproc) cores${options:+, quick run}"
echo
awk -F'\t' '
    NR == 1 { print "| what | measured | compared with | ratio / target | result |"; print "|---|---|---|---|---|" }
    $1 == "ROW" { printf "| %s | %s | %s | %s | %s |\n", $2, $3, $4, $5, $6 }
    $1 == "NOTE" { notes[++n] = $2 }
    END { if (n) print ""; for (i = 1; i <= n; ++i) printf "%d. %s\n", i, notes[i] }
' "$rows"
! grep -q $'\tFAIL$' "$rows"
