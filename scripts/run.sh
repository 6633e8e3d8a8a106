#!/usr/bin/env bash
# Installs what is needed, builds, and runs the main job in the installation directory.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$root/build"
inst="$root/build/installation"
echo "Installation directory: $inst"
echo "== default/config.xml (deciphered)"
"$inst/strimo-crypt" decrypt "$inst/default/config.xml"
echo "== default/usr.xml (deciphered)"
"$inst/strimo-crypt" decrypt "$inst/default/usr.xml"
