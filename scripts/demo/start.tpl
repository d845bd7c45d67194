<!DOCTYPE html>
<HTML>
<HEAD>
<META CHARSET="utf-8">
<TITLE>Three virtual sites</TITLE>
<STYLE>
body { font-family: sans-serif; margin: 1.5em; max-width: 68em; line-height: 1.4; }
.sites { display: flex; gap: 1em; flex-wrap: wrap; }
.site { border: 2px solid #1c4f9c; border-radius: 6px; padding: 0.6em 1em; flex: 1 1 18em; }
.site h3 { margin: 0.2em 0 0.5em; }
.site form { margin: 0.5em 0; }
.site label { display: block; margin: 0.2em 0; }
</STYLE>
</HEAD>
<BODY>
<H1>Three virtual sites</H1>
<P>This server runs three sites of the site manager: <STRONG>north</STRONG>,
<STRONG>east</STRONG> and <STRONG>south</STRONG>. Each site keeps its own
vantles (agents that describe one document each) and sends queries to the
sites near it. Sites exchange messages as files: <EM>Send outgoing
messages</EM> moves a site's waiting messages into the inboxes of the other
sites, and <EM>Pick up incoming messages</EM> makes a site process what has
arrived.</P>
<ZOA_REL> "map" </ZOA_REL>
<P>The distances are north&ndash;east 4, east&ndash;south 6 and
north&ndash;south 12. A site queries the sites at distance 9 or less: north
asks east, east asks north and south, south asks east.</P>

<H2>The sites</H2>
<DIV CLASS="sites">
<SECTION CLASS="site" ID="site-north">
<H3>Site north</H3>
<P><A HREF="north/vexil.cgi?zoa_name=orv_manager.zoaml">Manager page of north</A>:
create a vantle, send a query, show a vantle and its results.</P>
<FORM ACTION="north/orv.cgi" METHOD=GET>
<INPUT TYPE="hidden" NAME="flag" VALUE="orv">
<INPUT TYPE="hidden" NAME="message_type" VALUE="MSG_SHOW_CONFIG">
<BUTTON TYPE="submit">Show the configuration</BUTTON>
</FORM>
<FORM ACTION="north/orv.cgi" METHOD=GET>
<INPUT TYPE="hidden" NAME="flag" VALUE="orv">
<INPUT TYPE="hidden" NAME="message_type" VALUE="MSG_UPDATE_CONFIG">
<INPUT TYPE="hidden" NAME="ic_par_num" VALUE="2">
<INPUT TYPE="hidden" NAME="ic_par_1" VALUE="setting">
<INPUT TYPE="hidden" NAME="ic_par_2" VALUE="value">
<LABEL>Setting
<SELECT NAME="setting">
<OPTION>SERVER_ID</OPTION>
<OPTION>ORV_ID</OPTION>
<OPTION>RETRIEVE_THRESHOLD</OPTION>
<OPTION>VG_THRESHOLD</OPTION>
<OPTION>MAX_VANTLE_THRESHOLD</OPTION>
<OPTION>SET_EMAIL_ADDRESS</OPTION>
</SELECT></LABEL>
<LABEL>New value <INPUT TYPE="text" NAME="value" SIZE=16></LABEL>
<BUTTON TYPE="submit">Change the configuration</BUTTON>
</FORM>
<FORM ACTION="north/orv.cgi" METHOD=GET>
<INPUT TYPE="hidden" NAME="flag" VALUE="orv">
<INPUT TYPE="hidden" NAME="message_type" VALUE="SYS_SEND_MSG">
<BUTTON TYPE="submit">Send outgoing messages</BUTTON>
</FORM>
<FORM ACTION="north/orv.cgi" METHOD=GET>
<INPUT TYPE="hidden" NAME="flag" VALUE="orv">
<INPUT TYPE="hidden" NAME="message_type" VALUE="SYS_PICK_UP_MSG">
<BUTTON TYPE="submit">Pick up incoming messages</BUTTON>
</FORM>
</SECTION>
<SECTION CLASS="site" ID="site-east">
<H3>Site east</H3>
<P><A HREF="east/vexil.cgi?zoa_name=orv_manager.zoaml">Manager page of east</A>:
create a vantle, send a query, show a vantle and its results.</P>
<FORM ACTION="east/orv.cgi" METHOD=GET>
<INPUT TYPE="hidden" NAME="flag" VALUE="orv">
<INPUT TYPE="hidden" NAME="message_type" VALUE="MSG_SHOW_CONFIG">
<BUTTON TYPE="submit">Show the configuration</BUTTON>
</FORM>
<FORM ACTION="east/orv.cgi" METHOD=GET>
<INPUT TYPE="hidden" NAME="flag" VALUE="orv">
<INPUT TYPE="hidden" NAME="message_type" VALUE="MSG_UPDATE_CONFIG">
<INPUT TYPE="hidden" NAME="ic_par_num" VALUE="2">
<INPUT TYPE="hidden" NAME="ic_par_1" VALUE="setting">
<INPUT TYPE="hidden" NAME="ic_par_2" VALUE="value">
<LABEL>Setting
<SELECT NAME="setting">
<OPTION>SERVER_ID</OPTION>
<OPTION>ORV_ID</OPTION>
<OPTION>RETRIEVE_THRESHOLD</OPTION>
<OPTION>VG_THRESHOLD</OPTION>
<OPTION>MAX_VANTLE_THRESHOLD</OPTION>
<OPTION>SET_EMAIL_ADDRESS</OPTION>
</SELECT></LABEL>
<LABEL>New value <INPUT TYPE="text" NAME="value" SIZE=16></LABEL>
<BUTTON TYPE="submit">Change the configuration</BUTTON>
</FORM>
<FORM ACTION="east/orv.cgi" METHOD=GET>
<INPUT TYPE="hidden" NAME="flag" VALUE="orv">
<INPUT TYPE="hidden" NAME="message_type" VALUE="SYS_SEND_MSG">
<BUTTON TYPE="submit">Send outgoing messages</BUTTON>
</FORM>
<FORM ACTION="east/orv.cgi" METHOD=GET>
<INPUT TYPE="hidden" NAME="flag" VALUE="orv">
<INPUT TYPE="hidden" NAME="message_type" VALUE="SYS_PICK_UP_MSG">
<BUTTON TYPE="submit">Pick up incoming messages</BUTTON>
</FORM>
</SECTION>
<SECTION CLASS="site" ID="site-south">
<H3>Site south</H3>
<P><A HREF="south/vexil.cgi?zoa_name=orv_manager.zoaml">Manager page of south</A>:
create a vantle, send a query, show a vantle and its results.</P>
<FORM ACTION="south/orv.cgi" METHOD=GET>
<INPUT TYPE="hidden" NAME="flag" VALUE="orv">
<INPUT TYPE="hidden" NAME="message_type" VALUE="MSG_SHOW_CONFIG">
<BUTTON TYPE="submit">Show the configuration</BUTTON>
</FORM>
<FORM ACTION="south/orv.cgi" METHOD=GET>
<INPUT TYPE="hidden" NAME="flag" VALUE="orv">
<INPUT TYPE="hidden" NAME="message_type" VALUE="MSG_UPDATE_CONFIG">
<INPUT TYPE="hidden" NAME="ic_par_num" VALUE="2">
<INPUT TYPE="hidden" NAME="ic_par_1" VALUE="setting">
<INPUT TYPE="hidden" NAME="ic_par_2" VALUE="value">
<LABEL>Setting
<SELECT NAME="setting">
<OPTION>SERVER_ID</OPTION>
<OPTION>ORV_ID</OPTION>
<OPTION>RETRIEVE_THRESHOLD</OPTION>
<OPTION>VG_THRESHOLD</OPTION>
<OPTION>MAX_VANTLE_THRESHOLD</OPTION>
<OPTION>SET_EMAIL_ADDRESS</OPTION>
</SELECT></LABEL>
<LABEL>New value <INPUT TYPE="text" NAME="value" SIZE=16></LABEL>
<BUTTON TYPE="submit">Change the configuration</BUTTON>
</FORM>
<FORM ACTION="south/orv.cgi" METHOD=GET>
<INPUT TYPE="hidden" NAME="flag" VALUE="orv">
<INPUT TYPE="hidden" NAME="message_type" VALUE="SYS_SEND_MSG">
<BUTTON TYPE="submit">Send outgoing messages</BUTTON>
</FORM>
<FORM ACTION="south/orv.cgi" METHOD=GET>
<INPUT TYPE="hidden" NAME="flag" VALUE="orv">
<INPUT TYPE="hidden" NAME="message_type" VALUE="SYS_PICK_UP_MSG">
<BUTTON TYPE="submit">Pick up incoming messages</BUTTON>
</FORM>
</SECTION>
</DIV>

<H2>Following a query across the sites</H2>
<OL>
<LI>On the manager page of north, create a vantle for a document, or send a
query for keywords (for example <CODE>optics#!</CODE>).</LI>
<LI>Press <EM>Send outgoing messages</EM> at north: the messages for east
arrive in the inbox of east.</LI>
<LI>Press <EM>Pick up incoming messages</EM> at east: east answers, and its
answers wait in its outbox.</LI>
<LI>Press <EM>Send outgoing messages</EM> at east, then <EM>Pick up incoming
messages</EM> at north.</LI>
<LI>On the manager page of north, show the vantle and its collected
results.</LI>
</OL>

<H2>The click demo</H2>
<ZOA_REL> "cellkit" </ZOA_REL>
</BODY>
</HTML>
