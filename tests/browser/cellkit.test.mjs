// The click demo: reached from the start page, a SINGLECLICK makes a CLICK
// cell and a DOUBLECLICK sent to that cell fires its second transition.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { test } from 'node:test';

import { screenshot } from './lib/browser.mjs';
import { use_demo } from './lib/fixture.mjs';
import { answer, navigation, open, open_start, shown_text, submit } from './lib/pages.mjs';

const env = use_demo();

const click_page = 'cellkit/vexil.cgi?zoa_name=click.zoaml';

// The form of the click page that holds the given button.
function click_form(page, button) {
  return page.locator('form').filter({ has: page.getByRole('button', { name: button, exact: true }) });
}

// The current state of each stored CLICK cell, by id (the demo's file.ic).
function stored_states() {
  const states = {};
  let id = null;
  for (const line of env.server.read_site_file('cellkit', 'file.ic').split('\n')) {
    const m = line.match(/^(id|current state): (-?\d+)$/);
    if (m && m[1] === 'id') id = m[2];
    else if (m && id !== null) states[id] = m[2];
  }
  return states;
}

// Opens the click page and checks that it is the click page.
async function open_click_page(page) {
  await open(page, env.server.url(click_page));
  assert.equal(await page.title(), 'Click demo');
}

test('the start page leads to the click demo page', async () => {
  const page = await env.browser.new_page();
  await open_start(page, env.server);
  const link = page.getByRole('link', { name: 'click', exact: true });
  assert.equal(await link.getAttribute('href'), click_page);
  const r = await navigation(page, () => link.click());
  assert.equal(r.status(), 200);
  assert.equal(page.url(), env.server.url(click_page));
  assert.equal(await page.title(), 'Click demo');
  assert.deepEqual(await page.getByRole('heading', { level: 2 }).allInnerTexts(), [
    'Single click: a new cell',
    'Double click: an existing cell',
    'Any message',
    'Answer',
  ]);
  assert.ok(await page.getByRole('button', { name: 'SINGLECLICK', exact: true }).isVisible());
  assert.ok(await page.getByRole('button', { name: 'DOUBLECLICK', exact: true }).isVisible());
  assert.equal(await click_form(page, 'DOUBLECLICK').locator('input[name="ic_id_list"]').inputValue(), '1');
  // Both forms go to the demo's manager.
  const actions = await page.locator('form').evaluateAll((forms) => forms.map((f) => f.getAttribute('action')));
  assert.ok(actions.includes('cellkit.cgi'), `forms go to ${actions}`);
  await screenshot(page, 'click-demo-page');
  await page.close();
});

test('a SINGLECLICK makes a cell and a DOUBLECLICK on it fires its second transition', async () => {
  const page = await env.browser.new_page();
  // No cell is stored yet.
  assert.equal(fs.existsSync(env.server.site_file('cellkit', 'file.ic')), false);

  await open_click_page(page);
  await submit(page, click_form(page, 'SINGLECLICK'), 'SINGLECLICK');
  assert.equal(new URL(answer(page).url()).pathname, '/cellkit/cellkit.cgi');
  assert.equal(page.url(), env.server.url(click_page), 'the answer stands beside the forms');
  assert.equal(await shown_text(answer(page)), 'Single click!');
  assert.deepEqual(stored_states(), { 1: '1' }, 'cell 1 waits in state 1');

  await open_click_page(page);
  const double = click_form(page, 'DOUBLECLICK');
  await double.locator('input[name="ic_id_list"]').fill('1');
  const sent = page.waitForRequest((r) => r.url().endsWith('/cellkit/cellkit.cgi'));
  await submit(page, double, 'DOUBLECLICK');
  assert.equal((await sent).method(), 'POST');
  assert.equal(new URLSearchParams((await sent).postData()).get('ic_id_list'), '1');
  assert.equal(await shown_text(answer(page)), 'double click');
  assert.deepEqual(stored_states(), { 1: '0' }, 'cell 1 is back in state 0');

  // The cell is back in its first state: another DOUBLECLICK has no
  // transition to fire and shows nothing, a SINGLECLICK makes a new cell.
  await open_click_page(page);
  await submit(page, click_form(page, 'DOUBLECLICK'), 'DOUBLECLICK');
  assert.equal(await shown_text(answer(page)), '');
  assert.deepEqual(stored_states(), { 1: '0' });
  await open_click_page(page);
  await submit(page, click_form(page, 'SINGLECLICK'), 'SINGLECLICK');
  assert.equal(await shown_text(answer(page)), 'Single click!');
  assert.deepEqual(stored_states(), { 1: '0', 2: '1' });

  // The server still serves the demo's and the sites' pages.
  await open_click_page(page);
  await open_start(page, env.server);
  await page.close();
});
