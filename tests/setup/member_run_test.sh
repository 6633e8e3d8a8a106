#!/usr/bin/env bash
# scripts/run.sh as a member runs it on their own desktop: from their own account (strimo-member,
# made when missing), with Debian's default PATH for users (no /usr/sbin), in their own copy of
# the sources, against an X display that is theirs (an Xvfb started as the member that only
# holders of the member's cookie may use). With the packages present it asks for no password;
# the service and nginx run as the member with their data in the member's copy; the login window
# opens on the member's display.
#
# The member builds from this account's compiler cache, lent read-only (hard links to its files),
# so the programs the tree under test compiled are not compiled a second time.
# Usage: member_run_test.sh SOURCE_DIR  (as root; exits 77, skipped, otherwise)
set -euo pipefail
src=$1
if ((EUID != 0)); then
  echo "SKIP: making the member's account takes root"
  exit 77
fi
# shellcheck source=../support/testenv.sh
source "$src/tests/support/testenv.sh" member-run
# shellcheck source=../support/checks.sh
source "$src/tests/support/checks.sh"

member=strimo-member
if ! id -u "$member" >/dev/null 2>&1; then
  # A test running beside this one may be making it too.
  /usr/sbin/useradd --system --create-home --home-dir "/var/lib/$member" --shell /bin/bash "$member" || id -u "$member"
fi
home=$(getent passwd "$member" | cut -d: -f6)
cd "$work"
chmod 711 "$work"
mkdir -m 755 "$work/bin" "$work/member"
chown "$member:" "$work/member"
# A sudo that only records that it was asked.
printf '#!/bin/sh\ntouch %q\necho "[sudo asked]"\nexit 1\n' "$work/member/sudo-asked" >"$work/bin/sudo"
chmod 755 "$work/bin/sudo"
display_auth="$work/member/.Xauthority"
# as_member COMMAND...: runs COMMAND as the member, with a member's environment and nothing else.
as_member() {
  setpriv --reuid="$member" --regid="$(id -g "$member")" --init-groups \
    env -i HOME="$home" USER="$member" LOGNAME="$member" LANG=C.UTF-8 XAUTHORITY="$display_auth" \
    PATH="$work/bin:/usr/local/bin:/usr/bin:/bin:/usr/local/games:/usr/games" ${DISPLAY:+DISPLAY="$DISPLAY"} "$@"
}

# The member's copy of the sources, on ports of its own.
clone="$work/member/strimo"
as_member mkdir "$clone"
tar -C "$src" --exclude=./.git --exclude='./build*' -cf - . | as_member tar -C "$clone" -xf -
service_port=$(free_port)
rtmp_port=$(free_port)
as_member sed -i -e "s/^STRIMO_SERVICE_PORT=.*/STRIMO_SERVICE_PORT=$service_port/" \
  -e "s/^STRIMO_RTMP_PORT=.*/STRIMO_RTMP_PORT=$rtmp_port/" "$clone/scripts/ports.env"
cache=()
if cache_dir=$(ccache -k cache_dir 2>/dev/null) && [[ -d $cache_dir ]] && cp -al "$cache_dir" "$work/ccache" 2>/dev/null; then
  as_member mkdir "$work/member/ccache-tmp"
  cache=(CCACHE_DIR="$work/ccache" CCACHE_READONLY=1 CCACHE_NOSTATS=1 CCACHE_TEMPDIR="$work/member/ccache-tmp")
fi

# The member's display: an Xvfb of the member's, with the member's cookie.
as_member touch "$display_auth"
for _ in $(seq 30); do
  number=$((100 + RANDOM % 3900))
  [[ -e /tmp/.X$number-lock || -e /tmp/.X11-unix/X$number ]] && continue
  as_member xauth -q -f "$display_auth" add ":$number" . "$(mcookie)"
  as_member Xvfb ":$number" -auth "$display_auth" -nolisten tcp -noreset -screen 0 1280x1024x24 >"$work/xvfb.log" 2>&1 &
  xvfb=$!
  track "$xvfb"
  if wait_until 100 as_member xdpyinfo -display ":$number" >/dev/null 2>&1; then break; fi
  kill "$xvfb" 2>/dev/null || true
  wait "$xvfb" 2>/dev/null || true
  xvfb=""
done
[[ -n ${xvfb:-} ]] || { echo "FAILED: the member's Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=":$number"
check "the display is the member's: it refuses an account without the member's cookie" \
  eval '! XAUTHORITY=/nonexistent xdpyinfo >/dev/null 2>&1'

# Whatever the member's run starts is ended with the test.
at_exit as_member bash "$clone/scripts/service.sh" stop
program_pids() {  # program_pids FILE: the processes running FILE
  local proc
  for proc in /proc/[0-9]*; do
    [[ $(readlink "$proc/exe" 2>/dev/null) == "$1" ]] && echo "${proc#/proc/}"
  done
  return 0
}
end_programs() {
  local pid
  for pid in $(program_pids "$clone/build/installation/strimo") $(program_pids "$clone/build/installation/strimo-sample-game"); do
    kill "$pid" 2>/dev/null || true
  done
}
at_exit end_programs

started=$(date +%s%N)
status=0
as_member "${cache[@]}" bash "$clone/scripts/run.sh" --background >"$work/run.log" 2>&1 || status=$?
cat "$work/run.log"
echo "run.sh ended after $((($(date +%s%N) - started) / 1000000)) ms"
check "run.sh ends well as the member" test "$status" = 0
check "run.sh asks for no password: sudo is never called" test ! -e "$work/member/sudo-asked"
check "run.sh says where the login window opens" grep -q "login window on this desktop (display $DISPLAY)" "$work/run.log"

pid=$(program_pids "$clone/build/installation/strimo" | head -n 1)
login_window() {
  [[ -n $pid ]] || return 2
  window=$(as_member xdotool search --all --onlyvisible --pid "$pid" 2>/dev/null | head -n 1 || true)
  [[ -n $window ]] && return 0
  kill -0 "$pid" 2>/dev/null || return 2
  return 1
}
login_size=$(file "$clone/build/installation/res/login/login.png" | sed -n 's/.*PNG image data, \([0-9]*\) x \([0-9]*\),.*/\1x\2/p')
shows_login() {
  local geometry
  wait_until 300 login_window || return 1
  echo "the login window is shown $((($(date +%s%N) - started) / 1000000)) ms after run.sh started"
  geometry=$(as_member xwininfo -id "$window" | awk '/Width:/ { w = $2 } /Height:/ { h = $2 } END { print w "x" h }')
  [[ $(as_member xdotool getwindowname "$window") == "STRIMO直播" && $geometry == "$login_size" ]]
}
check "the broadcaster shows its login window on the member's display" shows_login
owned_by_member() {  # owned_by_member PID_FILE_OR_PID
  local pid=$1
  [[ -f $pid ]] && pid=$(cat "$pid")
  [[ -n $pid && $(stat -c %U "/proc/$pid") == "$member" ]]
}
check "the broadcaster runs as the member" owned_by_member "$pid"
data="$clone/build/service-data"
check "the service runs as the member, with its data in the member's copy" owned_by_member "$data/service.pid"
check "nginx runs as the member, found outside the member's PATH" owned_by_member "$data/nginx/nginx.pid"
check "the service answers on its port" eval '(exec 3<>"/dev/tcp/127.0.0.1/$service_port") 2>/dev/null'
# run.sh once more while the servers run: it finds them running (the second broadcaster only says
# that one runs already).
status=0
as_member "${cache[@]}" bash "$clone/scripts/run.sh" --background >"$work/run2.log" 2>&1 || status=$?
cat "$work/run2.log"
check "a second run.sh while the servers run ends well and finds them running" \
  eval 'test "$status" = 0 && grep -q "already run" "$work/run2.log"'
check "the servers of the first run.sh still run" \
  eval 'owned_by_member "$data/service.pid" && owned_by_member "$data/nginx/nginx.pid"'
# A package that is missing: the member is told before sudo asks.
as_member bash "$clone/scripts/install-deps.sh" strimo-no-such-package >"$work/install.log" 2>&1 || true
cat "$work/install.log"
told_before_sudo() {
  local told asked
  told=$(grep -n "running sudo apt-get" "$work/install.log" | cut -d: -f1)
  asked=$(grep -n "^\[sudo asked\]" "$work/install.log" | head -n 1 | cut -d: -f1)
  [[ -n $told && -n $asked && $told -lt $asked && -e $work/member/sudo-asked ]]
}
check "a missing package is installed with sudo, and the member is told first" told_before_sudo
if ((failed > 0)); then
  echo "--- broadcaster's output"
  cat "$clone/build/logs/strimo.log" 2>/dev/null || true
fi
summary
