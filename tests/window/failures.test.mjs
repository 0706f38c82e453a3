// A failure at each stage keeps the screen: the tool's error text, its causes, what the module
// holds, and "Try this module again", which runs the module once more.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { atPhoneWidth, damagedTiny, events, examples, seriousAccessibilityProblems, shot, startBrowser,
  startGuide } from './harness.mjs';

let browser;
before(async () => { browser = await startBrowser(); });
after(async () => { await browser.close(); });

// What each ending means for the module, as the verdict says it.
const scenarios = [
  { scenario: 'never-powers-off', error: 'Timeout occured while waiting for nodlet to be powered off',
    holds: /^The download never began on the module: it holds what it held before this turn\./ },
  { scenario: 'never-answers', error: 'Timeout occured while attempting to connect',
    holds: /^The download never began on the module/ },
  { scenario: 'data-write-fails-at=1', error: 'Error sending firmware byte, line #1, count #1.',
    holds: /^The start of the download may have reached the module, and no character of the file is known to have reached it: its firmware may be erased/ },
  { scenario: 'data-write-fails-at=100', error: 'Error sending firmware byte, line #2, count #22.',
    holds: /^The download stopped part-way, after 99 of the file's characters had been sent/, shot: 'window-failure.png' },
  { scenario: 'close-fails', error: 'Error closing CAN connection',
    holds: /^Every character of the file was sent to the module/ },
];

for (const { scenario, error, holds, shot: name } of scenarios) {
  test(`${scenario}: the error, its causes, what the module holds, and another try`, { timeout: 60000 }, async () => {
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
      const meaning = await page.textContent('#verdict-meaning');
      assert.match(meaning, holds);
      // No word of a state the module is not in, in the verdict or the causes.
      const causes = await page.textContent('#failure-causes');
      if (!/part-way/.test(holds.source)) assert.doesNotMatch(meaning + causes, /part-way/);
      if (!/erased/.test(holds.source)) assert.doesNotMatch(meaning, /may be erased/);
      assert.equal(await page.textContent('#modules tbody td.state'), 'failed');
      // What the module holds is said once, in the verdict, not again among the causes.
      assert.doesNotMatch(causes, /stopped before its end|part-way/);
      if (name) {
        await shot(page, name);
        const phone = await atPhoneWidth(page, name.replace('.png', '-390.png'), '#verdict-meaning');
        assert.ok(phone.scrollWidth <= 390, `${phone.scrollWidth} px wide at 390 px`);
        assert.deepEqual(await seriousAccessibilityProblems(page), [], 'the result');
      }

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

test('part-way, tried again, then cancelled in the power cycle: every word says part-way', { timeout: 120000 }, async () => {
  // On the real clock, so that the second turn's power cycle lasts long enough to cancel it.
  const guide = await startGuide(['--rehearse=data-write-fails-at=100', '--no-log', '13', 'tiny.hex']);
  try {
    const page = await browser.context.newPage();
    await page.goto(guide.url);
    await page.click('#start');
    await page.waitForSelector('#retry:not([hidden])', { timeout: 60000 });
    assert.match(await page.textContent('#verdict-meaning'), /stopped part-way/);
    assert.deepEqual((await events(guide)).entries.filter((e) => e.event === 'end').map((e) => e.holds),
      ['part-way']);
    await page.click('#retry');
    await page.waitForSelector('#power:not([hidden])', { timeout: 30000 });
    await page.click('#cancel');
    const confirm = await page.textContent('#confirm-text');
    assert.match(confirm, /Module 13 \(Finger 3\) was left part-way by a rehearsal on this computer at \d\d:\d\d UTC/);
    assert.doesNotMatch(confirm, /firmware it had/);
    await page.click('#confirm-yes');
    await page.waitForFunction(() => /The guide has ended/.test(document.querySelector('#connection').textContent));
    const verdict = await page.textContent('#verdict-meaning');
    assert.match(verdict, /^Interrupted before the download began\. The download never began on the module: it holds what it held before this turn\. Module 13 \(Finger 3\) was left part-way/);
    assert.equal((await guide.exited).code, 130);
    const record = JSON.parse(fs.readFileSync(path.join(guide.work, 'state/nodletflash/rehearsals.json'), 'utf8'));
    assert.equal(record.modules['13'].holds, 'part-way');
  } finally {
    await guide.stop();
  }
});

test("before Start, a module's row tells what this computer's record says of it", { timeout: 30000 }, async () => {
  const record = {
    version: 1,
    modules: {
      12: { holds: 'may-be-erased', utc: '2026-12-09T14:02:11Z', file: 'firmware-100k.hex', sha256: '0'.repeat(64) },
      13: { holds: 'written', utc: '2026-12-09T14:05:00Z', file: 'tiny.hex', sha256: '0'.repeat(64) },
    },
  };
  const guide = await startGuide(['--rehearse', '--sim-clock=virtual', '--no-log', '12', 'tiny.hex', '13', 'tiny.hex'],
    { files: { 'state/nodletflash/rehearsals.json': JSON.stringify(record) } });
  try {
    const page = await browser.context.newPage();
    await page.goto(guide.url);
    await page.waitForSelector('#start:enabled');
    const notes = await page.$$eval('#modules tbody tr', (rows) => rows.map((row) => {
      const note = row.querySelector('.record-note');
      return note ? note.textContent : null;
    }));
    assert.equal(notes[0], 'Module 12 (Finger 2) may have been left erased by a rehearsal on this computer at ' +
      "14:02 UTC on 2026-12-09, with firmware-100k.hex: flash it completely before the hand is used. This is this computer's " +
      'record of its rehearsals, not an answer from the virtual hand.');
    assert.equal(notes[1], null);
    assert.equal(await page.isVisible('#record-warning'), false);
  } finally {
    await guide.stop();
  }
});
