// The window on a shared computer, as another account there meets it: the token is on no
// command line, another account's programs are not served even with it, nothing they send
// holds the owner up or makes the guide grow, nothing of the guide's is inherited by its
// children, and a browser that never returns holds nothing up.
//
// The guide opens the page itself here, through a stand-in for xdg-open that never returns (as
// xdg-open does with a browser it does not know, or with BROWSER set), and rehearses with a
// stand-in for the virtual hand that notes what it inherited. Another account is nobody, through
// setpriv, which needs root: those tests are skipped without it.
import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { events, guideProgram, request, startBrowser, startGuide } from './harness.mjs';

const root = process.getuid() === 0;
const needsRoot = root ? false : 'needs root to act as another account';
const asNobody = ['--reuid=65534', '--regid=65534', '--clear-groups'];
const sleep = (ms) => new Promise((resolve) => { setTimeout(resolve, ms); });

let guide;
let stands;  // the stand-ins' folder, and what they note

// Waits up to |ms| for |check| to be true.
async function until(check, ms, what) {
  const end = Date.now() + ms;
  while (!(await check())) {
    if (Date.now() > end) throw new Error(`waited ${ms} ms for ${what}`);
    await sleep(100);
  }
}

// JavaScript run by node as nobody; its standard output.
function nodeAsNobody(script, timeout = 20000) {
  return new Promise((resolve, reject) => {
    const child = spawn('setpriv', [...asNobody, process.execPath, '-e', script],
      { cwd: '/', stdio: ['ignore', 'pipe', 'pipe'] });
    let out = '';
    let err = '';
    const timer = setTimeout(() => { child.kill('SIGKILL'); reject(new Error(`timed out: ${err}`)); }, timeout);
    child.stdout.on('data', (chunk) => { out += chunk; });
    child.stderr.on('data', (chunk) => { err += chunk; });
    child.on('exit', (code) => {
      clearTimeout(timer);
      if (code === 0) resolve(out); else reject(new Error(`status ${code}: ${err}`));
    });
  });
}

const own = () => ({ Host: `127.0.0.1:${guide.port}` });

// How long the owner waits for the page now, in ms. The bound the tests hold it to leaves room
// for a loaded computer; what they catch is a wait for another connection's deadline (20 s), or
// a request refused outright.
async function ownerWaits() {
  const started = Date.now();
  const answer = await request(guide.port, { headers: own() });
  assert.equal(answer.status, 200);
  return Date.now() - started;
}

// The guide's resident memory in KiB.
function residentKiB() {
  const status = fs.readFileSync(`/proc/${guide.child.pid}/status`, 'utf8');
  return Number(status.match(/^VmRSS:\s+(\d+) kB$/m)[1]);
}

before(async () => {
  stands = fs.mkdtempSync(path.join(os.tmpdir(), 'window-stand-ins-'));
  fs.writeFileSync(path.join(stands, 'xdg-open'), [
    '#!/bin/sh',
    `echo $$ >'${stands}/opener.pid'`,
    `printf '%s\\n' "$@" >'${stands}/opened'`,
    `ls -l /proc/$$/fd >'${stands}/opener.fds' 2>&1`,
    'exec sleep 600',
    ''].join('\n'), { mode: 0o755 });
  const hand = path.join(path.dirname(guideProgram), 'sim', 'nodletflash-sim');
  fs.writeFileSync(path.join(stands, 'nodletflash-sim'), [
    '#!/bin/sh',
    `ls -l /proc/$$/fd >'${stands}/tool.fds' 2>&1`,
    `exec '${hand}' "$@"`,
    ''].join('\n'), { mode: 0o755 });
  guide = await startGuide(
    ['--rehearse', '--sim-clock=virtual', `--sim=${path.join(stands, 'nodletflash-sim')}`, '--no-log', '12', 'tiny.hex'],
    { browser: true, env: { PATH: `${stands}:${process.env.PATH}` } });
});

after(async () => {
  try {
    process.kill(Number(fs.readFileSync(path.join(stands, 'opener.pid'), 'utf8')), 'SIGKILL');
  } catch { /* gone already */ }
  await guide.stop();
  fs.rmSync(stands, { recursive: true, force: true });
});

test('the browser is opened on a page only this user may read: the token is on no command line', async () => {
  await until(() => fs.existsSync(path.join(stands, 'opener.fds')), 20000, 'xdg-open to be started');
  const opened = fs.readFileSync(path.join(stands, 'opened'), 'utf8').trim();
  assert.equal(opened.includes(guide.token), false, opened);
  const page = fs.statSync(opened);
  assert.equal(page.mode & 0o777, 0o600);
  assert.equal(page.uid, process.getuid());
  assert.equal(fs.statSync(path.dirname(opened)).mode & 0o777, 0o700);
  assert.ok(fs.readFileSync(opened, 'utf8').includes(`location.replace("${guide.url}")`));
  // No process's command line holds it, as any account reads them.
  for (const pid of fs.readdirSync('/proc').filter((name) => /^\d+$/.test(name))) {
    let args = '';
    try { args = fs.readFileSync(`/proc/${pid}/cmdline`, 'latin1'); } catch { continue; }
    assert.equal(args.includes(guide.token), false, `process ${pid}: ${args.replace(/\0/g, ' ')}`);
  }
  if (root) {
    const listing = execFileSync('setpriv', [...asNobody, 'ps', '-eo', 'args'], { encoding: 'utf8' });
    assert.ok(listing.includes('nodletflash-guide'), 'ps as nobody lists the guide');
    assert.equal(listing.includes(guide.token), false);
  }
});

test('with a browser that never returns, the checks run', async () => {
  await until(async () => (await events(guide)).state.modules[0].checked, 20000, 'the checks');
  const run = await events(guide);
  assert.equal(run.state.modules[0].allowed, true);
  assert.equal(run.state.can_start, true);
});

test('the page opened from that file loses the token from its address, and keeps the run on reload', async () => {
  const opened = fs.readFileSync(path.join(stands, 'opened'), 'utf8').trim();
  const browser = await startBrowser();
  try {
    const page = await browser.context.newPage();
    await page.goto(`file://${opened}`);
    await page.waitForURL(`http://127.0.0.1:${guide.port}/`);
    await page.waitForSelector('#modules tbody tr');
    assert.equal(page.url(), `http://127.0.0.1:${guide.port}/`);
    assert.equal(await page.evaluate(() => location.hash), '');
    await page.reload();
    await page.waitForSelector('#modules tbody tr');
    assert.equal(await page.isVisible('#connection'), false);
    // The page lets the next one drive, as when it is closed.
    await page.evaluate(() => window.dispatchEvent(new Event('pagehide')));
    await sleep(300);
  } finally {
    await browser.close();
  }
});

test('another account is refused, even with the token', { skip: needsRoot }, async () => {
  const before = (await events(guide)).state.refused_requests;
  const said = await nodeAsNobody(`
    const http = require('http');
    const ask = http.request({ host: '127.0.0.1', port: ${guide.port}, path: '/events?after=0&version=0',
      headers: { 'X-Window-Token': '${guide.token}', 'X-Window-Page': 'intruder' } }, (res) => {
      console.log('status ' + res.statusCode); res.resume();
    });
    ask.on('error', (error) => console.log('refused ' + error.code));
    ask.end();`);
  assert.match(said, /^refused E[A-Z]+$/m, said);
  const run = await events(guide);
  assert.equal(run.driving, true, 'the intruder did not become the driving page');
  assert.equal(run.state.refused_requests, before + 1);
  assert.equal(run.state.phase, 'choosing');
});

test('64 slow connections from another account leave the owner answered', { skip: needsRoot }, async () => {
  const intruder = nodeAsNobody(`
    const net = require('net');
    const started = Date.now();
    let closed = 0;
    const sockets = [];
    for (let i = 0; i < 64; i++) {
      const socket = net.connect(${guide.port}, '127.0.0.1', () => socket.write('GET / HTTP/1.1\\r\\nHost: evil.example\\r\\n'));
      socket.on('error', () => {});
      socket.on('close', () => { if (Date.now() - started < 5000) closed++; });
      sockets.push(socket);
    }
    const drip = setInterval(() => { for (const s of sockets) if (!s.destroyed) s.write('x'); }, 500);
    setTimeout(() => { clearInterval(drip); console.log('closed ' + closed); for (const s of sockets) s.destroy(); }, 6000);`);
  await sleep(500);
  const waits = [];
  for (let i = 0; i < 16; i++) {
    waits.push(await ownerWaits());
    await sleep(250);
  }
  assert.ok(Math.max(...waits) < 3000, `the owner waited ${waits.join(', ')} ms`);
  assert.match(await intruder, /^closed 64$/m);
});

test('64 slow connections of this account are closed by their deadlines, and leave the owner answered', async () => {
  const started = Date.now();
  const closedAfter = [];
  const sockets = [];
  for (let i = 0; i < 64; i++) {
    // Half send a whole request the gate refuses, then a byte now and then, as its answer is
    // drained; half never finish their request.
    const refused = i % 2 === 0;
    const socket = net.connect(guide.port, '127.0.0.1', () => {
      socket.write(refused ? 'GET / HTTP/1.1\r\nHost: evil.example\r\nContent-Length: 100000\r\n\r\n' : 'GET / HTTP/1.1\r\n');
    });
    socket.on('error', () => {});
    socket.on('close', () => { if (refused) closedAfter.push(Date.now() - started); });
    socket.resume();
    sockets.push(socket);
  }
  const drip = setInterval(() => { for (const s of sockets) if (!s.destroyed) s.write('x'); }, 300);
  try {
    await sleep(300);
    const waits = [];
    for (let i = 0; i < 8; i++) {
      waits.push(await ownerWaits());
      await sleep(250);
    }
    assert.ok(Math.max(...waits) < 3000, `the owner waited ${waits.join(', ')} ms`);
    // A byte does not extend the drain: every refused one is closed within its 2 s.
    await until(() => closedAfter.length === 32, 6000, 'the refused connections to be closed');
    assert.ok(Math.max(...closedAfter) < 5000, `closed after ${closedAfter.join(', ')} ms`);
  } finally {
    clearInterval(drip);
    for (const socket of sockets) socket.destroy();
  }
});

test('memory stays flat over hundreds of long polls and requests with bodies', { timeout: 120000 }, async () => {
  const token = { 'X-Window-Token': guide.token, 'X-Window-Page': 'poller' };
  const polls = async (count) => {
    const run = await events(guide);
    const waves = [];
    for (let i = 0; i < count; i++) {
      waves.push(request(guide.port, { target: `/events?after=${run.next}&version=${run.version}`,
        headers: { ...own(), ...token } }));
    }
    return Promise.all(waves);
  };
  // A request with a 4 MiB body where none is taken: the page itself, without the token.
  const bodied = () => new Promise((resolve) => {
    const socket = net.connect(guide.port, '127.0.0.1', () => {
      socket.write(`GET / HTTP/1.1\r\nHost: 127.0.0.1:${guide.port}\r\nContent-Length: ${4 * 1024 * 1024}\r\n\r\n`);
      socket.write(Buffer.alloc(4 * 1024 * 1024, 0x41));
    });
    let answer = '';
    socket.on('data', (chunk) => { answer += chunk; });
    socket.on('error', () => {});
    socket.on('close', () => resolve(answer.split('\r\n')[0]));
  });
  const measured = [];
  for (let round = 0; round < 7; round++) {
    const waited = Date.now();
    const [answers, refusals] = await Promise.all([polls(50), Promise.all(Array.from({ length: 10 }, bodied))]);
    assert.ok(answers.every((a) => a.status === 200));
    assert.ok(refusals.every((line) => line === '' || line.startsWith('HTTP/1.1 400')), refusals.join('|'));
    assert.ok(Date.now() - waited >= 3500, 'the polls waited for something new');
    measured.push(residentKiB());
  }
  // The first round's growth is the allocator's; after it, 300 more polls and 60 more bodies.
  const growth = measured[measured.length - 1] - measured[0];
  console.log(`# measure resident memory after each round of 50 polls and 10 bodies: ${measured.join(', ')} KiB`);
  assert.ok(growth < 2048, `grew ${growth} KiB: ${measured.join(', ')}`);
});

test('no child of the guide holds its sockets', async () => {
  // Connections the guide holds while the tool starts: a page's question, and some that have
  // not finished theirs.
  const idle = [];
  for (let i = 0; i < 3; i++) {
    const socket = net.connect(guide.port, '127.0.0.1', () => socket.write('GET /'));
    socket.on('error', () => {});
    idle.push(socket);
  }
  try {
    const driver = { ...own(), 'X-Window-Token': guide.token, 'X-Window-Page': 'test-reader' };
    const run = await events(guide);
    assert.equal(run.driving, true);
    const waiting = request(guide.port, { target: `/events?after=${run.next}&version=${run.version}`, headers: driver });
    await sleep(200);
    const started = await request(guide.port, { method: 'POST', target: '/start',
      headers: { ...driver, Origin: `http://127.0.0.1:${guide.port}` } });
    assert.equal(started.status, 200, started.body);
    await waiting;
    await until(async () => (await events(guide)).state.phase === 'finished', 30000, 'the rehearsal to end');
  } finally {
    for (const socket of idle) socket.destroy();
  }
  for (const child of ['opener.fds', 'tool.fds']) {
    const listing = fs.readFileSync(path.join(stands, child), 'utf8');
    assert.ok(listing.split('\n').length > 3, listing);
    assert.equal(/socket:/.test(listing), false, `${child}:\n${listing}`);
  }
});

test('Ctrl-C ends the guide while the browser has not returned', async () => {
  const opener = Number(fs.readFileSync(path.join(stands, 'opener.pid'), 'utf8'));
  assert.doesNotThrow(() => process.kill(opener, 0), 'the stand-in for xdg-open still runs');
  const asked = Date.now();
  guide.child.kill('SIGINT');
  const ended = await Promise.race([guide.exited, sleep(10000).then(() => null)]);
  assert.ok(ended, 'the guide did not end within 10 s');
  assert.equal(ended.code, 0, guide.errors());
  assert.ok(Date.now() - asked < 5000);
});
