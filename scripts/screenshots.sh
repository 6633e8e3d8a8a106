#!/usr/bin/env bash
# Makes the pictures of the windows for the documentation from programs already built (it builds
# nothing): the login window and the main window while broadcasting (the broadcast end-to-end
# test), the secondary windows (the windows' screenshot test) and the skin sample, each on a
# private X display.
#
#   scripts/screenshots.sh OUT_DIR [BUILD_DIR]     (the project keeps them in docs/)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=${1:?usage: scripts/screenshots.sh OUT_DIR [BUILD_DIR]}
build=${2:-"$root/build"}
tests="$build/tests"
for program in windows_screenshot_test skin_sample_test broadcast_e2e_test; do
  [[ -x $tests/$program ]] || { echo "screenshots.sh: $tests/$program is missing: build first (scripts/build.sh)" >&2; exit 1; }
done
mkdir -p "$out"
out=$(cd "$out" && pwd)
fixtures="$root/tests/fixtures"
export QT_QPA_PLATFORM=xcb STRIMO_SCREENSHOT_DIR="$out"
"$fixtures/with-xvfb.sh" "$tests/windows_screenshot_test"
STRIMO_SKIN_SAMPLE="$out/skin-sample.png" "$fixtures/with-xvfb.sh" "$tests/skin_sample_test"
"$fixtures/with-xvfb.sh" "$fixtures/with-pulse.sh" "$tests/broadcast_e2e_test" \
  --gtest_filter="*BroadcastReachesNginx*"
ls -l "$out"/*.png
