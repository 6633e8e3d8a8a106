#!/usr/bin/env bash
# Starts and stops the reference service (strimo-service) and its streaming server (nginx with
# the RTMP module) on loopback.
#
#   scripts/service.sh start  [--data DIR] [--host ADDR] [--port N] [--rtmp-port N] [--publish-port N]
#                             [--build DIR] [--no-demo]
#   scripts/service.sh run    [same options]    start, stay in the foreground, stop on Ctrl-C
#   scripts/service.sh stop   [--data DIR]
#   scripts/service.sh status [--data DIR]
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
while (($#)); do
  case $1 in
    --data) data=$2; shift 2 ;;
    --host) host=$2; shift 2 ;;
    --port) port=$2; shift 2 ;;
    --rtmp-port) rtmp_port=$2; shift 2 ;;
    --publish-port) publish_port=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --no-demo) demo=0; shift ;;
    *) echo "service.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
# Everything made here is private to the user that runs the servers; the web front's files are
# opened to nginx's workers one by one below.
umask 077
mkdir -p "$data"
data=$(cd "$data" && pwd)
bin="$build/service/strimo-service"
prefix="$data/nginx"
service_pid="$data/service.pid"
nginx_pid="$prefix/nginx.pid"
# Debian keeps nginx in /usr/sbin, which a member's own PATH does not hold.
nginx=$(PATH="$PATH:/usr/sbin:/sbin" command -v nginx) || nginx=nginx
DEMO_USER=demo
DEMO_PASSWORD=strimo-demo

worker_user=${STRIMO_SERVICE_USER:-strimo}

alive() { [[ -f $1 ]] && kill -0 "$(cat "$1" 2>/dev/null)" 2>/dev/null; }

# Waits up to $2 tenths of a second for a TCP listener on 127.0.0.1-style address $1 (host:port).
wait_tcp() {
  local h=${1%:*} p=${1##*:} n=0
  until (exec 3<>"/dev/tcp/$h/$p") 2>/dev/null; do
    ((++n > $2)) && return 1
    sleep 0.1
  done
}

stop_all() {
  if alive "$nginx_pid"; then
    "$nginx" -p "$prefix" -e logs/error.log -c conf/nginx.conf -s stop 2>/dev/null || kill "$(cat "$nginx_pid")" 2>/dev/null || true
    for _ in $(seq 100); do alive "$nginx_pid" || break; sleep 0.1; done
  fi
  if alive "$service_pid"; then
    local pid
    pid=$(cat "$service_pid")
    kill -TERM "$pid"
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$pid" 2>/dev/null && kill -KILL "$pid"
  fi
  rm -f "$service_pid"
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

start_all() {
  [[ -x $bin ]] || { echo "service.sh: $bin is missing: build first (scripts/build.sh)" >&2; exit 1; }
  (umask 022 && "$root/scripts/service-web-deps.sh")
  if alive "$service_pid" || alive "$nginx_pid"; then
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
  # so its loopback port is of no use to anyone else on this machine.
  local secret service_port callback_port
  secret=$(head -c 24 /dev/urandom | od -An -tx1 | tr -d ' \n')
  printf 'front-secret = %s\n' "$secret" >"$data/front.conf"
  setsid "$bin" serve "${operator_config[@]}" --config "$data/front.conf" --listen 127.0.0.1 --port 0 \
    --callback-port 0 --data "$data" \
    --rtmp-url "rtmp://$host:${publish_port:-$rtmp_port}/live" --web-url "http://$host:$port" \
    >"$data/service.log" 2>&1 &
  echo $! >"$service_pid"
  # It says where it listens once it does.
  for _ in $(seq 100); do
    grep -q 'publish callbacks on' "$data/service.log" 2>/dev/null && break
    alive "$service_pid" || break
    sleep 0.1
  done
  service_port=$(sed -n 's|.*listening on http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$data/service.log")
  callback_port=$(sed -n 's|.*publish callbacks on http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$data/service.log")
  if [[ -z $service_port || -z $callback_port ]]; then
    echo "service.sh: the service did not start; its log:" >&2
    cat "$data/service.log" >&2
    stop_all
    exit 1
  fi

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
  sed -e "s|@HTTP_LISTEN@|$host:$port|" -e "s|@SERVICE_PORT@|$service_port|" -e "s|@FRONT_SECRET@|$secret|" \
      -e "s|@WORK_DIR@|$data/nginx-work|g" -e "s|@WEB_ROOT@|$root/service/web|" \
      -e "s|@HLS_JS@|$root/service/node_modules/hls.js/dist/hls.min.js|" \
      -e "s|@HLS_DIR@|$data/hls|" -e "s|@UPDATE_DIR@|$data/updata|" \
      "$root/service/nginx/front.conf.in" >"$prefix/conf/front.conf"
  sed -e "s|@USER_LINE@|$user_line|" -e "s|@PREFIX@|$prefix|g" -e "s|@RTMP_LISTEN@|$host:$rtmp_port|" \
      -e "s|@APP@|live|" -e "s|@HLS_APP@|hls|g" -e "s|@CALLBACK@|http://127.0.0.1:$callback_port|g" \
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
  echo "service.sh: service http://$host:$port/  rtmp://$host:$rtmp_port/live  data $data"
}

case $command in
  start) start_all ;;
  run)
    start_all
    trap 'stop_all; echo "service.sh: stopped ($data)"; exit 0' INT TERM
    echo "service.sh: running; Ctrl-C stops both"
    while alive "$service_pid" && alive "$nginx_pid"; do sleep 1; done
    echo "service.sh: a server ended on its own; see $data/service.log and $prefix/logs/error.log" >&2
    stop_all
    exit 1
    ;;
  stop) stop_all; echo "service.sh: stopped ($data)" ;;
  status)
    alive "$service_pid" && echo "service: running (pid $(cat "$service_pid"))" || echo "service: stopped"
    alive "$nginx_pid" && echo "nginx: running (pid $(cat "$nginx_pid"))" || echo "nginx: stopped"
    ;;
  *) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 2 ;;
esac
