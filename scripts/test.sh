#!/usr/bin/env bash
# Builds the launcher, its tests and benchmarks with AddressSanitizer and UndefinedBehaviorSanitizer
# (the benchmarks only so that they keep building), and the Debian package (scripts/package.sh),
# then runs every test.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${CORVANE_TEST_BUILD_DIR:-$root/build-test}"

"$root/scripts/setup.sh" --for-tests
# ccache, where it is installed, keeps a rebuild short.
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCORVANE_SANITIZE=ON \
    -DCORVANE_BUILD_BENCH=ON "${launcher[@]}" >/dev/null
cmake --build "$build"
# The package test installs the package that this builds; building it is no part of test time.
CORVANE_PACKAGE_DIR="${CORVANE_PACKAGE_DIR:-$root/build-package}" "$root/scripts/package.sh" >/dev/null
export CORVANE_REQUIRE_PACKAGE=1

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$root/tests/lsan.supp:print_suppressions=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
cd "$build"
# A test that fails is run once more before it counts as failed; a second failure fails the run.
ctest --output-on-failure --timeout 300 -j2 --repeat until-pass:2
