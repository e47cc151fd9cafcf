// The web panel's page. Everything a server or a user wrote is put into the page as text
// (textContent), never as markup.
'use strict';

const roles = ['viewer', 'operator', 'admin'];
let session = null;          // {name, role, csrf}
let view = 'overview';
let consoleServer = 'map';
let backupServer = 'map';
let crashShown = '';         // the crash report shown, or '' for the newest
// The servers in the launcher's order, whatever order an answer names them in.
const launcherOrder = ['login', 'char', 'map'];
let serverNames = launcherOrder;
let timer = null;
let live = null;             // the WebSocket that pushes the state, the console and the log
let liveStatus = null;
let logLines = [];
let consoleRows = [];        // [text, runs] of the console shown
const palette16 = ['#000000', '#cd3131', '#0dbc79', '#e5e510', '#2472c8', '#bc3fbc', '#11a8cd',
                   '#e5e5e5', '#666666', '#f14c4c', '#23d18b', '#f5f543', '#3b8eea', '#d670d6',
                   '#29b8db', '#ffffff'];

const $ = (id) => document.getElementById(id);

function element(tag, text, className) {
  const e = document.createElement(tag);
  if (text !== undefined) e.textContent = String(text);
  if (className) e.className = className;
  return e;
}

// A line for the operator: a refusal in red, what was done in the page's own colour.
function notice(text, refused = true) {
  $('notice').textContent = text || '';
  $('notice').classList.toggle('error', refused);
}

async function call(method, path, body) {
  const options = { method, credentials: 'same-origin', headers: {} };
  if (method !== 'GET') {
    options.headers['Content-Type'] = 'application/json';
    if (session) options.headers['X-CSRF-Token'] = session.csrf;
    options.body = JSON.stringify(body || {});
  }
  const response = await fetch(path, options);
  let answer = {};
  try { answer = await response.json(); } catch (e) { answer = {}; }
  if (response.status === 401 && path !== '/api/login') showLogin();
  return { status: response.status, answer };
}

async function act(request) {
  const { status, answer } = await call('POST', '/api/action', request);
  if (status === 200) notice(answer.message || '', false);
  else notice(answer.error || answer.message || 'refused');
  refresh();
}

function may(role) { return session && roles.indexOf(session.role) >= roles.indexOf(role); }

function applyRole() {
  for (const role of ['operator', 'admin'])
    for (const e of document.querySelectorAll('.' + role))
      e.classList.toggle('no-role', !may(role));
}

function showLogin() {
  session = null;
  clearInterval(timer);
  if (live) { live.onclose = null; live.close(); live = null; }
  $('panel').hidden = true;
  $('login').hidden = false;
}

function showPanel(s) {
  session = s;
  $('login').hidden = true;
  $('panel').hidden = false;
  $('who').textContent = s.name + ' (' + s.role + ')';
  applyRole();
  show(view);
  clearInterval(timer);
  timer = setInterval(refresh, 1000);
  connectLive();
}

// The live socket: authenticated by the session's CSRF token in its first message. While it is
// open the state, the console and the log come through it; without it the page asks each second.
function connectLive() {
  if (live || !session) return;
  live = new WebSocket((location.protocol === 'https:' ? 'wss://' : 'ws://') + location.host + '/api/live');
  live.onopen = () => { live.send(JSON.stringify({ csrf: session.csrf })); watch(); };
  live.onmessage = (event) => received(JSON.parse(event.data));
  live.onclose = () => {
    live = null;
    if (session) setTimeout(() => call('GET', '/api/session').then(({ status }) => {
      if (status === 200) connectLive();
    }), 5000);
  };
}

function liveOpen() { return live && live.readyState === WebSocket.OPEN; }

function watch() {
  if (liveOpen())
    live.send(JSON.stringify({ type: 'watch', server: view === 'console' ? consoleServer : null }));
}

function received(message) {
  if (message.type === 'status') { liveStatus = message.status; if (view === 'overview') overview(liveStatus); }
  if (message.type === 'console' && message.server === consoleServer) {
    consoleRows = message.reset ? message.lines : consoleRows.concat(message.lines);
    if (consoleRows.length > 2000) consoleRows = consoleRows.slice(-2000);
    if (view === 'console') drawConsole();
  }
  if (message.type === 'log') {
    logLines = logLines.concat(message.lines);
    if (logLines.length > 5000) logLines = logLines.slice(-5000);
    if (view === 'log') drawLog();
  }
}

function colour(value) {
  if (value === null || value === undefined) return '';
  if (typeof value === 'string') return value;
  if (value < 16) return palette16[value];
  if (value >= 232) { const g = 8 + (value - 232) * 10; return 'rgb(' + g + ',' + g + ',' + g + ')'; }
  const n = value - 16, step = (c) => (c ? 55 + c * 40 : 0);
  return 'rgb(' + step(Math.floor(n / 36)) + ',' + step(Math.floor(n / 6) % 6) + ',' + step(n % 6) + ')';
}

// A console line in its colours, each stretch as text.
function consoleLine([text, runs]) {
  const row = element('div');
  let at = 0;
  for (const [start, length, fg, bg, flags] of runs) {
    if (start > at) row.append(document.createTextNode(text.slice(at, start)));
    const span = element('span', text.slice(start, start + length));
    span.style.color = colour(fg);
    span.style.backgroundColor = colour(bg);
    if (flags & 1) span.classList.add('bold');
    if (flags & 2) span.classList.add('underline');
    row.append(span);
    at = start + length;
  }
  if (at < text.length) row.append(document.createTextNode(text.slice(at)));
  return row;
}

function keepAtEnd(pre, draw) {
  const atEnd = pre.scrollTop + pre.clientHeight >= pre.scrollHeight - 4;
  draw();
  if (atEnd) pre.scrollTop = pre.scrollHeight;
}

function drawConsole() {
  const pre = $('console-lines');
  keepAtEnd(pre, () => pre.replaceChildren(...consoleRows.map(consoleLine)));
}

function drawLog() {
  const search = $('log-search').value.toLowerCase();
  fill('log-lines', logLines.filter((l) => l.toLowerCase().includes(search)));
}

function show(name) {
  view = name;
  watch();
  lastSlowRefresh = 0;
  for (const v of document.querySelectorAll('.view')) v.hidden = v.id !== 'view-' + name;
  for (const b of document.querySelectorAll('#views button'))
    b.classList.toggle('current', b.dataset.view === name);
  if (name === 'console' && liveOpen()) drawConsole();
  if (name === 'log' && liveOpen()) drawLog();
  refresh();
}

function mark(s) {
  if (s.running && s.meant_to_run) return ['\u25cf running', 'state-running'];
  if (s.meant_to_run) return ['\u25b2 crashed', 'state-crashed'];
  if (s.running) return ['\u25c6 not watched', ''];
  return ['\u25a0 stopped', ''];
}

function duration(seconds) {
  if (!seconds) return '';
  const s = Math.max(0, Math.floor(Date.now() / 1000 - seconds));
  const h = Math.floor(s / 3600), m = Math.floor(s / 60) % 60;
  return (h ? h + ' h ' : '') + m + ' min ' + (s % 60) + ' s';
}

function button(text, onClick, role) {
  const b = element('button', text, role);
  b.addEventListener('click', onClick);
  return b;
}

function confirmKill(servers) {
  const what = servers.length ? servers.join(', ') : 'every server';
  if (confirm('Kill ' + what + '? A killed server does not save its world.'))
    act({ verb: 'kill', servers, yes: true });
}

let drawnStatus = '';

function overview(status) {
  // Drawn anew only when it changed, for the same reason as the tabs.
  const named = status.servers || {};
  serverNames = launcherOrder.filter((n) => n in named);
  const servers = serverNames.map((n) => named[n]);
  // What changes at every sample is written into the rows in place.
  const drawn = JSON.stringify(servers.map(({ cpu_percent, resident_bytes, ...rest }) => rest));
  const usage = (s) => [s.running ? duration(s.start_time) : '',
                        s.cpu_percent == null ? '' : s.cpu_percent.toFixed(1) + ' %',
                        s.resident_bytes == null ? '' : Math.round(s.resident_bytes / 1048576) + ' MB'];
  if (drawn === drawnStatus) {
    const rows = $('servers').tBodies[0].rows;
    servers.forEach((s, i) => {
      if (rows[i]) usage(s).forEach((text, k) => { rows[i].cells[3 + k].textContent = text; });
    });
    return;
  }
  drawnStatus = drawn;
  const body = $('servers').tBodies[0];
  body.replaceChildren();
  for (const name of serverNames) {
    const s = named[name];
    const row = element('tr');
    const [word, className] = mark(s);
    row.append(element('td', name), element('td', word, className), element('td', s.pid || ''),
               ...usage(s).map((text) => element('td', text)),
               element('td', s.players === undefined ? '' : s.players), element('td', s.crashes));
    const crash = element('td', s.last_crash_time ? new Date(s.last_crash_time * 1000).toLocaleString() + ' ' : '');
    if (s.last_crash_time) crash.append(button('Report', () => showCrashOf(name)));
    row.append(crash, element('td', s.next_event || ''));
    const actions = element('td');
    for (const verb of ['start', 'stop', 'restart'])
      actions.append(button(verb[0].toUpperCase() + verb.slice(1),
                            () => act({ verb, servers: [name] }), 'operator'));
    actions.append(button('Kill', () => confirmKill([name]), 'admin'));
    row.append(actions);
    body.append(row);
  }
  applyRole();
}

// The newest crash report of the server, in the crash reports' view.
async function showCrashOf(name) {
  const r = await call('GET', '/api/crashes');
  const display = name[0].toUpperCase() + name.slice(1) + ' Server';
  const report = (Array.isArray(r.answer) ? r.answer : []).find((c) => c.server === display);
  crashShown = report ? report.name : '';
  show('crashes');
}

async function drawCrashes() {
  const r = await call('GET', '/api/crashes');
  const reports = Array.isArray(r.answer) ? r.answer : [];
  if (!crashShown && reports.length) crashShown = reports[0].name;
  $('crash-list').replaceChildren(...reports.map((c) => {
    const item = element('li');
    const b = button(c.name, () => { crashShown = c.name; drawCrashes(); });
    b.classList.toggle('current', c.name === crashShown);
    item.append(b, document.createTextNode(' ' + c.server));
    return item;
  }));
  if (!crashShown) { $('crash-text').textContent = 'No crash report is kept.'; return; }
  const t = await call('GET', '/api/crashes?name=' + encodeURIComponent(crashShown));
  $('crash-text').textContent = t.status === 200 ? t.answer.text : (t.answer.error || 'not found');
}

// The history's charts, drawn by Chart.js (Debian's libjs-chart.js) when the launcher serves it.
let chartRange = 'hour';
const charts = {};
const seriesColours = { login: '#2472c8', char: '#bc3fbc', map: '#0dbc79' };

function clock(ms) {
  const t = new Date(ms);
  return chartRange === 'hour' ? t.toLocaleTimeString() : t.toLocaleString([], { weekday: 'short', hour: '2-digit', minute: '2-digit' });
}

function drawChart(id, title, column, samples) {
  const datasets = launcherOrder.map((name) => ({
    label: name, borderColor: seriesColours[name], backgroundColor: seriesColours[name],
    pointRadius: 0, borderWidth: 1.5, spanGaps: false,
    data: (samples[name] || []).filter((p) => p[column] !== null).map((p) => ({ x: p[0], y: p[column] })),
  }));
  if (charts[id]) {
    charts[id].data.datasets = datasets;
    charts[id].update('none');
    return;
  }
  charts[id] = new Chart($(id), {
    type: 'line',
    data: { datasets },
    options: {
      animation: false, maintainAspectRatio: false, parsing: false, normalized: true,
      plugins: { title: { display: true, text: title } },
      scales: { x: { type: 'linear', ticks: { callback: (v) => clock(v), maxTicksLimit: 8 } },
                y: { beginAtZero: true } },
    },
  });
}

async function drawCharts() {
  const r = await call('GET', '/api/history');
  if (r.status !== 200) return;
  const missing = typeof Chart === 'undefined';
  $('charts-missing').hidden = !missing;
  if (!missing) {
    const samples = r.answer[chartRange] || {};
    drawChart('chart-cpu', 'CPU, % of one core', 1, samples);
    drawChart('chart-memory', 'Memory, MB', 2, samples);
    // Players only where a server's console tells them.
    const counted = launcherOrder.some((n) => (samples[n] || []).some((p) => p[3] !== null));
    $('chart-players').parentElement.hidden = !counted;
    if (counted) drawChart('chart-players', 'Players', 3, samples);
  }
  $('timeline').replaceChildren(...(r.answer.timeline || []).map((e) =>
    element('li', new Date(e.time).toLocaleString() + ' ' + e.server + ': ' + e.kind + (e.how ? ' (' + e.how + ')' : ''))));
}

// A button a server, made once: a button replaced under the pointer would lose its click.
function tabs(id, current, choose) {
  const p = $(id);
  if (p.dataset.names !== serverNames.join(',')) {
    p.dataset.names = serverNames.join(',');
    p.replaceChildren(...serverNames.map((name) => {
      const b = button(name, () => { choose(name); refresh(); });
      b.dataset.server = name;
      return b;
    }));
  }
  for (const b of p.children) b.classList.toggle('current', b.dataset.server === current);
}

function fill(id, lines) {
  const pre = $(id);
  keepAtEnd(pre, () => { pre.textContent = lines.join('\n'); });
}

let lastSlowRefresh = 0;

async function refresh() {
  if (!session) return;
  // Through the live socket the state, the console and the log come as they change; what it
  // does not carry is asked for every 5 seconds.
  if (liveOpen()) {
    if (view === 'console') tabs('console-tabs', consoleServer, (n) => { consoleServer = n; consoleRows = []; watch(); });
    if (view === 'overview' && liveStatus) overview(liveStatus);
    if (['overview', 'console', 'log'].includes(view) || Date.now() - lastSlowRefresh < 5000) return;
  }
  lastSlowRefresh = Date.now();
  const status = await call('GET', '/api/status');
  if (status.status !== 200) return;
  if (view === 'overview') overview(status.answer);
  if (view === 'console') {
    tabs('console-tabs', consoleServer, (n) => { consoleServer = n; consoleRows = []; watch(); });
    const r = await call('GET', '/api/console?n=500&server=' + encodeURIComponent(consoleServer));
    if (r.status === 200) fill('console-lines', r.answer.lines || []);
  }
  if (view === 'log') {
    const r = await call('GET', '/api/log?n=2000');
    const search = $('log-search').value.toLowerCase();
    if (r.status === 200)
      fill('log-lines', (r.answer.lines || []).filter((l) => l.toLowerCase().includes(search)));
  }
  if (view === 'backups') {
    tabs('backup-tabs', backupServer, (n) => { backupServer = n; });
    const r = await call('GET', '/api/backups?server=' + encodeURIComponent(backupServer));
    const list = $('backup-list');
    list.replaceChildren();
    for (const line of (r.answer.lines || [])) {
      const item = element('li', line + ' ');
      const archive = line.split(' ')[0];
      item.append(button('Restore', () => {
        const typed = prompt('Restoring replaces the files of ' + backupServer +
                             '. Type the server\'s name to restore ' + archive + ':');
        if (typed === backupServer) act({ verb: 'restore', servers: [backupServer], archive, yes: true });
        else if (typed !== null) notice('Not restored: the name typed was not ' + backupServer + '.');
      }, 'admin'));
      list.append(item);
    }
    applyRole();
  }
  if (view === 'schedule') {
    const r = await call('GET', '/api/schedule');
    $('schedule-lines').replaceChildren(...(r.answer.lines || []).map((l) => element('li', l)));
    const p = $('skip-buttons');
    p.replaceChildren(...serverNames.map((n) =>
      button('Skip next restart of ' + n, () => act({ verb: 'skip-next-restart', servers: [n] }))));
  }
  if (view === 'crashes') drawCrashes();
  if (view === 'charts') drawCharts();
  if (view === 'users' && may('admin')) {
    const r = await call('GET', '/api/users');
    $('users').tBodies[0].replaceChildren(...(Array.isArray(r.answer) ? r.answer : []).map((u) => {
      const row = element('tr');
      row.append(element('td', u.name), element('td', u.role));
      return row;
    }));
  }
  if (view === 'audit' && may('admin')) {
    const r = await call('GET', '/api/audit?n=1000');
    const filter = $('audit-search').value.toLowerCase();
    const body = $('audit').tBodies[0];
    body.replaceChildren();
    for (const e of (Array.isArray(r.answer) ? r.answer : []).reverse()) {
      const cells = [new Date(e.time).toLocaleString(), e.surface, e.who, e.from, e.what, e.outcome];
      if (!cells.join(' ').toLowerCase().includes(filter)) continue;
      const row = element('tr');
      row.append(...cells.map((c) => element('td', c)));
      body.append(row);
    }
  }
}

// As the window's command line: no control character is ever sent, and a paste of several lines
// is sent whole, once confirmed, or not at all.
async function sendLines(lines) {
  for (const text of lines) {
    const { status, answer } = await call('POST', '/api/action',
                                          { verb: 'send', servers: [consoleServer], text });
    if (status !== 200) { notice(answer.error || answer.message || 'refused'); return; }
  }
  notice('');
  refresh();
}

function setUp() {
  $('login-form').addEventListener('submit', async (event) => {
    event.preventDefault();
    const { status, answer } = await call('POST', '/api/login', {
      name: $('login-name').value, password: $('login-password').value, code: $('login-code').value,
    });
    $('login-code').value = '';
    if (answer.code_needed) {
      // The password was right: it stays for the second try, with the code.
      $('login-code-label').hidden = false;
      $('login-code').focus();
    } else {
      $('login-password').value = '';
    }
    if (status === 200) { $('login-error').textContent = ''; $('login-code-label').hidden = true; showPanel(answer); }
    else $('login-error').textContent = answer.error || 'The login failed.';
  });
  $('logout').addEventListener('click', async () => { await call('POST', '/api/logout'); showLogin(); });
  $('logout-everywhere').addEventListener('click', async () => {
    await call('POST', '/api/logout-everywhere'); showLogin();
  });
  for (const b of document.querySelectorAll('#views button'))
    b.addEventListener('click', () => show(b.dataset.view));
  for (const b of document.querySelectorAll('.all button[data-verb]'))
    b.addEventListener('click', () => b.dataset.verb === 'kill' ? confirmKill([])
                                                                : act({ verb: b.dataset.verb }));
  $('test-alert').addEventListener('click', () => act({ verb: 'test-alert' }));
  $('backup-now').addEventListener('click', () => act({ verb: 'backup', servers: [backupServer] }));
  $('console-form').addEventListener('submit', (event) => {
    event.preventDefault();
    const text = $('console-input').value;
    if (/[\u0000-\u001f\u007f]/.test(text)) { notice('Control characters are not sent.'); return; }
    $('console-input').value = '';
    sendLines([text]);
  });
  $('console-input').addEventListener('paste', (event) => {
    const text = (event.clipboardData || window.clipboardData).getData('text');
    const lines = text.replace(/\r\n?/g, '\n').split('\n').filter((l) => l.length);
    if (lines.length < 2) return;
    event.preventDefault();
    if (lines.length > 10) { notice('At most 10 lines are sent at once: nothing sent.'); return; }
    if (lines.some((l) => /[\u0000-\u001f\u007f]/.test(l))) { notice('The paste holds control characters: nothing sent.'); return; }
    if (confirm('Send these ' + lines.length + ' lines to ' + consoleServer + '?\n\n' + lines.join('\n')))
      sendLines(lines);
  });
  for (const b of document.querySelectorAll('#chart-ranges button'))
    b.addEventListener('click', () => {
      chartRange = b.dataset.range;
      for (const other of document.querySelectorAll('#chart-ranges button'))
        other.classList.toggle('current', other === b);
      drawCharts();
    });
  $('log-search').addEventListener('input', () => (liveOpen() ? drawLog() : refresh()));
  $('audit-search').addEventListener('input', refresh);
  call('GET', '/api/session').then(({ status, answer }) =>
    status === 200 ? showPanel(answer) : showLogin());
}

document.addEventListener('DOMContentLoaded', setUp);
