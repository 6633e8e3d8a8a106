#!/usr/bin/env bash
# Seeds the portal's permission store (table "screencast") with a restore token for one window,
# as the desktop's portal back end stores it after a member chose that window in its picker: the
# picker cannot be clicked on a headless desktop. SelectSources with types 2, persist_mode 2 and
# this restore_token then casts the window without asking, once the desktop lists it.
# Usage: seed-screencast-token.sh APP_ID TITLE [TOKEN]      (inside with-gnome.sh)
#        seed-screencast-token.sh --kde WINDOW_UUID [TOKEN] (inside with-kde.sh)
#   APP_ID as GNOME Shell reports it: the name of the window's .desktop file, suffix included
#   (strimo-wayland-test-window.desktop). WINDOW_UUID as KWin reports it (kde-windows.sh), braces
#   included. Prints the token (a fresh UUID unless given; the portal refuses a token that is no
#   UUID). A valid token the store does not hold makes the portal show its picker, which nobody
#   answers on a headless desktop.
set -euo pipefail
kde=0
if [[ ${1:-} == --kde ]]; then
  kde=1
  shift
fi
(($# >= 2 - kde)) || { echo "usage: seed-screencast-token.sh APP_ID TITLE [TOKEN] | --kde WINDOW_UUID [TOKEN]" >&2; exit 2; }
if ((kde)); then
  window=$1
  token=${2:-$(cat /proc/sys/kernel/random/uuid)}
else
  app_id=$1
  title=$2
  token=${3:-$(cat /proc/sys/kernel/random/uuid)}
fi
# GVariant text quotes strings with single quotes; the title may hold any other character.
quote() { local s=${1//\\/\\\\}; printf "'%s'" "${s//\'/\\\'}"; }
store=(gdbus call --session --dest org.freedesktop.impl.portal.PermissionStore
  --object-path /org/freedesktop/impl/portal/PermissionStore)
"${store[@]}" --method org.freedesktop.impl.portal.PermissionStore.SetPermission \
  screencast true "$token" "" "['yes']" >/dev/null
if ((kde)); then
  # KDE's restore data, version 1: a Qt 5 QDataStream of the map {"windows": [WINDOW_UUID]}
  # (a count, then each key and QVariant; strings as a byte length and UTF-16BE).
  payload=$(python3 - "$window" <<'PY'
import struct, sys
def qstring(s):
    b = s.encode("utf-16-be")
    return struct.pack(">I", len(b)) + b
string_list = 11  # QMetaType::QStringList
data = struct.pack(">I", 1) + qstring("windows") + struct.pack(">IBI", string_list, 0, 1) + qstring(sys.argv[1])
print("[" + ", ".join("byte 0x%02x" % c for c in data) + "]")
PY
)
  "${store[@]}" --method org.freedesktop.impl.portal.PermissionStore.SetValue screencast true "$token" \
    "<('KDE', uint32 1, <@ay $payload>)>" >/dev/null
  echo "$token"
  exit 0
fi
# GNOME's restore data, version 1: no monitors, one window source (id 0, type 2 = window)
# identified by its app id and title.
"${store[@]}" --method org.freedesktop.impl.portal.PermissionStore.SetValue screencast true "$token" \
  "<('GNOME', uint32 1, <(int64 0, int64 0, [(uint32 0, uint32 2, <($(quote "$app_id"), $(quote "$title"))>)])>)>" >/dev/null
echo "$token"
