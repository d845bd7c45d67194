// Shows a site's answer for a person: the page that holds this script calls
// answerView.watch(frame) for each frame that receives the answers of the
// site manager (orv.cgi). Every answer is asked for in values (the request
// carries "Accept: application/json"), and the frame shows
//   - a status line (done, refused, error, nothing to report, answered),
//   - tables for what the site listed (vantles, one block per query with
//     its documents ranked, the configuration), with buttons that send the
//     next request,
//   - "Details": the error lines of the run, folded away with their count,
//   - "Word for word": the page the site writes for the same request.
//
// How an answer reaches the frame:
//   - a form sent with POST is sent by this script (fetch); the values are
//     kept under a number and the frame is taken to the site's note page
//     "answer.zoaml" with that number, where they are shown. Reloading the
//     frame later shows the note: the form is never sent twice.
//   - a form sent with GET only reads the site: the frame loads the answer
//     page as ever (its address can be opened or bookmarked), and the
//     values of the same address are fetched and shown in its place.
//   - a POST the server refuses for want of a password (401) is sent again
//     by the browser itself, so that the browser asks for the password and
//     the server's own page for a refused login is shown; nothing was done
//     the first time.
(function () {
  'use strict';

  const JSON_TYPE = 'application/json';

  const STYLE = `
body { font-family: sans-serif; font-size: 0.95em; margin: 0.5em; line-height: 1.35; overflow-wrap: break-word; }
.status { font-weight: bold; padding: 0.45em 0.7em; border-radius: 5px; margin-bottom: 0.6em; border-left: 6px solid; }
.status.done { background: #e5f4e7; color: #135e1f; border-color: #2e8b3d; }
.status.refused { background: #fff1db; color: #6b3b00; border-color: #e08a00; }
.status.error { background: #fde4e4; color: #8c1010; border-color: #c62828; }
.status.nothing { background: #eef0f3; color: #3b4350; border-color: #8a94a3; }
.status.answered { background: #e8effa; color: #183f7a; border-color: #1c4f9c; }
.status small { display: block; font-weight: normal; margin-top: 0.2em; }
.lines div { white-space: pre-wrap; }
.lines .failure { color: #8c1010; font-weight: bold; }
table { border-collapse: collapse; margin: 0.4em 0 0.8em; width: 100%; font-size: 0.95em; }
.wide { overflow-x: auto; }
caption { text-align: left; font-weight: bold; padding-bottom: 0.2em; }
td.actions { white-space: nowrap; }
th, td { border: 1px solid #b8c2d2; padding: 0.2em 0.4em; text-align: left; vertical-align: top; }
th { background: #eef3fb; }
td.keys { overflow-wrap: break-word; }
.unknown { color: #555; font-style: italic; }
.query-block { margin-bottom: 1em; }
.query-block h2 { font-size: 1.05em; margin: 0.6em 0 0.2em; }
.sent-to { margin: 0.2em 0; }
button { margin: 0.1em 0.15em 0.1em 0; }
details { margin: 0.5em 0; border: 1px solid #d4d9e2; border-radius: 4px; padding: 0.2em 0.5em; }
details pre { white-space: pre-wrap; font-size: 0.9em; margin: 0.3em 0; }
summary { cursor: pointer; color: #333; }
@media (max-width: 520px) {
  table.cards thead { display: none; }
  table.cards, table.cards tbody, table.cards tr, table.cards td { display: block; border: 0; }
  table.cards tr { border: 1px solid #b8c2d2; border-radius: 4px; margin-bottom: 0.4em; padding: 0.2em 0.4em; }
  table.cards td[data-label]::before { content: attr(data-label) ": "; font-weight: bold; }
  table.cards td { padding: 0.1em 0; }
  table.cards caption { display: block; }
}
.next { margin: 0.3em 0 0.8em; }
`;

  const SETTINGS = [
    ['Server id', 'SERVER_ID', 'server_id'],
    ['Orv id', 'ORV_ID', 'orv_id'],
    ['Retrieval threshold', 'RETRIEVE_THRESHOLD', 'retrieve_threshold'],
    ['Virtual site distance threshold', 'VG_THRESHOLD', 'vg_threshold'],
    ['Maximum vantles threshold', 'MAX_VANTLE_THRESHOLD', 'max_vantle_threshold'],
    ['Email address', 'SET_EMAIL_ADDRESS', 'email'],
  ];

  const ENTITIES = { '&': '&amp;', '\u003c': '&lt;', '\u003e': '&gt;', '"': '&quot;' };
  function esc(text) {
    let out = '';
    for (const c of String(text)) out += ENTITIES[c] || c;
    return out;
  }

  function plural(n, one, many) {
    return `${n} ${n === 1 ? one : many}`;
  }

  const words = (list) => (list || []).join(' ');

  // A line with its runs of white space made single spaces, trimmed.
  function single_spaced(line) {
    let out = '';
    let space = false;
    for (const c of line) {
      if (c === ' ' || c === '\t' || c === '\r' || c === '\u00a0') space = out !== '';
      else {
        if (space) out += ' ';
        out += c;
        space = false;
      }
    }
    return out;
  }

  // The lines of the page the site writes: the page after its CGI header,
  // read as HTML; a line ends with a line break of the text or with a tag
  // that starts a new line (br, p, hr and the block tags).
  const BREAKS = new Set(['BR', 'P', 'HR', 'DIV', 'H1', 'H2', 'H3', 'H4', 'H5', 'H6', 'LI', 'TR', 'CENTER', 'TABLE', 'PRE']);
  function page_lines(page) {
    let text = page || '';
    // The CGI header (a page that failed early may carry two).
    while (text.startsWith('Content-type:') && text.indexOf('\n\n') >= 0) text = text.slice(text.indexOf('\n\n') + 2);
    const doc = new DOMParser().parseFromString(text, 'text/html');
    let out = '';
    const walk = (node) => {
      for (const child of node.childNodes) {
        if (child.nodeType === Node.TEXT_NODE) out += child.data;
        else if (child.nodeType === Node.ELEMENT_NODE) {
          if (child.tagName === 'SCRIPT' || child.tagName === 'STYLE') continue;
          const breaks = BREAKS.has(child.tagName);
          if (breaks) out += '\n';
          walk(child);
          if (breaks) out += '\n';
        }
      }
    };
    walk(doc.body || doc);
    return out.split('\n').map(single_spaced).filter((l) => l !== '');
  }

  // The lines a page already shown in the frame holds (an answer that came
  // without values: the server's own error page, an old program).
  function shown_lines(doc) {
    return page_lines(doc.body ? doc.body.innerHTML : '');
  }

  // A form in the answer that sends one more request to the site.
  function request_button(doc, label, fields, method, action) {
    const form = doc.createElement('form');
    form.action = action;
    form.method = method;
    form.acceptCharset = 'UTF-8';
    form.style.display = 'inline';
    form.target = '_self';
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

  // The label a person sees beside the box a refusal names (the site's own
  // label when the form is not at hand, or its box has no label).
  function shown_label(r, sent) {
    const form = sent && sent.form;
    const box = form && form.elements ? form.elements[r.field] : null;
    const label = box && box.nodeType === 1 && box.labels && box.labels[0];
    const text = label ? label.textContent.replace(/\s+/g, ' ').trim().replace(/:$/, '') : '';
    return text || r.label;
  }

  // The status of an answer in values: [status, head, more].
  function status_of(a, sent) {
    const kind = a.request ? a.request.kind : '';
    const cells = a.cells || { created: [], changed: [], deleted: [] };
    if (a.outcome === 'refused') {
      const r = (a.refusals || [])[0];
      if (!r) return ['refused', `Refused: ${a.summary || 'the site did not carry out this request'}`, 'The site did not carry out this request. Correct the form and send it again.'];
      const others = a.refusals.length > 1 ? ` ${plural(a.refusals.length - 1, 'more refusal', 'more refusals')} below.` : '';
      return ['refused', `Refused: ${r.why}`, `Check the box "${shown_label(r, sent)}". The site did not carry out this request. Correct the form and send it again.${others}`];
    }
    if (a.outcome === 'error') {
      const first = (a.errors || [])[0] || a.summary || 'the site could not carry out this request';
      return ['error', `Error: ${first}`, 'The site could not complete this request; its words are below.'];
    }
    if (kind === 'create' && cells.created.length) {
      const c = cells.created[0];
      const doc_id = sent && sent.doc_id ? sent.doc_id : c.sym_name;
      const query = sent && sent.vantle_type === 'Info_Gathering';
      return ['done', `Done: vantle ${c.ic_id} made for document "${doc_id}"`, query ? 'The query waits in the outbox: carry the messages between the sites, and its results show here.' : 'The vantle stays at this site.'];
    }
    if ((kind === 'delete' || kind === 'delete_document') && cells.deleted.length) {
      return ['done', cells.deleted.length === 1 ? `Done: vantle ${cells.deleted[0].ic_id} deleted` : `Done: ${plural(cells.deleted.length, 'vantle', 'vantles')} deleted`, ''];
    }
    if (kind === 'delete_document' || kind === 'delete') {
      const what = kind === 'delete_document' && sent && sent.content ? `for document "${sent.content}"` : 'with this id';
      return ['nothing', `Nothing found: no vantle ${what} at this site`, 'Nothing was deleted.'];
    }
    if (kind === 'config_update' && a.outcome === 'done') {
      if (sent && sent.setting) return ['done', `Done: ${sent.setting} is now "${sent.value}"`, ''];
      return ['done', `Done: ${a.summary}`, ''];
    }
    if (kind === 'send') {
      const n = a.send ? a.send.files.length : 0;
      if (!n) return ['nothing', 'Nothing to report: no message was waiting in the outbox', ''];
      return ['done', `Done: ${plural(n, 'message', 'messages')} sent`, 'They wait in the inboxes of the other sites until those pick them up.'];
    }
    if (kind === 'pick_up') {
      const files = a.pick_up ? a.pick_up.files : [];
      if (!files.length) return ['nothing', 'Nothing to report', 'No message was waiting in the inbox.'];
      const refused = files.filter((f) => f.outcome === 'refused').length;
      return [refused === files.length ? 'refused' : 'done', `Done: ${plural(files.length, 'message', 'messages')} picked up`, refused ? `${plural(refused, 'message was', 'messages were')} refused; see below.` : ''];
    }
    if (a.vantles && (kind === 'list' || kind === 'show')) {
      if (!a.vantles.length) return ['nothing', 'Nothing to report', 'The site has no such vantle.'];
      return ['done', a.vantles.length === 1 && kind === 'show' ? `Done: vantle ${a.vantles[0].ic_id} shown` : `Done: ${plural(a.vantles.length, 'vantle', 'vantles')} listed`, ''];
    }
    if (kind === 'results') {
      const blocks = a.results || [];
      const n = blocks.reduce((sum, b) => sum + b.documents.length, 0);
      if (blocks.length === 1) {
        const q = blocks[0].query.doc_id;
        return n
          ? ['done', `Done: ${plural(n, 'document', 'documents')} found for query "${q}"`, '']
          : ['nothing', `Nothing to report: no document has come back for query "${q}" yet`, 'Carry the messages between the sites, then look again.'];
      }
      if (!blocks.length) return ['nothing', 'Nothing to report: this vantle is not a query, or it has no saved results', ''];
      return [n ? 'done' : 'nothing', `Done: ${plural(n, 'document', 'documents')} found for ${plural(blocks.length, 'query', 'queries')}`, ''];
    }
    if (a.settings) return ['done', 'Done: the configuration of this site', ''];
    if (a.outcome === 'nothing') return ['nothing', 'Nothing to report', a.summary || 'The site carried out the request and wrote nothing about it.'];
    return ['done', `Done: ${a.summary || 'the site carried out the request'}`, ''];
  }

  function vantle_table(a) {
    const parts = ['<div class="wide"><table id="vantles" class="cards"><caption>Vantles of this site</caption><thead><tr><th scope="col">Id</th><th scope="col">Name</th><th scope="col">Type</th><th scope="col">Document</th><th scope="col">Keywords</th><th scope="col">Actions</th></tr></thead><tbody>'];
    for (const v of a.vantles) {
      const keys = [words(v.i_am), words(v.keywords)].filter((k) => k).join(' · ');
      parts.push(`<tr data-id="${v.ic_id}" data-name="${esc(v.sym_name)}"><td data-label="Id">${v.ic_id}</td><td data-label="Name">${esc(v.sym_name)}</td><td data-label="Type">${esc(v.vantle_type)}</td><td data-label="Document">${esc(v.doc_id)}</td><td class="keys" data-label="Keywords">${esc(keys)}</td><td class="actions"></td></tr>`);
    }
    parts.push('</tbody></table></div>');
    return parts.join('');
  }

  // One block per query: its words, the sites it goes to, and its documents
  // in rank order (nearest in this site's keyword hierarchy first, then by
  // site), each once.
  function result_blocks(a) {
    const parts = [];
    a.results.forEach((block, i) => {
      const q = block.query;
      const id = i === 0 ? 'results' : `results-${i + 1}`;
      parts.push(`<section class="query-block" data-query="${q.ic_id}" aria-labelledby="${id}-head"><h2 id="${id}-head">Query "${esc(q.doc_id)}" (vantle ${q.ic_id}): ${esc(words(q.keywords)) || 'no words'}</h2>`);
      if (block.sent_to) parts.push(`<p class="sent-to">Sent to: ${block.sent_to.length ? esc(block.sent_to.join(', ')) : 'no site (none is closer than the threshold)'}.</p>`);
      if (!block.documents.length) {
        parts.push('<p>No document has come back yet.</p></section>');
        return;
      }
      parts.push(`<div class="wide"><table id="${id}" class="cards results"><caption>Documents found for query ${esc(q.doc_id)}</caption><thead><tr><th scope="col">Document</th><th scope="col">Site</th><th scope="col">Rank</th><th scope="col">Keywords</th><th scope="col">Other keywords</th><th scope="col">Comment</th></tr></thead><tbody>`);
      const seen = new Set();
      for (const d of block.documents) {
        const key = `${d.site} ${d.doc_id}`;
        if (seen.has(key)) continue;
        seen.add(key);
        const site = d.site ? esc(d.site) : '<span class="unknown">unknown site</span>';
        const distance = d.distance === null ? 'no common word' : `distance ${d.distance}`;
        parts.push(`<tr data-doc="${esc(d.doc_id)}" data-rank="${d.rank}"><td data-label="Document">${esc(d.doc_id)}</td><td data-label="Site" class="site">${site}</td><td data-label="Rank">${d.rank} (${distance})</td><td class="keys" data-label="Keywords">${esc(words(d.i_am))}</td><td class="keys" data-label="Other keywords">${esc(words(d.keywords))}</td><td data-label="Comment">${esc(d.comment.split('#').filter((c) => c).join(' · '))}</td></tr>`);
      }
      parts.push('</tbody></table></div></section>');
    });
    return parts.join('');
  }

  function settings_table(s) {
    const parts = ['<div class="wide"><table id="settings"><caption>Configuration</caption><thead><tr><th scope="col">Setting</th><th scope="col">Key</th><th scope="col">Value</th></tr></thead><tbody>'];
    for (const [name, key, field] of SETTINGS) parts.push(`<tr><td>${esc(name)}</td><td class="keys">${esc(key)}</td><td>${esc(s[field])}</td></tr>`);
    parts.push('</tbody></table></div>');
    if (s.sites) {
      parts.push('<div class="wide"><table id="site-distances"><caption>Distances to the sites</caption><thead><tr><th scope="col">Site</th><th scope="col">Distance</th><th scope="col">Asked by a query</th></tr></thead><tbody>');
      for (const t of s.sites) parts.push(`<tr><td>${esc(t.orv_id)}</td><td>${t.distance}</td><td>${t.orv_id !== s.orv_id && t.distance < s.vg_threshold ? 'yes' : 'no'}</td></tr>`);
      parts.push('</tbody></table></div>');
    }
    return parts.join('');
  }

  function pick_up_list(p) {
    const parts = ['<ul id="picked-up">'];
    for (const f of p.files) {
      const from = f.sender ? `from ${esc(f.sender)}` : 'from an unknown site';
      const what = f.outcome === 'applied' ? 'applied' : `refused: ${esc(f.why)}`;
      parts.push(`<li>${esc(f.file)} ${from}: ${what}</li>`);
    }
    parts.push('</ul>');
    return parts.join('');
  }

  // Writes the answer `a` (values) into the frame's document.
  function render(frame, a, sent) {
    const doc = frame.contentDocument;
    if (!doc || !doc.body) return;
    const [status, head, more] = status_of(a, sent);
    const site = a.site ? a.site.orv_id : '';
    const lines = page_lines(a.page);
    const parts = [];
    parts.push(`<main aria-label="Answer of ${esc(site)}">`);
    parts.push(`<div class="status ${status}" role="status" id="answer-status">${esc(head)}${more ? `<small>${esc(more)}</small>` : ''}</div>`);
    parts.push('<div id="answer-next" class="next"></div>');
    if (a.refusals && a.refusals.length > 1) {
      parts.push('<ul id="refusals">');
      for (const r of a.refusals) parts.push(`<li>${esc(shown_label(r, sent))} "${esc(r.value)}": ${esc(r.why)}</li>`);
      parts.push('</ul>');
    }
    if (a.vantles && a.vantles.length) parts.push(vantle_table(a));
    if (a.results && a.results.length) parts.push(result_blocks(a));
    if (a.settings) parts.push(settings_table(a.settings));
    if (a.pick_up && a.pick_up.files.length) parts.push(pick_up_list(a.pick_up));
    if (a.outcome === 'error') {
      parts.push('<div class="lines" id="answer-lines">');
      for (const l of a.errors && a.errors.length ? a.errors : lines) parts.push(`<div class="failure">${esc(l)}</div>`);
      parts.push('</div>');
    }
    const routine = a.outcome === 'error' ? [] : (a.errors || []);
    if (routine.length) {
      parts.push(`<details id="answer-details"><summary>Details: ${plural(routine.length, 'error line', 'error lines')} of the run folded</summary><pre>${esc(routine.join('\n'))}</pre></details>`);
    }
    parts.push(`<details id="answer-word-for-word"><summary>Word for word (${plural(lines.length, 'line', 'lines')})</summary><pre id="answer-raw">${esc(lines.join('\n'))}</pre></details>`);
    parts.push('</main>');
    dress(doc, site, status);
    doc.body.innerHTML = parts.join('\n');
    doc.body.dataset.answerView = status;
    frame.answerValues = a;
    add_buttons(frame, a, sent);
    mark_boxes(a, sent);
  }

  // Marks the boxes of the sent form whose values the site refused (and
  // clears the marks of an earlier refusal).
  function mark_boxes(a, sent) {
    const form = sent && sent.form;
    if (!form || !form.isConnected) return;
    for (const el of form.querySelectorAll('[aria-invalid]')) el.removeAttribute('aria-invalid');
    for (const r of a.refusals || []) {
      const box = form.elements[r.field];
      if (box && box.nodeType === 1 && box.type !== 'hidden') box.setAttribute('aria-invalid', 'true');
    }
  }

  const STATUS_WORDS = { done: 'done', refused: 'refused', error: 'error', nothing: 'nothing to report', answered: 'answered' };

  // The answer's page as a page of its own: language, title, style.
  function dress(doc, site, status) {
    doc.documentElement.lang = 'en';
    doc.title = `Answer of ${site || 'the site'}: ${STATUS_WORDS[status] || status}`;
    if (!doc.getElementById('answer-style')) {
      const style = doc.createElement('style');
      style.id = 'answer-style';
      style.textContent = STYLE;
      (doc.head || doc.documentElement).append(style);
    }
  }

  // An answer that came without values: shown word for word under a status
  // line that only says that the site answered.
  function render_text(frame, lines, http_status) {
    const doc = frame.contentDocument;
    if (!doc || !doc.body) return;
    const failed = http_status >= 400;
    const head = failed ? `Error: the server answered ${http_status}` : 'The site answered';
    dress(doc, '', failed ? 'error' : 'answered');
    doc.body.innerHTML = `<main><div class="status ${failed ? 'error' : 'answered'}" role="status" id="answer-status">${esc(head)}<small>Read its answer below.</small></div><div class="lines" id="answer-lines">${lines.map((l) => `<div>${esc(l)}</div>`).join('')}</div><details id="answer-word-for-word"><summary>Word for word (${plural(lines.length, 'line', 'lines')})</summary><pre id="answer-raw">${esc(lines.join('\n'))}</pre></details></main>`;
    doc.body.dataset.answerView = failed ? 'error' : 'answered';
    frame.answerValues = null;
  }

  function add_buttons(frame, a, sent) {
    const doc = frame.contentDocument;
    const action = new URL('orv.cgi', frame.contentWindow.location.href).href;
    for (const row of doc.querySelectorAll('#vantles tbody tr')) {
      const id = row.dataset.id;
      const cell = row.querySelector('.actions');
      for (const [label, type, method] of [['Show', 'MSG_SHOW_ALL', 'get'], ['Results', 'MSG_SHOW_VANTLE_RESULT', 'get'], ['Delete', 'MSG_DELETE', 'post']]) {
        const form = request_button(doc, label, vantle_fields(id, type), method, action);
        form.querySelector('button').title = `${label} vantle ${id} (${row.dataset.name})`;
        if (type === 'MSG_DELETE') form.dataset.confirm = `Delete vantle ${id} "${row.dataset.name}"? This cannot be undone.`;
        cell.append(form);
      }
    }
    const created = a.cells && a.cells.created[0];
    if (created && a.request.kind === 'create' && sent && sent.vantle_type === 'Info_Gathering') {
      const next = doc.getElementById('answer-next');
      if (window.carryQuery) {
        const carry = doc.createElement('button');
        carry.type = 'button';
        carry.id = 'carry-query-button';
        carry.textContent = 'Carry the messages and show the results';
        carry.addEventListener('click', () => window.carryQuery(created.ic_id, sent.doc_id));
        next.append(carry);
      }
      const form = request_button(doc, `Show the results of vantle ${created.ic_id}`, vantle_fields(created.ic_id, 'MSG_SHOW_VANTLE_RESULT'), 'get', action);
      form.id = 'results-button';
      next.append(form);
    }
    // Forms of the answer that change the site go the same way as those of
    // the page.
    if (!doc.body.dataset.forms) {
      doc.body.dataset.forms = 'sent by the page';
      doc.addEventListener('submit', (event) => intercept(event, frame), true);
    }
  }

  // The number of documents of a results answer.
  const documents_in = (a) => (a.results || []).reduce((n, b) => n + b.documents.length, 0);

  // A query's results fill themselves: while the frame shows them, the
  // values are asked for again every few seconds (a site whose exchange
  // runs on arrival takes the answers in without anyone pressing), and the
  // results are shown anew when documents have come. Stops after a while,
  // or when the frame shows something else.
  function follow_results(frame, doc, href, shown) {
    let count = documents_in(shown);
    let left = 120;
    const again = async () => {
      if (frame.contentDocument !== doc || --left < 0) return;
      try {
        const r = await fetch(href, { headers: { Accept: JSON_TYPE }, credentials: 'same-origin', cache: 'no-store' });
        const v = values_of(await r.text());
        if (frame.contentDocument !== doc) return;
        if (v && documents_in(v) !== count) {
          count = documents_in(v);
          render(frame, v, null);
          fire(frame);
        }
      } catch {
        // the next round asks again
      }
      setTimeout(again, answerView.follow_ms);
    };
    setTimeout(again, answerView.follow_ms);
  }

  // A request that only reads the site can be shown again on a page of its
  // own (with its title, its site and the way back); the answer offers that page.
  function own_tab_link(frame, where) {
    const doc = frame.contentDocument;
    const main = doc.querySelector('main');
    if (!main || window.location.pathname.endsWith('/vexil.cgi') && new URLSearchParams(window.location.search).get('zoa_name') === 'answer_page.zoaml') return;
    const page = new URL('vexil.cgi', where.href);
    page.search = new URLSearchParams({ zoa_name: 'answer_page.zoaml', request: where.search.slice(1) }).toString();
    const p = doc.createElement('p');
    const a = doc.createElement('a');
    a.href = page.href;
    a.target = '_blank';
    a.id = 'own-tab';
    a.textContent = 'Open this answer in a tab of its own';
    p.append(a);
    main.append(p);
  }

  // Values kept for the note page a POST answer is shown on, by number.
  const pending = new Map();
  let next_number = 1;

  // What a form sent, as far as the status line needs it.
  function sent_of(form) {
    const el = form.elements;
    const value = (name) => (el[name] && el[name].value !== undefined ? el[name].value : '');
    const checked = form.querySelector('input[name="vantle_type"]:checked');
    return {
      message_type: value('message_type'),
      ic_id_list: value('ic_id_list'),
      doc_id: value('doc_id'),
      content: value('content'),
      setting: value('setting'),
      value: value('value'),
      vantle_type: checked ? checked.value : value('vantle_type'),
      form,
    };
  }

  function frame_of_form(form) {
    const name = form.getAttribute('target') || document.querySelector('base')?.target || '';
    return (name && document.querySelector(`iframe[name="${name}"]`)) || null;
  }

  // What a delete form asks before it is sent, naming the vantle (its
  // symbolic name as the site shows it, when the site can be asked); ''
  // for a form that deletes nothing.
  async function delete_question(form, sent) {
    if (sent.message_type === 'MSG_MOVE_DELETE') return `Delete the vantle of document "${sent.content}"? This cannot be undone.`;
    if (sent.message_type !== 'MSG_DELETE') return '';
    let name = '';
    try {
      const show = new URL(form.action);
      show.search = new URLSearchParams({ flag: 'old', ic_type: 'VANTLE', ic_id_list: sent.ic_id_list, message_type: 'MSG_SHOW_ALL' }).toString();
      const r = await fetch(show.href, { headers: { Accept: JSON_TYPE }, credentials: 'same-origin', cache: 'no-store' });
      const v = values_of(await r.text());
      if (v && v.vantles && v.vantles.length === 1) name = ` "${v.vantles[0].sym_name}"`;
    } catch {
      name = '';
    }
    return `Delete vantle ${sent.ic_id_list}${name}? This cannot be undone.`;
  }

  // Sends a POST form with fetch and shows its values in `frame`.
  async function intercept(event, frame) {
    const form = event.target;
    if (!frame || form.dataset.native) return;
    const method = (form.getAttribute('method') || 'get').toLowerCase();
    const sent = sent_of(form);
    if (method !== 'post') {
      answerView.sent.set(frame, sent);
      return;
    }
    event.preventDefault();
    const question = form.dataset.confirm || (await delete_question(form, sent));
    if (question && !window.confirm(question)) return;
    const submitter = event.submitter || null;
    const data = new FormData(form, submitter);
    const multipart = form.enctype === 'multipart/form-data';
    const body = multipart ? data : new URLSearchParams(data).toString();
    // The site's decoder takes the form type without parameters.
    const headers = multipart ? { Accept: JSON_TYPE } : { Accept: JSON_TYPE, 'Content-Type': 'application/x-www-form-urlencoded' };
    let r;
    try {
      r = await fetch(form.action, { method: 'POST', body, headers, credentials: 'same-origin', cache: 'no-store' });
    } catch (e) {
      r = null;
    }
    if (r && r.status === 401) {
      // Nothing was done: the browser sends it again itself and asks for
      // the password.
      form.dataset.native = '1';
      answerView.sent.set(frame, sent);
      form.requestSubmit(submitter && submitter.form === form ? submitter : undefined);
      delete form.dataset.native;
      return;
    }
    const text = r ? await r.text() : 'The site cannot be reached.';
    const values = values_of(text) || { text, http_status: r ? r.status : 0 };
    const number = next_number++;
    pending.set(number, { values, sent });
    const note = new URL(`vexil.cgi?zoa_name=answer.zoaml&answer=${number}`, form.action);
    frame.contentWindow.location.assign(note.href);
  }

  // The answer in values that `text` holds; null when it holds none (an
  // error page of the server, a site that answers with its page only).
  function values_of(text) {
    try {
      const v = JSON.parse(text);
      return v && v.format === 'orv-answer' ? v : null;
    } catch {
      return null;
    }
  }

  function fire(frame) {
    frame.dispatchEvent(new CustomEvent('answershown', { detail: frame.answerValues || null }));
  }

  // Shows every answer of the site that `frame` loads. `fit`: the frame
  // grows with its answer.
  function watch(frame, options = {}) {
    frame.addEventListener('load', async () => {
      const win = frame.contentWindow;
      let where;
      try {
        where = win.location;
      } catch {
        return;
      }
      if (where.protocol === 'about:') return;
      const doc = frame.contentDocument;
      const params = new URLSearchParams(where.search);
      const number = Number(params.get('answer'));
      const is_answer = where.pathname.endsWith('.cgi') && !where.pathname.endsWith('/vexil.cgi');
      const refused = doc && doc.getElementById('login-refused');
      const sent = answerView.sent.get(frame);
      answerView.sent.delete(frame);
      if (refused) {
        // The server's own page for a refused login: the form was not
        // carried out; reloading the frame shows a note that says so.
        if (is_answer && !where.search && (!sent || sent.form)) win.history.replaceState(null, '', 'vexil.cgi?zoa_name=answer_refused.zoaml');
        frame.answerValues = { outcome: 'refused', login: true };
      } else if (number && pending.has(number)) {
        const { values, sent: form_sent } = pending.get(number);
        pending.delete(number);
        if (values.format === 'orv-answer') render(frame, values, form_sent);
        else render_text(frame, page_lines(values.text), values.http_status);
      } else if (is_answer && doc && doc.body) {
        doc.body.style.visibility = 'hidden';
        let values = null;
        try {
          const r = await fetch(where.href, { headers: { Accept: JSON_TYPE }, credentials: 'same-origin', cache: 'no-store' });
          values = values_of(await r.text());
        } catch {
          values = null;
        }
        if (values) render(frame, values, sent);
        else render_text(frame, shown_lines(doc), 200);
        doc.body.style.visibility = '';
        own_tab_link(frame, where);
        if (values && values.request.kind === 'results') follow_results(frame, doc, where.href, values);
      } else if (doc && doc.head) {
        doc.documentElement.lang = doc.documentElement.lang || 'en';
        const style = doc.createElement('style');
        style.textContent = 'body { font-family: sans-serif; overflow-wrap: break-word; }';
        doc.head.append(style);
      }
      if (options.fit) fit(frame);
      // Marks the page as handled: whatever it held is now shown.
      try {
        frame.contentDocument.documentElement.dataset.shown = '1';
      } catch {
        // a page of another origin is left alone
      }
      fire(frame);
    });
  }

  function fit(frame) {
    const doc = frame.contentDocument;
    if (!doc || !doc.body) return;
    const want = Math.ceil(doc.body.getBoundingClientRect().height) + 30;
    frame.style.height = `${Math.max(90, Math.min(want, Math.round(window.innerHeight * 0.7)))}px`;
    for (const d of doc.querySelectorAll('details')) d.addEventListener('toggle', () => fit(frame));
  }

  // Forms of the page that send to a watched frame.
  document.addEventListener('submit', (event) => {
    const frame = frame_of_form(event.target);
    if (frame) intercept(event, frame);
  }, true);

  // Sends one request to a site's manager and returns its values (null
  // when the answer holds none).
  async function ask_site(url, fields) {
    const r = await fetch(url, {
      method: 'POST',
      body: new URLSearchParams(fields).toString(),
      headers: { Accept: JSON_TYPE, 'Content-Type': 'application/x-www-form-urlencoded' },
      credentials: 'same-origin',
      cache: 'no-store',
    });
    return values_of(await r.text());
  }

  // Carries the messages between the sites of the demo (`root`: the address
  // of its top, where waiting.cgi counts the messages): send at every site,
  // then pick up at every site, round after round, until nothing waits or
  // a round moves nothing. `step(round, dir, verb, values, status)` is
  // called after each request. Returns [status, text] of the end.
  // `home` (a site's directory, optional): that site picks up right after
  // each other site has sent it something, so that each answer it takes
  // in comes from one site.
  async function carry(root, step, home = '') {
    const waiting = async () => {
      try {
        const r = await fetch(new URL('waiting.cgi', root), { cache: 'no-store' });
        return r.ok ? await r.json() : null;
      } catch {
        return null;
      }
    };
    const total = (w) => Object.values(w).reduce((n, x) => n + x.inbox + x.outbox, 0);
    let w = await waiting();
    if (!w) return ['error', 'The sites cannot be counted: no carry here.'];
    const dirs = Object.keys(w);
    if (total(w) === 0) return ['nothing', 'Nothing waits: every inbox and outbox is empty.'];
    // The files this carry handed over, by name: the site that sent each.
    // A file picked up carries no sender when it answers a query; its name
    // is the one its sender gave it.
    const sent_by = new Map();
    for (let round = 1; round <= 10; round++) {
      let moved = false;
      const one = async (dir, type, verb) => {
        const v = await ask_site(new URL(`${dir}/orv.cgi`, root), { flag: 'orv', message_type: type });
        const [status, head] = v ? status_of(v, null) : ['error', 'Error: the site gave no answer in values'];
        if (v && v.send) for (const f of v.send.files) sent_by.set(f.file, v.site.orv_id);
        if (v && v.pick_up) for (const f of v.pick_up.files) if (!f.sender && sent_by.has(f.file)) f.sender = sent_by.get(f.file);
        if (v && ((v.send && v.send.files.length) || (v.pick_up && v.pick_up.files.length))) moved = true;
        await step(round, dir, verb, v, status, head);
        return v;
      };
      let home_id = null;
      for (const dir of dirs) {
        const v = await one(dir, 'SYS_SEND_MSG', 'send');
        if (dir === home && v) home_id = v.site.orv_id;
        if (home && dir !== home && v && v.send && v.send.files.some((f) => home_id === null || f.to === home_id)) await one(home, 'SYS_PICK_UP_MSG', 'pick up');
      }
      for (const dir of dirs) await one(dir, 'SYS_PICK_UP_MSG', 'pick up');
      w = await waiting();
      if (w && total(w) === 0) return ['done', `Finished after ${round} round${round === 1 ? '' : 's'}: every inbox and outbox is empty.`];
      if (!moved) return ['error', 'Stopped: this round moved nothing, yet messages still wait.'];
    }
    return ['error', 'Stopped after 10 rounds: messages keep moving.'];
  }

  const answerView = { watch, render, fit, page_lines, status_of, values_of, carry, follow_ms: 3000, sent: new WeakMap() };
  window.answerView = answerView;
})();
