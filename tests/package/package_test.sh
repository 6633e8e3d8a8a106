#!/usr/bin/env bash
# The Debian package as a member meets it: scripts/package.sh makes it, lintian and the desktop
# validators accept it, and unpacked into a private root (dpkg-deb -x) its launchers make the
# member's folder under XDG_DATA_HOME and start the programs there. A second start keeps the
# member's files; a package of a higher release brings its new files in without touching them;
# a lower one changes nothing.
# Usage: package_test.sh SOURCE_DIR BUILD_DIR  (DISPLAY set by with-xvfb.sh)
set -euo pipefail
src=$1
build=$2
# shellcheck source=../support/testenv.sh
source "$src/tests/support/testenv.sh" package-test
# shellcheck source=../support/checks.sh
source "$src/tests/support/checks.sh"

deb=$("$src/scripts/package.sh" "$build" 2>"$work/package.log") || { cat "$work/package.log" >&2; exit 1; }
echo "package: $deb"
check "package.sh prints the path of a Debian package" dpkg-deb --info "$deb" control
depends=$(dpkg-deb --field "$deb" Depends)
echo "Depends: $depends"
has_depend() { grep -Eq "(^|, )$1 " <<<"$depends"; }
check "Depends holds the Qt, FFmpeg and C libraries the programs link" \
  eval 'has_depend libqt6widgets6 && has_depend "libavcodec[0-9]+" && has_depend libc6 && has_depend libpulse0'
lintian --no-tag-display-limit "$deb" >"$work/lintian.txt" 2>&1 || true
cat "$work/lintian.txt"
check "lintian reports no error" eval '! grep -q "^E:" "$work/lintian.txt"'

unpack() {  # unpack DEB ROOT
  mkdir -p "$2"
  dpkg-deb -x "$1" "$2"
}
root1="$work/root1"
unpack "$deb" "$root1"
desktop="$root1/usr/share/applications/cn.strimo.strimo.desktop"
check "desktop-file-validate accepts the desktop entry" desktop-file-validate "$desktop"
check "appstreamcli accepts the metainfo" \
  appstreamcli validate --no-net "$root1/usr/share/metainfo/cn.strimo.strimo.metainfo.xml"
check "the desktop entry starts /usr/bin/strimo" eval 'grep -qx "Exec=strimo" "$desktop" && test -x "$root1/usr/bin/strimo"'
icons_ok() {
  local size
  for size in 16 22 24 32 48 64 128 256; do
    file "$root1/usr/share/icons/hicolor/${size}x$size/apps/strimo.png" | grep -q "PNG image data, $size x $size," || return 1
  done
  grep -qx "Icon=strimo" "$desktop"
}
check "the icon is in the hicolor theme at 16 to 256 pixels" icons_ok
pristine="$root1/usr/lib/strimo"
check "the pristine installation is complete" eval 'test -x "$pristine/strimo" -a -x "$pristine/StrimoUpdata" \
  -a -f "$pristine/res/login/login.png" -a -f "$pristine/default/config.xml" -a -f "$pristine/version.xml" \
  -a -f "$pristine/UpdataInfo.txt" -a ! -e "$pristine/config.xml"'

home="$work/home"
data="$work/data"
folder="$data/strimo"
mkdir -p "$home"
crypt="$pristine/strimo-crypt"
release_of() { "$crypt" decrypt "$1" | sed -n 's/.*<version[^>]*ver="\([0-9]*\)".*/\1/p'; }

# launch ROOT [LAUNCHER]: runs the launcher as a member of this machine would, from elsewhere;
# sets $pid (the launcher becomes the program).
launch() {
  (cd / && exec env HOME="$home" XDG_DATA_HOME="$data" "$1/usr/bin/${2:-strimo}" >>"$work/programs.log" 2>&1) &
  pid=$!
  track "$pid"
}
window_shown() {  # sets $window to process $pid's visible window; gives up when $pid has ended
  window=$(window_of "$pid")
  [[ -n $window ]] && return 0
  kill -0 "$pid" 2>/dev/null || return 2
  return 1
}
# Waits up to 30 s for a visible window of process $pid; sets $window.
wait_window() { wait_until 300 window_shown; }
stop() {  # ends process $pid and waits for it
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}
login_size=$(file "$pristine/res/login/login.png" | sed -n 's/.*PNG image data, \([0-9]*\) x \([0-9]*\),.*/\1x\2/p')
shows_login_window() {
  local geometry
  wait_window || return 1
  geometry=$(xwininfo -id "$window" | awk '/Width:/ { w = $2 } /Height:/ { h = $2 } END { print w "x" h }')
  [[ $(xdotool getwindowname "$window") == "STRIMO直播" && $geometry == "$login_size" ]]
}
runs_in_folder() {  # process $pid runs the folder's copy of $1, with the folder as its directory
  [[ $(readlink "/proc/$pid/exe") == "$folder/$1" && $(readlink "/proc/$pid/cwd") == "$folder" ]]
}

# First start: the folder is made from the pristine installation.
launch "$root1"
check "first start: strimo shows its login window" shows_login_window
check "first start: strimo runs in \$XDG_DATA_HOME/strimo" runs_in_folder strimo
check "first start: the folder holds the whole installation" eval 'test -x "$folder/strimo" -a -x "$folder/StrimoUpdata" \
  && cmp -s "$folder/version.xml" "$pristine/version.xml" && cmp -s "$folder/res/login/login.png" "$pristine/res/login/login.png" \
  && cmp -s "$folder/default/config.xml" "$pristine/default/config.xml" && cmp -s "$folder/UpdataInfo.txt" "$pristine/UpdataInfo.txt"'
check "first start: the folder is the member's alone" test "$(stat -c %a "$folder")" = 700
stop

# The member's own settings and logins, and a file the updater brought in.
"$crypt" decrypt "$pristine/default/config.xml" >"$work/config.plain"
sed -i '$a <!-- the member changed this -->' "$work/config.plain"
"$crypt" encrypt "$work/config.plain" "$folder/config.xml"
"$crypt" decrypt "$pristine/default/usr.xml" >"$work/usr.plain"
sed -i '$a <!-- the member changed this -->' "$work/usr.plain"
"$crypt" encrypt "$work/usr.plain" "$folder/usr.xml"
cp "$folder/config.xml" "$work/config.kept"
cp "$folder/usr.xml" "$work/usr.kept"
echo "from the updater" >"$folder/res/from-updater.txt"

launch "$root1"
check "second start: the login window shows again" shows_login_window
check "second start: the changed config.xml and usr.xml are kept" \
  eval 'cmp -s "$folder/config.xml" "$work/config.kept" && cmp -s "$folder/usr.xml" "$work/usr.kept"'
check "second start: the updater's file is kept" test -f "$folder/res/from-updater.txt"
stop

# A package of a higher release with a new file under res/: the same package, re-made.
old_release=$(release_of "$pristine/version.xml")
new_release=$((old_release + 1))
repack="$work/repack"
dpkg-deb -R "$deb" "$repack"
echo "new in release $new_release" >"$repack/usr/lib/strimo/res/new-in-release.txt"
"$crypt" decrypt "$repack/usr/lib/strimo/version.xml" | sed "s/ver=\"$old_release\"/ver=\"$new_release\"/" >"$work/version.plain"
"$crypt" encrypt "$work/version.plain" "$repack/usr/lib/strimo/version.xml"
sed -i "s/^Version: .*/Version: $new_release/" "$repack/DEBIAN/control"
(cd "$repack" && find usr -type f -exec md5sum {} + >DEBIAN/md5sums)
deb2="$work/strimo_${new_release}.deb"
dpkg-deb --root-owner-group -b "$repack" "$deb2" >/dev/null
root2="$work/root2"
unpack "$deb2" "$root2"
check "the higher package records release $new_release" test "$(release_of "$root2/usr/lib/strimo/version.xml")" = "$new_release"

launch "$root2"
check "higher release: the login window shows" shows_login_window
check "higher release: its new res/ file is in the folder" test -f "$folder/res/new-in-release.txt"
check "higher release: the folder records release $new_release" test "$(release_of "$folder/version.xml")" = "$new_release"
check "higher release: config.xml and usr.xml are untouched" \
  eval 'cmp -s "$folder/config.xml" "$work/config.kept" && cmp -s "$folder/usr.xml" "$work/usr.kept"'
stop

# The older package again (or a folder the updater brought further): nothing goes back.
rm "$folder/res/new-in-release.txt"
launch "$root1"
check "lower release: the login window shows" shows_login_window
check "lower release: the folder keeps release $new_release and is not refreshed" \
  eval 'test "$(release_of "$folder/version.xml")" = "$new_release" -a ! -e "$folder/res/new-in-release.txt"'
stop

# strimo-update runs the updater in the same folder.
launch "$root1" strimo-update
check "strimo-update: the updater shows a window" wait_window
check "strimo-update: the updater runs in \$XDG_DATA_HOME/strimo" runs_in_folder StrimoUpdata
stop
# The updater may have reached an update host and started the broadcaster from the folder.
for proc in /proc/[0-9]*; do
  [[ $(readlink "$proc/exe" 2>/dev/null) == "$folder/strimo" ]] && kill "${proc#/proc/}" 2>/dev/null || true
done

# Without XDG_DATA_HOME the folder is ~/.local/share/strimo.
(cd / && exec env -u XDG_DATA_HOME HOME="$home" "$root1/usr/bin/strimo" >>"$work/programs.log" 2>&1) &
pid=$!
track "$pid"
check "without XDG_DATA_HOME: the login window shows" shows_login_window
check "without XDG_DATA_HOME: the folder is ~/.local/share/strimo" \
  test "$(readlink "/proc/$pid/cwd")" = "$home/.local/share/strimo"
stop

if ((failed > 0)); then
  echo "--- programs' output"
  cat "$work/programs.log"
fi
summary
