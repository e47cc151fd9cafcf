#!/usr/bin/env bash
# Builds the launcher in Release (build-package/, or CORVANE_PACKAGE_DIR) and makes its Debian
# package there: corvane-launcher_<version>_<arch>.deb. Install it with: sudo apt install ./<file>
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${CORVANE_PACKAGE_DIR:-$root/build-package}"

"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DCORVANE_BUILD_TESTS=OFF -DCORVANE_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target corvane-launcher corvane-exec corvane-log corvane-manpage
rm -f "$build"/corvane-launcher_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/corvane-launcher_*.deb
