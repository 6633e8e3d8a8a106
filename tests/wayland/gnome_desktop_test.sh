#!/usr/bin/env bash
# Runs inside tests/fixtures/with-gnome.sh: GNOME Shell lists our test window for the portal's
# window picker, and a restore token seeded for that window casts it without the picker: a
# window stream (monitor-sized, GNOME gives the window's area as crop metadata) whose frames
# come, and the same token back.
# Usage: with-gnome.sh gnome_desktop_test.sh TESTS_BINARY_DIR
set -euo pipefail
bin=$1
here=$(dirname "${BASH_SOURCE[0]}")
source "$here/../support/testenv.sh" gnome-desktop
source "$here/portal-stream.sh"

app_id=strimo-wayland-test-window
title="strimo test window"
"$bin/wayland-test-window" --size 400x300 --app-id "$app_id" --title "$title" --tick 50 >"$work/window.log" 2>&1 &
track $!
listed() { "$bin/portal-screencast" --list-windows >"$work/windows.txt" && grep -qx "window $app_id.desktop $title" "$work/windows.txt" || return 1; }
wait_until 150 listed || { echo "GNOME Shell does not list the test window:"; cat "$work/windows.txt"; exit 1; }

token=$("$here/seed-screencast-token.sh" "$app_id.desktop" "$title")
portal_stream --types 2 --persist 2 --restore-token "$token" || { echo "no frames of the window for the seeded token"; exit 1; }
grep -q "^node [0-9]* 1280x720$" "$work/portal.out" || { echo "no monitor-sized window stream"; exit 1; }
grep -qx "restore_token $token" "$work/portal.out" || { echo "the portal did not keep the token"; exit 1; }
