#!/usr/bin/env bash
# The main job: installs what is needed, builds, starts the reference service and its streaming
# server on loopback, starts the sample game when no game runs, and launches the broadcaster
# from the installation directory on this desktop ($DISPLAY).
#
#   scripts/run.sh [--background]
#
# It installs and builds only what runs: the packages of scripts/packages/*.txt, the two programs,
# the service and the sample game (scripts/test.sh adds the rest to the same build tree). From a
# member's own account all of it runs as the member, and only missing packages are installed,
# with sudo. --background starts the broadcaster detached and returns.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=ports.env
source "$root/scripts/ports.env"
inst="$root/build/installation"
background=0
case ${1:-} in
  --background) background=1 ;;
  "") ;;
  *) echo "usage: scripts/run.sh [--background]" >&2; exit 2 ;;
esac

if [[ -n ${DISPLAY:-} ]]; then
  echo "STRIMO直播 will open its login window on this desktop (display $DISPLAY) once it is built."
fi
echo "[1/3] Debian packages, and the room page's player"
"$root/scripts/install-deps.sh" --quiet
(umask 022 && "$root/scripts/service-web-deps.sh")
echo "[2/3] Building STRIMO直播, its updater, the reference service and the sample game in $root/build"
"$root/scripts/build.sh" --quiet --programs --target strimo --target StrimoUpdata --target strimo-service \
  --target strimo-sample-game "$root/build"

if [[ -z ${DISPLAY:-} ]]; then
  echo "run.sh: built into $inst, but there is no display (\$DISPLAY is empty)." >&2
  echo "        strimo is a desktop program: run this from a terminal of your X11 desktop" >&2
  echo "        (or XWayland), or give DISPLAY=:N." >&2
  exit 1
fi

echo "[3/3] Starting the reference service, its streaming server and STRIMO直播"
# The status is read whole before it is looked at: a grep -q in a pipe may end service.sh with
# SIGPIPE at its first match, which pipefail would take for "not running".
status=$("$root/scripts/service.sh" status)
if grep -q '^service: running' <<<"$status" && grep -q '^nginx: running' <<<"$status"; then
  echo "run.sh: the reference service and its streaming server already run"
else
  # One of the two alone (the other ended) is stopped, so that both start afresh.
  grep -q ': running' <<<"$status" && "$root/scripts/service.sh" stop
  "$root/scripts/service.sh" start
fi

# Base names of the running executables (process names are cut to 15 characters; these are not).
running_names() { for exe in /proc/[0-9]*/exe; do basename "$(readlink "$exe" 2>/dev/null)" 2>/dev/null; done | sort -u; }

# A game of the default game list, or our sample game.
running_game=""
names=$(running_names)
for name in supertuxkart pyrogenesis xonotic-sdl xonotic-glx supertux2 wesnoth minetest openttd hedgewars \
            warzone2100 teeworlds neverball etr pingus strimo-sample-game; do
  if grep -qx "$name" <<<"$names"; then running_game=$name; break; fi
done
if [[ -z $running_game ]]; then
  (cd "$inst" && setsid ./strimo-sample-game >/dev/null 2>&1 &)
  running_game=strimo-sample-game
  echo "run.sh: started the sample game (STRIMO演示游戏)"
fi

cat <<TEXT

  STRIMO直播 starts now on display $DISPLAY.
  Log in as   demo   with the password   strimo-demo
  Press the start button, choose the game ($running_game), write an introduction and confirm.
  Watch the broadcast on its room page: http://$STRIMO_SERVICE_HOST:$STRIMO_SERVICE_PORT/live/room?lid=N
  (the main window's watch button opens it; all live rooms: http://$STRIMO_SERVICE_HOST:$STRIMO_SERVICE_PORT/live/)
  Stop the servers afterwards with: scripts/service.sh stop

TEXT
cd "$inst"
if ((background)); then
  setsid ./strimo >"$root/build/logs/strimo.log" 2>&1 &
  echo "run.sh: STRIMO直播 runs in the background (process $!; its output: build/logs/strimo.log)"
  exit 0
fi
exec ./strimo
