#!/usr/bin/env bash
# Usage: scripts/crash-loop.sh [minutes, default 30]
# Runs the real launcher (1 s interval, 5 s crash notice) with a stand-in map server that exits at
# once on every start; prints relaunches, memory, descriptors and the slowest event latency.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/bench-common.sh"

minutes="${1:-30}"
if ! [[ "$minutes" =~ ^[0-9]+([.][0-9]+)?$ ]]; then
    sed -n '2,4s/^# \{0,1\}//p' "$0" >&2
    exit 2
fi

build_bench
CORVANE_BENCH_TMP="$(mktemp -d)"
export CORVANE_BENCH_TMP
trap 'rm -rf "$CORVANE_BENCH_TMP"' EXIT
echo "crash loop for $minutes minutes; Ctrl-C ends it early with the figures so far" >&2
run_isolated "$bench_program" crashloop --minutes "$minutes" 2> >(grep -v '^QStandardPaths' >&2)
