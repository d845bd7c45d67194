<!DOCTYPE html>
<HTML LANG="en">
<HEAD>
<META CHARSET="utf-8">
<META NAME="viewport" CONTENT="width=device-width, initial-scale=1">
<TITLE>Virtual site manager of @ORV_ID@</TITLE>
<BASE TARGET="answer">
<style>
body { font-family: sans-serif; margin: 1em; line-height: 1.35; overflow-wrap: break-word; }
.manager { display: grid; grid-template-columns: minmax(0, 3fr) minmax(0, 2fr); gap: 1.5em; align-items: start; }
.answer { position: sticky; top: 0.5em; }
.answer iframe { width: 100%; height: 80vh; box-sizing: border-box; border: 2px solid #1c4f9c; border-radius: 6px; background: #fff; }
.answer h2 { margin-top: 0.3em; }
table { max-width: 100%; }
th { text-align: left; }
table.fields td, table.fields th, table.settings td, table.settings th { padding: 3px; }
input, select { max-width: 100%; box-sizing: border-box; }
img { max-width: 100%; height: auto; }
.note { color: #333; background: #eef3fb; padding: 0.4em 0.6em; border-radius: 4px; }
.auth { color: #5a3a00; background: #fff1db; padding: 0.4em 0.6em; border-radius: 4px; }
.hint { font-size: 0.9em; color: #444; }
code { overflow-wrap: anywhere; }
#carry-section { border: 2px solid #2e8b3d; border-radius: 6px; padding: 0.2em 0.8em; margin-bottom: 0.6em; background: #f3faf4; }
#carry-section h2 { font-size: 1.05em; }
#progress-table { border-collapse: collapse; }
#progress-table td, #progress-table th { border: 1px solid #b8c2d2; padding: 0.15em 0.5em; text-align: left; }
#carry-state.error { color: #8c1010; font-weight: bold; }
[aria-invalid="true"] { border: 2px solid #c62828; background: #fff4f4; }
.settings code { white-space: nowrap; }
/* One column: the answer first, held at the top while the forms scroll
   under it. Narrow windows: the field tables become label-above-box lists. */
@media (max-width: 60em) {
  .manager { grid-template-columns: minmax(0, 1fr); gap: 0.8em; }
  .answer { order: -1; position: sticky; top: 0; z-index: 1; background: #fff; padding-bottom: 0.3em; box-shadow: 0 3px 5px rgba(0,0,0,0.15); }
  .answer h2 { font-size: 1em; margin: 0.2em 0; }
  .answer iframe { height: 28vh; }
  .answer { max-height: 38vh; overflow-y: auto; }
  #carry-section h2 { display: none; }
}
@media (max-width: 700px) {
  body { margin: 0.5em; }
  h1 { font-size: 1.4em; }
  form table, form table > tbody, form table > tbody > tr,
  form table > tbody > tr > th, form table > tbody > tr > td { display: block; width: auto; border: 0; padding: 0; }
  form table > tbody > tr > th { margin-top: 0.5em; }
  form table input[type="text"] { width: 100%; }
  .settings tr:first-child { display: none; }
  .settings tr { margin-bottom: 0.5em; }
  .settings td:first-child { font-weight: bold; }
}
</style>
</HEAD>
<BODY>
<HEADER>
<H1>Virtual site manager of @ORV_ID@</H1>
<NAV ID="demo-nav" HIDDEN><A HREF="../vexil.cgi?zoa_name=start.zoaml" TARGET="_top">All the sites (start page)</A></NAV>
</HEADER>
<DIV CLASS="manager">
<MAIN CLASS="forms">
<P>This page belongs to the site <STRONG>@ORV_ID@</STRONG> (server id
<CODE>@SERVER_ID@</CODE>). Every form of this page sends one message to
the site manager of @ORV_ID@. Vantles, keywords and settings are explained in
<A HREF="vexil.cgi?zoa_name=about.zoaml" TARGET="_top">About this site: vantles, keywords and settings</A>.</P>
<P CLASS="note">The answer of each form appears in the frame <EM>Answer of
@ORV_ID@</EM> beside the forms (above them in a narrow window), under a
line that tells whether the site did it, refused it or failed.</P>
<ZOA_REL> "auth_note" </ZOA_REL>
<P><A HREF="vexil.cgi?zoa_name=site_map.zoaml" TARGET="_top">The map of the sites</A> (the sites and their distances):</P>
<P><IMG SRC="S-Event_Data/Images/site_map.gif" ALT="Map of the sites: each site is a circle, a line between two sites is labelled with their distance; a solid line means a query goes that way, a dashed one that the sites are too far apart to query each other."></P>

<HR>
<H2>Create a vantle for a document</H2>
<FORM ACTION="orv.cgi" METHOD=POST ACCEPT-CHARSET="UTF-8" TARGET="answer">
<INPUT TYPE="hidden" NAME="flag" VALUE="new">
<INPUT TYPE="hidden" NAME="ic_type" VALUE="VANTLE">
<INPUT TYPE="hidden" NAME="message_type" VALUE="MSG_CREATE">
<INPUT TYPE="hidden" NAME="ic_par_num" VALUE="9">
<INPUT TYPE="hidden" NAME="ic_par_1" VALUE="doc_id">
<INPUT TYPE="hidden" NAME="ic_par_2" VALUE="i_am">
<INPUT TYPE="hidden" NAME="ic_par_3" VALUE="i_love">
<INPUT TYPE="hidden" NAME="ic_par_4" VALUE="i_hate">
<INPUT TYPE="hidden" NAME="ic_par_5" VALUE="i_behave">
<INPUT TYPE="hidden" NAME="ic_par_6" VALUE="i_keyword">
<INPUT TYPE="hidden" NAME="ic_par_7" VALUE="i_comment">
<INPUT TYPE="hidden" NAME="ic_par_8" VALUE="vantle_type">
<INPUT TYPE="hidden" NAME="ic_par_9" VALUE="sym_name">
<P>The boxes hold sample values: the form can be sent as it stands.</P>
<TABLE CLASS="fields" BORDER=2>
<TBODY>
<TR><TH><LABEL FOR="c-doc_id">Document id</LABEL></TH><TD><INPUT ID="c-doc_id" TYPE="text" REQUIRED MAXLENGTH=255 NAME="doc_id" SIZE=40 VALUE="doc-001"></TD></TR>
<TR><TH><LABEL FOR="c-i_am">I am (keywords)</LABEL></TH><TD><INPUT ID="c-i_am" TYPE="text" NAME="i_am" SIZE=40 VALUE="physics#optics#!" ARIA-DESCRIBEDBY="c-i_am-hint"><BR><SPAN CLASS="hint" ID="c-i_am-hint">Words of the site's keyword list, each ended by <CODE>#</CODE>, the list ended by <CODE>!</CODE>: <CODE>physics#optics#!</CODE>; a lone <CODE>!</CODE> is an empty list.</SPAN></TD></TR>
<TR><TH><LABEL FOR="c-i_love">I love (keywords)</LABEL></TH><TD><INPUT ID="c-i_love" TYPE="text" NAME="i_love" SIZE=40 VALUE="optics#!"></TD></TR>
<TR><TH><LABEL FOR="c-i_hate">I hate (keywords)</LABEL></TH><TD><INPUT ID="c-i_hate" TYPE="text" NAME="i_hate" SIZE=40 VALUE="!"></TD></TR>
<TR><TH><LABEL FOR="c-i_behave">I behave (keywords)</LABEL></TH><TD><INPUT ID="c-i_behave" TYPE="text" NAME="i_behave" SIZE=40 VALUE="!"></TD></TR>
<TR><TH><LABEL FOR="c-i_keyword">Keywords</LABEL></TH><TD><INPUT ID="c-i_keyword" TYPE="text" NAME="i_keyword" SIZE=40 VALUE="lenses#mirrors#!" ARIA-DESCRIBEDBY="c-i_keyword-hint"><BR><SPAN CLASS="hint" ID="c-i_keyword-hint">Any words, in the same form: <CODE>lenses#mirrors#!</CODE>.</SPAN></TD></TR>
<TR><TH><LABEL FOR="c-i_comment">Comment</LABEL></TH><TD><INPUT ID="c-i_comment" TYPE="text" NAME="i_comment" SIZE=40 VALUE="Notes on lenses and mirrors#!"></TD></TR>
<TR><TH ID="c-vantle_type">Vantle type</TH><TD ROLE="radiogroup" ARIA-LABELLEDBY="c-vantle_type">
<LABEL><INPUT TYPE="radio" NAME="vantle_type" VALUE="Archives" CHECKED>Archives</LABEL>
<LABEL><INPUT TYPE="radio" NAME="vantle_type" VALUE="Site_Building">Site building</LABEL>
<LABEL><INPUT TYPE="radio" NAME="vantle_type" VALUE="Profile">Profile</LABEL>
<LABEL><INPUT TYPE="radio" NAME="vantle_type" VALUE="Info_Gathering">Information gathering</LABEL>
</TD></TR>
<TR><TH><LABEL FOR="c-sym_name">Symbolic name</LABEL></TH><TD><INPUT ID="c-sym_name" TYPE="text" REQUIRED MAXLENGTH=49 NAME="sym_name" SIZE=40 VALUE="lens_notes"></TD></TR>
</TBODY>
</TABLE>
<ZOA_DB_HERE>
<INPUT TYPE="submit" NAME="button" VALUE="Create the vantle">
</FORM>

<HR>
<H2>Query the sites</H2>
<P>A query is a vantle of type Info_Gathering: it travels to the nearby sites
and collects the documents whose keywords match. Once the answers have come
back, <EM>Show the saved results</EM> below shows them. The boxes hold
sample values; each query needs a symbolic name of its own.</P>
<FORM ACTION="orv.cgi" METHOD=POST ACCEPT-CHARSET="UTF-8" TARGET="answer">
<INPUT TYPE="hidden" NAME="flag" VALUE="new">
<INPUT TYPE="hidden" NAME="ic_type" VALUE="VANTLE">
<INPUT TYPE="hidden" NAME="message_type" VALUE="MSG_CREATE">
<INPUT TYPE="hidden" NAME="ic_par_num" VALUE="9">
<INPUT TYPE="hidden" NAME="ic_par_1" VALUE="doc_id">
<INPUT TYPE="hidden" NAME="ic_par_2" VALUE="i_am">
<INPUT TYPE="hidden" NAME="ic_par_3" VALUE="i_love">
<INPUT TYPE="hidden" NAME="ic_par_4" VALUE="i_hate">
<INPUT TYPE="hidden" NAME="ic_par_5" VALUE="i_behave">
<INPUT TYPE="hidden" NAME="ic_par_6" VALUE="i_keyword">
<INPUT TYPE="hidden" NAME="ic_par_7" VALUE="i_comment">
<INPUT TYPE="hidden" NAME="ic_par_8" VALUE="vantle_type">
<INPUT TYPE="hidden" NAME="ic_par_9" VALUE="sym_name">
<INPUT TYPE="hidden" NAME="i_love" VALUE="!">
<INPUT TYPE="hidden" NAME="i_hate" VALUE="!">
<INPUT TYPE="hidden" NAME="i_behave" VALUE="!">
<INPUT TYPE="hidden" NAME="i_keyword" VALUE="!">
<INPUT TYPE="hidden" NAME="i_comment" VALUE="query">
<INPUT TYPE="hidden" NAME="vantle_type" VALUE="Info_Gathering">
<TABLE CLASS="fields" BORDER=2>
<TBODY>
<TR><TH><LABEL FOR="q-doc_id">Query id</LABEL></TH><TD><INPUT ID="q-doc_id" TYPE="text" REQUIRED MAXLENGTH=255 NAME="doc_id" SIZE=40 VALUE="q-001"></TD></TR>
<TR><TH><LABEL FOR="q-i_am">Keywords</LABEL></TH><TD><INPUT ID="q-i_am" TYPE="text" NAME="i_am" SIZE=40 VALUE="optics#!" ARIA-DESCRIBEDBY="q-i_am-hint"><BR><SPAN CLASS="hint" ID="q-i_am-hint">Words of the keyword list, each ended by <CODE>#</CODE>, the list ended by <CODE>!</CODE>: <CODE>optics#!</CODE> also finds documents on physics or mechanics (near words).</SPAN></TD></TR>
<TR><TH><LABEL FOR="q-sym_name">Symbolic name</LABEL></TH><TD><INPUT ID="q-sym_name" TYPE="text" REQUIRED MAXLENGTH=49 NAME="sym_name" SIZE=40 VALUE="optics_query"></TD></TR>
</TBODY>
</TABLE>
<INPUT TYPE="submit" NAME="button" VALUE="Send the query">
</FORM>

<HR>
<H2>Show vantles</H2>
<FORM ACTION="orv.cgi" METHOD=GET ACCEPT-CHARSET="UTF-8" TARGET="answer">
<INPUT TYPE="hidden" NAME="flag" VALUE="old">
<INPUT TYPE="hidden" NAME="ic_type" VALUE="VANTLE">
<INPUT TYPE="hidden" NAME="ic_id_list" VALUE="-1">
<INPUT TYPE="hidden" NAME="message_type" VALUE="MSG_SHOW_ALL">
Every vantle of @ORV_ID@:
<INPUT TYPE="submit" NAME="button" VALUE="List all vantles">
</FORM>
<FORM ACTION="orv.cgi" METHOD=GET ACCEPT-CHARSET="UTF-8" TARGET="answer">
<INPUT TYPE="hidden" NAME="flag" VALUE="old">
<INPUT TYPE="hidden" NAME="ic_type" VALUE="VANTLE">
<INPUT TYPE="hidden" NAME="message_type" VALUE="MSG_SHOW_ALL">
<LABEL>Vantle id: <INPUT TYPE="text" NAME="ic_id_list" SIZE=10 REQUIRED INPUTMODE="numeric" PATTERN="[+\-]?[0-9]+( .*)?" TITLE="a whole number, for example 12 or -1"></LABEL>
<INPUT TYPE="submit" NAME="button" VALUE="Show the vantle">
</FORM>
<FORM ACTION="orv.cgi" METHOD=GET ACCEPT-CHARSET="UTF-8" TARGET="answer">
<INPUT TYPE="hidden" NAME="flag" VALUE="old">
<INPUT TYPE="hidden" NAME="ic_type" VALUE="VANTLE">
<INPUT TYPE="hidden" NAME="message_type" VALUE="MSG_SHOW_VANTLE_RESULT">
<LABEL>Query vantle id: <INPUT TYPE="text" NAME="ic_id_list" SIZE=10 REQUIRED INPUTMODE="numeric" PATTERN="[+\-]?[0-9]+( .*)?" TITLE="a whole number, for example 12 or -1"></LABEL>
<INPUT TYPE="submit" NAME="button" VALUE="Show the saved results">
</FORM>

<HR>
<H2>Delete a vantle</H2>
<FORM ACTION="orv.cgi" METHOD=POST ACCEPT-CHARSET="UTF-8" TARGET="answer">
<INPUT TYPE="hidden" NAME="flag" VALUE="old">
<INPUT TYPE="hidden" NAME="ic_type" VALUE="VANTLE">
<INPUT TYPE="hidden" NAME="message_type" VALUE="MSG_DELETE">
<LABEL>Vantle id: <INPUT TYPE="text" NAME="ic_id_list" SIZE=10 REQUIRED INPUTMODE="numeric" PATTERN="[+\-]?[0-9]+( .*)?" TITLE="a whole number, for example 12 or -1"></LABEL>
<INPUT TYPE="submit" NAME="button" VALUE="Delete the vantle">
</FORM>
<FORM ACTION="orv.cgi" METHOD=POST ACCEPT-CHARSET="UTF-8" TARGET="answer">
<INPUT TYPE="hidden" NAME="flag" VALUE="old">
<INPUT TYPE="hidden" NAME="ic_type" VALUE="VANTLE">
<INPUT TYPE="hidden" NAME="ic_id_list" VALUE="-1">
<INPUT TYPE="hidden" NAME="message_type" VALUE="MSG_MOVE_DELETE">
<LABEL>Document id: <INPUT TYPE="text" NAME="content" SIZE=40 REQUIRED MAXLENGTH=255></LABEL>
<INPUT TYPE="submit" NAME="button" VALUE="Delete the vantle of this document">
</FORM>

<HR>
<H2>Site configuration</H2>
<FORM ACTION="orv.cgi" METHOD=GET ACCEPT-CHARSET="UTF-8" TARGET="answer">
<INPUT TYPE="hidden" NAME="flag" VALUE="orv">
<INPUT TYPE="hidden" NAME="message_type" VALUE="MSG_SHOW_CONFIG">
<INPUT TYPE="submit" NAME="button" VALUE="Show the configuration">
</FORM>
<FORM ACTION="orv.cgi" METHOD=POST ACCEPT-CHARSET="UTF-8" TARGET="answer">
<INPUT TYPE="hidden" NAME="flag" VALUE="orv">
<INPUT TYPE="hidden" NAME="message_type" VALUE="MSG_UPDATE_CONFIG">
<P>Change one setting: type its key, a <CODE>|</CODE> and the new value,
for example <CODE>VG_THRESHOLD|12</CODE>. This site's ids are
<CODE>ORV_ID|@ORV_ID@</CODE> and <CODE>SERVER_ID|@SERVER_ID@</CODE>.</P>
<TABLE CLASS="settings" BORDER=1>
<TBODY>
<TR><TH>Setting</TH><TH>Key</TH><TH>What it does</TH></TR>
<TR><TD>Server id</TD><TD><CODE>SERVER_ID</CODE></TD><TD>the server's name</TD></TR>
<TR><TD>Orv id</TD><TD><CODE>ORV_ID</CODE></TD><TD>the site's name among the sites</TD></TR>
<TR><TD>Retrieval threshold</TD><TD><CODE>RETRIEVE_THRESHOLD</CODE></TD><TD>how far apart in the keyword list two words may be and still match (0: equal words only)</TD></TR>
<TR><TD>Virtual site distance threshold</TD><TD><CODE>VG_THRESHOLD</CODE></TD><TD>queries go to the sites closer than this</TD></TR>
<TR><TD>Maximum vantles threshold</TD><TD><CODE>MAX_VANTLE_THRESHOLD</CODE></TD><TD>how many results a query collects</TD></TR>
<TR><TD>Email address</TD><TD><CODE>SET_EMAIL_ADDRESS</CODE></TD><TD>the owner address given to new vantles</TD></TR>
</TBODY>
</TABLE>
<LABEL>Key|value:
<INPUT TYPE="text" NAME="content" SIZE=40 REQUIRED PATTERN="[^\|]+\|.+" TITLE="a key, | and the new value, for example VG_THRESHOLD|12"></LABEL>
<INPUT TYPE="submit" NAME="button" VALUE="Change Configuration">
</FORM>

<HR>
<H2>Messages of other sites</H2>
<FORM ACTION="orv.cgi" METHOD=POST ACCEPT-CHARSET="UTF-8" TARGET="answer">
<INPUT TYPE="hidden" NAME="flag" VALUE="orv">
<INPUT TYPE="hidden" NAME="message_type" VALUE="SYS_PICK_UP_MSG">
<INPUT TYPE="submit" NAME="button" VALUE="Pick up incoming messages">
</FORM>
<FORM ACTION="orv.cgi" METHOD=POST ACCEPT-CHARSET="UTF-8" TARGET="answer">
<INPUT TYPE="hidden" NAME="flag" VALUE="orv">
<INPUT TYPE="hidden" NAME="message_type" VALUE="SYS_SEND_MSG">
<INPUT TYPE="submit" NAME="button" VALUE="Send outgoing messages">
</FORM>

<HR>
<H2>Any other message to a vantle</H2>
<FORM ACTION="orv.cgi" METHOD=POST ACCEPT-CHARSET="UTF-8" TARGET="answer" CLASS="any-message">
<INPUT TYPE="hidden" NAME="ic_type" VALUE="VANTLE">
<INPUT TYPE="hidden" NAME="zoa_name" VALUE="orv_manager">
<INPUT TYPE="hidden" NAME="db_access" VALUE="">
<FIELDSET><LEGEND>Send the message to an existing vantle, or make a new one:</LEGEND>
<LABEL><INPUT TYPE="radio" NAME="flag" VALUE="old">Existing vantle (give its id)</LABEL>
<LABEL><INPUT TYPE="radio" NAME="flag" VALUE="new">New vantle (no id needed)</LABEL>
</FIELDSET>
<TABLE CLASS="fields" BORDER=2>
<TBODY>
<TR><TH><LABEL FOR="m-ic_id_list">Vantle id (for an existing vantle):</LABEL></TH><TD><INPUT ID="m-ic_id_list" TYPE="text" NAME="ic_id_list" SIZE=30 INPUTMODE="numeric"></TD></TR>
<TR><TH><LABEL FOR="m-message_type">Message type, for example MSG_SHOW_ALL:</LABEL></TH><TD><INPUT ID="m-message_type" TYPE="text" NAME="message_type" SIZE=30 REQUIRED></TD></TR>
<TR><TH><LABEL FOR="m-content">Content, values separated by |:</LABEL></TH><TD><INPUT ID="m-content" TYPE="text" NAME="content" SIZE=30></TD></TR>
</TBODY>
</TABLE>
<INPUT TYPE="submit" NAME="button" VALUE="TRIGGER IC &lt;VANTLE&gt;">
</FORM>
</MAIN>
<ASIDE CLASS="answer">
<SECTION ID="carry-section" HIDDEN>
<H2>Carry the messages</H2>
<P><BUTTON TYPE="button" ID="carry-button">Carry all messages</BUTTON>
between all the sites (send, then pick up, until nothing moves).</P>
<DIV ID="query-progress" ROLE="status"></DIV>
<P ID="carry-state"></P>
</SECTION>
<H2 ID="answer-head">Answer of @ORV_ID@</H2>
<IFRAME NAME="answer" TITLE="Answer of @ORV_ID@"
SRCDOC="&lt;html lang='en'&gt;&lt;title&gt;Answer of @ORV_ID@&lt;/title&gt;&lt;p style='font-family: sans-serif; color: #555'&gt;The answer of @ORV_ID@ to a form of this page appears here. An empty answer means the site had nothing to report.&lt;/p&gt;"></IFRAME>
</ASIDE>
</DIV>
<script>
<ZOA_REL> "answer_view" </ZOA_REL>
</script>
<script>
// The page's own message form changes cells too: it is sent as POST, in
// UTF-8, to the answer frame like the other forms.
for (const form of document.forms) {
  if (form.elements.zoa_name) {
    form.method = 'post';
    form.acceptCharset = 'UTF-8';
  }
}
// Each answer of the site gets its status line, tables and folded details.
const answer = document.querySelector('iframe[name="answer"]');
answerView.watch(answer);

// The carry between the sites, where this site is one of the demo's: the
// top of the demo counts the waiting messages (waiting.cgi).
const demo_root = new URL('../', location.href);
const this_dir = location.pathname.split('/').slice(-2)[0];
const carry_state = document.getElementById('carry-state');
const carry_button = document.getElementById('carry-button');
fetch(new URL('waiting.cgi', demo_root), { cache: 'no-store' })
  .then((r) => (r.ok ? r.json() : null))
  .then((w) => {
    if (!w || !(this_dir in w)) return;
    document.getElementById('carry-section').hidden = false;
    document.getElementById('demo-nav').hidden = false;
    window.carryQuery = carry_query;
  })
  .catch(() => {});

function results_url(id) {
  const u = new URL('orv.cgi', location.href);
  u.search = new URLSearchParams({ flag: 'old', ic_type: 'VANTLE', message_type: 'MSG_SHOW_VANTLE_RESULT', ic_id_list: id }).toString();
  return u.href;
}

async function results_of(id) {
  const r = await fetch(results_url(id), { headers: { Accept: 'application/json' }, cache: 'no-store' });
  const v = answerView.values_of(await r.text());
  if (v && v.site) this_site = v.site.orv_id;
  return v && v.results && v.results[0] ? v.results[0] : null;
}
let this_site = '';

// Runs the carry; `follow` (optional) hears each step.
async function run_carry(follow) {
  carry_button.disabled = true;
  try {
    const [status, text] = await answerView.carry(demo_root, async (round, dir, verb, values, st, head) => {
      carry_state.textContent = `Round ${round}, ${dir}, ${verb}: ${head}`;
      if (follow) await follow(dir, verb, values);
    }, follow ? this_dir : '');
    carry_state.textContent = text;
    carry_state.className = status;
    return status;
  } finally {
    carry_button.disabled = false;
  }
}
carry_button.addEventListener('click', () => run_carry());

// A query followed across the sites: the sites it goes to and, for each,
// waiting to be sent / sent / answered (with the documents that came);
// when the carry ends, its results are shown.
async function carry_query(id, doc_id) {
  const box = document.getElementById('query-progress');
  const first = await results_of(id);
  const sites = first && first.sent_to ? first.sent_to : [];
  let count = first ? first.documents.length : 0;
  const state = new Map(sites.map((s) => [s, 'waiting to be sent']));
  // The start page marks the path of the last query on its map.
  try {
    localStorage.setItem('last query', JSON.stringify({ site: this_site, doc_id, ic_id: id, sent_to: sites }));
  } catch {
    // a browser that keeps nothing shows no path
  }
  const draw = () => {
    const table = document.createElement('table');
    table.id = 'progress-table';
    table.createCaption().textContent = `Query "${doc_id}" (vantle ${id}): sent to ${sites.length ? sites.join(', ') : 'no site'}`;
    const head = table.createTHead().insertRow();
    for (const h of ['Site', 'State']) {
      const th = document.createElement('th');
      th.scope = 'col';
      th.textContent = h;
      head.append(th);
    }
    const body = table.createTBody();
    for (const s of sites) {
      const row = body.insertRow();
      row.dataset.site = s;
      row.insertCell().textContent = s;
      const cell = row.insertCell();
      cell.className = 'state';
      cell.textContent = state.get(s);
    }
    box.replaceChildren(table);
  };
  draw();
  await run_carry(async (dir, verb, v) => {
    if (dir !== this_dir || !v) return;
    if (verb === 'send' && v.send) {
      for (const f of v.send.files) if (state.get(f.to) === 'waiting to be sent') state.set(f.to, 'sent, waiting for its answer');
    }
    if (verb === 'pick up' && v.pick_up) {
      const answering = v.pick_up.files
        .filter((f) => f.outcome === 'applied' && state.has(f.sender))
        .filter((f) => !f.cells || f.cells.changed.some((c) => c.ic_id === id) || f.cells.created.some((c) => c.ic_id === id))
        .map((f) => f.sender);
      if (answering.length) {
        const now = await results_of(id);
        const n = now ? now.documents.length - count : 0;
        count = now ? now.documents.length : count;
        const docs = (k) => `${k} document${k === 1 ? '' : 's'}`;
        for (const s of answering) {
          state.set(s, answering.length === 1 ? `answered (${docs(n)})` : `answered (${docs(n)} together with ${answering.filter((o) => o !== s).join(', ')})`);
        }
      }
    }
    draw();
  });
  answer.contentWindow.location.assign(results_url(id));
}
// In a narrow window the answer stands above the forms: after a form is
// sent, the page goes back up to it.
document.addEventListener('submit', () => {
  if (window.matchMedia('(max-width: 700px)').matches) answer.scrollIntoView({ block: 'start' });
});
</script>
</BODY>
</HTML>
