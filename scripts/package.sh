#!/usr/bin/env bash
# Builds the launcher in Release (build-package/, or CORVANE_PACKAGE_DIR) and makes its Debian
# packages there: corvane-launcherd_<version>_<arch>.deb (the launcher without a desktop,
# corvanectl and the helpers) and corvane-launcher_<version>_<arch>.deb (the desktop launcher, which
# depends on the first). Install them with: sudo apt install ./corvane-launcher*_<version>_<arch>.deb
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${CORVANE_PACKAGE_DIR:-$root/build-package}"

"$root/scripts/setup.sh" --for-package
# Debian's hardening flags: fortified functions (which need optimisation, as Release has), stack
# protector, and relocations read-only and bound at start.
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DCMAKE_CXX_FLAGS="$CPPFLAGS $CXXFLAGS" -DCMAKE_C_FLAGS="$CPPFLAGS $CFLAGS" \
    -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" -DCMAKE_MODULE_LINKER_FLAGS="$LDFLAGS" \
    -DCORVANE_BUILD_TESTS=OFF -DCORVANE_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target corvane-launcher corvane-launcherd corvanectl corvane-exec corvane-log \
    corvane-noutmp corvane-manpage corvane-changelog
rm -f "$build"/corvane-launcher_*.deb "$build"/corvane-launcherd_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/corvane-launcherd_*.deb "$build"/corvane-launcher_*.deb
