<!DOCTYPE html>
<HTML LANG="en">
<HEAD>
<META CHARSET="utf-8">
<META NAME="viewport" CONTENT="width=device-width, initial-scale=1">
<TITLE>@TITLE@</TITLE>
<style>
body { font-family: sans-serif; margin: 1.5em; max-width: 100em; line-height: 1.4; overflow-wrap: break-word; }
img { max-width: 100%; height: auto; }
.sites { display: grid; gap: 1em; grid-template-columns: repeat(auto-fit, minmax(min(22em, 100%), 1fr)); }
.site { border: 2px solid #1c4f9c; border-radius: 6px; padding: 0.6em 1em; min-width: 0; }
.site h3 { margin: 0.2em 0 0.5em; }
.site form { margin: 0.5em 0; }
.site label { display: block; margin: 0.2em 0; }
.site input, .site select { max-width: 100%; box-sizing: border-box; }
.site .note { font-size: 0.9em; color: #444; margin-bottom: 0.2em; }
.site iframe { width: 100%; height: 12em; box-sizing: border-box; border: 1px solid #999; background: #fff; }
.site .waiting { margin: 0 0 0.4em; font-size: 0.95em; }
.waiting .some { font-weight: bold; color: #7a4300; }
.carry { border: 2px solid #2e8b3d; border-radius: 6px; padding: 0.6em 1em; margin: 1em 0; background: #f3faf4; }
.carry button { font-size: 1.05em; font-weight: bold; }
#waiting-table { border-collapse: collapse; margin: 0.5em 0; }
#waiting-table th, #waiting-table td { border: 1px solid #b8c2d2; padding: 0.2em 0.6em; text-align: left; }
#carry-log li { margin: 0.15em 0; }
#carry-log .done { color: #135e1f; }
#carry-log .nothing { color: #3b4350; }
#carry-log .refused { color: #7a4300; font-weight: bold; }
#carry-log .error { color: #8c1010; font-weight: bold; }
.auth { color: #5a3a00; background: #fff1db; padding: 0.4em 0.6em; border-radius: 4px; }
</style>
</HEAD>
<BODY>
<MAIN>
<H1>@TITLE@</H1>
<P>This server runs @COUNT@ sites of the site manager: @SITES@. Each site
keeps its own vantles (agents that describe one document each) and sends
queries to the sites near it. Sites exchange messages as files: <EM>Send
outgoing messages</EM> moves a site's waiting messages into the inboxes of
the other sites, and <EM>Pick up incoming messages</EM> makes a site
process what has arrived.</P>
<P ID="map-holder"><IMG SRC="S-Event_Data/Images/site_map.svg" ID="site-map" ALT="Map of the sites. The distances are @DISTANCES@. @ASKS@."></P>
<P>The distances are @DISTANCES@. A site queries the sites that are closer
than its virtual site distance threshold (<CODE>VG_THRESHOLD</CODE>, see its
configuration): <SPAN ID="asks">@ASKS@</SPAN>.</P>
<P ID="last-query" HIDDEN></P>
<ZOA_REL> "auth_note" </ZOA_REL>

<SECTION CLASS="carry" ID="carry">
<H2>Carry the messages</H2>
<P>What waits to be carried between the sites:</P>
<TABLE ID="waiting-table"><THEAD><TR><TH>Site</TH><TH>Inbox (to pick up)</TH><TH>Outbox (to send)</TH></TR></THEAD>
<TBODY></TBODY></TABLE>
<P><BUTTON TYPE="button" ID="carry-button">Carry all messages</BUTTON>
sends the outgoing messages of every site, then picks up the incoming ones
at every site, and again, until nothing moves. Each step is reported
below; the single-site buttons in the boxes stay for doing it by hand.</P>
<OL ID="carry-log"></OL>
</SECTION>

<H2>The sites</H2>
<P>Each box sends its forms to one site; the site's answer appears in the
box.</P>
<DIV CLASS="sites">
<ZOA_REL> "sites" </ZOA_REL>
</DIV>

<H2>Following a query across the sites</H2>
<OL>
<LI>On the manager page of @FIRST@, create a vantle for a document, or send a
query for keywords (for example <CODE>optics#!</CODE>).</LI>
<LI>Press <EM>Carry all messages</EM> above: the query goes to @PARTNER@,
@PARTNER@ answers, and the answer comes back to @FIRST@.</LI>
<LI>By hand instead: <EM>Send outgoing messages</EM> at @FIRST@, <EM>Pick up
incoming messages</EM> at @PARTNER@, <EM>Send outgoing messages</EM> at
@PARTNER@, then <EM>Pick up incoming messages</EM> at @FIRST@.</LI>
<LI>On the manager page of @FIRST@, list the vantles and press
<EM>Results</EM> in the row of the query.</LI>
</OL>

<H2>The click demo</H2>
<ZOA_REL> "cellkit" </ZOA_REL>
</MAIN>
<script>
<ZOA_REL> "answer_view" </ZOA_REL>
</script>
<script>
// Each box's frame shows its site's answers with a status line, and grows
// with the answer.
const frames = [...document.querySelectorAll('.site iframe')];
for (const frame of frames) {
  answerView.watch(frame, { fit: true });
  frame.addEventListener('load', () => count_waiting());
}

// The sites of the page, in the order of their boxes.
const site_dirs = [...document.querySelectorAll('.site')].map((s) => s.id.replace(/^site-/, ''));
const site_name = (dir) => document.querySelector(`#site-${dir} h3`).textContent.replace(/^Site /, '');

// What waits in the inboxes and outboxes, from waiting.cgi; null when it
// cannot be read.
async function waiting() {
  try {
    const r = await fetch('waiting.cgi', { cache: 'no-store' });
    return r.ok ? await r.json() : null;
  } catch {
    return null;
  }
}

const total = (w) => Object.values(w).reduce((n, s) => n + s.inbox + s.outbox, 0);

function show_waiting(w) {
  const body = document.querySelector('#waiting-table tbody');
  body.textContent = '';
  for (const dir of site_dirs) {
    const s = w && w[dir];
    const row = body.insertRow();
    row.dataset.site = dir;
    row.insertCell().textContent = site_name(dir);
    row.insertCell().textContent = s ? s.inbox : '?';
    row.insertCell().textContent = s ? s.outbox : '?';
    const line = document.querySelector(`.waiting[data-site="${dir}"]`);
    if (line) {
      line.innerHTML = s
        ? `Waiting: <span class="${s.inbox ? 'some' : ''}">${s.inbox} in the inbox</span>, <span class="${s.outbox ? 'some' : ''}">${s.outbox} in the outbox</span>.`
        : 'Waiting messages: cannot be counted.';
    }
  }
}

async function count_waiting() {
  const w = await waiting();
  show_waiting(w);
  return w;
}

// Presses a button of a site's box and waits until its answer has been
// shown; returns the answer's status, its status line and its values (null
// for an answer that came without them).
function press(dir, message_type) {
  const box = document.getElementById(`site-${dir}`);
  const form = [...box.querySelectorAll('form')].find((f) => f.elements.message_type && f.elements.message_type.value === message_type);
  const frame = box.querySelector('iframe');
  return new Promise((resolve) => {
    frame.addEventListener('answershown', (event) => {
      const doc = frame.contentDocument;
      const status = doc.body.dataset.answerView || (doc.getElementById('login-refused') ? 'refused' : 'answered');
      const head = doc.getElementById('answer-status') || doc.querySelector('.status') || doc.body;
      resolve({ status, head: head.innerText.split('\n')[0], values: event.detail });
    }, { once: true });
    form.requestSubmit();
  });
}

// How many messages an answer moved: files sent or picked up.
function moved_by(values) {
  if (!values) return 0;
  if (values.send) return values.send.files.length;
  if (values.pick_up) return values.pick_up.files.length;
  return 0;
}

// The carry button: send at every site, then pick up at every site, round
// after round, until nothing waits or a round moves nothing.
const log = document.getElementById('carry-log');
function report(text, status = '') {
  const li = document.createElement('li');
  li.textContent = text;
  if (status) li.className = status;
  log.append(li);
  return li;
}
document.getElementById('carry-button').addEventListener('click', async (event) => {
  const button = event.target;
  button.disabled = true;
  log.textContent = '';
  try {
    let w = await count_waiting();
    if (w && total(w) === 0) {
      report('Nothing waits: every inbox and outbox is empty.', 'nothing');
      return;
    }
    for (let round = 1; round <= 10; round++) {
      let moved = false;
      for (const [type, verb] of [['SYS_SEND_MSG', 'send'], ['SYS_PICK_UP_MSG', 'pick up']]) {
        for (const dir of site_dirs) {
          const a = await press(dir, type);
          if (moved_by(a.values)) moved = true;
          report(`Round ${round}, ${site_name(dir)}, ${verb}: ${a.head}`, a.status);
          if (a.status === 'refused' && /password/.test(a.head)) {
            report('Stopped: the sites ask for their password.', 'refused');
            return;
          }
        }
      }
      w = await count_waiting();
      if (w && total(w) === 0) {
        report(`Finished after ${round} round${round === 1 ? '' : 's'}: every inbox and outbox is empty.`, 'done');
        return;
      }
      if (!moved) {
        report('Stopped: this round moved nothing, yet messages still wait (see the boxes for the reason).', 'error');
        return;
      }
    }
    report('Stopped after 10 rounds: messages keep moving.', 'error');
  } finally {
    button.disabled = false;
  }
});
count_waiting();

// The map and the "asks" line drawn from the sites' settings as they are
// now (each site's distance table and threshold, read from the site), with
// the path of the last query carried from a manager page marked.
const SVG = 'http://www.w3.org/2000/svg';
async function settings_of(dir) {
  try {
    const r = await fetch(`${dir}/orv.cgi?flag=orv&message_type=MSG_SHOW_CONFIG`, { headers: { Accept: 'application/json' }, cache: 'no-store' });
    const v = answerView.values_of(await r.text());
    return v && v.settings ? v.settings : null;
  } catch {
    return null;
  }
}
function last_query() {
  try {
    return JSON.parse(localStorage.getItem('last query') || 'null');
  } catch {
    return null;
  }
}
async function draw_map() {
  const all = await Promise.all(site_dirs.map(settings_of));
  if (all.some((s) => !s || !s.sites)) return;
  const ids = all.map((s) => s.orv_id);
  const distance = (i, j) => (all[i].sites.find((t) => t.orv_id === ids[j]) || { distance: null }).distance;
  const asks = (i, j) => i !== j && distance(i, j) !== null && distance(i, j) < all[i].vg_threshold;
  const lines = all.map((s, i) => {
    const near = ids.filter((_, j) => asks(i, j));
    return `${s.orv_id} asks ${near.length ? near.join(near.length > 2 ? ', ' : ' and ').replace(/, ([^,]*)$/, ' and $1') : 'no site'}`;
  });
  document.getElementById('asks').textContent = lines.join('; ');
  const last = last_query();
  const on_path = (i, j) => last && ((ids[i] === last.site && last.sent_to.includes(ids[j])) || (ids[j] === last.site && last.sent_to.includes(ids[i])));
  const n = ids.length;
  const w = 520, h = 340, cx = w / 2, cy = 160, rx = 190, ry = 110;
  const x = [], y = [];
  for (let k = 0; k < n; k++) {
    const a = -Math.PI / 2 + (2 * Math.PI * k) / n;
    x.push(n === 1 ? cx : cx + rx * Math.cos(a));
    y.push(n === 1 ? cy : cy + ry * Math.sin(a));
  }
  const svg = document.createElementNS(SVG, 'svg');
  const el = (name, attrs, text) => {
    const e = document.createElementNS(SVG, name);
    for (const [k, v] of Object.entries(attrs)) e.setAttribute(k, v);
    if (text !== undefined) e.textContent = text;
    svg.append(e);
    return e;
  };
  svg.setAttribute('viewBox', `0 0 ${w} ${h}`);
  svg.setAttribute('width', w);
  svg.setAttribute('role', 'img');
  svg.id = 'live-map';
  const pairs = [];
  for (let i = 0; i < n; i++) for (let j = i + 1; j < n; j++) pairs.push([i, j]);
  const described = pairs.map(([i, j]) => `${ids[i]}–${ids[j]} ${distance(i, j)}`).join(', ');
  svg.setAttribute('aria-label', `Map of the sites. The distances are ${described}. ${lines.join('; ')}.${last ? ` The last query went from ${last.site} to ${last.sent_to.join(', ') || 'no site'}.` : ''}`);
  el('rect', { width: w, height: h, fill: '#f6f8fc', stroke: '#1c4f9c' });
  for (const [i, j] of pairs) {
    const style = on_path(i, j)
      ? { stroke: '#d35400', 'stroke-width': 6, 'data-path': 'last-query' }
      : asks(i, j) || asks(j, i)
        ? { stroke: '#1c4f9c', 'stroke-width': 3 }
        : { stroke: '#999', 'stroke-width': 2, 'stroke-dasharray': '6 5' };
    el('line', { x1: x[i], y1: y[i], x2: x[j], y2: y[j], ...style, 'data-pair': `${ids[i]} ${ids[j]}` });
  }
  for (const [i, j] of pairs) {
    const mid = Math.hypot((x[i] + x[j]) / 2 - cx, (y[i] + y[j]) / 2 - cy) < 10 ? 0.3 : 0.5;
    const mx = x[i] + mid * (x[j] - x[i]), my = y[i] + mid * (y[j] - y[i]);
    const label = String(distance(i, j));
    const lw = 10 + 9 * label.length;
    el('rect', { x: mx - lw / 2, y: my - 10, width: lw, height: 20, rx: 4, fill: '#fff', stroke: '#ccc' });
    el('text', { x: mx, y: my + 5, 'text-anchor': 'middle', 'font-size': 14 }, label);
  }
  for (let k = 0; k < n; k++) {
    const bw = 24 + 9 * Math.min(ids[k].length, 18);
    el('rect', { x: x[k] - bw / 2, y: y[k] - 17, width: bw, height: 34, rx: 17, fill: '#1c4f9c' });
    el('text', { x: x[k], y: y[k] + 6, 'text-anchor': 'middle', 'font-size': 16, 'font-weight': 'bold', fill: '#fff' }, ids[k].slice(0, 18));
  }
  el('text', { x: 12, y: h - 30, 'font-size': 13, fill: '#333' }, 'Numbers are distances. Solid: queries go this way; dashed: too far apart.');
  el('text', { x: 12, y: h - 12, 'font-size': 13, fill: '#333' }, last ? `Orange: the last query (${last.doc_id}) from ${last.site}.` : 'Read from the sites\' settings just now.');
  const img = document.getElementById('site-map');
  img.hidden = true;
  document.getElementById('live-map')?.remove();
  document.getElementById('map-holder').append(svg);
  if (last) {
    const p = document.getElementById('last-query');
    p.textContent = `The last query carried from a manager page, "${last.doc_id}", went from ${last.site} to ${last.sent_to.join(', ') || 'no site'}.`;
    p.hidden = false;
  }
}
draw_map();
</script>
</BODY>
</HTML>
