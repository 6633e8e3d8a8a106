#!/usr/bin/env bash
# The README's commands on a new Debian 12 machine: a fresh root (mmdebstrap --variant=apt, with
# nothing but apt, git and sudo) gets a clone of the commit under test, and in it
#   as-root, as-member   scripts/run.sh, as root or as a desktop user with sudo, must bring the
#                        login window up on an X display outside the root (a desktop has one;
#                        DISPLAY, from with-xvfb.sh), with the broadcaster, the service and
#                        nginx running inside the root and nothing of the root's listening
#                        beyond loopback;
#   test-packages        scripts/install-deps.sh --tests must bring what configuring the whole
#                        tree with its tests needs.
# Everything the scripts install comes from Debian inside the root: only the base root is kept
# between runs on one machine (a week), and the outer build's compiler cache is lent read-only
# (hard links), so the programs are not compiled once more. The root is entered through its own
# mount and process namespaces, so whatever it started ends with it.
#
# Usage: fresh_root_test.sh SOURCE_DIR as-root|as-member|test-packages   (as root; 77 otherwise)
set -euo pipefail
src=$1
how=$2
if ((EUID != 0)); then
  echo "SKIP: making a root and entering it takes root"
  exit 77
fi
# shellcheck source=../support/testenv.sh
source "$src/tests/support/testenv.sh" "fresh-root-$how"
# shellcheck source=../support/checks.sh
source "$src/tests/support/checks.sh"
export PATH="$PATH:/usr/sbin:/sbin"
started=$(date +%s)
elapsed() { echo "$(($(date +%s) - started)) s"; }

# The base root, made once a week per machine; the tests that run at once wait for one another
# here.
cache=${STRIMO_FRESH_ROOT_CACHE:-/var/cache/strimo-tests}
base="$cache/bookworm-apt.tar"
mkdir -p "$cache"
exec 8>"$cache/.lock"
flock 8
if [[ ! -s $base ]] || [[ -n $(find "$base" -mtime +6) ]]; then
  echo "making the base root: mmdebstrap --variant=apt --include=git,sudo bookworm"
  if ! mmdebstrap --format=tar --variant=apt --include=git,sudo bookworm "$base.new" >"$work/mmdebstrap.log" 2>&1; then
    tail -n 30 "$work/mmdebstrap.log"
    echo "FAILED: mmdebstrap did not make the base root"
    exit 1
  fi
  mv "$base.new" "$base"
fi
exec 8>&-
rootfs="$work/root"
mkdir "$rootfs"
tar -C "$rootfs" -xpf "$base"
cp /etc/resolv.conf /etc/hosts "$rootfs/etc/"
# The machine's own trust in certificates (a network that inspects its traffic has an authority
# of its own there), with npm's settings for it: a desktop of this network has them too.
mkdir -p "$rootfs/etc/ssl/certs" "$rootfs/usr/local/share/ca-certificates"
cp /etc/ssl/certs/ca-certificates.crt "$rootfs/etc/ssl/certs/" 2>/dev/null || true
cp -r /usr/local/share/ca-certificates/. "$rootfs/usr/local/share/ca-certificates/" 2>/dev/null || true
for npmrc in /etc/npmrc /usr/etc/npmrc; do
  [[ -f $npmrc ]] && install -D -m 0644 "$npmrc" "$rootfs$npmrc"
done
commit=$(git -C "$src" rev-parse HEAD)
echo "base root ready after $(elapsed); commit under test $commit"

member=player
if [[ $how == as-member ]]; then
  # A desktop user who may use sudo (a desktop asks for the password; here it is not asked).
  chroot "$rootfs" useradd --create-home --shell /bin/bash --groups sudo "$member"
  printf '%s ALL=(ALL:ALL) NOPASSWD: ALL\n' "$member" >"$rootfs/etc/sudoers.d/$member"
  chmod 0440 "$rootfs/etc/sudoers.d/$member"
  home=/home/$member
  user_ids=$(chroot "$rootfs" id -u "$member"):$(chroot "$rootfs" id -g "$member")
else
  home=/root
  user_ids=0:0
fi
clone="$home/strimo"
git clone --quiet --no-hardlinks "$src" "$rootfs$clone"
git -C "$rootfs$clone" checkout --quiet "$commit"

# Ports of its own: the root shares this machine's network with the tests running beside it.
service_port=$(free_port)
rtmp_port=$(free_port)
sed -i -e "s/^STRIMO_SERVICE_PORT=.*/STRIMO_SERVICE_PORT=$service_port/" \
  -e "s/^STRIMO_RTMP_PORT=.*/STRIMO_RTMP_PORT=$rtmp_port/" "$rootfs$clone/scripts/ports.env"

# The outer build's compiler cache, lent read-only.
lent=()
if cache_dir=$(ccache -k cache_dir 2>/dev/null) && [[ -d $cache_dir ]] &&
  cp -al "$cache_dir" "$rootfs/var/tmp/ccache-lent" 2>/dev/null; then
  mkdir -m 1777 "$rootfs/var/tmp/ccache-tmp"
  lent=(CCACHE_DIR=/var/tmp/ccache-lent CCACHE_READONLY=1 CCACHE_NOSTATS=1 CCACHE_TEMPDIR=/var/tmp/ccache-tmp)
fi
chown -R "$user_ids" "$rootfs$home"

# The desktop's display: the private Xvfb of tests/fixtures/with-xvfb.sh outside the root, whose
# socket goes into the root.
display=()
if [[ $how != test-packages ]]; then
  [[ -n ${DISPLAY:-} ]] || { echo "FAILED: no display: run under tests/fixtures/with-xvfb.sh"; exit 1; }
  display=(DISPLAY="$DISPLAY")
fi

# What runs inside: the user's login environment and nothing else of this test's.
case $how in
  as-root | as-member) job="cd $clone && exec bash scripts/run.sh" ;;
  test-packages)
    job="cd $clone && bash scripts/install-deps.sh --tests --quiet && bash scripts/service-web-deps.sh --tests &&
         cmake -S . -B build-configure -DSTRIMO_TESTS=ON >build-configure.log 2>&1 && ctest --test-dir build-configure -N | tail -n 1" ;;
  *) echo "usage: fresh_root_test.sh SOURCE_DIR as-root|as-member|test-packages" >&2; exit 2 ;;
esac
if [[ $how == as-member ]]; then
  as_user=(setpriv --reuid="${user_ids%:*}" --regid="${user_ids#*:}" --init-groups)
  user_path=/usr/local/bin:/usr/bin:/bin:/usr/local/games:/usr/games
  user_name=$member
else
  as_user=()
  user_path=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
  user_name=root
fi
printf '%s\n' '#!/bin/bash' \
  "$(printf '%q ' "${as_user[@]}" env -i HOME="$home" USER="$user_name" LOGNAME="$user_name" LANG=C.UTF-8 \
     PATH="$user_path" "${display[@]}" "${lent[@]}" bash -c "$job") >/var/tmp/job.log 2>&1 &" \
  'echo $! >/var/tmp/job.pid' 'wait $!; echo $? >/var/tmp/job.status' \
  '# The first process of the namespace: what the job leaves running lives while this does.' \
  'exec sleep infinity' >"$rootfs/var/tmp/enter.sh"
# The namespace ends with this test, however it ends (ctest kills a test that outlasts its time).
trap 'exit 143' TERM INT
setpriv --pdeathsig KILL -- unshare --mount --pid --fork --kill-child bash -c '
  set -e
  r=$1
  mount -t proc proc "$r/proc"
  mount --rbind /dev "$r/dev"
  mount --rbind /sys "$r/sys"
  mount -t tmpfs -o mode=0755 tmpfs "$r/run"
  mkdir -p "$r/tmp/.X11-unix"
  mount --bind /tmp/.X11-unix "$r/tmp/.X11-unix"
  exec chroot "$r" /bin/bash /var/tmp/enter.sh' enter "$rootfs" &
namespace=$!
# unshare waits for its child through SIGTERM: it is killed, and the namespace with it.
at_exit kill -KILL "$namespace"

inside() {  # the processes whose root is the fresh root, as "PID EXECUTABLE"
  local proc
  for proc in /proc/[0-9]*; do
    [[ $(readlink "$proc/root" 2>/dev/null) == "$rootfs" ]] && echo "${proc#/proc/} $(readlink "$proc/exe" 2>/dev/null)"
  done
  return 0
}
job_ended() { [[ -f $rootfs/var/tmp/job.status ]] || ! kill -0 "$namespace" 2>/dev/null; }
job_status() { cat "$rootfs/var/tmp/job.status" 2>/dev/null || echo none; }
show_log() { echo "--- the job's output"; sed -e 's/\r/\n/g' "$rootfs/var/tmp/job.log" | tail -n 60; }

if [[ $how == test-packages ]]; then
  wait_until 18000 job_ended || true
  check "install-deps.sh --tests, service-web-deps.sh --tests and the configure of the whole tree end well" \
    test "$(job_status)" = 0
  check "the configured tree holds the tests" grep -Eq '^Total Tests: [1-9]' "$rootfs/var/tmp/job.log"
  if ((failed)); then show_log; tail -n 30 "$rootfs$clone/build-configure.log" 2>/dev/null; fi
  echo "test packages installed and tree configured after $(elapsed)"
  summary
  exit
fi

login_size=""
login_window() {
  job_ended && return 2
  window=$(xdotool search --onlyvisible --name '^STRIMO直播$' 2>/dev/null | head -n 1 || true)
  [[ -n $window ]]
}
shows_login() {
  local geometry
  # Packages, the build and the start: 30 minutes at most.
  wait_until 18000 login_window || return 1
  echo "the login window is shown after $(elapsed) (base root included)"
  login_size=$(file "$rootfs$clone/build/installation/res/login/login.png" |
    sed -n 's/.*PNG image data, \([0-9]*\) x \([0-9]*\),.*/\1x\2/p')
  geometry=$(xwininfo -id "$window" | awk '/Width:/ { w = $2 } /Height:/ { h = $2 } END { print w "x" h }')
  [[ $geometry == "$login_size" ]]
}
check "run.sh as $user_name brings the login window up" shows_login
runs_inside() {  # runs_inside PATH_IN_ROOT: a process of the root runs it, as the root's user
  local pid exe
  while read -r pid exe; do
    # The user by number: this machine does not know the root's names.
    [[ $exe == "$rootfs$1" && $(stat -c %u "/proc/$pid") == "${user_ids%:*}" ]] && return 0
  done < <(inside)
  return 1
}
check "the broadcaster runs inside the root, as $user_name" runs_inside "$clone/build/installation/strimo"
check "the reference service runs inside the root, as $user_name" runs_inside "$clone/build/service/strimo-service"
check "nginx runs inside the root, as $user_name" runs_inside /usr/sbin/nginx
check "the service answers on its port" eval '(exec 3<>"/dev/tcp/127.0.0.1/$service_port") 2>/dev/null'
# Every socket the root's processes listen on, by the address it listens on.
root_listeners() {
  local pids
  pids=$(inside | cut -d' ' -f1 | paste -sd'|')
  [[ -n $pids ]] || return 0
  ss -Hltunp | awk -v pids="^($pids)\$" '{
    rest = $0
    while (match(rest, /pid=[0-9]+,/)) {
      pid = substr(rest, RSTART + 4, RLENGTH - 5)
      if (pid ~ pids) { print $5; break }
      rest = substr(rest, RSTART + RLENGTH)
    }
  }'
}
root_listeners >"$work/listeners"
echo "listening inside the root: $(tr '\n' ' ' <"$work/listeners")"
check "nothing of the root listens beyond loopback" \
  eval '! grep -Ev "^(127\.[0-9.]+|\[::1\]|\[::ffff:127\.[0-9.]+\]):[0-9]+$" "$work/listeners"'
check "run.sh showed its three steps" eval 'grep -q "^\[1/3\]" "$rootfs/var/tmp/job.log" &&
  grep -q "^\[2/3\]" "$rootfs/var/tmp/job.log" && grep -q "^\[3/3\]" "$rootfs/var/tmp/job.log"'
check "nothing was installed after the packages' step" \
  eval '! sed -n "/^\[2\/3\]/,\$p" "$rootfs/var/tmp/job.log" | grep -Eq "install-deps: installing|Setting up|Unpacking"'
((failed)) && show_log
summary
