// The window's server: only this run's page, from this computer, may read the run or act.
import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';
import { events, request, startGuide } from './harness.mjs';

let guide;
before(async () => { guide = await startGuide(['--rehearse', '--sim-clock=virtual', '12', 'tiny.hex']); });
after(async () => { await guide.stop(); });

const own = () => ({ Host: `127.0.0.1:${guide.port}`, Origin: `http://127.0.0.1:${guide.port}` });

test('the page itself: served with the headers that keep it out of other sites\' frames', async () => {
  const page = await request(guide.port, { headers: { Host: `127.0.0.1:${guide.port}` } });
  assert.equal(page.status, 200);
  assert.equal(page.headers['x-frame-options'], 'DENY');
  assert.equal(page.headers['content-security-policy'], "default-src 'self'; frame-ancestors 'none'");
  assert.equal(page.headers['x-content-type-options'], 'nosniff');
  assert.equal(page.headers['cache-control'], 'no-store');
  assert.equal(Object.keys(page.headers).some((name) => name.startsWith('access-control-')), false);
  assert.equal(page.body.includes(guide.token), false);
  // Its icon is its own, served as the page is.
  const icon = await request(guide.port, { target: '/favicon.svg', headers: { Host: `127.0.0.1:${guide.port}` } });
  assert.equal(icon.status, 200);
  assert.equal(icon.headers['content-type'], 'image/svg+xml; charset=utf-8');
  assert.match(icon.body, /^<svg /);
});

test('refused with 403, and nothing started: foreign Host, no token, wrong token, GET, foreign Origin', async () => {
  const wrong = guide.token.replace(/^./, (c) => (c === '0' ? '1' : '0'));
  const asked = [
    { target: '/', headers: { Host: `evil.example:${guide.port}` } },
    { target: '/events', headers: { Host: `localhost:${guide.port}`, 'X-Window-Token': guide.token } },
    { method: 'POST', target: '/start', headers: { ...own(), 'X-Window-Page': 'p' } },
    { method: 'POST', target: '/start', headers: { ...own(), 'X-Window-Token': wrong, 'X-Window-Page': 'p' } },
    { target: '/events?after=0', headers: { ...own(), 'X-Window-Token': wrong } },
    { method: 'GET', target: '/start', headers: { ...own(), 'X-Window-Token': guide.token, 'X-Window-Page': 'p' } },
    { method: 'POST', target: '/start', headers: { ...own(), Origin: 'http://evil.example', 'X-Window-Token': guide.token, 'X-Window-Page': 'p' } },
    { method: 'POST', target: '/start', headers: { Host: own().Host, 'X-Window-Token': guide.token, 'X-Window-Page': 'p' } },
  ];
  for (const one of asked) {
    const answer = await request(guide.port, one);
    assert.equal(answer.status, 403, `${one.method || 'GET'} ${one.target} ${JSON.stringify(one.headers)}`);
    assert.equal(answer.headers['access-control-allow-origin'], undefined);
  }
  // The run has not begun: the guide told nothing, and counted every refusal.
  const run = await events(guide);
  assert.equal(run.entries.length, 0);
  assert.equal(run.state.phase, 'choosing');
  assert.equal(run.state.refused_requests, asked.length);
});

test('one page drives; another only watches and cannot act', async () => {
  const read = (page) => request(guide.port, { target: '/events?after=0&version=0',
    headers: { ...own(), 'X-Window-Token': guide.token, 'X-Window-Page': page } });
  // The reader of the test above drives already; a new page watches.
  const watcher = JSON.parse((await read('watcher')).body);
  assert.equal(watcher.driving, false);
  const acted = await request(guide.port, { method: 'POST', target: '/start',
    headers: { ...own(), 'X-Window-Token': guide.token, 'X-Window-Page': 'watcher' } });
  assert.equal(acted.status, 409);
  assert.equal((await events(guide)).entries.length, 0);
});

test('a refused request wakes no page; a body comes only with an upload', async () => {
  const reader = { ...own(), 'X-Window-Token': guide.token, 'X-Window-Page': 'test-reader' };
  const run = await events(guide);
  const asked = Date.now();
  const waiting = request(guide.port, { target: `/events?after=${run.next}&version=${run.version}`, headers: reader });
  for (let i = 0; i < 20; i++) {
    assert.equal((await request(guide.port, { target: '/events', headers: { ...own(), 'X-Window-Token': 'wrong' } })).status, 403);
  }
  const answer = await waiting;
  assert.equal(answer.status, 200);
  // Only the long poll's own end, about 4 s on, answered it: nothing the refusals did.
  assert.ok(Date.now() - asked >= 3000, `answered after ${Date.now() - asked} ms`);
  assert.equal(JSON.parse(answer.body).state.refused_requests, run.state.refused_requests + 20);

  for (const one of [{ target: '/', headers: own() },
    { target: '/events?after=0&version=0', headers: reader },
    { method: 'POST', target: '/leave', headers: reader }]) {
    const bodied = await request(guide.port,
      { ...one, headers: { ...one.headers, 'Content-Length': '1000' }, body: 'x'.repeat(1000) });
    assert.equal(bodied.status, 400, `${one.method || 'GET'} ${one.target}`);
  }
});
