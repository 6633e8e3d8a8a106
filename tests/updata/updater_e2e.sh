#!/usr/bin/env bash
# The real StrimoUpdata against the reference service's update host, under Xvfb: an old
# installation is updated from the sample release and the broadcaster started; the next run
# finds it current; a running broadcaster or updater keeps it from running at all.
# Usage: updater_e2e.sh SOURCE_DIR BUILD_DIR  (DISPLAY set by with-xvfb.sh)
set -euo pipefail
src=$1
build=$2
# shellcheck source=../support/testenv.sh
source "$src/tests/support/testenv.sh" updater-e2e
# shellcheck source=../support/checks.sh
source "$src/tests/support/checks.sh"

port=$(free_port)
rtmp=$(free_port)
data="$work/service"
at_exit "$src/scripts/service.sh" stop --data "$data"

"$src/scripts/service.sh" start --data "$data" --port "$port" --rtmp-port "$rtmp" --build "$build" >/dev/null

# The sample release, plus a broadcaster of its own: the one installed must be the one started.
cat > "$data/updata/strimo" <<'SH'
#!/bin/sh
echo "2 $(pwd)" >> started.txt
SH
chmod 644 "$data/updata/strimo"
"$build/service/strimo-service" make-update --version 2 "$data/updata" >/dev/null

# An installation of version 1 whose version file points at this update host, with a stand-in
# broadcaster that leaves a mark when it is started (its version, and from where).
inst="$work/installation"
mkdir -p "$inst"
cp -r "$build/installation/res" "$inst/res"
cp "$build/installation/StrimoUpdata" "$build/installation/strimo-crypt" "$inst/"
echo "old notes" > "$inst/UpdataInfo.txt"
cat > "$work/version.plain" <<XML
<version ver="1"><server>http://127.0.0.1:$port</server><base>/updata</base><check>check</check><desc>updata.xml</desc></version>
XML
"$inst/strimo-crypt" encrypt "$work/version.plain" "$inst/version.xml"
cat > "$inst/strimo" <<'SH'
#!/bin/sh
echo "1 $(pwd)" >> started.txt
SH
chmod +x "$inst/strimo"

run_updater() {  # runs the updater in the installation, at most 60 s; echoes its status
  (cd "$inst" && timeout 60 ./StrimoUpdata >/dev/null 2>&1; echo $? > "$work/status")
  cat "$work/status"
}
started() { [[ -f "$inst/started.txt" ]] && (($(wc -l < "$inst/started.txt") >= $1)); }
# Waits for the stand-in broadcaster's mark, N lines of it: up to 30 s, a sanitizer build
# starts slowly.
wait_started() { wait_until 300 started "$1"; }
version() { "$inst/strimo-crypt" decrypt "$inst/version.xml" | grep -o 'ver="[^"]*"'; }

start=$(date +%s)
status=$(run_updater)
took=$(($(date +%s) - start))
check "update run exits with status 0" test "$status" = 0
check "the splash window showed for about five seconds ($took s)" test "$took" -ge 5
check "the new files are installed" cmp -s "$inst/UpdataInfo.txt" "$data/updata/UpdataInfo.txt"
check "files in sub-folders are installed" test -f "$inst/res/release-note.txt"
check "the new version is recorded" test "$(version)" = 'ver="2"'
check "the broadcaster was started from the installation" wait_started 1
check "the broadcaster started is the new one, in the installation directory" \
  test "$(head -n 1 "$inst/started.txt")" = "2 $inst"
check "the new broadcaster is executable" test -x "$inst/strimo"

echo "local edit" > "$inst/UpdataInfo.txt"
status=$(run_updater)
check "a current installation exits with status 0" test "$status" = 0
check "a current installation starts the broadcaster at once" wait_started 2
check "a current installation starts the new broadcaster" test "$(sed -n 2p "$inst/started.txt")" = "2 $inst"
check "a current installation downloads nothing" grep -q "local edit" "$inst/UpdataInfo.txt"

# A running broadcaster keeps the updater from running: no window, no start, status 0.
mkdir -p "$work/running"
cp /bin/sleep "$work/running/strimo"
"$work/running/strimo" 30 &
blocker=$!
track "$blocker"
# It runs once its process is the program (the updater knows processes by their executable).
wait_until 50 eval '[[ $(readlink "/proc/$blocker/exe") == "$work/running/strimo" ]]'
start=$(date +%s)
status=$(run_updater)
took=$(($(date +%s) - start))
check "with the broadcaster running it exits with status 0" test "$status" = 0
check "with the broadcaster running it ends at once ($took s)" test "$took" -le 2
check "with the broadcaster running nothing is started" test "$(wc -l < "$inst/started.txt")" -eq 2
kill "$blocker" 2>/dev/null || true
wait "$blocker" 2>/dev/null || true

# The update host going away: the start-up check fails with its message, nothing changes,
# nothing starts. The box closes only through its OK button, clicked as a user would.
box_shown() { xdotool search --onlyvisible --name "STRIMO直播" >/dev/null 2>&1; }
click_ok() {  # waits for the message box and clicks its OK button; echoes the box's title
  local win="" x y
  wait_until 100 box_shown || return 1
  win=$(xdotool search --onlyvisible --name "STRIMO直播" 2>/dev/null | head -n 1)
  eval "$(xdotool getwindowgeometry --shell "$win")"
  # Escape and Return must not close it.
  xdotool key --window "$win" Escape Return
  sleep 0.3
  xdotool search --onlyvisible --name "STRIMO直播" >/dev/null || return 1
  xdotool mousemove $((X + 250)) $((Y + 170)) click 1
}
"$src/scripts/service.sh" stop --data "$data" >/dev/null
"$inst/strimo-crypt" encrypt "$work/version.plain" "$inst/version.xml"   # version 1 again
(cd "$inst" && timeout 60 ./StrimoUpdata >/dev/null 2>&1; echo $? > "$work/status") &
wait_until 100 box_shown || true
start=$(date +%s)
second=0
(cd "$inst" && timeout 20 ./StrimoUpdata >/dev/null 2>&1) || second=$?
took=$(($(date +%s) - start))
check "a second updater exits with status 0" test "$second" = 0
check "a second updater ends at once ($took s)" test "$took" -le 2
check "the message box is shown, ignores Escape and Return, and closes with OK" click_ok
wait
status=$(cat "$work/status")
check "without the update host it exits with status 0" test "$status" = 0
check "without the update host the version stays" test "$(version)" = 'ver="1"'
check "without the update host nothing is started" test "$(wc -l < "$inst/started.txt")" -eq 2

summary
