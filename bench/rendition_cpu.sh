#!/usr/bin/env bash
# Measures what the viewers' rendition costs per room: starts the reference service and nginx on
# free loopback ports, publishes one stream the way the broadcaster does (H.264 with a key frame
# every 250 pictures, AAC 22050 Hz mono) and reads the CPU time of the re-encoding FFmpeg process
# from /proc/PID/stat over a window, beside the publisher's own encoder.
#
#   bench/rendition_cpu.sh [WIDTHxHEIGHT] [FRAMES_PER_SECOND] [SECONDS]    (default 700x500 10 60)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
size=${1:-700x500} rate=${2:-10} window=${3:-60}
build=${STRIMO_BUILD_DIR:-$root/build}
data=$(mktemp -d "${TMPDIR:-/tmp}/strimo-rendition-cpu.XXXXXX")
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
port=$(free_port) rtmp=$(free_port)
publisher=
cleanup() {
  [[ -n $publisher ]] && kill "$publisher" 2>/dev/null || true
  "$root/scripts/service.sh" stop --data "$data" >/dev/null || true
  rm -rf "$data"
}
trap cleanup EXIT
"$root/scripts/service.sh" start --data "$data" --port "$port" --rtmp-port "$rtmp" --build "$build" >/dev/null

base=http://127.0.0.1:$port
jar=$data/cookies
[[ $(curl -s -c "$jar" -d 'username=demo&password=strimo-demo' "$base/api/login") == 1 ]]
name=$(curl -s -b "$jar" -d 'gid=1 &title=cpu' "$base/api/stream" | python3 -c 'import json,sys; print(json.load(sys.stdin)["pipName"])')

# A moving picture with detail (testsrc2), as a game is, rather than a still one.
ffmpeg -hide_banner -nostdin -loglevel error -re -f lavfi -i "testsrc2=size=$size:rate=$rate" \
  -f lavfi -i sine=frequency=440:sample_rate=22050 -t $((window + 30)) \
  -c:v libx264 -preset ultrafast -g 250 -keyint_min "$rate" -b:v 800k -pix_fmt yuv420p \
  -c:a aac -ar 22050 -ac 1 -b:a 32k -f flv "rtmp://127.0.0.1:$rtmp/live/$name" &
publisher=$!

rendition=
for _ in $(seq 200); do
  rendition=$(pgrep -f -- "-follow 1 -i $data/record/$name.flv" || true)
  [[ -n $rendition ]] && break
  sleep 0.1
done
[[ -n $rendition ]] || { echo "rendition_cpu.sh: no rendition process" >&2; exit 1; }

ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }   # utime + stime, in clock ticks
hz=$(getconf CLK_TCK)
sleep 10   # past start-up: the figure is for a running room
r0=$(ticks "$rendition") p0=$(ticks "$publisher") t0=$(date +%s.%N)
sleep "$window"
r1=$(ticks "$rendition") p1=$(ticks "$publisher") t1=$(date +%s.%N)
awk -v r=$((r1 - r0)) -v p=$((p1 - p0)) -v hz="$hz" -v t0="$t0" -v t1="$t1" -v size="$size" -v rate="$rate" \
  -v cpu="$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')" 'BEGIN {
  wall = t1 - t0
  printf "picture %s at %s frames/s, %.0f s measured on %s\n", size, rate, wall, cpu
  printf "  rendition (libx264 veryfast, key frame every 2 s, audio copied): %5.1f %% of one core\n", 100 * r / hz / wall
  printf "  publisher (libx264 ultrafast, the broadcaster'"'"'s side, for scale): %5.1f %% of one core\n", 100 * p / hz / wall
}'
