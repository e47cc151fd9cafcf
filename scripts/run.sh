#!/usr/bin/env bash
# Builds the launcher and starts it on the bundled stand-in servers.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${CORVANE_BUILD_DIR:-$root/build}"

# The launcher is a desktop program: say so before spending minutes on a build it cannot show.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display to show the launcher on: run this from a desktop session, or under a virtual one with: xvfb-run -a $0" >&2
    exit 1
fi

"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCORVANE_BUILD_TESTS=OFF -DCORVANE_BUILD_BENCH=OFF >/dev/null
cmake --build "$build"
exec "$build/launcher/corvane-launcher"
