#!/usr/bin/env bash
# Seeds the portal's permission store (table "screencast") with a restore token for one window,
# as GNOME's portal back end stores it after a member chose that window in its picker: the
# picker cannot be clicked on a headless desktop. SelectSources with types 2, persist_mode 2 and
# this restore_token then casts the window without asking, once GNOME Shell lists it.
# Usage: seed-screencast-token.sh APP_ID TITLE [TOKEN]   (inside with-gnome.sh)
#   APP_ID as GNOME Shell reports it: the name of the window's .desktop file, suffix included
#   (strimo-wayland-test-window.desktop). Prints the token (a fresh UUID unless given; the portal
#   refuses a token that is no UUID). A valid token the store does not hold makes the portal show
#   its picker, which nobody answers on a headless desktop.
set -euo pipefail
(($# >= 2)) || { echo "usage: seed-screencast-token.sh APP_ID TITLE [TOKEN]" >&2; exit 2; }
app_id=$1
title=$2
token=${3:-$(cat /proc/sys/kernel/random/uuid)}
# GVariant text quotes strings with single quotes; the title may hold any other character.
quote() { local s=${1//\\/\\\\}; printf "'%s'" "${s//\'/\\\'}"; }
store=(gdbus call --session --dest org.freedesktop.impl.portal.PermissionStore
  --object-path /org/freedesktop/impl/portal/PermissionStore)
"${store[@]}" --method org.freedesktop.impl.portal.PermissionStore.SetPermission \
  screencast true "$token" "" "['yes']" >/dev/null
# GNOME's restore data, version 1: no monitors, one window source (id 0, type 2 = window)
# identified by its app id and title.
"${store[@]}" --method org.freedesktop.impl.portal.PermissionStore.SetValue screencast true "$token" \
  "<('GNOME', uint32 1, <(int64 0, int64 0, [(uint32 0, uint32 2, <($(quote "$app_id"), $(quote "$title"))>)])>)>" >/dev/null
echo "$token"
