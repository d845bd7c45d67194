// Typing mistakes on the manager page: a comment or keywords typed without
// their end are mended, an id that is not a whole number deletes nothing,
// and showing an id that no vantle has leaves the cells as they were.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { use_demo } from './lib/fixture.mjs';
import { answer, manager_form, open_manager, open_start, press, shown_text, submit, answer_text } from './lib/pages.mjs';

const env = use_demo();

const comment = 'Óptica del sur – 東京';

// The form of the manager page that holds the given button.
function form_with(page, button) {
  return page.locator('form').filter({ has: page.getByRole('button', { name: button, exact: true }) });
}

// The ids of the cells a site stores (its file.ic).
function stored_ids(site) {
  return [...env.server.read_site_file(site, 'file.ic').matchAll(/^id: (\d+)$/gm)].map((m) => m[1]).sort();
}

// Fills the id of a one-field form of the manager page and sends it past
// the browser's own check of the box (the site's check is what is tested),
// after seeing that the browser's check agrees with the site's rule.
async function send_id(page, button, id) {
  const form = form_with(page, button);
  const box = form.locator('input[name="ic_id_list"]');
  await box.fill(id);
  assert.equal(await box.evaluate((b) => b.checkValidity()), /^[+-]?[0-9]+( .*)?$/.test(id), `the box's own check of "${id}"`);
  await form.evaluate((f) => { f.noValidate = true; });
  await submit(page, form, button);
  return answer_text(answer(page));
}

let query_id = '';

test('a comment and keywords typed without their end make one vantle, shown whole in results', async () => {
  const page = await env.browser.new_page();
  await open_manager(page, env.server, 'east');
  const create = manager_form(page, 'MSG_CREATE');
  await create.locator('input[name="doc_id"]').fill('doc-sur');
  await create.locator('input[name="i_am"]').fill('optics');
  await create.locator('input[name="i_keyword"]').fill('lenses#mirrors');
  await create.locator('input[name="i_comment"]').fill(comment);
  await create.locator('input[name="sym_name"]').fill('sur');
  await submit(page, create, 'Create the vantle');
  assert.match(await answer_text(answer(page)), /Create a new Vantle 1 for Doc "doc-sur"/);
  assert.deepEqual(stored_ids('east'), ['1']);
  // Sent again, the form is refused for its name and makes no second vantle.
  await submit(page, create, 'Create the vantle');
  assert.match(await answer_text(answer(page)), /The value "sur" of sym_name is refused/);
  assert.deepEqual(stored_ids('east'), ['1']);

  // A query from north, its keyword also typed without "#!", finds it.
  await open_manager(page, env.server, 'north');
  const query = form_with(page, 'Send the query');
  await query.locator('input[name="doc_id"]').fill('q-sur');
  await query.locator('input[name="i_am"]').fill('optics');
  await query.locator('input[name="sym_name"]').fill('ask_sur');
  await submit(page, query, 'Send the query');
  const made = (await answer_text(answer(page))).match(/Create a new Vantle (\d+) for Doc/);
  assert.ok(made, await answer_text(answer(page)));
  query_id = made[1];
  await open_start(page, env.server);
  await press(page, 'north', 'Send outgoing messages');
  await press(page, 'east', 'Pick up incoming messages');
  await press(page, 'east', 'Send outgoing messages');
  await press(page, 'north', 'Pick up incoming messages');

  await open_manager(page, env.server, 'north');
  const results = await send_id(page, 'Show the saved results', query_id);
  assert.ok(results.includes(`I comment: ${comment}#!`), results);
  assert.ok(results.includes('I keyword: lenses#mirrors#!'), results);
  await page.close();
});

test('"12abc" in Delete the vantle deletes nothing and says why', async () => {
  const page = await env.browser.new_page();
  await open_manager(page, env.server, 'east');
  // Deleting asks first; here each is confirmed.
  page.on('dialog', (d) => d.accept());
  const before = stored_ids('east');
  for (const id of ['12abc', '1abc', '1.5']) {
    const said = await send_id(page, 'Delete the vantle', id);
    assert.ok(said.includes(`Unexpected ic_id_list value ${id}: the list must begin with a whole number`), said);
    assert.ok(!said.includes('has been deleted'), said);
  }
  assert.deepEqual(stored_ids('east'), before);
  await page.close();
});

test('showing an id that no vantle has leaves the number of cells unchanged', async () => {
  const page = await env.browser.new_page();
  await open_manager(page, env.server, 'north');
  const before = stored_ids('north');
  for (const button of ['Show the vantle', 'Show the saved results']) {
    for (let i = 0; i < 2; ++i) {
      const said = await send_id(page, button, '99');
      assert.ok(said.includes('No cell has id 99'), said);
    }
  }
  assert.deepEqual(stored_ids('north'), before);
  // And the answers that follow do not begin with errors of stray cells.
  const shown = await send_id(page, 'Show the vantle', query_id);
  assert.ok(!shown.includes('Error occurs in querying vantle'), shown);
  await page.close();
});
