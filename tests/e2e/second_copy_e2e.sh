#!/usr/bin/env bash
# A second strimo started while one runs shows the skinned message box ("程序已经运行") in the
# new copy only, and ends with status 0 once it is confirmed; the first copy keeps running.
# Usage (under with-xvfb.sh): second_copy_e2e.sh BUILD_DIR
set -euo pipefail
build=$1
# shellcheck source=../support/testenv.sh
source "$(dirname "$0")/../support/testenv.sh" second-copy
mkdir -p "$work/default"
cp -r "$build/installation/res" "$work/"
cp "$build/installation/default/usr.xml" "$build/installation/default/config.xml" "$work/default/"
cp "$build/installation/strimo" "$work/"
cd "$work"

has_window() { [[ -n $(window_of "$1") ]]; }
wait_window() { wait_until 200 has_window "$1" && window_of "$1"; }

./strimo >first.log 2>&1 &
first=$!
track "$first"
login=$(wait_window "$first") || { echo "FAIL: the first copy shows no login window"; cat first.log; exit 1; }
eval "$(xdotool getwindowgeometry --shell "$login")"
[[ $WIDTH == 365 && $HEIGHT == 270 ]] || { echo "FAIL: login window is ${WIDTH}x${HEIGHT}"; exit 1; }

./strimo >second.log 2>&1 &
second=$!
box=$(wait_window "$second") || { echo "FAIL: the second copy shows no message box"; cat second.log; exit 1; }
eval "$(xdotool getwindowgeometry --shell "$box")"
[[ $WIDTH == 295 && $HEIGHT == 193 ]] || { echo "FAIL: the message box is ${WIDTH}x${HEIGHT}"; exit 1; }
# The skinned box's OK button: (220, 161), 65 x 22.
xdotool mousemove --window "$box" 250 171 click 1
wait_until 100 eval '! kill -0 "$second" 2>/dev/null' || true
if kill -0 "$second" 2>/dev/null; then echo "FAIL: the second copy still runs after OK"; kill "$second"; exit 1; fi
status=0
wait "$second" || status=$?
[[ $status == 0 ]] || { echo "FAIL: the second copy ended with status $status"; cat second.log; exit 1; }
kill -0 "$first" 2>/dev/null || { echo "FAIL: the first copy ended"; exit 1; }
[[ -n $(window_of "$first") ]] || { echo "FAIL: the first copy's window is gone"; exit 1; }
echo "PASS: the second copy showed its box and ended with status 0; the first runs on"
