<!DOCTYPE html>
<HTML>
<HEAD>
<META CHARSET="utf-8">
<META NAME="viewport" CONTENT="width=device-width, initial-scale=1">
<TITLE>Click demo</TITLE>
<BASE TARGET="answer">
<STYLE>
body { font-family: sans-serif; margin: 1em; line-height: 1.35; overflow-wrap: anywhere; }
.demo { display: grid; grid-template-columns: minmax(0, 3fr) minmax(0, 2fr); gap: 1.5em; align-items: start; }
.answer { position: sticky; top: 0.5em; }
.answer iframe { width: 100%; height: 20em; box-sizing: border-box; border: 2px solid #1c4f9c; border-radius: 6px; background: #fff; }
table { max-width: 100%; }
input, select { max-width: 100%; box-sizing: border-box; }
@media (max-width: 60em) { .demo { grid-template-columns: minmax(0, 1fr); } .answer { position: static; } }
</STYLE>
</HEAD>
<BODY>
<H1>Click demo</H1>
<DIV CLASS="demo">
<DIV CLASS="forms">
<P>A SINGLECLICK sent with the flag new makes a CLICK cell, which answers
"Single click!" and waits for a DOUBLECLICK. A DOUBLECLICK sent to that
cell with the flag old answers "double click" and makes the cell ready for
the next SINGLECLICK. The first cell gets the id 1.</P>
<P>The answer of each form appears in the frame <EM>Answer</EM> beside the
forms. An empty answer means the cells had nothing to report (no cell
fired).</P>

<H2>Single click: a new cell</H2>
<FORM ACTION="cellkit.cgi" METHOD=POST ACCEPT-CHARSET="UTF-8" TARGET="answer">
<INPUT TYPE="hidden" NAME="flag" VALUE="new">
<INPUT TYPE="hidden" NAME="ic_type" VALUE="CLICK">
<INPUT TYPE="hidden" NAME="message_type" VALUE="SINGLECLICK">
<INPUT TYPE="submit" NAME="button" VALUE="SINGLECLICK">
</FORM>

<H2>Double click: an existing cell</H2>
<FORM ACTION="cellkit.cgi" METHOD=POST ACCEPT-CHARSET="UTF-8" TARGET="answer">
<INPUT TYPE="hidden" NAME="flag" VALUE="old">
<INPUT TYPE="hidden" NAME="ic_type" VALUE="CLICK">
<INPUT TYPE="hidden" NAME="message_type" VALUE="DOUBLECLICK">
Cell id: <INPUT TYPE="text" NAME="ic_id_list" SIZE=10 VALUE="1">
<INPUT TYPE="submit" NAME="button" VALUE="DOUBLECLICK">
</FORM>

<H2>Any message</H2>
<ZOA_IC_INPUT>
</DIV>
<DIV CLASS="answer">
<H2>Answer</H2>
<IFRAME NAME="answer" TITLE="Answer"
SRCDOC="&lt;p style='font-family: sans-serif; color: #555'&gt;The answer to a click appears here. An empty answer means no cell fired.&lt;/p&gt;"></IFRAME>
</DIV>
</DIV>
<SCRIPT>
// The page's own message form changes cells too: it is sent as POST, in
// UTF-8, to the answer frame like the other forms.
for (const form of document.forms) {
  if (form.elements.zoa_name) {
    form.method = 'post';
    form.acceptCharset = 'UTF-8';
  }
}
</SCRIPT>
</BODY>
</HTML>
