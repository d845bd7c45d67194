// The answers as a person reads them: a status line above each answer,
// routine lines folded under "Details" with their count, the vantles and a
// query's results as tables with buttons, the carry button that does the
// whole exchange between four sites in one press, and the answer first in a
// narrow window.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { screenshot } from './lib/browser.mjs';
import { use_demo } from './lib/fixture.mjs';
import {
  answer,
  answer_status,
  answer_text,
  manager_form,
  navigation,
  open_manager,
  open_start,
  status_line,
  submit,
} from './lib/pages.mjs';

const env = use_demo('north east south west');

const comment = 'Café Müller — Ölbild am Fluß#!';

// Makes a vantle at a site with the manager page's create form.
async function create(page, site, doc_id, i_am, sym_name, i_comment = 'notes#!') {
  await open_manager(page, env.server, site);
  const form = manager_form(page, 'MSG_CREATE');
  await form.locator('input[name="doc_id"]').fill(doc_id);
  await form.locator('input[name="i_am"]').fill(i_am);
  await form.locator('input[name="i_comment"]').fill(i_comment);
  await form.locator('input[name="sym_name"]').fill(sym_name);
  await submit(page, form, 'Create the vantle');
}

// Presses a button inside the answer frame; waits for the next answer.
async function press_in_answer(page, name) {
  const frame = answer(page);
  await navigation(page, () => frame.getByRole('button', { name, exact: true }).first().click(), 'answer');
  await answer_status(answer(page));
}

test('a good request and a refused one each get their status line; routine lines are folded with their count', async () => {
  const page = await env.browser.new_page();
  // A keyword the site's list does not know makes a load error on every
  // later request of the site. A create with such a word is refused, so
  // the word is known while the vantle is made and forgotten afterwards,
  // as when an operator edits kb.txt.
  await create(page, 'south', 'odd-0', 'zzz#!', 'odd0');
  assert.equal(await answer_status(answer(page)), 'refused');
  const kb = env.server.read_site_text('south', 'kb.txt');
  env.server.write_site_file('south', '', 'kb.txt', `${kb}zzz\n`);
  await create(page, 'south', 'odd-1', 'zzz#!', 'odd');
  env.server.write_site_file('south', '', 'kb.txt', kb);
  assert.equal(await answer_status(answer(page)), 'done');
  assert.match(await status_line(answer(page)), /^Done: vantle 1 made for document "odd-1"/);
  await create(page, 'south', 'doc-s', 'physics#!', 'phys');

  // The list: 2 vantles; the routine lines are under Details, counted.
  await submit(page, manager_form(page, 'MSG_SHOW_ALL'), 'List all vantles');
  const frame = answer(page);
  assert.equal(await answer_status(frame), 'done');
  const raw = await answer_text(frame);
  const load = (raw.match(/Error: key word zzz not found|Error occurs in querying vantle/g) || []).length;
  assert.ok(load >= 2, raw);
  const details = frame.locator('#answer-details');
  const summary = await details.locator('summary').innerText();
  assert.match(summary, new RegExp(`^Details: ${load} error lines of the run folded$`));
  // Folded, not dropped: the lines are in the details part.
  assert.equal(await frame.locator('#answer-details pre').first().isVisible(), false);
  await details.locator('summary').click();
  assert.match(await details.innerText(), /Error: key word zzz not found/);
  assert.equal(await frame.locator('#vantles tbody tr').count(), 2);

  // A refused request: a setting that does not exist.
  const change = manager_form(page, 'MSG_UPDATE_CONFIG');
  // The box itself wants a key, "|" and a value; what it lets through the
  // site checks again.
  const setting = change.locator('input[name="content"]');
  for (const [text, valid] of [['COLOUR', false], ['COLOUR|', false], ['COLOUR|blue', true]]) {
    await setting.fill(text);
    assert.equal(await setting.evaluate((b) => b.checkValidity()), valid, text);
  }
  await submit(page, change, 'Change Configuration');
  assert.equal(await answer_status(answer(page)), 'refused');
  assert.equal(await status_line(answer(page)), 'Refused: Unknown Choice "COLOUR" with value blue. Check the box "Key|value". The site did not carry out this request. Correct the form and send it again.');
  const colour = await answer(page).locator('#answer-status').evaluate((e) => getComputedStyle(e).backgroundColor);
  assert.notEqual(colour, 'rgba(0, 0, 0, 0)');
  await screenshot(page, 'refused-request');

  await page.close();
});

test('the vantles are a table with a row and working buttons for each', async () => {
  const page = await env.browser.new_page();
  await create(page, 'east', 'doc-e1', 'physics#optics#!', 'optics_notes', comment);
  await create(page, 'east', 'doc-e2', 'music#!', 'music_notes');
  await submit(page, manager_form(page, 'MSG_SHOW_ALL'), 'List all vantles');
  let frame = answer(page);
  const rows = frame.locator('#vantles tbody tr');
  assert.equal(await rows.count(), 2);
  assert.deepEqual(await frame.locator('#vantles thead th').allInnerTexts(), ['Id', 'Name', 'Type', 'Document', 'Keywords', 'Actions']);
  const first = frame.locator('#vantles tbody tr[data-id="1"] td');
  assert.deepEqual((await first.allInnerTexts()).slice(0, 5), ['1', 'optics_notes', 'Archives', 'doc-e1', 'physics optics · lenses mirrors']);
  await screenshot(page, 'manager-page-vantle-table');

  // Show: the one vantle.
  await press_in_answer(page, 'Show');
  frame = answer(page);
  assert.match(await status_line(frame), /^Done: vantle 2 shown|^Done: vantle 1 shown/);
  assert.equal(await frame.locator('#vantles tbody tr').count(), 1);
  // Delete in a row: the vantle goes.
  await submit(page, manager_form(page, 'MSG_SHOW_ALL'), 'List all vantles');
  // Deleting asks first, naming the vantle; dismissed, nothing goes.
  const asked = [];
  page.once('dialog', (d) => {
    asked.push(d.message());
    d.dismiss();
  });
  await answer(page).locator('#vantles tr[data-id="2"]').getByRole('button', { name: 'Delete' }).click();
  await page.waitForTimeout(300);
  assert.deepEqual(asked, ['Delete vantle 2 "music_notes"? This cannot be undone.']);
  assert.equal(await answer(page).locator('#vantles tbody tr').count(), 2);
  page.once('dialog', (d) => d.accept());
  await navigation(page, () => answer(page).locator('#vantles tr[data-id="2"]').getByRole('button', { name: 'Delete' }).click(), 'answer');
  assert.match(await status_line(answer(page)), /^Done: vantle 2 deleted/);
  await submit(page, manager_form(page, 'MSG_SHOW_ALL'), 'List all vantles');
  assert.equal(await answer(page).locator('#vantles tbody tr').count(), 1);
  // Results in a row: a document vantle has none.
  await press_in_answer(page, 'Results');
  assert.equal(new URL(answer(page).url()).searchParams.get('message_type'), 'MSG_SHOW_VANTLE_RESULT');
  assert.notEqual(await answer_status(answer(page)), '');
  await page.close();
});

test('one press of the carry button takes a query from north to east and west and its answers back', async () => {
  const page = await env.browser.new_page();
  await create(page, 'west', 'doc-w1', 'optics#!', 'west_optics', comment);

  await open_manager(page, env.server, 'north');
  const query = page.locator('form').filter({ has: page.getByRole('button', { name: 'Send the query', exact: true }) });
  await query.locator('input[name="doc_id"]').fill('q-7');
  await query.locator('input[name="i_am"]').fill('optics#!');
  await query.locator('input[name="sym_name"]').fill('ask7');
  await submit(page, query, 'Send the query');
  assert.match(await status_line(answer(page)), /^Done: vantle 1 made for document "q-7"/);
  const results_button = answer(page).locator('#results-button');
  assert.equal(await results_button.locator('input[name="ic_id_list"]').inputValue(), '1');
  assert.equal(await results_button.getByRole('button').innerText(), 'Show the results of vantle 1');
  // Before the carry: no result yet.
  await press_in_answer(page, 'Show the results of vantle 1');
  assert.equal(await answer_status(answer(page)), 'nothing');

  await open_start(page, env.server, 'Four virtual sites');
  const north_row = page.locator('#waiting-table tr[data-site="north"] td');
  await page.waitForFunction(() => document.querySelector('#waiting-table tr[data-site="north"] td:nth-child(3)')?.textContent === '2');
  assert.deepEqual(await north_row.allInnerTexts(), ['north', '0', '2']);
  await page.getByRole('button', { name: 'Carry all messages', exact: true }).click();
  const log = page.locator('#carry-log');
  await log.locator('li', { hasText: /^(Finished|Stopped)/ }).waitFor({ timeout: 60000 });
  const steps = await log.locator('li').allInnerTexts();
  assert.match(steps.at(-1), /^Finished after 2 rounds: every inbox and outbox is empty\.$/, steps.join('\n'));
  assert.ok(steps.includes('Round 1, north, send: Done: 2 messages sent'), steps.join('\n'));
  assert.ok(steps.includes('Round 1, west, pick up: Done: 1 message picked up'), steps.join('\n'));
  assert.ok(steps.includes('Round 2, north, pick up: Done: 2 messages picked up'), steps.join('\n'));
  assert.deepEqual(await north_row.allInnerTexts(), ['north', '0', '0']);
  await screenshot(page, 'start-page-after-carry');

  // North now holds both documents: a table row each, text whole.
  await open_manager(page, env.server, 'north');
  const results = page.locator('form').filter({ has: page.getByRole('button', { name: 'Show the saved results', exact: true }) });
  await results.locator('input[name="ic_id_list"]').fill('1');
  await submit(page, results, 'Show the saved results');
  const frame = answer(page);
  assert.match(await status_line(frame), /^Done: \d documents found for query "q-7"/);
  const docs = await frame.locator('#results tbody tr td:first-child').allInnerTexts();
  assert.ok(docs.includes('doc-w1'), docs.join());
  assert.ok(docs.includes('doc-e1'), docs.join());
  const row = frame.locator('#results tbody tr', { hasText: 'doc-w1' });
  assert.equal(await row.locator('td').nth(5).innerText(), comment.slice(0, -2));
  await screenshot(page, 'manager-page-results-table');
  await page.close();
});

test('in a 400 px window the answer stands above the forms and stays in view', async () => {
  const page = await env.browser.new_page();
  await page.setViewportSize({ width: 400, height: 800 });
  await open_manager(page, env.server, 'east');
  const iframe = page.locator('iframe[name="answer"]');
  const first_form = page.locator('form').first();
  assert.ok((await iframe.boundingBox()).y < (await first_form.boundingBox()).y, 'the answer comes before the forms');
  // A form far down the page: its answer is in view at once.
  await submit(page, manager_form(page, 'MSG_SHOW_ALL'), 'List all vantles');
  const box = await iframe.boundingBox();
  assert.ok(box.y >= -1 && box.y + box.height <= 800, JSON.stringify(box));
  assert.ok(await page.evaluate(() => window.scrollY) > 800, 'the list form lies far down the page');
  // Labels wrap by words, never one letter a line.
  const th = page.locator('table.fields th').first();
  assert.ok((await th.boundingBox()).width > 100);
  assert.equal(await page.evaluate(() => document.documentElement.scrollWidth <= 400), true);
  await screenshot(page, 'narrow-400-manager', { full_page: false });
  await page.close();
});

test('the start page shows each site with what waits, and its answers with status lines', async () => {
  const page = await env.browser.new_page();
  await open_start(page, env.server, 'Four virtual sites');
  await page.waitForFunction(() => !/not counted/.test(document.querySelector('.waiting').textContent));
  assert.match(await page.locator('#site-east .waiting').innerText(), /^Waiting: \d+ in the inbox, \d+ in the outbox\.$/);
  const box = page.locator('#site-south');
  await navigation(page, () => box.getByRole('button', { name: 'Show the configuration', exact: true }).click(), 'answer-south');
  const frame = answer(page, 'south');
  assert.equal(await status_line(frame), 'Done: the configuration of this site');
  assert.deepEqual(await frame.locator('#settings tr', { hasText: 'VG_THRESHOLD' }).locator('td').allInnerTexts(), ['Virtual site distance threshold', 'VG_THRESHOLD', '9']);
  await screenshot(page, 'start-page-with-answer');
  await page.close();
});
