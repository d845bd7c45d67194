// The pages for everyone: axe-core finds no critical or serious violation
// and html-validate no error on the start page, a manager page and the
// answers of a list, a query's results and a refusal.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { screenshot } from './lib/browser.mjs';
import { axe_violations, frame_markup, html_errors } from './lib/checks.mjs';
import { use_demo } from './lib/fixture.mjs';
import { answer, answer_status, manager_form, open_manager, open_start, submit } from './lib/pages.mjs';

const env = use_demo();

// The markup the server sends for a page.
async function served(url) {
  return (await fetch(url)).text();
}

async function clean(frame, markup, what) {
  assert.deepEqual(await axe_violations(frame), [], `${what}: axe`);
  assert.deepEqual(await html_errors(markup), [], `${what}: html-validate`);
}

test('the start page and a manager page', async () => {
  const page = await env.browser.new_page();
  await open_start(page, env.server);
  await clean(page.mainFrame(), await served(page.url()), 'start page');
  await open_manager(page, env.server, 'north');
  await clean(page.mainFrame(), await served(page.url()), 'manager page');
  await screenshot(page, 'manager-page-top', { full_page: false });
  await page.close();
});

test('the answers of a list, a query\'s results and a refusal', async () => {
  const page = await env.browser.new_page();
  await open_manager(page, env.server, 'north');
  await submit(page, manager_form(page, 'MSG_CREATE'), 'Create the vantle');
  await submit(page, manager_form(page, 'MSG_SHOW_ALL'), 'List all vantles');
  assert.equal(await answer_status(answer(page)), 'done');
  await clean(answer(page), await frame_markup(answer(page)), 'list');

  const query = page.locator('form').filter({ has: page.getByRole('button', { name: 'Send the query', exact: true }) });
  await submit(page, query, 'Send the query');
  const results = page.locator('form').filter({ has: page.getByRole('button', { name: 'Show the saved results', exact: true }) });
  await results.locator('input[name="ic_id_list"]').fill('2');
  await submit(page, results, 'Show the saved results');
  assert.notEqual(await answer_status(answer(page)), '');
  await clean(answer(page), await frame_markup(answer(page)), 'results');

  const change = manager_form(page, 'MSG_UPDATE_CONFIG');
  await change.locator('input[name="content"]').fill('COLOUR|blue');
  await submit(page, change, 'Change Configuration');
  assert.equal(await answer_status(answer(page)), 'refused');
  await clean(answer(page), await frame_markup(answer(page)), 'refusal');
  // The box the refusal names is marked on the page.
  assert.equal(await change.locator('input[name="content"]').getAttribute('aria-invalid'), 'true');
  assert.deepEqual(await axe_violations(page.mainFrame()), [], 'manager page after a refusal: axe');
  await screenshot(page, 'refusal-marked', { full_page: false });
  await page.close();
});
