// Requests that go wrong get their error page, and the server goes on
// serving; the sites' own files are never served.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { screenshot } from './lib/browser.mjs';
import { use_demo } from './lib/fixture.mjs';
import { answer, navigation, open, open_start, press, set_input, shown_text, site_box, answer_text } from './lib/pages.mjs';

const env = use_demo();

// After an error the start page and a site's manager still answer.
async function still_serving(page) {
  await open_start(page, env.server);
  await press(page, 'north', 'Show the configuration');
  assert.match(await answer_text(answer(page, 'north')), /^SERVER ID = srv1 ORV ID = north /);
}

test('a form the decoder cannot read gets its error page', async () => {
  const page = await env.browser.new_page();
  await open_start(page, env.server);
  // The configuration form of north, sent as multipart form data.
  const form = site_box(page, 'north').locator('form').first();
  await form.evaluate((f) => {
    f.method = 'post';
    f.enctype = 'multipart/form-data';
  });
  const r = await navigation(page, () => form.getByRole('button').click(), 'answer-north');
  assert.equal(r.status(), 200);
  assert.match(await answer_text(answer(page, 'north')), /No content type was passed to formpump\./);
  await screenshot(page, 'error-malformed-form');
  await still_serving(page);
  await page.close();
});

test('a wrong flag gets its error page', async () => {
  const page = await env.browser.new_page();
  await open_start(page, env.server);
  await set_input(page, '#site-east form:first-of-type input[name="flag"]', 'bogus');
  await press(page, 'east', 'Show the configuration');
  assert.equal(await answer_text(answer(page, 'east')), 'Unexpected flag value bogus');
  await still_serving(page);
  await page.close();
});

test('an unknown message type gets its error page', async () => {
  const page = await env.browser.new_page();
  await open_start(page, env.server);
  await set_input(page, '#site-south form:first-of-type input[name="message_type"]', 'FOO');
  await press(page, 'south', 'Show the configuration');
  assert.equal(await answer_text(answer(page, 'south')), 'Unknown message type: FOO');
  await still_serving(page);
  await page.close();
});

test('a form without a message type gets its error page', async () => {
  const page = await env.browser.new_page();
  await open(page, env.server.url('north/orv.cgi?flag=orv'));
  assert.equal(await shown_text(page), 'Lack of Message Type.');
  await still_serving(page);
  await page.close();
});

test('a missing page gets its error page', async () => {
  const page = await env.browser.new_page();
  await open(page, env.server.url('east/vexil.cgi?zoa_name=no_such_page'));
  assert.equal(await shown_text(page), "The file no_such_page.zoaml doesn't exist.");
  await open(page, env.server.url('vexil.cgi?zoa_name=start_page'));
  assert.equal(await shown_text(page), "The file start_page.zoaml doesn't exist.");
  await still_serving(page);
  await page.close();
});

test('the sites\' own files are not served', async () => {
  const page = await env.browser.new_page();
  for (const rel of [
    'north/html/config.txt',
    'east/html/kb.txt',
    'south/html/orv_ftp_put.cmd',
    'north/html/dump_file',
    'north/html/',
    'east/html/zoaml/orv_manager.tpl',
    'html/zoaml/start.zoaml',
    'north/%68tml/config.txt',
  ]) {
    const r = await page.goto(env.server.url(rel));
    assert.equal(r.status(), 403, `${rel} answered ${r.status()}`);
  }
  // What the pages need is served.
  const r = await page.goto(env.server.url('east/S-Event_Data/Images/site_map.svg'));
  assert.equal(r.status(), 200);
  assert.equal(r.headers()['content-type'], 'image/svg+xml');
  await page.close();
});
