// The room page's player: waits until the room is live, then plays its HLS stream with hls.js
// (or natively where the browser plays HLS itself), and says so when the broadcast ends.
(function () {
  'use strict';
  var lid = document.currentScript.getAttribute('data-lid');
  var video = document.getElementById('player');
  var status = document.getElementById('status');
  var hls = null;
  var playing = false;

  function say(text) { status.textContent = text; }

  function start(playlist) {
    playing = true;
    say('正在连接直播…');
    if (window.Hls && window.Hls.isSupported()) {
      hls = new window.Hls({ liveSyncDurationCount: 2, manifestLoadingMaxRetry: 6 });
      hls.on(window.Hls.Events.MANIFEST_PARSED, function () {
        say('');
        video.play().catch(function () { say('点击画面开始播放'); });
      });
      hls.on(window.Hls.Events.ERROR, function (event, data) {
        if (!data.fatal) return;
        if (data.type === window.Hls.ErrorTypes.MEDIA_ERROR) { hls.recoverMediaError(); return; }
        stop('连接中断，稍后重试…');
      });
      hls.loadSource(playlist);
      hls.attachMedia(video);
    } else if (video.canPlayType('application/vnd.apple.mpegurl')) {
      video.src = playlist;
      video.play().catch(function () {});
    } else {
      say('这个浏览器不能播放直播。');
    }
  }

  function stop(text) {
    playing = false;
    if (hls) { hls.destroy(); hls = null; }
    say(text);
  }

  // A viewer waiting for the broadcast to begin asks every second, so the player starts soon
  // after it does; afterwards every 3 s is enough to notice the end.
  var waiting = true;

  function poll() {
    fetch('/api/room?lid=' + encodeURIComponent(lid), { cache: 'no-store' })
      .then(function (r) { return r.json(); })
      .then(function (room) {
        waiting = room.state === 'issued';
        if (room.state === 'live' && !playing) start(room.playlist);
        else if (room.state === 'issued') say('主播还没有开始直播，请稍候…');
        else if (room.state === 'ended' && playing) stop('直播已经结束。');
        else if (room.state === 'ended') say('直播已经结束。');
      })
      .catch(function () {})
      .then(function () { setTimeout(poll, waiting ? 1000 : 3000); });
  }
  poll();
})();
