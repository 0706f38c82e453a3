// A run in progress as people meet it: a reload and a second tab show the same run, the page
// that drove drives on after a reload, Cancel says what it means at that moment, and a lost
// guide is shown as lost.
import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';
import { atPhoneWidth, events, seriousAccessibilityProblems, shot, startBrowser, startGuide } from './harness.mjs';

let browser;
before(async () => { browser = await startBrowser(); });
after(async () => { await browser.close(); });

// The person of these rehearsals switches off 30 s after being asked: the pages are opened, reloaded
// and compared while the first instruction stands, however slowly this computer loads them.
test('a reload and a second tab in the power cycle show the same run; the reloaded page drives on', { timeout: 150000 }, async () => {
  const guide = await startGuide(['--rehearse=switched-off-late', '--no-log', '12', 'tiny.hex']);
  try {
    const first = await browser.context.newPage();
    await first.goto(guide.url);
    await first.click('#start');
    await first.waitForSelector('#power:not([hidden])');
    const step = await first.textContent('#power-step');
    assert.match(step, /^switch the hand OFF now, by 50 s/);

    const second = await browser.context.newPage();
    await second.goto(guide.url);
    await second.waitForSelector('#power:not([hidden])');
    assert.equal(await second.textContent('#power-step'), step);
    assert.equal(await second.isVisible('#watching'), true);
    assert.equal(await second.isDisabled('#cancel'), true);
    assert.equal(await first.isVisible('#watching'), false);

    await first.reload();
    await first.waitForSelector('#power:not([hidden])');
    // The page that drove keeps Cancel; the other tab still only watches, and says so.
    await first.waitForSelector('#cancel:enabled', { timeout: 3000 });
    assert.equal(await first.isVisible('#watching'), false);
    await second.reload();
    await second.waitForSelector('#power:not([hidden])');
    assert.equal(await second.isVisible('#watching'), true);
    assert.equal(await second.isDisabled('#cancel'), true);
    assert.match(await first.textContent('#power-since'), /^\d+ s since this instruction$/);
    // The seconds are the guide's: the reloaded page does not count from its own start.
    const since = Number((await first.textContent('#power-since')).split(' ')[0]);
    const asked = (await events(guide)).entries.find((e) => e.event === 'instruction' && /power off/.test(e.text));
    const now = (await events(guide)).now;
    assert.ok(Math.abs(since - (now - asked.t)) <= 2, `${since} s shown, ${now - asked.t} s passed`);

    for (const page of [first, second]) {
      await page.waitForSelector('#verdict.verdict-done', { timeout: 90000 });
    }
    assert.equal(await second.textContent('#verdict-words'), await first.textContent('#verdict-words'));
  } finally {
    await guide.stop();
  }
});

test('Cancel in the power cycle: asked once, says the download never began, ends the guide', { timeout: 60000 }, async () => {
  const guide = await startGuide(['--rehearse=switched-off-late', '--no-log', '12', 'tiny.hex']);
  try {
    const page = await browser.context.newPage();
    await page.goto(guide.url);
    await page.click('#start');
    await page.waitForSelector('#power:not([hidden])');
    // By keyboard: the question takes the focus, shown, and Escape goes on as before.
    await page.focus('#cancel');
    await page.keyboard.press('Enter');
    await page.waitForSelector('#confirm:not([hidden])');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'confirm-no');
    assert.equal(await page.evaluate(() => getComputedStyle(document.activeElement).outlineStyle), 'solid');
    await page.keyboard.press('Escape');
    assert.equal(await page.isVisible('#confirm'), false);
    assert.equal(await page.evaluate(() => document.activeElement.id), 'cancel');
    await page.click('#cancel');
    // (Under Wine the record is the prefix's, which an earlier test may have left something in.)
    const confirm = await page.textContent('#confirm-text');
    assert.match(confirm, /before the download begins: nothing of it is sent, and the module holds what it held before\./);
    assert.match(confirm, /The guide then ends\.$/);
    await page.click('#confirm-no');
    assert.equal(await page.isVisible('#confirm'), false);
    assert.equal(await page.isVisible('#power'), true);
    await page.click('#cancel');
    await page.click('#confirm-yes');
    await page.waitForFunction(() => /The guide has ended/.test(document.querySelector('#connection').textContent));
    assert.equal(await page.textContent('#modules tbody td.state'), 'not done (cancelled)');
    // Under Wine, which passes no Ctrl-Break on, the tool is killed after its grace and that comes first.
    assert.match(await page.textContent('#verdict-meaning'), /^(The tool did not end within \d+ s of the interruption and was killed\. )?Interrupted before the download began\. The download never began on the module/);
    assert.equal((await guide.exited).code, 130);
  } finally {
    await guide.stop();
  }
});

test('Cancel in the download: says the module may not work, and the verdict says part-way', { timeout: 90000 }, async () => {
  const guide = await startGuide(['--rehearse', '--no-log', '12', 'firmware-100k.hex']);
  try {
    const page = await browser.context.newPage();
    await page.goto(guide.url);
    await page.click('#start');
    await page.waitForFunction(() => /left/.test(document.querySelector('#download-pace').textContent), null, { timeout: 60000 });
    // A reload in the download keeps Cancel on the page that drove.
    await page.reload();
    await page.waitForSelector('#download:not([hidden])');
    await page.waitForFunction(() => /left/.test(document.querySelector('#download-pace').textContent));
    assert.equal(await page.isEnabled('#cancel'), true);
    assert.equal(await page.isVisible('#watching'), false);
    await shot(page, 'window-download.png');
    const phone = await atPhoneWidth(page, 'window-download-390.png', '#bar');
    assert.ok(phone.scrollWidth <= 390, `${phone.scrollWidth} px wide at 390 px`);
    // Numbers as the terminal writes them, and a bar a screen reader can read.
    assert.match(await page.textContent('#download-count'), /^\d{1,3}(,\d{3})* of \d{1,3}(,\d{3})+ characters \(\d+ %\)$/);
    assert.equal(await page.getAttribute('#bar', 'role'), 'progressbar');
    assert.match(await page.getAttribute('#bar', 'aria-valuenow'), /^\d+$/);
    assert.equal(await page.getAttribute('#bar', 'aria-valuetext'), await page.textContent('#download-count'));
    assert.deepEqual(await seriousAccessibilityProblems(page), [], 'the download');
    await page.click('#cancel');
    assert.match(await page.textContent('#confirm-text'), /^Cancel stops the download before its end: the module may not work until it is flashed completely/);
    await page.click('#confirm-yes');
    await page.waitForFunction(() => /The guide has ended/.test(document.querySelector('#connection').textContent));
    // Characters were seen to go out: part-way, at least as many as the progress showed.
    assert.match(await page.textContent('#verdict-meaning'), /^(The tool did not end within \d+ s of the interruption and was killed\. )?Interrupted during the download\. The download stopped part-way, after at least \d+ of the file's characters/);
    assert.equal((await guide.exited).code, 130);
  } finally {
    await guide.stop();
  }
});

test('a guide that is gone is shown as lost', { timeout: 30000 }, async () => {
  const guide = await startGuide(['--rehearse', '--no-log', '12', 'tiny.hex']);
  try {
    const page = await browser.context.newPage();
    await page.goto(guide.url);
    await page.waitForSelector('#start:enabled');
    guide.child.kill('SIGKILL');
    await page.waitForSelector('#connection.alarm:not([hidden])', { timeout: 15000 });
    assert.match(await page.textContent('#connection'), /^Lost the connection to the guide/);
  } finally {
    await guide.stop();
  }
});
