#!/usr/bin/env bash
# Installs what the launcher needs to build, run and be tested on Debian 12, and nothing that is
# already there. Safe to run again and again.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    # the HTTP server module's CMake files need the WebSockets ones, which it does not pull in
    qt6-base-dev qt6-httpserver-dev qt6-websockets-dev libgl-dev
    qt6-charts-dev libqt6sql6-sqlite # the charts page and the history database
    libqt6opengl6-dev # Qt Charts' CMake files need the OpenGL ones, which it does not pull in
    libarchive-dev # backups
    tmux procps
    fonts-wine
    xvfb xauth xdotool icewm x11-utils x11-session-utils x11-xserver-utils
    imagemagick # scripts/screenshots.sh
    xfce4-panel dbus-daemon libglib2.0-bin
    prometheus curl
    openssl # the alerts test makes its own TLS certificate
    dpkg-dev file desktop-file-utils appstream
)
# The tests also run a real game server: Debian's minetest-server, as the map server, and check
# the Debian package with lintian. Only the test command asks for them, so that setting up to run
# the launcher installs no game server.
if [ "${1:-}" = "--for-tests" ]; then
    packages+=(minetest-server lintian)
fi
# scripts/bench.sh measures supervisord beside the launcher (and pm2, which scripts/bench-common.sh
# installs with npm into the build folder).
if [ "${1:-}" = "--for-bench" ]; then
    packages+=(supervisor)
fi

missing=()
for pkg in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$pkg")
    fi
done

if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
