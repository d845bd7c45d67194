<!DOCTYPE html>
<HTML LANG="en">
<HEAD>
<META CHARSET="utf-8">
<META NAME="viewport" CONTENT="width=device-width, initial-scale=1">
<TITLE>Answer of @ORV_ID@</TITLE>
<style>
body { font-family: sans-serif; margin: 1em; max-width: 70em; line-height: 1.35; }
iframe { width: 100%; height: 75vh; box-sizing: border-box; border: 2px solid #1c4f9c; border-radius: 6px; }
</style>
</HEAD>
<BODY>
<HEADER>
<H1 ID="answer-page-head">Answer of @ORV_ID@</H1>
<NAV><A HREF="vexil.cgi?zoa_name=orv_manager.zoaml">Back to the manager page of @ORV_ID@</A></NAV>
</HEADER>
<MAIN>
<P ID="answer-request">The site @ORV_ID@ (server id <CODE>@SERVER_ID@</CODE>) answered the request below.</P>
<IFRAME NAME="answer" TITLE="Answer of @ORV_ID@" SRCDOC="&lt;html lang='en'&gt;&lt;title&gt;Answer of @ORV_ID@&lt;/title&gt;&lt;p&gt;The answer of @ORV_ID@ is being read.&lt;/p&gt;"></IFRAME>
</MAIN>
<script>
<ZOA_REL> "answer_view" </ZOA_REL>
</script>
<script>
// The answer of a request that only reads the site, shown on a page of its
// own: the request is the "request" field of this page's address.
const frame = document.querySelector('iframe[name="answer"]');
answerView.watch(frame, { fit: true });
frame.addEventListener('answershown', () => {
  const status = frame.contentDocument.getElementById('answer-status');
  if (status) document.title = `Answer of @ORV_ID@: ${status.firstChild.textContent}`;
});
const request = new URLSearchParams(location.search).get('request') || '';
if (request) {
  const url = new URL('orv.cgi', location.href);
  url.search = request;
  frame.removeAttribute('srcdoc');
  frame.src = url.href;
} else {
  document.getElementById('answer-request').textContent = 'This page shows an answer of @ORV_ID@ when its address names the request.';
}
</script>
</BODY>
</HTML>
