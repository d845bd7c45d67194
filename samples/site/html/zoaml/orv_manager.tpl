<HTML>
<HEAD><TITLE>Virtual site manager</TITLE></HEAD>
<BODY>
<H1>Virtual site manager</H1>
<P>Every form of this page sends one message to the site manager. What the
fields mean is told on the <ZOA_REL> "help" </ZOA_REL></P>
<ZOA_REL> "map" </ZOA_REL>

<HR>
<H2>Create a vantle for a document</H2>
<FORM ACTION="orv.cgi" METHOD=GET>
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
<TABLE BORDER=2 CELLPADDING=2>
<TR><TH>Document id</TH><TD><INPUT TYPE="text" NAME="doc_id" SIZE=40 VALUE="<ZOA_INPBOX_PAR>"></TD></TR>
<TR><TH>I am (keywords)</TH><TD><INPUT TYPE="text" NAME="i_am" SIZE=40 VALUE="<ZOA_INPBOX_PAR>"></TD></TR>
<TR><TH>I love</TH><TD><INPUT TYPE="text" NAME="i_love" SIZE=40 VALUE="<ZOA_INPBOX_PAR>"></TD></TR>
<TR><TH>I hate</TH><TD><INPUT TYPE="text" NAME="i_hate" SIZE=40 VALUE="<ZOA_INPBOX_PAR>"></TD></TR>
<TR><TH>I behave</TH><TD><INPUT TYPE="text" NAME="i_behave" SIZE=40 VALUE="<ZOA_INPBOX_PAR>"></TD></TR>
<TR><TH>Keywords</TH><TD><INPUT TYPE="text" NAME="i_keyword" SIZE=40 VALUE="<ZOA_INPBOX_PAR>"></TD></TR>
<TR><TH>Comment</TH><TD><INPUT TYPE="text" NAME="i_comment" SIZE=40 VALUE="<ZOA_INPBOX_PAR>"></TD></TR>
<TR><TH>Vantle type</TH><TD>
<INPUT TYPE="radio" NAME="vantle_type" VALUE="Archives" <ZOA_RADIO_PAR>>Archives
<INPUT TYPE="radio" NAME="vantle_type" VALUE="Site_Building" <ZOA_RADIO_PAR>>Site building
<INPUT TYPE="radio" NAME="vantle_type" VALUE="Profile" <ZOA_RADIO_PAR>>Profile
<INPUT TYPE="radio" NAME="vantle_type" VALUE="Info_Gathering" <ZOA_RADIO_PAR>>Information gathering
</TD></TR>
<TR><TH>Symbolic name</TH><TD><INPUT TYPE="text" NAME="sym_name" SIZE=40 VALUE="<ZOA_INPBOX_PAR>"></TD></TR>
</TABLE>
<ZOA_DB_HERE>
<INPUT TYPE="submit" NAME="button" VALUE="Create the vantle">
</FORM>

<HR>
<H2>Query the sites</H2>
<P>A query is a vantle of type Info_Gathering: it travels to the nearby sites
and collects the documents whose keywords match.</P>
<FORM ACTION="orv.cgi" METHOD=GET>
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
<TABLE BORDER=2 CELLPADDING=2>
<TR><TH>Query id</TH><TD><INPUT TYPE="text" NAME="doc_id" SIZE=40></TD></TR>
<TR><TH>Keywords, for example optics#!</TH><TD><INPUT TYPE="text" NAME="i_am" SIZE=40></TD></TR>
<TR><TH>Symbolic name</TH><TD><INPUT TYPE="text" NAME="sym_name" SIZE=40></TD></TR>
</TABLE>
<INPUT TYPE="submit" NAME="button" VALUE="Send the query">
</FORM>

<HR>
<H2>Show vantles</H2>
<FORM ACTION="orv.cgi" METHOD=GET>
<INPUT TYPE="hidden" NAME="flag" VALUE="old">
<INPUT TYPE="hidden" NAME="ic_type" VALUE="VANTLE">
Vantle id: <INPUT TYPE="text" NAME="ic_id_list" SIZE=10>
<SELECT NAME="message_type">
<OPTION VALUE="MSG_SHOW_ALL" SELECTED>the vantle
<OPTION VALUE="MSG_SHOW_VANTLE_RESULT">its collected results
</SELECT>
<INPUT TYPE="submit" NAME="button" VALUE="Show">
</FORM>

<HR>
<H2>Delete a vantle</H2>
<FORM ACTION="orv.cgi" METHOD=GET>
<INPUT TYPE="hidden" NAME="flag" VALUE="old">
<INPUT TYPE="hidden" NAME="ic_type" VALUE="VANTLE">
<INPUT TYPE="hidden" NAME="message_type" VALUE="MSG_DELETE">
Vantle id: <INPUT TYPE="text" NAME="ic_id_list" SIZE=10>
<INPUT TYPE="submit" NAME="button" VALUE="Delete the vantle">
</FORM>
<FORM ACTION="orv.cgi" METHOD=GET>
<INPUT TYPE="hidden" NAME="flag" VALUE="old">
<INPUT TYPE="hidden" NAME="ic_type" VALUE="VANTLE">
<INPUT TYPE="hidden" NAME="ic_id_list" VALUE="-1">
<INPUT TYPE="hidden" NAME="message_type" VALUE="MSG_MOVE_DELETE">
Document id: <INPUT TYPE="text" NAME="content" SIZE=40>
<INPUT TYPE="submit" NAME="button" VALUE="Delete the vantle of this document">
</FORM>

<HR>
<H2>Site configuration</H2>
<FORM ACTION="orv.cgi" METHOD=GET>
<INPUT TYPE="hidden" NAME="flag" VALUE="orv">
<INPUT TYPE="hidden" NAME="message_type" VALUE="MSG_SHOW_CONFIG">
<INPUT TYPE="submit" NAME="button" VALUE="Show the configuration">
</FORM>
<FORM ACTION="orv.cgi" METHOD=GET>
<INPUT TYPE="hidden" NAME="flag" VALUE="orv">
<INPUT TYPE="hidden" NAME="message_type" VALUE="MSG_UPDATE_CONFIG">
Change (KEY|value, for example ORV_ID|north):
<INPUT TYPE="text" NAME="content" SIZE=40>
<INPUT TYPE="submit" NAME="button" VALUE="Change Configuration">
</FORM>

<HR>
<H2>Messages of other sites</H2>
<FORM ACTION="orv.cgi" METHOD=GET>
<INPUT TYPE="hidden" NAME="flag" VALUE="orv">
<INPUT TYPE="hidden" NAME="message_type" VALUE="SYS_PICK_UP_MSG">
<INPUT TYPE="submit" NAME="button" VALUE="Pick up incoming messages">
</FORM>
<FORM ACTION="orv.cgi" METHOD=GET>
<INPUT TYPE="hidden" NAME="flag" VALUE="orv">
<INPUT TYPE="hidden" NAME="message_type" VALUE="SYS_SEND_MSG">
<INPUT TYPE="submit" NAME="button" VALUE="Send outgoing messages">
</FORM>

<HR>
<H2>Any other message to a vantle</H2>
<ZOA_IC_INPUT>
</BODY>
</HTML>
