#!/usr/bin/env bash
# Installs the npm packages of the reference service (hls.js for the room page; playwright-core
# for the browser test) into service/node_modules from the committed lockfile. Brings Node.js and
# npm from Debian first when the machine has none. Does nothing when they are already in place.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dir="$root/service"

if ! command -v npm >/dev/null 2>&1; then
  echo "service-web-deps: installing nodejs and npm from Debian"
  "$root/scripts/install-deps.sh" nodejs npm
fi

# Two test runs may get here at once: one installs, the other waits for it.
exec 9>"$dir/.web-deps.lock"
flock 9
stamp="$dir/node_modules/.strimo-lock-sha256"
want=$(sha256sum "$dir/package-lock.json" | cut -d' ' -f1)
if [[ -f "$stamp" && "$(cat "$stamp")" == "$want" && -f "$dir/node_modules/hls.js/dist/hls.min.js" ]]; then
  exit 0
fi
echo "service-web-deps: npm ci in $dir"
(cd "$dir" && npm ci --no-audit --no-fund --loglevel=error)
echo "$want" >"$stamp"
