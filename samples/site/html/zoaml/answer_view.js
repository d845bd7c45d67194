// Shows a site's answer for a person: the page that holds this script calls
// answerView.watch(frame) for each frame that receives the answers of the
// site manager (orv.cgi). When an answer has loaded, its text is read line
// by line and the frame is rewritten as
//   - a status line (done, refused, error, nothing to report, answered),
//   - tables for the lists the site writes (vantles, saved query results,
//     the configuration), with buttons that send the next request,
//   - the remaining lines, as the site wrote them,
//   - "Details": the routine lines folded away, with their count,
//   - "Word for word": the whole answer exactly as the site wrote it.
// No line of the answer is dropped: every line is in "Word for word".
//
// Refusals. A line the site writes to refuse a form value is recognised by
// REFUSAL: a line that begins with "Refused" (the common form: "Refused:
// <field> <why>"), or one of the refusals that the site has always written.
// A line that no rule knows is shown as it stands and never turns the status
// into "done" for a form that changes the site.
(function () {
  'use strict';

  const REFUSAL = new RegExp(
    [
      '^refused\\b',
      '^unknown choice\\b',
      'must be a number',
      '^unexpected (flag|ic_id_list) value\\b',
      '^unknown message type\\b',
      '^lack of\\b',
      'no content type was passed',
      '\\b(is|was|were) (refused|rejected|not accepted)\\b',
    ].join('|'),
    'i',
  );
  const NOT_FOUND = /^found_ic\(\): ic_id = (-?\d+) not found!$/;
  const ERROR = /(^error\b|\berror occurs\b|\bcan't\b|\bcannot\b|\bfailed\b|\bnot found\b|^\d{3} [A-Z])/i;

  // Lines folded into "Details", by kind.
  const FOLDS = [
    { kind: 'vg', label: 'virtual group updates', test: (l) => /^Calling VG updating funci?ton\.\.\.$/.test(l) },
    { kind: 'load', label: 'load errors', test: (l) => /^Error: key word .* not found$/.test(l) || /^Error occurs in querying (for )?vantle$/.test(l) },
    {
      kind: 'group',
      label: 'virtual group report lines',
      test: (l) => /^Information about VG-Save$/.test(l) || /^\d+ vantle\(s\) of this category$/.test(l) || /^=+$/.test(l) || /^vantle\(\d+\)=/.test(l),
    },
  ];

  const SETTINGS = [
    ['SERVER ID', 'Server id', 'SERVER_ID'],
    ['ORV ID', 'Orv id', 'ORV_ID'],
    ['RETRIEVE THRESHOLD', 'Retrieval threshold', 'RETRIEVE_THRESHOLD'],
    ['VIRTUAL SITE DISTANCE THRESHOLD', 'Virtual site distance threshold', 'VG_THRESHOLD'],
    ['MAXIMUM VANTLES THRESHOLD', 'Maximum vantles threshold', 'MAX_VANTLE_THRESHOLD'],
  ];

  const STYLE = `
body { font-family: sans-serif; font-size: 0.95em; margin: 0.5em; line-height: 1.35; overflow-wrap: break-word; }
.status { font-weight: bold; padding: 0.45em 0.7em; border-radius: 5px; margin-bottom: 0.6em; border-left: 6px solid; }
.status.done { background: #e5f4e7; color: #135e1f; border-color: #2e8b3d; }
.status.refused { background: #fff1db; color: #7a4300; border-color: #e08a00; }
.status.error { background: #fde4e4; color: #8c1010; border-color: #c62828; }
.status.nothing { background: #eef0f3; color: #3b4350; border-color: #8a94a3; }
.status.answered { background: #e8effa; color: #183f7a; border-color: #1c4f9c; }
.status small { display: block; font-weight: normal; margin-top: 0.2em; }
.lines div { white-space: pre-wrap; }
.lines .refusal { color: #7a4300; font-weight: bold; }
.lines .failure { color: #8c1010; font-weight: bold; }
table { border-collapse: collapse; margin: 0.4em 0 0.8em; width: 100%; font-size: 0.95em; }
.wide { overflow-x: auto; }
caption { text-align: left; font-weight: bold; padding-bottom: 0.2em; }
td.actions { white-space: nowrap; }
th, td { border: 1px solid #b8c2d2; padding: 0.2em 0.4em; text-align: left; vertical-align: top; }
th { background: #eef3fb; }
td.keys { font-family: monospace; overflow-wrap: break-word; }
button { margin: 0.1em 0.15em 0.1em 0; }
details { margin: 0.5em 0; border: 1px solid #d4d9e2; border-radius: 4px; padding: 0.2em 0.5em; }
details pre { white-space: pre-wrap; font-size: 0.9em; margin: 0.3em 0; }
summary { cursor: pointer; color: #333; }
@media (max-width: 520px) {
  #vantles thead, #results thead { display: none; }
  #vantles, #vantles tbody, #vantles tr, #vantles td, #results, #results tbody, #results tr, #results td { display: block; border: 0; }
  #vantles tr, #results tr { border: 1px solid #b8c2d2; border-radius: 4px; margin-bottom: 0.4em; padding: 0.2em 0.4em; }
  #vantles td[data-label]::before, #results td[data-label]::before { content: attr(data-label) ": "; font-weight: bold; font-family: sans-serif; }
  #vantles td, #results td { padding: 0.1em 0; }
  #vantles caption, #results caption { display: block; }
}
.next { margin: 0.3em 0 0.8em; }
`;

  function esc(text) {
    return String(text).replace(/[&<>"]/g, (c) => ({ '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;' })[c]);
  }

  function plural(n, one, many) {
    return `${n} ${n === 1 ? one : many}`;
  }

  // The lines of an answer, trimmed, without empty ones: the site ends a
  // line with a line break of its text or with a <br>, <p> or <hr> tag.
  function lines_of(body) {
    const html = body.innerHTML.replace(/<(br|p|hr|div|h\d|li|tr|center|table)\b[^>]*>|<\/(p|div|h\d|li|tr|center|table)>/gi, '\n');
    const holder = body.ownerDocument.createElement('div');
    holder.innerHTML = html;
    return holder.textContent
      .split('\n')
      .map((l) => l.replace(/\s+/g, ' ').trim())
      .filter((l) => l !== '');
  }

  // The vantles of a listing: each "BEGIN IC" block with the "name = value"
  // lines after it, up to the row of stars.
  function vantles_of(lines) {
    const vantles = [];
    let current = null;
    let in_ic = false;
    const used = new Set();
    lines.forEach((line, i) => {
      if (/^-+ BEGIN IC -+$/.test(line)) {
        in_ic = true;
        current = { fields: {}, lines: [] };
        vantles.push(current);
      }
      if (!current) return;
      used.add(i);
      current.lines.push(line);
      if (/^-+ END IC -+$/.test(line)) in_ic = false;
      else if (!in_ic) {
        const m = line.match(/^([A-Za-z_ ]+?) = (.*)$/);
        if (m) current.fields[m[1]] = m[2];
        if (/^\*+$/.test(line)) current = null;
      }
    });
    return { vantles, used };
  }

  // The documents of saved query results: "Doc id:" up to the dashes.
  function results_of(lines) {
    let query = null;
    const docs = [];
    const used = new Set();
    let doc = null;
    lines.forEach((line, i) => {
      const head = line.match(/^\*\*\* Saved Query Results for document with id = (.*):$/);
      if (head) {
        query = head[1];
        used.add(i);
        return;
      }
      if (query === null) return;
      const m = line.match(/^(Doc id|I am|I love|I hate|I behave|I keyword|I comment): ?(.*)$/);
      if (m) {
        if (m[1] === 'Doc id') {
          doc = {};
          docs.push(doc);
        }
        if (doc) doc[m[1]] = m[2];
        used.add(i);
      } else if (/^-+$/.test(line) && doc) {
        doc = null;
        used.add(i);
      }
    });
    return { query, docs, used };
  }

  function config_of(lines) {
    const rows = [];
    const used = new Set();
    lines.forEach((line, i) => {
      const m = line.match(/^([A-Z ]+?) = (.*?)\.?$/);
      if (!m) return;
      const known = SETTINGS.find((s) => s[0] === m[1]);
      if (!known) return;
      rows.push([known[1], known[2], m[2]]);
      used.add(i);
    });
    return { rows, used };
  }

  // What the request was, from the address of a GET answer or from the
  // form that was sent.
  function request_of(win, sent) {
    const params = new URLSearchParams(win.location.search);
    if (params.get('message_type')) {
      return {
        message_type: params.get('message_type'),
        ic_id_list: params.get('ic_id_list') || '',
        content: params.get('content') || '',
        changes: false,
      };
    }
    return sent || { message_type: '', changes: true };
  }

  // A form in the answer that sends one more request to the site.
  function request_button(doc, label, fields, method, target_is_frame) {
    const form = doc.createElement('form');
    form.action = 'orv.cgi';
    form.method = method;
    form.acceptCharset = 'UTF-8';
    form.style.display = 'inline';
    if (!target_is_frame) form.target = '_self';
    for (const [name, value] of Object.entries(fields)) {
      const input = doc.createElement('input');
      input.type = 'hidden';
      input.name = name;
      input.value = value;
      form.append(input);
    }
    const button = doc.createElement('button');
    button.type = 'submit';
    button.textContent = label;
    form.append(button);
    return form;
  }

  function vantle_fields(id, message_type) {
    return { flag: 'old', ic_type: 'VANTLE', ic_id_list: id, message_type };
  }

  // Rewrites the answer shown in `frame`. `sent` tells what the last form
  // sent to this frame asked for.
  function show(frame, sent) {
    const doc = frame.contentDocument;
    const win = frame.contentWindow;
    if (!doc || !doc.body || doc.body.dataset.answerView) return;
    const all = lines_of(doc.body);
    const title = doc.title || '';
    const req = request_of(win, sent);

    // Folding: routine lines, then, outside the tables, a line that
    // repeats an earlier one.
    const folded = new Map();
    const fold = (label, line) => {
      if (!folded.has(label)) folded.set(label, []);
      folded.get(label).push(line);
    };
    const kept = [];
    for (const line of all) {
      const routine = FOLDS.find((f) => f.test(line));
      if (routine) fold(routine.label, line);
      else kept.push(line);
    }

    const { vantles, used: in_vantles } = vantles_of(kept);
    const { query, docs, used: in_results } = results_of(kept);
    const { rows: settings, used: in_config } = config_of(kept);
    const seen = new Set();
    const rest = [];
    kept.forEach((line, i) => {
      if (in_vantles.has(i) || in_results.has(i) || in_config.has(i)) return;
      if (seen.has(line)) fold('repeated lines', line);
      else rest.push(line);
      seen.add(line);
    });

    // The status line.
    const refusals = rest.filter((l) => REFUSAL.test(l) || NOT_FOUND.test(l));
    const errors = rest.filter((l) => !refusals.includes(l) && ERROR.test(l));
    let status = 'answered';
    let head = 'The site answered';
    let more = 'Read its answer below.';
    const match = (re) => kept.map((l) => l.match(re)).find(Boolean);
    const created = match(/^Create a new Vantle (\d+) for Doc "(.*)" \.\.\.$/);
    const deleted = match(/^Vantle (\d+) has been deleted\.$/);
    const updated = match(/^"(.*)" is updated with the new value "(.*)"\.$/);
    const sent_files = kept.map((l) => l.match(/^Send the outgoing message: (.*)$/)).filter(Boolean);
    const picked = kept.map((l) => l.match(/^Pick up an incoming message from file: (.*)$/)).filter(Boolean);
    const goes_out = kept.some((l) => /^\*\*\* This virtual site sends an outgoing message/.test(l));
    const login_refused = /^401\b/.test(title) || doc.getElementById('login-refused');

    if (login_refused) {
      status = 'refused';
      head = 'Refused: this site asks for its user name and password';
      more = 'Nothing was changed. Send the form again and give the password when the browser asks.';
    } else if (refusals.length) {
      status = 'refused';
      const nf = refusals[0].match(NOT_FOUND);
      head = nf ? `Refused: there is no vantle ${nf[1]} at this site` : `Refused: ${refusals[0].replace(/^refused:?\s*/i, '')}`;
      more = refusals.length > 1 ? `${plural(refusals.length, 'refusal', 'refusals')}, all shown below. Nothing was done for them.` : 'The site did not carry out this request. Correct the form and send it again.';
    } else if (errors.length) {
      status = 'error';
      head = `Error: ${errors[0]}`;
      more = 'The site could not complete this request; its words are below.';
    } else if (created) {
      status = 'done';
      head = `Done: vantle ${created[1]} made for document "${created[2]}"`;
      more = goes_out ? 'The query waits in the outbox: carry the messages between the sites, then show its results.' : 'The vantle stays at this site.';
    } else if (deleted) {
      status = 'done';
      head = `Done: vantle ${deleted[1]} deleted`;
      more = '';
    } else if (updated) {
      status = 'done';
      head = `Done: ${updated[1]} is now "${updated[2]}"`;
      more = '';
    } else if (sent_files.length) {
      status = 'done';
      head = `Done: ${plural(sent_files.length, 'message', 'messages')} sent`;
      more = 'They wait in the inboxes of the other sites until those pick them up.';
    } else if (kept.includes('There is no outgoing message.')) {
      status = 'nothing';
      head = 'Nothing to report: no message was waiting in the outbox';
      more = '';
    } else if (picked.length) {
      status = 'done';
      head = `Done: ${plural(picked.length, 'message', 'messages')} picked up`;
      more = goes_out ? 'Answers to other sites wait in the outbox: send them.' : '';
    } else if (vantles.length) {
      status = 'done';
      head = vantles.length === 1 ? `Done: vantle ${vantles[0].fields['Vantle ic_id'] || ''} shown` : `Done: ${plural(vantles.length, 'vantle', 'vantles')} listed`;
      more = '';
    } else if (query !== null) {
      status = docs.length ? 'done' : 'nothing';
      head = docs.length ? `Done: ${plural(docs.length, 'document', 'documents')} found for query "${query}"` : `Nothing to report: no document has come back for query "${query}" yet`;
      more = docs.length ? '' : 'Carry the messages between the sites (send, then pick up), then look again.';
    } else if (settings.length) {
      status = 'done';
      head = 'Done: the configuration of this site';
      more = '';
    } else if (rest.length === 0) {
      status = 'nothing';
      head = 'Nothing to report';
      more = req.message_type === 'SYS_PICK_UP_MSG' ? 'No message was waiting in the inbox.' : req.message_type === 'MSG_SHOW_ALL' ? 'The site has no such vantle.' : 'The site carried out the request and wrote nothing about it.';
    } else if (req.changes) {
      head = 'The site answered';
      more = 'Read its answer below to see whether anything was changed.';
    }

    // The new page.
    const parts = [];
    parts.push(`<div class="status ${status}" role="status" id="answer-status">${esc(head)}${more ? `<small>${esc(more)}</small>` : ''}</div>`);
    parts.push('<div id="answer-next" class="next"></div>');
    if (vantles.length) {
      parts.push('<div class="wide"><table id="vantles"><caption>Vantles of this site</caption><thead><tr><th>Id</th><th>Name</th><th>Type</th><th>Document</th><th>Keywords</th><th>Actions</th></tr></thead><tbody>');
      for (const v of vantles) {
        const f = v.fields;
        const keys = [f.i_am, f.i_keyword].filter((k) => k && k !== '!').join(' ');
        parts.push(`<tr data-id="${esc(f['Vantle ic_id'] || '')}"><td data-label="Id">${esc(f['Vantle ic_id'] || '')}</td><td data-label="Name">${esc(f['Vantle symbolic name'] || '')}</td><td data-label="Type">${esc(f['Vantle type'] || '')}</td><td data-label="Document">${esc(f.doc_id || '')}</td><td class="keys" data-label="Keywords">${esc(keys)}</td><td class="actions"></td></tr>`);
      }
      parts.push('</tbody></table></div>');
    }
    if (query !== null && docs.length) {
      parts.push(`<div class="wide"><table id="results"><caption>Documents found for query ${esc(query)}</caption><thead><tr><th>Document</th><th>Keywords (I am)</th><th>Other keywords</th><th>Comment</th></tr></thead><tbody>`);
      for (const d of docs) {
        parts.push(`<tr><td data-label="Document">${esc(d['Doc id'] || '')}</td><td class="keys" data-label="Keywords (I am)">${esc(d['I am'] || '')}</td><td class="keys" data-label="Other keywords">${esc(d['I keyword'] || '')}</td><td data-label="Comment">${esc(d['I comment'] || '')}</td></tr>`);
      }
      parts.push('</tbody></table></div>');
    }
    if (settings.length) {
      parts.push('<div class="wide"><table id="settings"><thead><tr><th>Setting</th><th>Key</th><th>Value</th></tr></thead><tbody>');
      for (const [name, key, value] of settings) parts.push(`<tr><td>${esc(name)}</td><td class="keys">${esc(key)}</td><td>${esc(value)}</td></tr>`);
      parts.push('</tbody></table></div>');
    }
    if (rest.length) {
      parts.push('<div class="lines" id="answer-lines">');
      for (const l of rest) {
        const cls = refusals.includes(l) ? 'refusal' : errors.includes(l) ? 'failure' : '';
        parts.push(`<div${cls ? ` class="${cls}"` : ''}>${esc(l)}</div>`);
      }
      parts.push('</div>');
    }
    let folded_count = 0;
    const summary = [];
    for (const [label, ls] of folded) {
      folded_count += ls.length;
      summary.push(`${ls.length} ${ls.length === 1 ? label.replace(/s$/, '') : label}`);
    }
    if (folded_count) {
      parts.push(`<details id="answer-details"><summary>Details: ${plural(folded_count, 'routine line', 'routine lines')} folded (${esc(summary.join(', '))})</summary>`);
      for (const [label, ls] of folded) parts.push(`<p><b>${esc(label)} (${ls.length})</b></p><pre>${esc(ls.join('\n'))}</pre>`);
      parts.push('</details>');
    }
    if (vantles.length || docs.length || settings.length) {
      parts.push(`<details id="answer-tables-text"><summary>The lines behind the table${(vantles.length ? 1 : 0) + (docs.length ? 1 : 0) + (settings.length ? 1 : 0) > 1 ? 's' : ''}</summary><pre>${esc(kept.filter((_, i) => in_vantles.has(i) || in_results.has(i) || in_config.has(i)).join('\n'))}</pre></details>`);
    }
    parts.push(`<details id="answer-word-for-word"><summary>Word for word (${plural(all.length, 'line', 'lines')})</summary><pre id="answer-raw">${esc(all.join('\n'))}</pre></details>`);

    const style = doc.createElement('style');
    style.textContent = STYLE;
    (doc.head || doc.documentElement).append(style);
    doc.body.innerHTML = parts.join('\n');
    doc.body.dataset.answerView = status;

    // The buttons: in each vantle row, and after a query was made.
    const remember = (req_sent) => () => answerView.sent.set(frame, req_sent);
    for (const row of doc.querySelectorAll('#vantles tbody tr')) {
      const id = row.dataset.id;
      const cell = row.querySelector('.actions');
      const b = [
        ['Show', 'MSG_SHOW_ALL', 'get'],
        ['Results', 'MSG_SHOW_VANTLE_RESULT', 'get'],
        ['Delete', 'MSG_DELETE', 'post'],
      ];
      for (const [label, type, method] of b) {
        const form = request_button(doc, label, vantle_fields(id, type), method);
        form.querySelector('button').title = `${label} vantle ${id}`;
        form.addEventListener('submit', remember({ message_type: type, ic_id_list: id, changes: method === 'post' }));
        cell.append(form);
      }
    }
    if (created && (goes_out || (sent && sent.vantle_type === 'Info_Gathering'))) {
      const next = doc.getElementById('answer-next');
      const form = request_button(doc, `Show the results of vantle ${created[1]}`, vantle_fields(created[1], 'MSG_SHOW_VANTLE_RESULT'), 'get');
      form.id = 'results-button';
      next.append(form);
    }

    // A POST answer is recorded in the frame's history as a note page, so
    // that reloading never sends the form again; the note says what it was.
    if (req.changes && !win.location.search && /\.cgi$/.test(win.location.pathname)) {
      win.history.replaceState(null, '', `vexil.cgi?zoa_name=${login_refused ? 'answer_refused' : 'answer'}.zoaml`);
    }
  }

  // Calls `show` for every answer of the site that `frame` loads, and keeps
  // what each form sent to it. `fit`: the frame grows with its answer.
  function watch(frame, options = {}) {
    frame.addEventListener('load', () => {
      const win = frame.contentWindow;
      let where;
      try {
        where = win.location;
      } catch {
        return;
      }
      if (where.protocol === 'about:') return;
      const is_answer = /\.cgi$/.test(where.pathname) && !/\/vexil\.cgi$/.test(where.pathname);
      const doc = frame.contentDocument;
      const refused = doc && doc.getElementById('login-refused');
      if (refused) {
        // The server's own page for a refused login: the form was not
        // carried out; reloading the frame shows a note that says so.
        const sent = answerView.sent.get(frame);
        if (is_answer && !where.search && (!sent || sent.changes)) {
          win.history.replaceState(null, '', 'vexil.cgi?zoa_name=answer_refused.zoaml');
        }
      } else if (is_answer) show(frame, answerView.sent.get(frame));
      else if (doc && doc.head) {
        const style = doc.createElement('style');
        style.textContent = 'body { font-family: sans-serif; overflow-wrap: break-word; }';
        doc.head.append(style);
      }
      answerView.sent.delete(frame);
      if (options.fit) fit(frame);
    });
  }

  function fit(frame) {
    const doc = frame.contentDocument;
    if (!doc || !doc.documentElement) return;
    if (!doc.body) return;
    const want = Math.ceil(doc.body.getBoundingClientRect().height) + 30;
    frame.style.height = `${Math.max(90, Math.min(want, Math.round(window.innerHeight * 0.7)))}px`;
    for (const d of doc.querySelectorAll('details')) d.addEventListener('toggle', () => fit(frame));
  }

  // Remembers what each form sends to a frame (its message type, the vantle
  // type, whether it changes the site) for the answer's status line.
  document.addEventListener('submit', (event) => {
    const form = event.target;
    const name = form.getAttribute('target') || document.querySelector('base')?.target || '';
    const frame = name && document.querySelector(`iframe[name="${name}"]`);
    if (!frame) return;
    const el = form.elements;
    answerView.sent.set(frame, {
      message_type: el.message_type ? el.message_type.value : '',
      ic_id_list: el.ic_id_list ? el.ic_id_list.value : '',
      vantle_type: el.vantle_type ? (el.vantle_type.value || (form.querySelector('input[name="vantle_type"]:checked') || {}).value) : '',
      changes: (form.getAttribute('method') || form.method || 'get').toLowerCase() === 'post',
    });
  });

  const answerView = { watch, show, fit, sent: new WeakMap(), REFUSAL };
  window.answerView = answerView;
})();
