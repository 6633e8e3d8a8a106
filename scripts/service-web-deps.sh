#!/usr/bin/env bash
# Installs the npm packages of the reference service into service/node_modules from the committed
# lockfile: for running, the room page's player (hls.js) alone; with --tests also the browser
# driver of its tests (playwright-core). Node.js and npm are Debian packages of the run set
# (scripts/install-deps.sh). Does nothing when what is asked for is already in place.
#
#   scripts/service-web-deps.sh [--tests]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dir="$root/service"
mode=run
case ${1:-} in
  --tests) mode=tests ;;
  "") ;;
  *) echo "usage: scripts/service-web-deps.sh [--tests]" >&2; exit 2 ;;
esac

if ! command -v npm >/dev/null 2>&1; then
  echo "service-web-deps: npm is missing: scripts/install-deps.sh installs it" >&2
  exit 1
fi

# Two runs may get here at once: one installs, the other waits for it.
exec 9>"$dir/.web-deps.lock"
flock 9
stamp="$dir/node_modules/.strimo-lock-sha256"
want=$(sha256sum "$dir/package-lock.json" | cut -d' ' -f1)
# The stamp is the lockfile's hash and what was installed; the tests' set holds the run set.
if [[ -f "$stamp" && -f "$dir/node_modules/hls.js/dist/hls.min.js" ]]; then
  read -r have_sum have_mode <"$stamp" || true
  if [[ $have_sum == "$want" && ($have_mode == tests || $have_mode == "$mode") ]]; then
    exit 0
  fi
fi
omit=(--omit=dev)
if [[ $mode == tests ]]; then
  omit=()
  echo "service-web-deps: installing the room page's player and the tests' browser driver (npm ci in $dir)"
else
  echo "service-web-deps: installing the room page's player, hls.js (npm ci in $dir)"
fi
(cd "$dir" && npm ci "${omit[@]}" --no-audit --no-fund --loglevel=error)
echo "$want $mode" >"$stamp"
