#!/usr/bin/env bash
# Makes the Debian package `strimo` from a build tree and prints the path of the .deb.
#   scripts/package.sh [BUILD_DIR]     (default build/, made by scripts/build.sh)
# Builds only what the package holds, then CPack (cmake/Package.cmake) installs it into a staging
# folder, computes Depends with dpkg-shlibdeps and writes build/package/strimo_VERSION_ARCH.deb.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-"$root/build"}
[[ -f $build/CPackConfig.cmake ]] || { echo "package.sh: $build is not a configured build tree (scripts/build.sh)" >&2; exit 1; }
build=$(cd "$build" && pwd)
cmake --build "$build" -j "$(nproc)" --target strimo StrimoUpdata strimo-crypt skin-gen installation_defaults >&2
rm -f "$build"/package/strimo_*.deb
(cd "$build" && cpack --config CPackConfig.cmake) >&2
deb=$(ls "$build"/package/strimo_*.deb)
echo "$deb"
