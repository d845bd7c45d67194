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
<P><IMG SRC="S-Event_Data/Images/site_map.svg" ID="site-map" ALT="Map of the sites. The distances are @DISTANCES@. @ASKS@."></P>
<P>The distances are @DISTANCES@. A site queries the sites that are closer
than its virtual site distance threshold (<CODE>VG_THRESHOLD</CODE>, see its
configuration): @ASKS@.</P>
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
</script>
</BODY>
</HTML>
