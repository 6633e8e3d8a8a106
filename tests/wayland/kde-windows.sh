#!/usr/bin/env bash
# Lists KWin's windows, one line each: "window UUID RESOURCE_CLASS CAPTION" (inside with-kde.sh).
# The UUID is what xdg-desktop-portal-kde keeps in its restore data; the resource class of a
# Wayland window is its app id. KWin lists windows only to its scripts, whose lines go to KWin's
# log: a script of our own prints them under a mark of this run, and the lines are read back.
set -euo pipefail
log=${STRIMO_KWIN_LOG:?"kde-windows: run inside with-kde.sh"}
mark=strimo-$(cat /proc/sys/kernel/random/uuid)
script=$(mktemp --suffix=.js)
trap 'rm -f "$script"' EXIT
cat >"$script" <<JS
var windows = workspace.clientList();
for (var i = 0; i < windows.length; i++)
    print("$mark window " + windows[i].internalId + " " + windows[i].resourceClass + " " + windows[i].caption);
print("$mark end");
JS
kwin=(gdbus call --session --dest org.kde.KWin --object-path /Scripting --method)
"${kwin[@]}" org.kde.kwin.Scripting.loadScript "$script" "$mark" >/dev/null
"${kwin[@]}" org.kde.kwin.Scripting.start >/dev/null
for ((i = 0; i < 50; i++)); do
  grep -q "$mark end" "$log" && break
  sleep 0.1
done
"${kwin[@]}" org.kde.kwin.Scripting.unloadScript "$mark" >/dev/null || true
grep -q "$mark end" "$log" || { echo "kde-windows: KWin did not run the listing script" >&2; exit 1; }
sed -n "s/^js: $mark //p" "$log" | grep '^window '
