// The window of nodletflash-guide: shows the run the guide tells it about and passes the
// person's clicks back. It keeps no state of its own: every page that asks is told the whole
// run from its start, so a reload or a second tab shows the same. Every text that comes from
// the tool, a file or a check is put in as text, never as markup.
'use strict';

const token = takeToken();
let pageId = takePageId();
const $ = (id) => document.getElementById(id);

// What the guide has told, folded into one record per module row.
const model = {
  next: 0,         // the entries seen
  version: 0,      // the state's version seen
  state: null,     // the guide's state of the modules and the sequence
  driving: false,
  clockOffset: 0,  // guide seconds minus this page's seconds
  rows: [],        // per module row: what its turns told
  current: -1,     // the row of the turn under way or last ended
  target: -1,      // the row the feed's events are about
  stopper: -1,     // the row of the module that stopped the sequence, while it stands
  logLines: [],
  connected: true,
  ended: false,
  sharedPowerCycle: false,  // the guide said the next turn's power cycle completes the one before
};

// The run's token, from the address the guide printed (after the #, which the browser never
// sends). Once read it leaves the address bar and this tab's history, where anyone who sees the
// screen or the history would find it; this tab keeps it for a reload.
function takeToken() {
  const key = 'nodletflash-window-token';
  const given = location.hash.slice(1);
  if (given) {
    try { sessionStorage.setItem(key, given); } catch (error) { /* kept in memory only */ }
    history.replaceState(null, '', location.pathname + location.search);
    return given;
  }
  try { return sessionStorage.getItem(key) || ''; } catch (error) { return ''; }
}

// This tab's name for itself, kept in the tab: a reload names itself as before, and the guide
// knows it for the page that drove. A tab the browser copied (duplicated) holds the same name
// at first; it takes a name of its own when the tab it came from answers to the name.
function takePageId() {
  const key = 'nodletflash-window-page';
  let id = '';
  try { id = sessionStorage.getItem(key) || ''; } catch (error) { /* kept in memory only */ }
  if (!/^[0-9a-f]{32}$/.test(id)) {
    id = randomWord();
    try { sessionStorage.setItem(key, id); } catch (error) { /* kept in memory only */ }
  }
  return id;
}

// Asks the other tabs of this guide whether one already goes by this tab's name; resolves
// once a fresh name is taken or nobody answered within a moment.
function settlePageId() {
  if (typeof BroadcastChannel !== 'function') return Promise.resolve();
  const channel = new BroadcastChannel('nodletflash-window-pages');
  channel.addEventListener('message', (event) => {
    if (event.data && event.data.ask === pageId) channel.postMessage({ taken: pageId });
    if (event.data && event.data.taken === pageId) {
      pageId = randomWord();
      try { sessionStorage.setItem('nodletflash-window-page', pageId); } catch (error) { /* memory */ }
    }
  });
  channel.postMessage({ ask: pageId });
  return new Promise((resolve) => setTimeout(resolve, 150));
}

function randomWord() {
  const bytes = new Uint8Array(16);
  crypto.getRandomValues(bytes);
  return Array.from(bytes, (b) => b.toString(16).padStart(2, '0')).join('');
}

function guideNow() {
  return performance.now() / 1000 + model.clockOffset;
}

function headers(extra) {
  return Object.assign({ 'X-Window-Token': token, 'X-Window-Page': pageId }, extra || {});
}

function freshRow() {
  return {
    state: 'waiting', began: null, endedAt: null, errors: [], errorInfo: null, end: null, moduleEvent: null,
    interrupting: false, sharedPowerCycle: false,
    causes: null,
  };
}

function rowFor(index) {
  while (model.rows.length <= index) model.rows.push(freshRow());
  return model.rows[index];
}

// One entry of the guide's: a feed event, or the window's own (a turn begins, a tool line).
function apply(entry) {
  if (entry.window === 'turn') {
    model.rows[entry.index] = freshRow();
    const row = rowFor(entry.index);
    row.state = 'checking';
    row.began = entry.t;
    row.sharedPowerCycle = model.sharedPowerCycle;
    model.sharedPowerCycle = false;
    model.current = entry.index;
    model.target = entry.index;
    return;
  }
  if (entry.window === 'row') {
    model.target = entry.index;
    return;
  }
  if (entry.window === 'causes') {
    rowFor(entry.index).causes = entry.causes;
    return;
  }
  if (entry.window === 'line') {
    model.logLines.push({ index: entry.index, stream: entry.stream, text: entry.text });
    appendLog(entry);
    return;
  }
  if (entry.event === 'shared-power-cycle') {
    // Told just before the turn it starts.
    model.sharedPowerCycle = true;
    return;
  }
  if (model.target < 0) return;
  const row = rowFor(model.target);
  switch (entry.event) {
    case 'module':
      row.moduleEvent = entry;
      break;
    case 'narration':
      if (typeof entry.text === 'string' && entry.text.startsWith('Starting download of firmware')) {
        row.state = 'downloading';
      } else if (row.state === 'checking') {
        row.state = 'starting';
      }
      break;
    case 'instruction':
      if ((row.state === 'checking' || row.state === 'starting') && /power off/i.test(String(entry.text))) {
        row.state = 'power';
      }
      break;
    case 'power-cycle':
      // What to say is the guide's (the state's moment); the row only knows where it stands.
      row.state = 'power';
      break;
    case 'progress':
      row.state = row.state === 'closing' ? 'closing' : 'downloading';
      break;
    case 'error':
      if (entry.text !== undefined) row.errors.push(entry.text);
      if (!entry.continued) row.errorInfo = entry;
      break;
    case 'interrupting':
      row.interrupting = true;
      break;
    case 'end':
      row.end = entry;
      row.endedAt = entry.t;
      row.state = endState(entry);
      // What is shown stays with the module that stopped the sequence, not one skipped after it.
      if (entry.outcome !== 'skipped') {
        model.stopper = entry.outcome === 'done' ? -1 : model.target;
      } else if (model.stopper >= 0) {
        model.current = model.stopper;
      }
      break;
    default:
      break;
  }
}

function endState(end) {
  switch (end.outcome) {
    case 'done': return 'done';
    case 'refused': return 'refused';
    case 'skipped': return 'not done';
    case 'interrupted': return 'cancelled';
    default: return 'failed';
  }
}

const stateWords = {
  waiting: 'waiting', checking: 'checking', starting: 'starting the tool', refused: 'refused',
  power: 'power cycle', downloading: 'downloading', closing: 'closing', done: 'done',
  failed: 'failed', 'not done': 'not done', cancelled: 'not done (cancelled)',
};

const stateClass = {
  done: 'state-done', failed: 'state-failed', refused: 'state-refused', power: 'state-power',
  downloading: 'state-downloading',
};

// Elements built from text alone.
function el(tag, text, className) {
  const node = document.createElement(tag);
  if (text !== undefined && text !== null) node.textContent = String(text);
  if (className) node.className = className;
  return node;
}

// Whole seconds, rounded down, as the terminal shows them.
function seconds(value) {
  return `${Math.floor(Math.max(0, value) + 1e-6)} s`;
}

function findingsList(findings) {
  const list = el('ul');
  for (const finding of findings) {
    let text = `${finding.severity}: ${finding.text}`;
    if (finding.line !== undefined && finding.line !== null) {
      text += ` (line ${finding.line}, column ${finding.column})`;
    }
    list.appendChild(el('li', text, `sev-${finding.severity}`));
  }
  return list;
}

// A cell of the table; |label| names its column where the table is shown as cards.
function cell(text, className, label) {
  const node = el('td', text, className);
  node.dataset.label = label;
  return node;
}

function moduleName(module) {
  return module.name !== null ? module.name : 'not a module of the hand';
}

function renderRows() {
  const body = document.querySelector('#modules tbody');
  body.replaceChildren();
  const modules = model.state ? model.state.modules : [];
  $('no-modules').hidden = modules.length > 0 || !(model.state && model.state.picking);
  $('modules').hidden = modules.length === 0;
  const removable = model.state && model.state.picking && model.state.phase === 'choosing';
  $('actions-head').hidden = !removable;
  modules.forEach((module, index) => {
    const row = model.rows[index] || freshRow();
    const tr = el('tr');
    tr.dataset.index = String(index);
    tr.appendChild(cell(module.node_text, 'node', 'Node'));
    tr.appendChild(cell(moduleName(module), 'name', 'Module'));
    tr.appendChild(cell(module.shown_file, 'file', 'File'));
    const checks = cell(null, 'findings', 'Checks');
    // The guide's own account of the checks: the last made, the uploaded file by its name.
    if (!module.checked) {
      checks.textContent = 'checking...';
    } else if (module.findings.length === 0) {
      checks.textContent = 'no findings';
    } else {
      checks.appendChild(findingsList(module.findings));
    }
    if (module.summary) checks.appendChild(el('p', module.summary.text, 'summary'));
    // What this computer's record says of the module, until its turn tells more.
    if (module.record_note !== null && model.state.phase === 'choosing') {
      checks.appendChild(el('p', module.record_note, 'record-note'));
    }
    tr.appendChild(checks);
    tr.appendChild(cell(stateWords[row.state] || row.state, `state ${stateClass[row.state] || ''}`, 'State'));
    tr.appendChild(cell(rowTime(row), 'time', 'Time'));
    // The column of actions is there only while there is something to do in it.
    if (removable) {
      const actions = cell(null, 'actions', 'Remove');
      const remove = el('button', 'Remove', 'remove');
      remove.type = 'button';
      remove.disabled = !model.driving;
      remove.setAttribute('aria-label', `Remove module ${module.node_text}`);
      remove.addEventListener('click', () => post(`/module/remove?index=${index}`));
      actions.appendChild(remove);
      tr.appendChild(actions);
    }
    body.appendChild(tr);
  });
}

function rowTime(row) {
  if (row.began === null) return '';
  const until = row.endedAt !== null ? row.endedAt : guideNow();
  return `${(until - row.began).toFixed(1)} s`;
}

function currentModule() {
  if (!model.state || model.current < 0) return null;
  return model.state.modules[model.current] || null;
}

function labelOf(module) {
  return module.node !== null ? `Module ${module.node_text} (${module.name})` : `Module ${module.node_text}`;
}

// What the guide says of the moment (the power cycle's instruction, the download's figures),
// when it is about |index|'s turn.
function momentFor(kind, index) {
  const moment = model.state ? model.state.moment : null;
  return moment && moment.kind === kind && moment.index === index ? moment : null;
}

// The instruction and its deadline are the guide's words, the terminal's; the page adds only
// the seconds as they pass.
function renderPower(row, module) {
  const panel = $('power');
  const moment = momentFor('power-cycle', model.current);
  if (!moment || row.state !== 'power') {
    panel.hidden = true;
    return;
  }
  panel.hidden = false;
  $('power-module').textContent = labelOf(module);
  const since = guideNow() - moment.asked_t;
  $('power-step').textContent = moment.instruction;
  $('power-since').textContent = `${seconds(since)} since this instruction`;
  let deadline = '';
  if (typeof moment.deadline_s === 'number') {
    deadline = `${seconds(Math.floor(moment.deadline_s) - Math.floor(since))} left (until ${seconds(moment.deadline_s)})`;
  }
  $('power-deadline').textContent = deadline;
  $('power-then').textContent = moment.deadline_meaning !== null ? moment.deadline_meaning : '';
  $('power-source').textContent = moment.source;
  $('power-between').textContent = row.sharedPowerCycle
    ? 'This one power cycle also completes the module before it.' : '';
  announce(`${labelOf(module)}: ${moment.instruction}`, `power ${model.current} ${moment.phase}`);
}

function renderDownload(row, module) {
  const panel = $('download');
  if (row.state !== 'downloading' && row.state !== 'closing') {
    panel.hidden = true;
    return;
  }
  panel.hidden = false;
  $('download-module').textContent = labelOf(module);
  const moment = momentFor('download', model.current) || { fraction: 0, count: 'starting', pace: '' };
  const percent = Math.min(100, 100 * moment.fraction);
  $('bar-fill').style.width = `${percent.toFixed(1)}%`;
  $('bar').setAttribute('aria-valuenow', percent.toFixed(0));
  $('bar').setAttribute('aria-valuetext', moment.count);
  $('download-count').textContent = moment.count;
  $('download-pace').textContent = moment.pace;
  announce(`${labelOf(module)}: downloading, leave the hand switched on.`, `download ${model.current}`);
}

// The instruction of the moment, for a screen reader: said once when it changes, not at each
// second that passes.
let announced = '';
function announce(text, key) {
  if (key === announced) return;
  announced = key;
  $('announce').textContent = text;
}

function renderVerdict(row, module) {
  const panel = $('verdict');
  const phase = model.state ? model.state.phase : 'choosing';
  const ended = row && row.end;
  $('close').hidden = !(phase === 'finished' || phase === 'stopped');
  $('close').disabled = !model.driving;
  if (!ended) {
    panel.hidden = $('close').hidden;
    panel.className = 'panel';
    $('verdict-icon').textContent = '';
    $('verdict-words').textContent = '';
    $('verdict-meaning').textContent = '';
    $('failure').hidden = true;
    return;
  }
  panel.hidden = false;
  const end = row.end;
  const label = labelOf(module);
  let words;
  let icon;
  let kind;
  switch (row.state) {
    case 'done': words = `${label}: done`; icon = '\u2714'; kind = 'done'; break;
    case 'refused': words = `${label}: refused by the checks`; icon = '\u2716'; kind = 'failed'; break;
    case 'cancelled': words = `${label}: cancelled`; icon = '\u25a0'; kind = 'stopped'; break;
    case 'not done': words = `${label}: not done`; icon = '\u25a0'; kind = 'stopped'; break;
    default: words = `${label}: failed`; icon = '\u2716'; kind = 'failed'; break;
  }
  panel.className = `panel verdict-${kind}`;
  $('verdict-icon').textContent = icon;
  $('verdict-words').textContent = words;
  $('verdict-meaning').textContent = typeof end.meaning === 'string' ? end.meaning : '';
  announce(`${words}. ${$('verdict-meaning').textContent}`, `verdict ${model.current} ${row.state} ${row.endedAt}`);
  const failed = row.state !== 'done';
  $('failure').hidden = !failed;
  if (!failed) return;
  $('failure-error').textContent = row.errors.length > 0 ? row.errors.join('\n')
    : 'The tool printed no error message.';
  const info = row.errorInfo || {};
  $('failure-error-meaning').textContent = typeof info.meaning === 'string' ? info.meaning : '';
  // The guide's list for the window leaves out what the verdict above already says.
  fillCauses(Array.isArray(row.causes) ? row.causes : Array.isArray(info.causes) ? info.causes : []);
  const retry = $('retry');
  retry.hidden = !(phase === 'stopped' && (row.state === 'failed' || row.state === 'refused'));
  retry.disabled = !model.driving;
}

function fillCauses(causes) {
  const list = $('failure-causes');
  list.replaceChildren();
  for (const cause of causes) {
    const item = el('li');
    item.appendChild(el('p', cause.cause, 'cause'));
    item.appendChild(el('p', `What to do: ${cause.remedy}`, 'remedy'));
    list.appendChild(item);
  }
  $('causes-head').hidden = causes.length === 0;
}

function renderControls() {
  const state = model.state;
  const phase = state ? state.phase : 'choosing';
  $('start').hidden = phase !== 'choosing';
  $('start').disabled = !(state && state.can_start && model.driving);
  let why = '';
  if (state && phase === 'choosing' && !state.can_start) {
    why = state.modules.length === 0 ? 'Choose a module and its file first.'
      : state.modules.some((m) => !m.checked) ? 'The checks are running.'
        : 'Start stays off: the checks found a problem (see the table).';
  }
  $('start-why').textContent = why;
  $('cancel').disabled = !model.driving || model.ended;
  $('picker').hidden = !(state && state.picking && phase === 'choosing');
  $('pick-add').disabled = !model.driving;
  $('rehearsal').hidden = !(state && state.rehearsal !== null);
  if (state && state.rehearsal !== null) {
    $('rehearsal').textContent = `Rehearsal with the virtual hand (scenario ${state.rehearsal}): no real hand is touched.`;
  }
  $('watching').hidden = model.driving || model.ended;
  $('record-warning').hidden = !(state && state.record_warning !== null);
  $('record-warning').textContent = state && state.record_warning !== null
    ? `Warning: ${state.record_warning}` : '';
  const row = model.current >= 0 ? model.rows[model.current] : null;
  const logFile = row && row.moduleEvent && row.moduleEvent.log ? row.moduleEvent.log
    : state && state.log;
  $('log-path').textContent = logFile ? `Log file: ${logFile}` : 'No log is kept (--no-log).';
}

function renderConnection() {
  const banner = $('connection');
  if (model.ended) {
    banner.hidden = false;
    banner.className = 'banner';
    banner.textContent = 'The guide has ended; this page shows how the run ended. You can close it.';
  } else if (!model.connected) {
    banner.hidden = false;
    banner.className = 'banner alarm';
    banner.textContent = 'Lost the connection to the guide. This page does not show what the hand ' +
      'is doing now; the guide goes on without it. Trying again...';
  } else {
    banner.hidden = true;
  }
}

function render() {
  renderRows();
  renderControls();
  renderConnection();
  renderPanels();
}

// What changes with time alone: the rows' times and the panels' seconds.
function tick() {
  document.querySelectorAll('#modules tbody tr').forEach((tr) => {
    const row = model.rows[Number(tr.dataset.index)];
    if (row) tr.querySelector('td.time').textContent = rowTime(row);
  });
  renderPanels();
}

function renderPanels() {
  const module = currentModule();
  const row = model.current >= 0 ? model.rows[model.current] : null;
  if (row && module) {
    renderPower(row, module);
    renderDownload(row, module);
  } else {
    $('power').hidden = true;
    $('download').hidden = true;
  }
  renderVerdict(row, module);
}

function appendLog(entry) {
  const modules = model.state ? model.state.modules : [];
  const module = modules[entry.index];
  const prefix = module ? `[${module.node_text}] ` : '';
  $('log-lines').appendChild(document.createTextNode(
    `${prefix}${entry.stream === 'err' ? '(stderr) ' : ''}${entry.text}\n`));
}

// The cancel question says what cancelling means at this moment.
function cancelMeaning() {
  const state = model.state;
  if (!state || state.phase !== 'running') {
    return 'Cancel ends the guide and closes this window. No module is being flashed now.';
  }
  const row = model.rows[model.current];
  const module = currentModule();
  // Before the download nothing of it is sent, and the module holds what it held: what this
  // computer's record says of that is the guide's own sentence.
  const held = module && module.record_note !== null ? ` ${module.record_note}` : '';
  switch (row ? row.state : 'checking') {
    case 'power':
      return 'Cancel stops the tool during the power cycle, before the download begins: nothing ' +
        `of it is sent, and the module holds what it held before.${held} The guide then ends.`;
    case 'downloading':
      return 'Cancel stops the download before its end: the module may not work until it is ' +
        'flashed completely. The guide then ends.';
    case 'closing':
      return 'Every character has been sent; the tool is closing the adapter. Cancel stops it ' +
        'now and the module may not be finished. The guide then ends.';
    default:
      return 'Cancel stops the tool before the download begins: nothing of it is sent, and the ' +
        `module holds what it held before.${held} The guide then ends.`;
  }
}

async function post(path, options) {
  $('action-error').hidden = true;
  try {
    const response = await fetch(path, Object.assign({ method: 'POST', headers: headers() }, options || {}));
    if (!response.ok) {
      let text = `The guide refused (${response.status}).`;
      try {
        const body = await response.json();
        if (body.error) text = `The guide refused: ${body.error}.`;
      } catch (ignored) { /* not JSON */ }
      return text;
    }
    return null;
  } catch (error) {
    return 'The guide could not be reached.';
  }
}

async function act(path) {
  const refusal = await post(path);
  if (refusal) {
    $('action-error').textContent = refusal;
    $('action-error').hidden = false;
  }
}

function wire() {
  $('start').addEventListener('click', () => act('/start'));
  $('cancel').addEventListener('click', () => {
    $('confirm-text').textContent = cancelMeaning();
    $('confirm').hidden = false;
    // The question has the keyboard until it is answered; going on is the safe answer.
    $('confirm-no').focus();
  });
  $('confirm-no').addEventListener('click', () => {
    $('confirm').hidden = true;
    $('cancel').focus();
  });
  $('confirm').addEventListener('keydown', (event) => {
    if (event.key === 'Escape') $('confirm-no').click();
  });
  $('confirm-yes').addEventListener('click', () => {
    $('confirm').hidden = true;
    const phase = model.state ? model.state.phase : 'choosing';
    act(phase === 'stopped' || phase === 'finished' ? '/close' : '/cancel');
  });
  $('retry').addEventListener('click', () => act(`/retry?index=${model.current}`));
  $('close').addEventListener('click', () => act('/close'));
  $('picker').addEventListener('submit', async (event) => {
    event.preventDefault();
    const file = $('pick-file').files[0];
    const error = $('pick-error');
    error.hidden = true;
    if (!file) {
      error.textContent = 'Choose a firmware file first.';
      error.hidden = false;
      return;
    }
    if (file.size > 4 * 1024 * 1024) {
      error.textContent = `${file.name} is larger than 4 MiB: it cannot be a firmware file for the hand.`;
      error.hidden = false;
      return;
    }
    const refusal = await post('/module', {
      headers: headers({ 'X-Window-Node': $('pick-node').value, 'X-Window-Name': encodeURIComponent(file.name) }),
      body: file,
    });
    if (refusal) {
      error.textContent = refusal;
      error.hidden = false;
    } else {
      $('pick-file').value = '';
    }
  });
  window.addEventListener('pagehide', () => {
    // Lets another page drive at once; the guide would otherwise wait for this one a while.
    fetch('/leave', { method: 'POST', headers: headers(), keepalive: true }).catch(() => {});
  });
}

async function follow() {
  for (;;) {
    try {
      const response = await fetch(`/events?after=${model.next}&version=${model.version}`, { headers: headers() });
      if (!response.ok) throw new Error(`status ${response.status}`);
      const body = await response.json();
      model.clockOffset = body.now - performance.now() / 1000;
      model.state = body.state;
      model.driving = body.driving;
      model.version = body.version;
      for (const entry of body.entries) apply(entry);
      model.next = body.next;
      model.connected = true;
      if (body.state.phase === 'ended') {
        model.ended = true;
        render();
        return;
      }
      render();
    } catch (error) {
      console.error(`the guide could not be read: ${error}`);
      model.connected = false;
      render();
      await new Promise((resolve) => setTimeout(resolve, 1000));
    }
  }
}

async function start() {
  if (!/^[0-9a-f]{32}$/.test(token)) {
    $('connection').hidden = false;
    $('connection').textContent = 'This page needs the whole address the guide printed, with the part after #.';
    return;
  }
  wire();
  await settlePageId();
  // The times shown run on the guide's clock, however often a hidden tab is woken.
  setInterval(() => { if (model.state) tick(); }, 250);
  follow();
}

start();
