// A failure at each stage keeps the screen: the tool's error text, its causes, whether the
// module was touched, and "Try this module again", which runs the module once more.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { damagedTiny, events, examples, shot, startBrowser, startGuide } from './harness.mjs';

let browser;
before(async () => { browser = await startBrowser(); });
after(async () => { await browser.close(); });

const scenarios = [
  { scenario: 'never-powers-off', error: 'Timeout occured while waiting for nodlet to be powered off',
    touched: /^Nothing was written to the module/ },
  { scenario: 'never-answers', error: 'Timeout occured while attempting to connect',
    touched: /^Nothing was written to the module/ },
  { scenario: 'data-write-fails-at=100', error: 'Error sending firmware byte, line #2, count #22.',
    touched: /^The module was written part-way/, shot: 'window-failure.png' },
  { scenario: 'close-fails', error: 'Error closing CAN connection',
    touched: /^Every character reached the module/ },
];

for (const { scenario, error, touched, shot: name } of scenarios) {
  test(`${scenario}: the error, its causes, touched in words, and another try`, { timeout: 60000 }, async () => {
    const guide = await startGuide([`--rehearse=${scenario}`, '--sim-clock=virtual', '--no-log', '13', 'tiny.hex']);
    try {
      const page = await browser.context.newPage();
      await page.goto(guide.url);
      await page.click('#start');
      await page.waitForSelector('#retry:not([hidden])', { timeout: 30000 });
      assert.equal(await page.textContent('#verdict-words'), 'Module 13 (Finger 3): failed');
      assert.equal(await page.textContent('#verdict-icon'), '\u2716');
      assert.equal(await page.getAttribute('#verdict', 'class'), 'panel verdict-failed');
      assert.ok((await page.textContent('#failure-error')).startsWith(error));
      assert.ok((await page.$$('#failure-causes li')).length > 0, 'no cause shown');
      assert.match(await page.textContent('#failure-touched'), touched);
      assert.equal(await page.textContent('#modules tbody td.state'), 'failed');
      if (name) await shot(page, name);

      await page.click('#retry');
      // The same scenario fails the same way: a second turn of the same module, ended again.
      await page.waitForFunction(async () => true);
      let turns = 0;
      for (let i = 0; i < 100 && turns < 2; ++i) {
        const feed = (await events(guide)).entries;
        turns = feed.filter((e) => e.event === 'end').length;
        if (turns < 2) await new Promise((resolve) => setTimeout(resolve, 100));
      }
      assert.equal(turns, 2);
      await page.waitForSelector('#retry:not([hidden])');
      assert.ok((await page.textContent('#failure-error')).startsWith(error));
      const log = await page.textContent('#log-lines');
      assert.equal(log.match(/Loading firmware file\.\.\./g).length, 2);
      await page.click('#close');
      assert.notEqual((await guide.exited).code, 0);
    } finally {
      await guide.stop();
    }
  });
}

test('a damaged file: Start stays off, the finding with its line and column', { timeout: 30000 }, async () => {
  const guide = await startGuide(['--rehearse', '--sim-clock=virtual', '--no-log', '12', 'bad.hex'],
    { files: { 'bad.hex': damagedTiny() } });
  try {
    const page = await browser.context.newPage();
    await page.goto(guide.url);
    await page.waitForSelector('#modules tbody li.sev-problem');
    assert.match(await page.textContent('#modules tbody li.sev-problem'),
      /^problem: checksum mismatch: .* \(line 2, column 5\)$/);
    assert.equal(await page.isDisabled('#start'), true);
    assert.match(await page.textContent('#start-why'), /checks found a problem/);
    // Even asked directly, the guide will not start it.
    const refused = await page.evaluate(async (token) => (await fetch('/start', {
      method: 'POST', headers: { 'X-Window-Token': token, 'X-Window-Page': 'x' } })).status,
    guide.token);
    assert.equal(refused, 409);
    assert.equal((await events(guide)).entries.length, 0);
  } finally {
    await guide.stop();
  }
});

test('a file damaged anywhere in the sequence: Start refuses every module, as the terminal does', { timeout: 60000 }, async () => {
  const tiny = fs.readFileSync(path.join(examples, 'tiny.hex'), 'latin1');
  const guide = await startGuide(['--rehearse', '--sim-clock=virtual', '--no-log',
    '11', 'tiny.hex', '12', 'second.hex', '13', 'tiny.hex'], { files: { 'second.hex': tiny } });
  try {
    const page = await browser.context.newPage();
    await page.goto(guide.url);
    await page.waitForSelector('#start:enabled');
    // Damaged after the page showed its checks: at Start the guide checks every file again.
    const second = path.join(guide.work, 'second.hex');
    fs.writeFileSync(second, damagedTiny(), 'latin1');
    await page.click('#start');
    await page.waitForSelector('#retry:not([hidden])', { timeout: 30000 });
    const feed = (await events(guide)).entries;
    assert.deepEqual(feed.filter((e) => e.event === 'end').map((e) => e.outcome),
      ['skipped', 'refused', 'skipped']);
    assert.equal(feed.filter((e) => e.window === 'line').length, 0, 'the tool was started');
    assert.equal(await page.textContent('#verdict-words'), 'Module 12 (Finger 2): refused by the checks');
    assert.deepEqual(await page.$$eval('#modules tbody td.state', (cells) => cells.map((c) => c.textContent)),
      ['not done', 'refused', 'not done']);

    // Mended, and tried again: the sequence from its first module not done.
    fs.writeFileSync(second, tiny, 'latin1');
    await page.click('#retry');
    await page.waitForSelector('#verdict.verdict-done', { timeout: 30000 });
    const ends = (await events(guide)).entries.filter((e) => e.event === 'end');
    assert.deepEqual(ends.slice(3).map((e) => e.outcome), ['done', 'done', 'done']);
    await page.click('#close');
    assert.equal((await guide.exited).code, 0);
  } finally {
    await guide.stop();
  }
});
