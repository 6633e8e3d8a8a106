#!/usr/bin/env bash
# Runs inside tests/fixtures/with-kde.sh: KWin lists our test window, and a restore token seeded
# for that window casts it without the portal's picker: a stream at the window's size whose
# frames come, and a token for the next time (KDE's portal answers a new one each time).
# Usage: with-kde.sh kde_desktop_test.sh TESTS_BINARY_DIR
set -euo pipefail
bin=$1
here=$(dirname "${BASH_SOURCE[0]}")
source "$here/../support/testenv.sh" kde-desktop
source "$here/portal-stream.sh"

echo "X11: $(xdpyinfo | sed -n 's/^name of display: *//p')"
app_id=strimo-wayland-test-window
"$bin/wayland-test-window" --size 400x300 --app-id "$app_id" --title "strimo test window" --tick 50 \
  >"$work/window.log" 2>&1 &
track $!
listed() { "$here/kde-windows.sh" >"$work/windows.txt" && grep -q "^window {[^ ]*} $app_id strimo test window$" "$work/windows.txt"; }
wait_until 150 listed || { echo "KWin does not list the test window:"; cat "$work/windows.txt"; exit 1; }
uuid=$(sed -n "s/^window \({[^ ]*}\) $app_id .*/\1/p" "$work/windows.txt" | head -n 1)

token=$("$here/seed-screencast-token.sh" --kde "$uuid")
portal_stream --types 2 --persist 2 --restore-token "$token" || { echo "no frames of the window for the seeded token"; exit 1; }
grep -q "^frames [0-9]* 400x300 " "$work/frames.out" || { echo "the frames are not the window's size"; exit 1; }
grep -q "^restore_token [0-9a-f-]*$" "$work/portal.out" || { echo "the portal gave no token for the next time"; exit 1; }
