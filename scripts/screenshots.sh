#!/usr/bin/env bash
# Re-makes the screenshots in docs/ of the login window and the main window while broadcasting
# by running the broadcast end-to-end test with the real windows on a private display.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-"$root/build"}
cmake --build "$build" -j2 --target broadcast_e2e_test
fixtures="$root/tests/fixtures"
STRIMO_SCREENSHOT_DIR="$root/docs" QT_QPA_PLATFORM=xcb \
  "$fixtures/with-xvfb.sh" "$fixtures/with-pulse.sh" "$build/tests/broadcast_e2e_test" \
  --gtest_filter="*BroadcastReachesNginx*"
ls -l "$root/docs"/login-window.png "$root/docs"/main-window-broadcasting.png
