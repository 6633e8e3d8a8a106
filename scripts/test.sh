#!/usr/bin/env bash
# Installs what is needed (with the packages only the tests use), builds the project twice (plain,
# and with AddressSanitizer and UndefinedBehaviorSanitizer) and runs every test in both trees.
# Exits non-zero when any test fails.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/install-deps.sh" --tests
# Before any test starts a service, whose nginx serves the player from node_modules.
"$root/scripts/service-web-deps.sh" --tests

"$root/scripts/build.sh" "$root/build"
"$root/scripts/build.sh" "$root/build-asan" -DSTRIMO_SANITIZE=ON

status=0
echo "== tests (plain build)"
ctest --test-dir "$root/build" --output-on-failure -j 2 || status=1
echo "== tests (address and undefined-behaviour sanitizers)"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir "$root/build-asan" --output-on-failure -j 2 || status=1
exit $status
