# Sourced by the set-up scripts: long steps show one line of progress instead of their output,
# which goes to a log that is shown in part only when the step fails.

# show_percent LABEL: shows the whole-number percentages read one a line from standard input: on
# a terminal as one line rewritten in place, elsewhere as a line for every tenth reached.
show_percent() {
  local label=$1 pct last=-1 tenth=0
  if [[ -t 1 ]]; then printf '%s' "$label"; else echo "$label"; fi
  while read -r pct; do
    ((pct == last)) && continue
    last=$pct
    if [[ -t 1 ]]; then
      printf '\r%s %3d%%' "$label" "$pct"
    elif ((pct / 10 > tenth)); then
      tenth=$((pct / 10))
      echo "$label $pct%"
    fi
  done
  if [[ -t 1 ]]; then printf '\n'; fi
}

# run_logged LOG LABEL FILTER COMMAND...: runs COMMAND with its standard error appended to LOG;
# FILTER turns its standard output into percentages for show_percent (and may add it to "$log"
# too). When COMMAND fails, the last lines of LOG and its path are shown, and the status is
# COMMAND's.
run_logged() {
  local log=$1 label=$2 filter=$3 status
  shift 3
  set +e
  "$@" 2>>"$log" | "$filter" | show_percent "$label"
  status=${PIPESTATUS[0]}
  set -e
  if ((status != 0)); then
    echo "  failed; the last lines of its output:" >&2
    tail -n 25 "$log" | sed 's/^/    /' >&2
    echo "  the whole output: $log" >&2
  fi
  return "$status"
}
