// With no modules on the command line the person picks them on the page and uploads their
// files; the guide keeps them in a folder of its own and checks them as any file.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { damagedTiny, events, request, startBrowser, startGuide } from './harness.mjs';

let browser;
before(async () => { browser = await startBrowser(); });
after(async () => { await browser.close(); });

async function pick(page, node, file) {
  await page.selectOption('#pick-node', node);
  await page.setInputFiles('#pick-file', file);
  await page.click('#pick-add');
}

test('picking modules and files: kept under the guide\'s own names, checked, refused when too large or taken', { timeout: 90000 }, async () => {
  const guide = await startGuide(['--rehearse', '--sim-clock=virtual']);
  try {
    const page = await browser.context.newPage();
    await page.goto(guide.url);
    await page.waitForSelector('#picker:not([hidden])');
    assert.equal(await page.isDisabled('#start'), true);

    const odd = path.join(guide.work, 'finger <img src=x onerror=alert(1)>.hex');
    fs.copyFileSync(path.join(guide.work, 'tiny.hex'), odd);
    await pick(page, '13', odd);
    await page.waitForSelector('#start:enabled');
    // The name is shown as it is, as text: no markup made of it.
    assert.equal(await page.textContent('#modules tbody td.file'), 'finger <img src=x onerror=alert(1)>.hex');
    assert.equal(await page.$$eval('#modules tbody td.file img', (b) => b.length), 0);
    const kept = (await events(guide)).state.modules[0].file;
    // The checks name the file as the person knows it, never the guide's copy.
    const checks = await page.textContent('#modules tbody td.findings');
    assert.match(checks, /ok: finger <img src=x onerror=alert\(1\)>\.hex: 260 bytes/);
    assert.doesNotMatch(checks, /1\.firmware|nodletflash-window-/);
    assert.match(kept, /nodletflash-window-[^/]+\/1\.firmware$/);
    assert.equal(fs.readFileSync(kept, 'latin1'), fs.readFileSync(odd, 'latin1'));
    assert.equal(fs.statSync(path.dirname(kept)).mode & 0o777, 0o700);

    const damaged = path.join(guide.work, 'bad.hex');
    fs.writeFileSync(damaged, damagedTiny(), 'latin1');
    await pick(page, '14', damaged);
    await page.waitForSelector('#modules tbody tr:nth-child(2) li.sev-problem');
    assert.match(await page.textContent('#modules tbody tr:nth-child(2) li.sev-problem'), /\(line 2, column 5\)$/);
    assert.equal(await page.isDisabled('#start'), true);

    await pick(page, '13', odd);
    await page.waitForSelector('#pick-error:not([hidden])');
    assert.match(await page.textContent('#pick-error'), /module 13 is chosen already/);

    const large = path.join(guide.work, 'large.hex');
    fs.writeFileSync(large, Buffer.alloc(4 * 1024 * 1024 + 1, 0x25));
    await pick(page, '11', large);
    await page.waitForFunction(() => /larger than 4 MiB/.test(document.querySelector('#pick-error').textContent));
    // The guide refuses it too, whatever a page does.
    const direct = await request(guide.port, {
      method: 'POST', target: '/module', body: Buffer.alloc(4 * 1024 * 1024 + 1, 0x25),
      headers: { Host: `127.0.0.1:${guide.port}`, Origin: `http://127.0.0.1:${guide.port}`,
        'X-Window-Token': guide.token, 'X-Window-Page': 'another', 'X-Window-Node': '11',
        'X-Window-Name': 'large.hex', 'Content-Type': 'application/octet-stream' },
    });
    assert.equal(direct.status, 413);
    assert.equal((await events(guide)).state.modules.length, 2);

    await page.click('#modules tbody tr:nth-child(2) button.remove');
    await page.waitForFunction(() => document.querySelectorAll('#modules tbody tr').length === 1);
    await page.waitForSelector('#start:enabled');
    await page.click('#start');
    await page.waitForSelector('#verdict.verdict-done', { timeout: 30000 });
    const feed = (await events(guide)).entries;
    assert.equal(feed.find((e) => e.event === 'module').file, kept);
    await page.click('#close');
    assert.equal((await guide.exited).code, 0);
    // The folder goes with the guide.
    assert.equal(fs.existsSync(path.dirname(kept)), false);
  } finally {
    await guide.stop();
  }
});

test('the uploaded file\'s own name is in the log', { timeout: 60000 }, async () => {
  const guide = await startGuide(['--rehearse', '--sim-clock=virtual']);
  try {
    const page = await browser.context.newPage();
    await page.goto(guide.url);
    await pick(page, '12', path.join(guide.work, 'tiny.hex'));
    await page.waitForSelector('#start:enabled');
    await page.click('#start');
    await page.waitForSelector('#verdict.verdict-done', { timeout: 30000 });
    const logs = fs.readdirSync(guide.work).filter((name) => name.endsWith('.log'));
    assert.equal(logs.length, 1);
    const log = fs.readFileSync(path.join(guide.work, logs[0]), 'utf8');
    assert.match(log, /window: the firmware file was chosen on the page: tiny\.hex, kept for this run as .*1\.firmware/);
    assert.match(await page.textContent('#log-path'), new RegExp(`Log file: .*${logs[0]}`));
  } finally {
    await guide.stop();
  }
});
