# Sourced by the desktop tests after testenv.sh, with $bin the tests' binary folder.
# portal_stream PORTAL_SCREENCAST_ARGS...: asks the portal for a stream, holds its session open
# while pipewire-frames consumes the node for two seconds, and leaves the portal's answer in
# $work/portal.out and the frame count in $work/frames.out. Status 0 when frames came.
portal_stream() {
  rm -f "$work/hold" "$work/portal.out" "$work/frames.out"
  mkfifo "$work/hold"
  "$bin/portal-screencast" "$@" --hold <"$work/hold" >"$work/portal.out" &
  local portal=$!
  exec 8>"$work/hold"
  has_node() { grep -q "^node " "$work/portal.out" || { kill -0 "$portal" 2>/dev/null && return 1; return 2; }; }
  local status=0
  wait_until 300 has_node || status=1
  cat "$work/portal.out"
  if ((status == 0)); then
    "$bin/pipewire-frames" "$(sed -n 's/^node \([0-9]*\) .*/\1/p' "$work/portal.out" | head -n 1)" 2 \
      >"$work/frames.out" || status=1
    cat "$work/frames.out"
  fi
  exec 8>&-
  wait "$portal" || status=1
  return "$status"
}
