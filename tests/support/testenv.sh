# Sourced by the shell tests after `set -euo pipefail`, as `source testenv.sh NAME`: a private
# work folder ($work) removed at exit together with the processes the test started (track PID)
# and whatever at_exit was given; waiting on conditions, not for fixed times.

work=$(mktemp -d "${TMPDIR:-/tmp}/strimo-$1-XXXXXX")
_tracked=()
_exit_steps=()

# track PID: the process is ended at exit if it still runs.
track() { _tracked+=("$1"); }
# at_exit COMMAND...: run at exit, before the processes are ended and the folder goes.
at_exit() { _exit_steps+=("$(printf '%q ' "$@")"); }

_testenv_cleanup() {
  local status=$? step pid
  for step in "${_exit_steps[@]}"; do eval "$step" >/dev/null 2>&1 || true; done
  for pid in "${_tracked[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
  exit "$status"
}
trap _testenv_cleanup EXIT

# wait_until TENTHS COMMAND...: runs COMMAND every tenth of a second until it succeeds (status
# 0) or TENTHS tenths have gone; a status of 2 or more gives up at once (what is waited for
# can no longer come). The status is COMMAND's last.
wait_until() {
  local tenths=$1 i status
  shift
  for ((i = 0; ; i++)); do
    status=0
    "$@" || status=$?
    ((status == 0 || status >= 2 || i >= tenths)) && return "$status"
    sleep 0.1
  done
}

# window_of PID: the first visible window of process PID (empty when it has none).
window_of() { xdotool search --all --onlyvisible --pid "$1" 2>/dev/null | head -n 1 || true; }

# free_port: a loopback port nothing listens on.
free_port() {
  local p
  while :; do
    p=$(shuf -i 20000-45000 -n 1)
    (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null || { echo "$p"; return; }
  done
}
