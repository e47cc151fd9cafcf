#!/usr/bin/env bash
# Installs what the launcher needs on Debian 12, and nothing that is already there. Safe to run
# again and again.
#
# Usage: scripts/setup.sh [--for-tests | --for-bench | --for-package | --for-screenshots]
#   (none)             what building and running the launcher needs
#   --for-package      also what making the Debian package needs
#   --for-screenshots  also the private desktop that the screenshots are taken on
#   --for-tests        also everything the test suite uses (desktops, trays, Prometheus, a real
#                      game server, lintian)
#   --for-bench        the test tooling and the peers measured beside the launcher
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    # the HTTP server module's CMake files need the WebSockets ones, which it does not pull in
    qt6-base-dev qt6-httpserver-dev qt6-websockets-dev libgl-dev
    qt6-charts-dev libqt6sql6-sqlite # the charts page and the history database
    libqt6opengl6-dev # Qt Charts' CMake files need the OpenGL ones, which it does not pull in
    libarchive-dev # backups
    libsodium-dev  # the web panel's password hashes
    liboath-dev    # the web panel's second factor
    libjs-chart.js # the web panel's charts
    tmux procps
    fonts-wine # the window's font
)
package_tools=(dpkg-dev file desktop-file-utils appstream)
desktop_tools=(xvfb xauth xdotool icewm x11-utils x11-session-utils x11-xserver-utils)
test_tools=(
    "${package_tools[@]}" "${desktop_tools[@]}"
    imagemagick # pictures of the window, read back by the desktop tests
    xfce4-panel dbus-daemon libglib2.0-bin # the D-Bus tray
    prometheus curl
    openssl # the alerts test makes its own TLS certificate
    # a real game server, run as the map server, and the package's check: only the tests ask for
    # them, so that setting up to run the launcher installs no game server
    minetest-server lintian
    chromium chromium-driver python3-selenium # the web panel in a real browser
)
case "${1:-}" in
    "") ;;
    --for-package) packages+=("${package_tools[@]}") ;;
    --for-screenshots) packages+=("${desktop_tools[@]}" imagemagick) ;;
    --for-tests) packages+=("${test_tools[@]}") ;;
    # scripts/bench.sh measures supervisord beside the launcher (and pm2, which
    # scripts/bench-common.sh installs with npm into the build folder)
    --for-bench) packages+=("${test_tools[@]}" supervisor) ;;
    *)
        echo "usage: $0 [--for-tests | --for-bench | --for-package | --for-screenshots]" >&2
        exit 2
        ;;
esac

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
