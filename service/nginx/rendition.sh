#!/bin/sh
# Started by nginx-rtmp for every published stream (and stopped with it): re-encodes the picture
# with a key frame every 2 s, copies the sound, and publishes the result to the application that
# cuts the viewers' HLS. The broadcaster's own key frames are 25 s apart, so HLS cut from its
# stream makes a viewer wait for two such fragments.
#
#   rendition.sh FFMPEG RECORDING OUTPUT_URL
#
# The input is nginx's recording of the stream, read while it grows, not an RTMP play: nginx-rtmp
# keeps no key frame for late players, and a player that connects a moment after the publish
# would wait 25 s for the next one. The recording starts with the stream's first key frame.
set -eu
ffmpeg=$1 recording=$2 output=$3

# nginx opens the recording just after it starts us.
tries=0
while [ ! -s "$recording" ]; do
  tries=$((tries + 1))
  [ "$tries" -gt 100 ] && { echo "rendition.sh: no recording at $recording" >&2; exit 1; }
  sleep 0.05
done

exec "$ffmpeg" -hide_banner -nostdin -loglevel error -probesize 65536 -analyzeduration 500000 -follow 1 -i "$recording" \
  -map 0:v -map '0:a?' -c:v libx264 -preset veryfast -tune zerolatency -crf 23 -pix_fmt yuv420p \
  -force_key_frames 'expr:gte(t,n_forced*2)' -sc_threshold 0 \
  -c:a copy -f flv "$output"
