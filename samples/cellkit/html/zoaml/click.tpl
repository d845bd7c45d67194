<HTML>
<HEAD><TITLE>Click demo</TITLE></HEAD>
<BODY>
<H1>Click demo</H1>
<P>A SINGLECLICK sent with the flag new makes a CLICK cell, which answers
"Single click!" and waits for a DOUBLECLICK. A DOUBLECLICK sent to that
cell with the flag old answers "double click" and makes the cell ready for
the next SINGLECLICK. The first cell gets the id 1.</P>

<H2>Single click: a new cell</H2>
<FORM ACTION="cellkit.cgi" METHOD=GET>
<INPUT TYPE="hidden" NAME="flag" VALUE="new">
<INPUT TYPE="hidden" NAME="ic_type" VALUE="CLICK">
<INPUT TYPE="hidden" NAME="message_type" VALUE="SINGLECLICK">
<INPUT TYPE="submit" NAME="button" VALUE="SINGLECLICK">
</FORM>

<H2>Double click: an existing cell</H2>
<FORM ACTION="cellkit.cgi" METHOD=GET>
<INPUT TYPE="hidden" NAME="flag" VALUE="old">
<INPUT TYPE="hidden" NAME="ic_type" VALUE="CLICK">
<INPUT TYPE="hidden" NAME="message_type" VALUE="DOUBLECLICK">
Cell id: <INPUT TYPE="text" NAME="ic_id_list" SIZE=10 VALUE="1">
<INPUT TYPE="submit" NAME="button" VALUE="DOUBLECLICK">
</FORM>

<H2>Any message</H2>
<ZOA_IC_INPUT>
</BODY>
</HTML>
