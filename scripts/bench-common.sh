# Sourced by scripts/bench.sh and scripts/crash-loop.sh: builds the benchmark program and runs it
# in a PID namespace of its own.

bench_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bench_build="${CORVANE_BENCH_BUILD_DIR:-$bench_root/build-bench}"
bench_program="$bench_build/bench/corvane-bench"
# pm2, measured beside the launcher and supervisord by the peers case; npm installs it
# into the build folder, where corvane-bench looks for it (never globally, never into ~/.pm2).
bench_pm2_version="7.0.4"

# Installs what is missing and builds the launcher, the stand-ins and corvane-bench, in Release.
build_bench() {
    "$bench_root/scripts/setup.sh" --for-bench
    install_pm2
    cmake -S "$bench_root" -B "$bench_build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCORVANE_BUILD_TESTS=OFF -DCORVANE_BUILD_BENCH=ON >/dev/null
    cmake --build "$bench_build" --target corvane-bench >/dev/null
}

# Installs pm2 $bench_pm2_version with npm into $bench_build/pm2, where npm is available and it is
# not there yet; says so when it cannot. A version npm no longer has is replaced by the newest of
# the same major version. Never fails the build: the peers case then measures pm2 no more.
install_pm2() {
    local prefix="$bench_build/pm2" installed=""
    if [ -f "$prefix/node_modules/pm2/package.json" ]; then
        installed="$(sed -n 's/^ *"version": *"\([^"]*\)".*/\1/p' "$prefix/node_modules/pm2/package.json" | head -1)"
    fi
    if [ "$installed" = "$bench_pm2_version" ]; then
        return 0
    fi
    if ! command -v npm >/dev/null; then
        echo "note: npm is not installed, so pm2 is not either: the peers case measures the launcher and supervisord only" >&2
        return 0
    fi
    mkdir -p "$prefix"
    local wanted="pm2@$bench_pm2_version"
    if ! npm install --prefix "$prefix" --no-audit --no-fund --save-exact --loglevel=error "$wanted" >&2; then
        wanted="pm2@${bench_pm2_version%%.*}"
        echo "note: $bench_pm2_version could not be installed; trying $wanted" >&2
        npm install --prefix "$prefix" --no-audit --no-fund --save-exact --loglevel=error "$wanted" >&2 ||
            { echo "note: pm2 could not be installed with npm: the peers case measures it no more" >&2; return 0; }
    fi
    echo "note: pm2 $(sed -n 's/^ *"version": *"\([^"]*\)".*/\1/p' "$prefix/node_modules/pm2/package.json" | head -1) installed in $prefix" >&2
}

# build_baseline REV: the launcher of git revision REV with that revision's own bench/ (this
# tree's bench/ drives this tree's API, which an older revision may not have) and this tree's
# stand-in servers, built in Release beside build-bench/; sets baseline_program. The revision is
# taken with git archive, so the repository itself is not touched.
build_baseline() {
    local source="$bench_build-baseline/source" build="$bench_build-baseline/build"
    rm -rf "$source"
    mkdir -p "$source"
    git -C "$bench_root" archive "$1" | tar -x -C "$source"
    rm -rf "$source/servers"
    cp -r "$bench_root/servers" "$source/"
    cmake -S "$source" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCORVANE_BUILD_TESTS=OFF -DCORVANE_BUILD_BENCH=ON >/dev/null
    cmake --build "$build" --target corvane-bench >/dev/null
    baseline_program="$build/bench/corvane-bench"
}

# Runs the command as the first process of a new PID namespace with its own /proc, when this
# machine allows it: the launcher under test then sees only the run's own processes (the
# stand-ins of other runs on the machine cannot pass for its servers), and every process the run
# started ends with it, however it ends.
run_isolated() {
    if unshare --pid --fork --mount-proc --kill-child true 2>/dev/null; then
        unshare --pid --fork --mount-proc --kill-child "$@"
    elif unshare --user --map-root-user --pid --fork --mount-proc --kill-child true 2>/dev/null; then
        unshare --user --map-root-user --pid --fork --mount-proc --kill-child "$@"
    else
        echo "note: no PID namespace here; other stand-in servers on this machine may disturb the figures" >&2
        "$@"
    fi
}
