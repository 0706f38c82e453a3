// Whole rehearsals in the window: one module on the real clock, four on the virtual one.
import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';
import { atPhoneWidth, events, recordChanges, seen, seriousAccessibilityProblems, shot, startBrowser,
  startGuide } from './harness.mjs';

let browser;
before(async () => { browser = await startBrowser(); });
after(async () => { await browser.close(); });

async function openPage(guide) {
  const page = await browser.context.newPage();
  await recordChanges(page);
  await page.goto(guide.url);
  await page.waitForSelector('#start:enabled');
  return page;
}

// The person of this rehearsal switches off 30 s after being asked, so the page shows the first
// instruction however slowly this computer loads it (a person who switches off within a second may
// never see it: the page shows the run as it is by then).
test('one module on the real clock: the power cycle step by step, the bar to 100 %, the verdict', { timeout: 120000 }, async () => {
  const guide = await startGuide(['--rehearse=switched-off-late', '--no-log', '12', 'tiny.hex']);
  try {
    const page = await openPage(guide);
    assert.equal(await page.textContent('#modules tbody td.name'), 'Finger 2');
    assert.match(await page.textContent('#modules tbody td.findings'), /every record is sound/);
    assert.deepEqual(await seriousAccessibilityProblems(page), [], 'the start');
    await page.click('#start');
    await page.waitForSelector('#power:not([hidden])');
    await page.waitForFunction(() => /since this instruction/.test(document.querySelector('#power-since').textContent));
    await shot(page, 'window-power-cycle.png');
    // On a phone: no sideways scroll, and the instruction with its deadline in the first screen.
    const phone = await atPhoneWidth(page, 'window-power-cycle-390.png', '#power-deadline');
    assert.ok(phone.scrollWidth <= 390, `${phone.scrollWidth} px wide at 390 px`);
    assert.ok(phone.bottom <= 844, `the deadline ends at ${phone.bottom} px, below the first screen`);
    assert.match(await page.textContent('#power-deadline'), /^\d+ s left \(until 50 s\)$/);
    assert.equal(await page.getAttribute('#announce', 'role'), 'status');
    // (The guide follows the virtual hand; under Wine, the clock alone.)
    assert.match(await page.textContent('#announce'), /^Module 12 \(Finger 2\): (switch the hand OFF now, by 50 s|if on, switch the hand OFF by 50 s)/);
    assert.deepEqual(await seriousAccessibilityProblems(page), [], 'the power cycle');
    await page.waitForSelector('#verdict.verdict-done', { timeout: 60000 });

    const feed = (await events(guide)).entries.filter((e) => e.event);
    const phases = feed.filter((e) => e.event === 'power-cycle').map((e) => e.phase);
    const steps = await seen(page, '#power-step');
    if (phases.includes('hand-off')) {
      // The guide knows the hand's power: the terminal's words for each step it saw, the seconds
      // to keep it off counting down.
      assert.equal(steps[0], 'switch the hand OFF now, by 50 s, or the tool gives up.');
      const offFor = steps.filter((step) => /^off since \d+ s; keep it off \d s more, then ON by \d+ s\.$/.test(step));
      assert.ok(offFor.length >= 2, `keeping it off: ${JSON.stringify(steps)}`);
    } else {
      // Only the clock: words that hold whatever the hand does.
      assert.match(steps[0], /^if on, switch the hand OFF by 50 s; if off 5 s, ON by \d+ s\.$/);
    }
    const counts = await seen(page, '#download-count');
    assert.equal(counts.at(-1), '248 of 248 characters (100 %)');
    assert.equal(await page.getAttribute('#bar-fill', 'style'), 'width: 100%;');
    assert.equal(await page.textContent('#verdict-words'), 'Module 12 (Finger 2): done');
    assert.equal(await page.textContent('#verdict-icon'), '\u2714');
    assert.equal(await page.textContent('#modules tbody td.state'), 'done');
    // The verdict came only with the module's end, never from the bar alone.
    const verdicts = await seen(page, '#verdict-words');
    assert.deepEqual(verdicts, ['Module 12 (Finger 2): done']);
    assert.match(await page.textContent('#log-lines'), /\[12\] Program ended successfully\.\n$/);
    await page.click('#close');
    const end = await guide.exited;
    assert.equal(end.code, 0);
    // The terminal beside the window: the address, to keep it open, the module's end, how to end.
    const lines = guide.output().split(/\r?\n/);
    assert.equal(lines[0], guide.url);
    assert.match(lines[1], /^Keep this terminal open while you use the page/);
    assert.equal(lines[2], 'No log is kept (--no-log).');
    assert.ok(lines.some((line) => /^Module 12 \(Finger 2\): done \(\d+\.\d s\)\. /.test(line)), guide.output());
    assert.ok(lines.some((line) => line.startsWith('To end the guide: "Close the guide" on the page, or Ctrl-C here.')));
  } finally {
    await guide.stop();
  }
});

test('four modules on the virtual clock: every row done, in order, each module\'s log told', { timeout: 60000 }, async () => {
  const guide = await startGuide(['--rehearse', '--sim-clock=virtual',
    '11', 'tiny.hex', '12', 'tiny.hex', '13', 'tiny.hex', '14', 'tiny.hex']);
  try {
    const page = await openPage(guide);
    assert.deepEqual(await page.$$eval('#modules tbody td.name', (tds) => tds.map((td) => td.textContent)),
      ['Finger 1', 'Finger 2', 'Finger 3', 'Spread']);
    await page.click('#start');
    await page.waitForSelector('#close:not([hidden])', { timeout: 30000 });
    assert.deepEqual(await page.$$eval('#modules tbody td.state', (tds) => tds.map((td) => td.textContent)),
      ['done', 'done', 'done', 'done']);
    assert.equal(await page.textContent('#verdict-words'), 'Module 14 (Spread): done');
    const ends = (await events(guide)).entries.filter((e) => e.event === 'end').map((e) => e.module);
    assert.deepEqual(ends, [11, 12, 13, 14]);
    await page.click('#close');
    assert.equal((await guide.exited).code, 0);
    // At the terminal, where the logs go and each module's own.
    const lines = guide.output().split(/\r?\n/);
    assert.ok(lines.includes(`Logs: nodletflash-<node>-<UTC time>.log in ${guide.work}.`) ||
      lines.some((line) => /^Logs: nodletflash-<node>-<UTC time>\.log in [A-Z]:\\/.test(line)), guide.output());
    const logs = lines.filter((line) => line.startsWith('  Log: '));
    assert.equal(logs.length, 4);
    for (const [i, node] of ['11', '12', '13', '14'].entries()) assert.match(logs[i], new RegExp(`nodletflash-${node}-.*\\.log$`));
  } finally {
    await guide.stop();
  }
});
