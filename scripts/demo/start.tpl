<!DOCTYPE html>
<HTML>
<HEAD>
<META CHARSET="utf-8">
<META NAME="viewport" CONTENT="width=device-width, initial-scale=1">
<TITLE>@TITLE@</TITLE>
<STYLE>
body { font-family: sans-serif; margin: 1.5em; max-width: 80em; line-height: 1.4; overflow-wrap: anywhere; }
img { max-width: 100%; height: auto; }
.sites { display: grid; gap: 1em; grid-template-columns: repeat(auto-fill, minmax(min(18em, 100%), 1fr)); }
.site { border: 2px solid #1c4f9c; border-radius: 6px; padding: 0.6em 1em; min-width: 0; }
.site h3 { margin: 0.2em 0 0.5em; }
.site form { margin: 0.5em 0; }
.site label { display: block; margin: 0.2em 0; }
.site input, .site select { max-width: 100%; box-sizing: border-box; }
.site .note { font-size: 0.9em; color: #444; margin-bottom: 0.2em; }
.site iframe { width: 100%; height: 12em; box-sizing: border-box; border: 1px solid #999; background: #fff; }
</STYLE>
</HEAD>
<BODY>
<H1>@TITLE@</H1>
<P>This server runs @COUNT@ sites of the site manager: @SITES@. Each site
keeps its own vantles (agents that describe one document each) and sends
queries to the sites near it. Sites exchange messages as files: <EM>Send
outgoing messages</EM> moves a site's waiting messages into the inboxes of
the other sites, and <EM>Pick up incoming messages</EM> makes a site
process what has arrived.</P>
<ZOA_REL> "map" </ZOA_REL>
<P>The distances are @DISTANCES@. A site queries the sites that are closer
than its virtual site distance threshold (see its configuration): @ASKS@.</P>

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
<LI>Press <EM>Send outgoing messages</EM> at @FIRST@: the messages for
@PARTNER@ arrive in the inbox of @PARTNER@.</LI>
<LI>Press <EM>Pick up incoming messages</EM> at @PARTNER@: @PARTNER@ answers, and its
answers wait in its outbox.</LI>
<LI>Press <EM>Send outgoing messages</EM> at @PARTNER@, then <EM>Pick up incoming
messages</EM> at @FIRST@.</LI>
<LI>On the manager page of @FIRST@, show the query vantle's saved
results.</LI>
</OL>

<H2>The click demo</H2>
<ZOA_REL> "cellkit" </ZOA_REL>
<SCRIPT>
// The sites' answers are plain pages: in a box's frame they use the page's
// font and break long words. An answer to a POST form (no query in its
// address) is recorded in the frame's history as the site's note page, so
// reloading the frame never sends that form again.
for (const frame of document.querySelectorAll('.site iframe')) {
  frame.addEventListener('load', () => {
    const doc = frame.contentDocument;
    const where = frame.contentWindow.location;
    if (!doc || !doc.head || where.protocol === 'about:') return;
    const style = doc.createElement('style');
    style.textContent = 'body { font-family: sans-serif; font-size: 0.9em; overflow-wrap: anywhere; }';
    doc.head.append(style);
    if (where.pathname.endsWith('/orv.cgi') && !where.search) {
      frame.contentWindow.history.replaceState(null, '', 'vexil.cgi?zoa_name=answer.zoaml');
    }
  });
}
</SCRIPT>
</BODY>
</HTML>
