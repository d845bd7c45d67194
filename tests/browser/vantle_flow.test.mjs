// The life of a query vantle across the sites, done in the browser only:
// a document vantle at east, a query made at north on its manager page,
// the messages carried with the start page's buttons (send at north, pick
// up at east, send at east, pick up at north), then the query vantle and
// its results shown at north.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { screenshot } from './lib/browser.mjs';
import { use_demo } from './lib/fixture.mjs';
import { answer, manager_form, open_manager, open_start, press, shown_text, submit, answer_text } from './lib/pages.mjs';

const env = use_demo();

// What north shows once east's answer has come home: the saved document of
// east, as fused by east's copy of the query.
const saved_results =
  '*** Saved Query Results for document with id = q-1: ' +
  'Doc id: doc-001#! I am: physics#optics#! I love: optics#! I hate: ! ' +
  'I behave: #! I keyword: lenses#mirrors#! I comment: Notes on lenses and mirrors#! ' +
  '----------------------------------';

test('a query made at north collects the matching document of east', async () => {
  const page = await env.browser.new_page();

  // East: a vantle for a document, made with the create form sent exactly
  // as the page fills it (doc-001, i_am physics#optics#!, an Archives vantle).
  await open_manager(page, env.server, 'east');
  const create = manager_form(page, 'MSG_CREATE');
  assert.equal(await create.locator('input[name="doc_id"]').inputValue(), 'doc-001');
  assert.equal(await create.locator('input[name="i_behave"]').inputValue(), '!');
  assert.equal(await create.locator('input[name="i_comment"]').inputValue(),
               'Notes on lenses and mirrors#!');
  await submit(page, create, 'Create the vantle');
  let shown = await answer_text(answer(page));
  assert.match(shown, /Create a new Vantle 1 for Doc "doc-001"/);
  assert.match(shown, /Vantle 1 has the symbolic name "lens_notes"/);
  assert.doesNotMatch(shown, /sends an outgoing message/, 'a document vantle stays at home');
  assert.deepEqual(env.server.list_site_dir('east', 'outbox'), []);

  // North: the query, with the "Query the sites" form.
  await open_manager(page, env.server, 'north');
  const query = page
    .locator('form')
    .filter({ has: page.getByRole('button', { name: 'Send the query', exact: true }) });
  await query.locator('input[name="doc_id"]').fill('q-1');
  await query.locator('input[name="i_am"]').fill('optics#!');
  await query.locator('input[name="sym_name"]').fill('ask');
  await submit(page, query, 'Send the query');
  shown = await answer_text(answer(page));
  assert.match(shown, /Create a new Vantle 1 for Doc "q-1"/);
  assert.match(shown, /Vantle 1 has the symbolic name "ask"/);
  // The query leaves for east (distance 4), not for south (12).
  const out = shown.match(/\*\*\* This virtual site sends an outgoing message in file (\S+)/);
  assert.ok(out, `no outgoing message announced: ${shown}`);
  const to_east = out[1];
  assert.match(to_east, /^east\d+$/);
  assert.deepEqual(env.server.list_site_dir('north', 'outbox'), [to_east]);
  const moved = env.server.read_site_file('north', 'outbox', to_east);
  assert.match(moved, /\nq-1\|optics#!\|!\|!\|!\|!\|query#!\|Info_Gathering\|north\|1\n?$/);

  // Send at north: the file goes to east's inbox.
  await open_start(page, env.server);
  await press(page, 'north', 'Send outgoing messages');
  assert.equal(await answer_text(answer(page, 'north')), `Send the outgoing message: ${to_east}`);
  assert.deepEqual(env.server.list_site_dir('north', 'outbox'), []);
  assert.deepEqual(env.server.list_site_dir('east', 'inbox'), [to_east]);
  assert.deepEqual(env.server.list_site_dir('south', 'inbox'), []);

  // Pick up at east: the copy of the query asks east's vantles, the
  // document vantle matches and its answer waits in east's outbox.
  await press(page, 'east', 'Pick up incoming messages');
  shown = await answer_text(answer(page, 'east'));
  assert.match(shown, new RegExp(`Pick up an incoming message from file: inbox/${to_east}`));
  assert.match(shown, /Vantle q-1 has been moved\./);
  assert.match(shown, /query = optics#! Vantle 1 matches this query with i_am = physics#optics#!/);
  assert.match(shown, /Doc doc-001 Has been saved into info_list\. Total = 1\./);
  const back = shown.match(/\*\*\* This virtual site sends an outgoing message in file (\S+)/);
  assert.ok(back, `east announced no answer: ${shown}`);
  const to_north = back[1];
  assert.match(to_north, /^north\d+$/);
  assert.deepEqual(env.server.list_site_dir('east', 'inbox'), []);
  assert.deepEqual(env.server.list_site_dir('east', 'outbox'), [to_north]);

  // Send at east: the answer goes to north's inbox.
  await press(page, 'east', 'Send outgoing messages');
  assert.equal(await answer_text(answer(page, 'east')), `Send the outgoing message: ${to_north}`);
  assert.deepEqual(env.server.list_site_dir('east', 'outbox'), []);
  assert.deepEqual(env.server.list_site_dir('north', 'inbox'), [to_north]);

  // Pick up at north: the answer is saved, announced and shown.
  await press(page, 'north', 'Pick up incoming messages');
  shown = await answer_text(answer(page, 'north'));
  assert.match(shown, new RegExp(`Pick up an incoming message from file: inbox/${to_north}`));
  assert.match(shown, /Doc doc-001#! Has been saved into info_list\. Total = 1\./);
  assert.match(
    shown,
    /\*\*\* Query results from the REMOTE sites are available for your document with ID = q-1/,
  );
  assert.ok(shown.includes(saved_results), `no saved results: ${shown}`);
  assert.deepEqual(env.server.list_site_dir('north', 'inbox'), []);
  assert.deepEqual(env.server.list_site_dir('north', 'outbox'), []);

  // Show the query vantle at north, then its collected results.
  await open_manager(page, env.server, 'north');
  const show = page
    .locator('form')
    .filter({ has: page.getByRole('button', { name: 'Show the vantle', exact: true }) });
  await show.locator('input[name="ic_id_list"]').fill('1');
  await submit(page, show, 'Show the vantle');
  shown = await answer_text(answer(page));
  for (const line of [
    'Vantle symbolic name = ask',
    'Vantle ic_id = 1',
    'Vantle orv_id = north',
    'Vantle copy_mark = s',
    'Vantle type = Info_Gathering',
    'doc_id = q-1',
    'i_am = optics#!',
    'i_comment = query',
  ]) {
    assert.ok(shown.includes(line), `the vantle shown lacks "${line}": ${shown}`);
  }

  const results = page
    .locator('form')
    .filter({ has: page.getByRole('button', { name: 'Show the saved results', exact: true }) });
  await results.locator('input[name="ic_id_list"]').fill('1');
  await submit(page, results, 'Show the saved results');
  assert.equal(new URL(answer(page).url()).searchParams.get('message_type'), 'MSG_SHOW_VANTLE_RESULT');
  shown = await answer_text(answer(page));
  assert.ok(shown.includes(saved_results), `no results shown: ${shown}`);
  await screenshot(page, 'vantle-results-north');
  await page.close();
});
