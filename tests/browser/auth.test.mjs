// The demo behind a password (AUTH): the pages say so, a refused login
// shows the demo's own page in the answer frame, and reloading the frame
// afterwards tells that nothing was changed.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { screenshot } from './lib/browser.mjs';
import { use_demo } from './lib/fixture.mjs';
import { answer, manager_form, navigation, open_manager, open_start, shown_text } from './lib/pages.mjs';

const env = use_demo(undefined, 'keeper:s3cret');

test('the pages say that the site asks for its password', async () => {
  const page = await env.browser.new_page();
  await open_start(page, env.server);
  assert.match(await page.locator('#auth-note').innerText(), /ask for a user name and password \(user keeper\)/);
  await open_manager(page, env.server, 'north');
  assert.match(await page.locator('#auth-note').innerText(), /asks for its user name and password \(user keeper\)/);
  await page.close();
});

test('a refused login shows the demo\'s page, and a reload claims no change', async () => {
  // A wrong password: the browser gives it, the server refuses it.
  await env.browser.context.setHTTPCredentials({ username: 'keeper', password: 'wrong' });
  const page = await env.browser.new_page();
  await open_manager(page, env.server, 'east');
  page.on('dialog', (d) => d.accept());
  const form = manager_form(page, 'MSG_DELETE');
  await form.locator('input[name="ic_id_list"]').fill('1');
  const r = await navigation(page, () => form.getByRole('button', { name: 'Delete the vantle', exact: true }).click(), 'answer');
  assert.equal(r.status(), 401);
  const frame = answer(page);
  await frame.locator('#login-refused').waitFor();
  assert.match(await shown_text(frame), /^Refused: this site asks for its user name and password.*Nothing was done/);
  await screenshot(page, 'refused-login', { full_page: false });
  // The frame's history holds the note page: reloading sends nothing.
  await page.waitForFunction(() => /answer_refused/.test(document.querySelector('iframe[name="answer"]').contentWindow.location.href));
  await navigation(page, () => frame.evaluate(() => location.reload()), 'answer');
  const text = await shown_text(answer(page));
  assert.match(text, /^Refused: the site east asked for its user name and password/);
  assert.match(text, /Nothing was changed\./);
  await page.close();
});
