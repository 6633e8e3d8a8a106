#!/usr/bin/env bash
# Runs inside tests/fixtures/with-sway.sh: the private wlroots desktop offers what the Wayland
# tests rely on. Our test window maps at its size and app id, resizes on command and ends on
# SIGTERM; the virtual pointer reaches the seat; an X client reaches Xwayland; the ScreenCast
# portal streams the output through PipeWire, and frames come.
# Usage: with-sway.sh sway_desktop_test.sh TESTS_BINARY_DIR
set -euo pipefail
bin=$1
source "$(dirname "${BASH_SOURCE[0]}")/../support/testenv.sh" sway-desktop
source "$(dirname "${BASH_SOURCE[0]}")/portal-stream.sh"

# window_rect APP_ID: "X Y W H" of the window with that app id in sway's tree (empty: none).
window_rect() {
  swaymsg -t get_tree | jq -r --arg id "$1" \
    '.. | objects | select(.app_id? == $id) | "\(.rect.x) \(.rect.y) \(.rect.width) \(.rect.height)"'
}
rect_is() { [[ $(window_rect "$1") == *" $2 $3" ]]; }

echo "X11: $(xdpyinfo | sed -n 's/^name of display: *//p')"

mkfifo "$work/commands"
"$bin/wayland-test-window" --size 400x300 --app-id strimo-check --tick 50 <"$work/commands" >"$work/window.log" 2>&1 &
window=$!
track "$window"
exec 3>"$work/commands"
wait_until 100 rect_is strimo-check 400 300 || { echo "the test window was not mapped at 400x300: $(window_rect strimo-check)"; exit 1; }
echo "resize 320 200" >&3
wait_until 100 rect_is strimo-check 320 200 || { echo "the test window did not resize: $(window_rect strimo-check)"; exit 1; }
kill -USR1 "$window"
wait_until 100 rect_is strimo-check 200 320 || { echo "SIGUSR1 did not swap the size: $(window_rect strimo-check)"; exit 1; }

# The pointer: a new window takes the focus; a click of the virtual pointer on the first one's
# corner, outside the second (both are centred), gives it back.
focused() { swaymsg -t get_tree | jq -e --arg id "$1" '.. | objects | select(.focused? == true and .app_id? == $id)' >/dev/null || return 1; }
"$bin/wayland-test-window" --size 100x100 --app-id strimo-other >/dev/null 2>&1 &
track $!
wait_until 100 focused strimo-other || { echo "the second window did not take the focus"; exit 1; }
read -r x y _ _ <<<"$(window_rect strimo-check)"
"$bin/wayland-pointer" move $((x + 10)) $((y + 10)) press release
wait_until 50 focused strimo-check || { echo "the virtual pointer's click did not focus the test window"; exit 1; }

kill -TERM "$window"
status=0
wait "$window" || status=$?
[[ $status == 0 ]] || { echo "the test window ended with $status on SIGTERM"; cat "$work/window.log"; exit 1; }
[[ -z $(window_rect strimo-check) ]] || { echo "the window is still mapped"; exit 1; }

# The output, with a window drawing on it (frames come only when the picture changes).
"$bin/wayland-test-window" --size 200x200 --app-id strimo-ticking --tick 20 >/dev/null 2>&1 &
track $!
wait_until 100 rect_is strimo-ticking 200 200 || { echo "the ticking window was not mapped"; exit 1; }
portal_stream --types 1 --cursor 2 || { echo "the portal's stream of the output gave no frames"; exit 1; }
grep -q "^node [0-9]* 1280x720$" "$work/portal.out" || { echo "the stream is not of the 1280x720 output"; exit 1; }
grep -q "^frames [0-9]* 1280x720 BGRx$" "$work/frames.out" || { echo "the frames are not BGRx of the output's size"; exit 1; }
