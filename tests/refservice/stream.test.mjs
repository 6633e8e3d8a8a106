// The whole chain on one machine: scripts/service.sh starts the service and nginx with the RTMP
// module on free loopback ports; FFmpeg publishes as the broadcaster does; headless Chromium
// opens the room page and must actually play the stream.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawn, execFile } from 'node:child_process';
import { promisify } from 'node:util';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const run = promisify(execFile);
const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const build = process.env.STRIMO_BUILD_DIR || path.join(root, 'build');
const { chromium } = await import(path.join(root, 'service/node_modules/playwright-core/index.mjs'));

let data, port, rtmpPort, base;

function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.once('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port: p } = server.address();
      server.close(() => resolve(p));
    });
  });
}

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

async function until(what, check, ms) {
  const end = Date.now() + ms;
  for (;;) {
    const value = await check();
    if (value) return value;
    if (Date.now() > end) assert.fail(`timed out waiting for ${what}`);
    await sleep(250);
  }
}

async function service(...args) {
  return run(path.join(root, 'scripts/service.sh'), [...args, '--data', data], { timeout: 120000 });
}

// Logs the demo member in and asks for a room, as the broadcaster does on one connection.
async function newRoom(title) {
  const login = await fetch(`${base}/api/login`, {
    method: 'POST',
    headers: { 'Content-Type': 'application/x-www-form-urlencoded' },
    body: 'username=demo&password=strimo-demo',
  });
  assert.equal(await login.text(), '1');
  const cookie = login.headers.get('set-cookie').split(';')[0];
  const reply = await fetch(`${base}/api/stream`, {
    method: 'POST',
    headers: { 'Content-Type': 'application/x-www-form-urlencoded', Cookie: cookie },
    body: `gid=1 &title=${encodeURIComponent(title)}`,
  });
  return reply.json();
}

async function roomState(lid) {
  return (await (await fetch(`${base}/api/room?lid=${lid}`)).json()).state;
}

// FFmpeg publishing a test picture and tone the way the broadcaster's encoder does (H.264 + AAC
// 22050 Hz mono in FLV, 10 pictures a second, a key frame only every 250 pictures).
// Resolves to the exit code.
function publish(url, seconds) {
  const ffmpeg = spawn('ffmpeg', ['-hide_banner', '-loglevel', 'error', '-re',
    '-f', 'lavfi', '-i', 'testsrc=size=320x240:rate=10',
    '-f', 'lavfi', '-i', 'sine=frequency=440:sample_rate=22050',
    '-t', String(seconds), '-c:v', 'libx264', '-preset', 'ultrafast', '-tune', 'zerolatency',
    '-g', '250', '-keyint_min', '10', '-pix_fmt', 'yuv420p',
    '-c:a', 'aac', '-ar', '22050', '-ac', '1', '-b:a', '32k',
    '-f', 'flv', url], { stdio: ['ignore', 'ignore', 'pipe'] });
  let errors = '';
  ffmpeg.stderr.on('data', (d) => { errors += d; });
  const done = new Promise((resolve) => ffmpeg.on('exit', (code) => resolve({ code, errors })));
  return { ffmpeg, done };
}

before(async () => {
  data = mkdtempSync(path.join(os.tmpdir(), 'strimo-stream-'));
  port = await freePort();
  rtmpPort = await freePort();
  base = `http://127.0.0.1:${port}`;
  await service('start', '--port', String(port), '--rtmp-port', String(rtmpPort), '--build', build);
});

after(async () => {
  try {
    await service('stop');
  } finally {
    rmSync(data, { recursive: true, force: true });
  }
});

test('a publish under a made-up stream name is refused', async () => {
  const { done } = publish(`rtmp://127.0.0.1:${rtmpPort}/live/s${'0'.repeat(32)}`, 5);
  const { code } = await done;
  assert.notEqual(code, 0);
});

test('the room page plays a published stream in Chromium within 10 s, and the room ends with it', async () => {
  const room = await newRoom('浏览器测试');
  assert.equal(room.pipUrl, `rtmp://127.0.0.1:${rtmpPort}/live`);
  const browser = await chromium.launch({
    executablePath: '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
      '--autoplay-policy=no-user-gesture-required'],
  });
  let publisher;
  try {
    // The viewer is in the room before the broadcast starts; the join time runs from the
    // publish to the player's clock moving.
    const page = await browser.newPage();
    await page.goto(`${base}/live/room?lid=${room.lid}`);
    await page.waitForFunction(() => document.getElementById('status').textContent.includes('还没有开始'),
      null, { timeout: 15000 });
    const published = Date.now();
    publisher = publish(`${room.pipUrl}/${room.pipName}`, 120);
    await until('the room to go live', async () => (await roomState(room.lid)) === 'live', 15000);
    await page.waitForFunction(() => document.getElementById('player').currentTime > 0, null,
      { timeout: 90000, polling: 100 });
    const joinMs = Date.now() - published;
    console.log(`# join time: ${(joinMs / 1000).toFixed(1)} s from the publish to the video playing`);
    assert.ok(joinMs < 10000, `the room page plays within 10 s of the publish (${joinMs} ms)`);
    const playlist = await (await fetch(`${base}/hls/room-${room.lid}.m3u8`)).text();
    assert.ok(!playlist.includes(room.pipName), 'the playlist never names the stream');

    const first = await page.evaluate(() => document.getElementById('player').currentTime);
    await page.waitForFunction((t) => document.getElementById('player').currentTime > t + 1, first,
      { timeout: 15000, polling: 250 });
    const video = await page.evaluate(() => {
      const v = document.getElementById('player');
      return { width: v.videoWidth, height: v.videoHeight, paused: v.paused };
    });
    assert.equal(video.paused, false);
    assert.deepEqual([video.width, video.height], [320, 240]);
    await page.screenshot({ path: path.join(build, 'refservice-room-page.png') }).catch(() => {});

    // The streaming server's control endpoint drops the publisher: the room ends with it.
    const control = path.join(data, 'nginx/control.sock');
    const { stdout } = await run('curl', ['-s', '--unix-socket', control,
      `http://localhost/control/drop/publisher?app=live&name=${room.pipName}`]);
    assert.equal(stdout.trim(), '1');
    const { code } = await publisher.done;
    assert.notEqual(code, 0);
    await until('the room to end', async () => (await roomState(room.lid)) === 'ended', 10000);
    await page.waitForFunction(() => document.getElementById('status').textContent.includes('直播已经结束'),
      null, { timeout: 15000 });
  } finally {
    await browser.close();
    publisher?.ffmpeg.kill('SIGKILL');
  }

  // The broadcaster's one reconnection under the same name is let in...
  const again = await publish(`${room.pipUrl}/${room.pipName}`, 2).done;
  assert.equal(again.code, 0, again.errors);
  // ...but after its end notice (fresh session, no cookie) the name is spent.
  const end = await fetch(`${base}/api/end?lid=${room.lid}`, { method: 'POST', body: '' });
  assert.equal(await end.text(), '1');
  assert.equal(await roomState(room.lid), 'ended');
  const reused = await publish(`${room.pipUrl}/${room.pipName}`, 3).done;
  assert.notEqual(reused.code, 0);
});

test('the demo set-up offers the sample release on the update host', async () => {
  const check = await (await fetch(`${base}/updata/check`)).text();
  assert.equal(check[0], '1');
  const description = await (await fetch(`${base}/updata/updata.xml`)).text();
  const version = readFileSync(path.join(root, 'service/sample-release/VERSION'), 'utf8').trim();
  assert.match(description, new RegExp(`<updata version="${version}">`));
  for (const file of ['UpdataInfo.txt', 'res/release-note.txt']) {
    assert.ok(description.includes(`>${file}<`), file);
    const served = Buffer.from(await (await fetch(`${base}/updata/${file}`)).arrayBuffer());
    const wanted = readFileSync(path.join(root, 'service/sample-release/files', file));
    assert.ok(served.equals(wanted), file);
  }
  assert.match(description, /<directory>\s*<dir>res<\/dir>/);
});
