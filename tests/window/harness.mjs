// Starts nodletflash-guide --window and Debian's chromium, and reads what the page shows.
//
// GUIDE_PATH: the guide; GUIDE_RUNNER: a program to run it with (wine for the Windows build);
// EXAMPLES_DIR: the sample firmware files; SHOTS_DIR: where the screenshots go.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { createRequire } from 'node:module';
import { chromium } from 'playwright-core';

const require = createRequire(import.meta.url);

export const examples = process.env.EXAMPLES_DIR;
const guidePath = process.env.GUIDE_PATH;
// The guide's program, and the virtual hand's beside it, as the build tree has them.
export const guideProgram = guidePath;
const runner = process.env.GUIDE_RUNNER || '';

// The guide with |args|, in a scratch directory with copies of the examples and
// |options.files| (names relative to it: state/nodletflash/rehearsals.json is the record of the
// modules); resolves once it has printed the page's address.
export async function startGuide(args, options = {}) {
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'window-test-'));
  for (const name of fs.readdirSync(examples)) {
    if (name.endsWith('.hex')) fs.copyFileSync(path.join(examples, name), path.join(work, name));
  }
  // An empty record of the modules, as after a first run: no test page but the one that asks
  // for it warns of a missing record.
  const files = { 'state/nodletflash/rehearsals.json': '{"version":1,"modules":{}}\n', ...(options.files || {}) };
  for (const [name, text] of Object.entries(files)) {
    fs.mkdirSync(path.dirname(path.join(work, name)), { recursive: true });
    fs.writeFileSync(path.join(work, name), text);
  }
  const command = runner ? [runner, guidePath] : [guidePath];
  // options.browser: the guide opens the page itself (with options.env's PATH, a stand-in).
  const browser = options.browser ? [] : ['--no-browser'];
  const child = spawn(command[0], [...command.slice(1), '--window', ...browser, ...args],
    // This computer's record of the modules is the scratch directory's: a test never writes the
    // user's own, nor meets another test's.
    { cwd: work, stdio: ['ignore', 'pipe', 'pipe'],
      env: { ...process.env, XDG_STATE_HOME: path.join(work, 'state'), ...(options.env || {}) } });
  let stdout = '';
  let stderr = '';
  const exited = new Promise((resolve) => child.on('exit', (code, signal) => resolve({ code, signal })));
  const url = await new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`no address printed; stderr: ${stderr}`)), 60000);
    child.stdout.on('data', (chunk) => {
      stdout += chunk;
      const match = stdout.match(/^(http:\/\/127\.0\.0\.1:(\d+)\/#([0-9a-f]{32}))\r?\n/);
      if (match) {
        clearTimeout(timer);
        resolve(match[1]);
      }
    });
    child.stderr.on('data', (chunk) => { stderr += chunk; });
    child.on('exit', () => reject(new Error(`the guide ended: ${stderr}`)));
  });
  const match = url.match(/:(\d+)\/#(.*)$/);
  return {
    url, work, child, exited, port: Number(match[1]), token: match[2],
    output: () => stdout, errors: () => stderr,
    async stop() {
      if (child.exitCode === null && child.signalCode === null) child.kill('SIGKILL');
      await exited;
      fs.rmSync(work, { recursive: true, force: true });
    },
  };
}

const flags = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];

// A browser with a fresh profile of its own.
export async function startBrowser() {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'window-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium', headless: true, args: flags,
    viewport: { width: 1280, height: 800 },
  });
  return {
    context,
    async close() {
      await context.close();
      fs.rmSync(profile, { recursive: true, force: true });
    },
  };
}

// Records, as they happen, the texts of the elements the tests ask about: states that last a
// few milliseconds are missed by polling.
export async function recordChanges(page) {
  await page.addInitScript(() => {
    window.__seen = [];
    const watch = ['#power-step', '#verdict-words', '#download-count', '#power-source',
      '#power-deadline', '#modules tbody'];
    const look = () => {
      for (const selector of watch) {
        const node = document.querySelector(selector);
        if (!node) continue;
        const visible = !node.closest('[hidden]');
        const text = selector === '#modules tbody'
          ? Array.from(node.querySelectorAll('td.state')).map((td) => td.textContent).join('|')
          : node.textContent;
        const last = window.__seen.findLast((entry) => entry.selector === selector);
        if (visible && text && (!last || last.text !== text)) window.__seen.push({ selector, text });
      }
    };
    new MutationObserver(look).observe(document, { subtree: true, childList: true, characterData: true, attributes: true });
  });
}

export async function seen(page, selector) {
  return (await page.evaluate(() => window.__seen)).filter((e) => e.selector === selector).map((e) => e.text);
}

// One HTTP request to the guide, with exactly the headers given (Host included).
export function request(port, { method = 'GET', target = '/', headers = {}, body = null }) {
  return new Promise((resolve, reject) => {
    const req = http.request({ host: '127.0.0.1', port, method, path: target, headers,
      setHost: !('Host' in headers) }, (res) => {
      let data = '';
      res.on('data', (chunk) => { data += chunk; });
      res.on('end', () => resolve({ status: res.statusCode, headers: res.headers, body: data }));
    });
    req.on('error', reject);
    if (body !== null) req.write(body);
    req.end();
  });
}

// What the guide tells a page that asks, as the page would ask.
export async function events(guide) {
  const response = await request(guide.port, {
    target: '/events?after=0&version=0',
    headers: { 'X-Window-Token': guide.token, 'X-Window-Page': 'test-reader' },
  });
  return JSON.parse(response.body);
}

export function shot(page, name) {
  if (!process.env.SHOTS_DIR) return Promise.resolve();
  return page.screenshot({ path: path.join(process.env.SHOTS_DIR, name), fullPage: true });
}

// The page as a phone (390 px wide) shows it: the shot |name| (the screen as the person first
// sees it), and the page's width and where |selector| ends, in the first screen or below it.
// The viewport is put back as it was.
export async function atPhoneWidth(page, name, selector) {
  const before = page.viewportSize();
  await page.setViewportSize({ width: 390, height: 844 });
  try {
    const seen = await page.evaluate((wanted) => {
      const box = document.querySelector(wanted).getBoundingClientRect();
      return { scrollWidth: document.documentElement.scrollWidth, bottom: box.bottom + window.scrollY };
    }, selector);
    if (name && process.env.SHOTS_DIR) {
      await page.screenshot({ path: path.join(process.env.SHOTS_DIR, name) });
    }
    return seen;
  } finally {
    await page.setViewportSize(before);
  }
}

const axeSource = fs.readFileSync(require.resolve('axe-core/axe.min.js'), 'utf8');

// What axe-core finds serious or critical on the page as it stands, one line each.
export async function seriousAccessibilityProblems(page) {
  // Evaluated, not added as a script tag, which the page's content policy refuses.
  if (!(await page.evaluate(() => typeof window.axe === 'object'))) await page.evaluate(axeSource);
  const results = await page.evaluate(() => window.axe.run(document, { resultTypes: ['violations'] }));
  return results.violations.filter((v) => v.impact === 'serious' || v.impact === 'critical')
    .map((v) => `${v.id}: ${v.help} (${v.nodes.map((n) => n.target.join(' ')).join(', ')})`);
}

// A copy of tiny.hex whose second record's checksum is wrong.
export function damagedTiny() {
  const lines = fs.readFileSync(path.join(examples, 'tiny.hex'), 'latin1').split('\r\n');
  const line = lines[1];
  const last = line.slice(-1);
  lines[1] = line.slice(0, -1) + (last === '0' ? '1' : '0');
  return lines.join('\r\n');
}
