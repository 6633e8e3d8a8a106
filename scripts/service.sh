#!/usr/bin/env bash
# Starts and stops the reference service (strimo-service) and its streaming server (nginx with
# the RTMP module) on loopback.
#
#   scripts/service.sh start  [--data DIR] [--host ADDR] [--port N] [--rtmp-port N] [--publish-port N]
#                             [--build DIR] [--no-demo] [--instances N]
#   scripts/service.sh run    [same options]    start, stay in the foreground, stop on Ctrl-C
#   scripts/service.sh stop   [--data DIR]
#   scripts/service.sh status [--data DIR]
#   scripts/service.sh restart-instances [--data DIR]   one instance after the other
#
# Addresses default to scripts/ports.env; the data folder to build/service-data. The first start
# of a data folder sets up the demo: member "demo" with password "strimo-demo", and the sample
# release (version 2) on the update host. --publish-port names the port broadcasters are sent to
# when it is not nginx's own (a relay in front of it, as the network-fault tests put there).
#
# nginx is the only listener on the service's address: the service itself listens on loopback
# ports of its own choosing and answers nothing that does not come through nginx. Settings of
# the operator's for the service go in DATA/strimo-service.conf (see service/README.md).
# Started as root, nginx's workers and the rendition they start run as the unprivileged user
# $STRIMO_SERVICE_USER (default strimo), made here when missing.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=ports.env
source "$root/scripts/ports.env"

command=${1:-}
shift || true
host=$STRIMO_SERVICE_HOST
port=$STRIMO_SERVICE_PORT
rtmp_port=$STRIMO_RTMP_PORT
publish_port=""
data="$root/build/service-data"
build="$root/build"
demo=1
instances=1
options=("$@")
while (($#)); do
  case $1 in
    --data) data=$2; shift 2 ;;
    --host) host=$2; shift 2 ;;
    --port) port=$2; shift 2 ;;
    --rtmp-port) rtmp_port=$2; shift 2 ;;
    --publish-port) publish_port=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --no-demo) demo=0; shift ;;
    --instances) instances=$2; shift 2 ;;
    *) echo "service.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
# Everything made here is private to the user that runs the servers; the web front's files are
# opened to nginx's workers one by one below.
umask 077
mkdir -p "$data"
data=$(cd "$data" && pwd)
[[ $instances =~ ^[1-9][0-9]?$ ]] && ((instances <= 16)) || { echo "service.sh: --instances takes 1 to 16" >&2; exit 2; }
bin="$build/service/strimo-service"
prefix="$data/nginx"
service_pid="$data/service.pid"
nginx_pid="$prefix/nginx.pid"
watcher_pid="$data/watcher.pid"
# One line per instance: its number, its port and its callback listener's port, chosen at the
# first start and kept, so a restarted instance is where nginx already looks for it.
instance_list="$data/instances"
# How long nginx leaves out an instance it could not reach before it tries it again.
fail_timeout=2
# Held by whoever starts or stops an instance: the watcher, or a rolling restart.
instance_lock="$data/instances.lock"
# Debian keeps nginx in /usr/sbin, which a member's own PATH does not hold.
nginx=$(PATH="$PATH:/usr/sbin:/sbin" command -v nginx) || nginx=nginx
DEMO_USER=demo
DEMO_PASSWORD=strimo-demo

worker_user=${STRIMO_SERVICE_USER:-strimo}

# A process that ended is not alive even while nobody has reaped it yet: what service.sh starts
# in the background is reaped by whoever adopts it, which may take its time.
alive() {
  local pid stat
  [[ -f $1 ]] && pid=$(cat "$1" 2>/dev/null) && [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null &&
    stat=$(cat "/proc/$pid/stat" 2>/dev/null) && [[ ${stat##*) } != Z* ]]
}

# Waits up to $2 tenths of a second for a TCP listener on 127.0.0.1-style address $1 (host:port).
wait_tcp() {
  local h=${1%:*} p=${1##*:} n=0
  until (exec 3<>"/dev/tcp/$h/$p") 2>/dev/null; do
    ((++n > $2)) && return 1
    sleep 0.1
  done
}

# Instance 1 keeps the names of the single service (service.pid, service.log); instance K
# of several has service-K.pid and service-K.log.
instance_name() { if (($1 == 1)); then echo service; else echo "service-$1"; fi; }
instance_numbers() { if [[ -f $instance_list ]]; then cut -d' ' -f1 "$instance_list"; else echo 1; fi; }

# Ends instance $1 with SIGTERM (SIGKILL after 10 s) and removes its pid file.
stop_instance() {
  local file pid
  file="$data/$(instance_name "$1").pid"
  if alive "$file"; then
    pid=$(cat "$file")
    kill -TERM "$pid"
    for _ in $(seq 100); do alive "$file" || break; sleep 0.1; done
    alive "$file" && kill -KILL "$pid"
  fi
  rm -f "$file"
}

stop_all() {
  # The watcher first, or it would start again what is stopped here.
  if alive "$watcher_pid"; then
    local watcher
    watcher=$(cat "$watcher_pid")
    kill -TERM "$watcher" 2>/dev/null || true
    for _ in $(seq 100); do alive "$watcher_pid" || break; sleep 0.1; done
  fi
  rm -f "$watcher_pid"
  if alive "$nginx_pid"; then
    "$nginx" -p "$prefix" -e logs/error.log -c conf/nginx.conf -s stop 2>/dev/null || kill "$(cat "$nginx_pid")" 2>/dev/null || true
    for _ in $(seq 100); do alive "$nginx_pid" || break; sleep 0.1; done
  fi
  local k
  for k in $(instance_numbers); do stop_instance "$k"; done
}

# The data folder and what is in it are the running user's alone, whatever an older version or
# another umask left there.
private_folders() {
  chmod 0700 "$data"
  chmod -f 0600 "$data"/strimo.db* "$data"/*.log "$data"/*.conf || true
  [[ -d $prefix ]] && chmod 0700 "$prefix"
  if [[ $(id -u) == 0 ]] && ! id "$worker_user" >/dev/null 2>&1; then
    useradd --system --user-group --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$worker_user"
  fi
}

# A free port for an instance's listener, below the kernel's range for outgoing connections: no
# connection made while the instance restarts can be given its port. Not one of "$@".
pick_port() {
  local low high p
  read -r low high </proc/sys/net/ipv4/ip_local_port_range
  ((low > 11024)) || low=11024
  for _ in $(seq 100); do
    p=$((10000 + (RANDOM * 32768 + RANDOM) % (low - 10000)))
    [[ " $* " == *" $p "* ]] && continue
    (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null && continue
    echo "$p"
    return 0
  done
  return 1
}

# Starts instance $1 on port $2 with its callback listener on $3; true once it listens.
start_instance() {
  local name log operator_config=()
  name=$(instance_name "$1")
  log="$data/$name.log"
  # What an instance wrote before it ended stays beside the new log, for one restart.
  [[ -s $log ]] && mv -f "$log" "$log.1"
  [[ -f $data/strimo-service.conf ]] && operator_config=(--config "$data/strimo-service.conf")
  # Nothing of this shell's stays open in it (the lock of the watcher, the caller's output).
  setsid "$bin" serve "${operator_config[@]}" --config "$data/front.conf" --listen 127.0.0.1 --port "$2" \
    --callback-port "$3" --data "$data" \
    --rtmp-url "rtmp://$host:${publish_port:-$rtmp_port}/live" --web-url "http://$host:$port" \
    </dev/null >"$log" 2>&1 9>&- &
  echo $! >"$data/$name.pid"
  # It says where it listens once it does.
  for _ in $(seq 100); do
    grep -q 'publish callbacks on' "$log" 2>/dev/null && return 0
    alive "$data/$name.pid" || return 1
    sleep 0.1
  done
  return 1
}

# True when the instance on port $1 answers a request as the front passes it on.
instance_answers() {
  local secret line
  secret=$(sed -n 's/^front-secret = //p' "$data/front.conf")
  {
    exec 3<>"/dev/tcp/127.0.0.1/$1" &&
      printf 'GET /api/games HTTP/1.0\r\nHost: 127.0.0.1\r\nX-Strimo-Front: %s\r\n\r\n' "$secret" >&3 &&
      read -r -t 5 line <&3 && [[ $line == *" 200 "* ]]
  } 2>/dev/null
}

# The watcher: every half second, an instance that ended is started again on its ports. It
# runs in a session of its own, from start until stop.
watch_instances() {
  trap 'exit 0' TERM INT
  exec 9>"$instance_lock"
  # Not "port": that is the front's, which the instances are told as their web address.
  local k iport icb
  while :; do
    while read -r k iport icb; do
      alive "$data/$(instance_name "$k").pid" && continue
      flock 9
      # A rolling restart may have started it while this waited for the lock.
      if ! alive "$data/$(instance_name "$k").pid"; then
        echo "$(date -u '+%F %T') instance $k ended; starting it again"
        start_instance "$k" "$iport" "$icb" || echo "$(date -u '+%F %T') instance $k did not start; trying again"
      fi
      flock -u 9
    done <"$instance_list"
    sleep 0.5
  done
}

# One instance after the other: stopped, started again, and the next only once it answers.
# The others take its requests meanwhile (nginx passes them on when it cannot connect).
restart_instances() {
  [[ -f $instance_list ]] && alive "$nginx_pid" || { echo "service.sh: not running for $data" >&2; exit 1; }
  exec 9>"$instance_lock"
  local k iport icb lines line
  mapfile -t lines <"$instance_list"
  for line in "${lines[@]}"; do
    read -r k iport icb <<<"$line"
    flock 9
    stop_instance "$k"
    if ! start_instance "$k" "$iport" "$icb"; then
      echo "service.sh: instance $k did not start again; its log:" >&2
      cat "$data/$(instance_name "$k").log" >&2
      exit 1
    fi
    for _ in $(seq 100); do instance_answers "$iport" && break; sleep 0.1; done
    instance_answers "$iport" || { echo "service.sh: instance $k does not answer" >&2; exit 1; }
    flock -u 9
    echo "service.sh: instance $k restarted (pid $(cat "$data/$(instance_name "$k").pid"))"
    # nginx takes it back only once the time it leaves out an instance it could not reach has
    # passed since it last tried: stopping the next one before would leave it none to send to.
    sleep "$fail_timeout.5"
  done
}

start_all() {
  [[ -x $bin ]] || { echo "service.sh: $bin is missing: build first (scripts/build.sh)" >&2; exit 1; }
  (umask 022 && "$root/scripts/service-web-deps.sh")
  local k running=""
  for k in $(instance_numbers); do
    alive "$data/$(instance_name "$k").pid" && running=1
  done
  if [[ -n $running ]] || alive "$nginx_pid" || alive "$watcher_pid"; then
    echo "service.sh: already running for $data (scripts/service.sh stop first)" >&2
    exit 1
  fi

  # The operator's settings name the database (SQLite in the data folder, or PostgreSQL): the
  # commands below work on the one the service will use.
  local operator_config=()
  [[ -f $data/strimo-service.conf ]] && operator_config=(--config "$data/strimo-service.conf")
  if [[ ! -f $data/strimo.db && ! -f $data/demo.done && $demo == 1 ]]; then
    echo "service.sh: new data folder $data: demo member '$DEMO_USER', sample release $(cat "$root/service/sample-release/VERSION")"
    # A database that other machines share may have the member already.
    echo "$DEMO_PASSWORD" | "$bin" add-user "${operator_config[@]}" --data "$data" "$DEMO_USER" >/dev/null ||
      echo "service.sh: the demo member was not added (see above)"
    : >"$data/demo.done"
    # A release is public: nginx's workers send it.
    (umask 022 && mkdir -p "$data/updata" && cp -r "$root/service/sample-release/files/." "$data/updata/")
    (umask 022 && "$bin" make-update --version "$(cat "$root/service/sample-release/VERSION")" "$data/updata" >/dev/null)
  fi
  private_folders

  # A streaming server that is starting has no publisher: rooms left live by one that stopped
  # are marked dropped (their broadcasters may still reconnect within the grace time).
  "$bin" end-live "${operator_config[@]}" --data "$data" >/dev/null

  # The secret nginx adds to every request it passes on: without it the service answers nothing,
  # so its loopback ports are of no use to anyone else on this machine.
  local secret taken=() servers="" callbacks="" callback_front
  secret=$(head -c 24 /dev/urandom | od -An -tx1 | tr -d ' \n')
  printf 'front-secret = %s\n' "$secret" >"$data/front.conf"
  : >"$instance_list"
  for k in $(seq "$instances"); do
    local started=0 service_port="" callback_port=""
    for _ in $(seq 20); do
      service_port=$(pick_port "${taken[@]}") && taken+=("$service_port") &&
        callback_port=$(pick_port "${taken[@]}") && taken+=("$callback_port") || break
      if start_instance "$k" "$service_port" "$callback_port"; then started=1; break; fi
      # A port taken since it was picked: others. Any other failure is the service's own.
      grep -q 'cannot listen' "$data/$(instance_name "$k").log" || break
    done
    if ((started == 0)); then
      echo "service.sh: the service did not start; its log:" >&2
      cat "$data/$(instance_name "$k").log" >&2
      stop_all
      exit 1
    fi
    echo "$k $service_port $callback_port" >>"$instance_list"
    # One failed connection takes an instance out for a while; then nginx tries it again.
    servers+="server 127.0.0.1:$service_port max_fails=1 fail_timeout=${fail_timeout}s; "
    callbacks+="server 127.0.0.1:$callback_port max_fails=1 fail_timeout=${fail_timeout}s; "
  done
  # nginx-rtmp calls one address: the front's listener for the callbacks, which passes them on
  # to an instance that is up.
  callback_front=$(pick_port "${taken[@]}") || { echo "service.sh: no free port for the callbacks" >&2; stop_all; exit 1; }

  # Recordings feed the viewers' rendition only while their stream is published; what a stopped
  # nginx left behind is of no use.
  rm -rf "$data/record"
  mkdir -p "$prefix/conf" "$prefix/logs" "$prefix/temp" "$data/hls" "$data/record" "$data/nginx-work"
  local user_line="" ffmpeg rendition_from=$host
  # The rendition connects to the listening address; from 0.0.0.0 that comes from loopback.
  [[ $host == 0.0.0.0 ]] && rendition_from=127.0.0.1
  if [[ $(id -u) == 0 ]]; then
    # nginx's workers parse what anyone sends, and the rendition decodes what members broadcast:
    # neither runs as root. They own what they write (HLS, recordings, buffers), may pass
    # through the data folder (not list it) and read the release; the database, the logs, the
    # configuration with its secret and the control socket stay root's.
    user_line="user $worker_user $worker_user;"
    chown "$worker_user:$worker_user" "$data/hls" "$data/record" "$data/nginx-work"
    chgrp "$worker_user" "$data"
    chmod 0710 "$data"
    # The folders above the data folder must let the workers pass (a private temporary folder
    # would not): passing lists nothing.
    local up=$data
    while up=$(dirname "$up"); [[ $up != / ]]; do
      if ! setpriv --reuid="$worker_user" --regid="$worker_user" --clear-groups test -x "$up"; then
        echo "service.sh: letting $worker_user pass through $up (o+x)"
        chmod o+x "$up"
      fi
    done
  fi
  ffmpeg=$(command -v ffmpeg) || { echo "service.sh: ffmpeg is missing (scripts/install-deps.sh)" >&2; stop_all; exit 1; }
  # The media tests render the same template without a service (tests/support/NginxRtmpServer.h):
  # there SERVICE comments out what needs the service or the rendition, and RECORD_DONE keeps
  # the recording instead of removing it.
  sed -e "s|@HTTP_LISTEN@|$host:$port|" -e "s|@SERVICE_SERVERS@|$servers|" -e "s|@CALLBACK_SERVERS@|$callbacks|" \
      -e "s|@CALLBACK_LISTEN@|127.0.0.1:$callback_front|" -e "s|@FRONT_SECRET@|$secret|" \
      -e "s|@WORK_DIR@|$data/nginx-work|g" -e "s|@WEB_ROOT@|$root/service/web|" \
      -e "s|@HLS_JS@|$root/service/node_modules/hls.js/dist/hls.min.js|" \
      -e "s|@HLS_DIR@|$data/hls|" -e "s|@UPDATE_DIR@|$data/updata|" \
      "$root/service/nginx/front.conf.in" >"$prefix/conf/front.conf"
  sed -e "s|@USER_LINE@|$user_line|" -e "s|@PREFIX@|$prefix|g" -e "s|@RTMP_LISTEN@|$host:$rtmp_port|" \
      -e "s|@APP@|live|" -e "s|@HLS_APP@|hls|g" -e "s|@CALLBACK@|http://127.0.0.1:$callback_front|g" \
      -e "s|@HLS_DIR@|$data/hls|" -e "s|@RECORD_DIR@|$data/record|g" -e "s|@RTMP_LOCAL@|$host:$rtmp_port|" \
      -e "s|@RENDITION_FROM@|$rendition_from|" \
      -e "s|@FFMPEG@|$ffmpeg|" -e "s|@RENDITION@|$root/service/nginx/rendition.sh|" \
      -e "s|@CONTROL_SOCKET@|$prefix/control.sock|" \
      -e "s|@SERVICE@||g" -e "s|@RECORD@|all|" -e "s|@RECORD_DONE@|/bin/rm -f|" \
      "$root/service/nginx/nginx.conf.in" >"$prefix/conf/nginx.conf"
  rm -f "$prefix/control.sock"
  # -e: the log nginx opens before it reads its configuration; Debian's is root's alone.
  setsid "$nginx" -p "$prefix" -e logs/error.log -c conf/nginx.conf -g 'daemon off;' >>"$prefix/logs/stdout.log" 2>&1 &
  if ! wait_tcp "$host:$rtmp_port" 100 || ! wait_tcp "${host/0.0.0.0/127.0.0.1}:$port" 100; then
    echo "service.sh: nginx did not start; its log:" >&2
    tail -n 20 "$prefix/logs/error.log" "$prefix/logs/stdout.log" >&2 || true
    stop_all
    exit 1
  fi
  if ((instances > 1)); then
    setsid "$root/scripts/service.sh" watch "${options[@]}" </dev/null >>"$data/watcher.log" 2>&1 &
    echo $! >"$watcher_pid"
  fi
  echo "service.sh: service http://$host:$port/  rtmp://$host:$rtmp_port/live  data $data" \
    "($instances instance$( ((instances > 1)) && echo s))"
}

# True while the service answers: its single instance runs, or the watcher keeps several.
serving() {
  if [[ $(instance_numbers | wc -l) -gt 1 ]]; then alive "$watcher_pid"; else alive "$service_pid"; fi
}

case $command in
  start) start_all ;;
  run)
    start_all
    trap 'stop_all; echo "service.sh: stopped ($data)"; exit 0' INT TERM
    echo "service.sh: running; Ctrl-C stops both"
    while serving && alive "$nginx_pid"; do sleep 1; done
    echo "service.sh: a server ended on its own; see $data/service*.log and $prefix/logs/error.log" >&2
    stop_all
    exit 1
    ;;
  stop) stop_all; echo "service.sh: stopped ($data)" ;;
  restart-instances) restart_instances ;;
  watch) watch_instances ;;
  status)
    while read -r k iport _; do
      name=$(instance_name "$k")
      alive "$data/$name.pid" && echo "$name: running (pid $(cat "$data/$name.pid"), port $iport)" || echo "$name: stopped"
    done < <(if [[ -f $instance_list ]]; then cat "$instance_list"; else echo "1 -"; fi)
    if [[ $(instance_numbers | wc -l) -gt 1 ]]; then
      alive "$watcher_pid" && echo "watcher: running (pid $(cat "$watcher_pid"))" || echo "watcher: stopped"
    fi
    alive "$nginx_pid" && echo "nginx: running (pid $(cat "$nginx_pid"))" || echo "nginx: stopped"
    ;;
  *) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 2 ;;
esac
