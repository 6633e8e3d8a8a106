#!/bin/sh
# strimo and strimo-update (a link to this script): run STRIMO直播 or its updater in the member's
# own installation folder.
#
# The programs address every file relative to their current directory, and the updater rewrites
# the installation it runs in. So each member gets a folder of their own, $XDG_DATA_HOME/strimo
# (by default ~/.local/share/strimo), copied from the package's pristine installation on first
# use. When the package's release (the number in its version.xml) is higher than the folder's,
# the package's files replace the folder's, all but the member's config.xml and usr.xml. A folder
# that the updater has brought past the package's release is left as it is.
set -eu

self=$(readlink -f "$0")
pristine=$(cd "$(dirname "$self")/../lib/strimo" && pwd)
case $(basename "$0") in
  strimo-update) program=StrimoUpdata ;;
  *) program=strimo ;;
esac

# A relative XDG_DATA_HOME is invalid and is ignored, as the base directory rules say.
data_home=${XDG_DATA_HOME:-}
case $data_home in
  /*) ;;
  *) data_home=$HOME/.local/share ;;
esac
folder=$data_home/strimo

# The release number of a version.xml (its leading digits, as the updater reads it); 0 when the
# file is missing or unreadable.
release() {
  number=$("$pristine/strimo-crypt" decrypt "$1" 2>/dev/null |
    sed -n 's/.*<version[^>]*ver="\([0-9]*\).*/\1/p' | head -n 1) || true
  echo "${number:-0}"
}

refresh() {
  for entry in "$pristine"/*; do
    case $(basename "$entry") in
      config.xml | usr.xml | version.xml) continue ;;
    esac
    # Unlinking first lets a program be replaced while another member's copy of it runs.
    cp -R --remove-destination "$entry" "$folder/"
  done
  # The release is recorded last, so a refresh cut short is done again at the next start.
  cp --remove-destination "$pristine/version.xml" "$folder/version.xml"
}

umask 077   # the folder holds the member's remembered logins
mkdir -p "$data_home"
mkdir -p -m 700 "$folder"
# Two launches at once (a double click) must not refresh the folder together.
exec 9>"$folder/.launcher.lock"
flock -w 60 9 || { echo "$program: $folder is locked by another start" >&2; exit 1; }
if [ ! -x "$folder/$program" ] || [ "$(release "$pristine/version.xml")" -gt "$(release "$folder/version.xml")" ]; then
  refresh
fi
exec 9>&-

cd "$folder"
exec "./$program"
