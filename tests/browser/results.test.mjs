// A query's results as values: after one carry with two queries of north
// waiting, each query has its own block, each document once with the site
// that answered it, ranked by its distance to the query in north's keyword
// hierarchy; deleting the vantle of an unknown document says that nothing
// was found, without the site's internal lines.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { screenshot } from './lib/browser.mjs';
import { use_demo } from './lib/fixture.mjs';
import { answer, answer_status, manager_form, open_manager, open_start, shown_text, status_line, submit } from './lib/pages.mjs';

const env = use_demo('north east south west');

async function create(page, site, doc_id, i_am, sym_name) {
  await open_manager(page, env.server, site);
  const form = manager_form(page, 'MSG_CREATE');
  await form.locator('input[name="doc_id"]').fill(doc_id);
  await form.locator('input[name="i_am"]').fill(i_am);
  await form.locator('input[name="sym_name"]').fill(sym_name);
  await submit(page, form, 'Create the vantle');
  assert.equal(await answer_status(answer(page)), 'done');
}

async function ask(page, doc_id, i_am, sym_name) {
  const query = page.locator('form').filter({ has: page.getByRole('button', { name: 'Send the query', exact: true }) });
  await query.locator('input[name="doc_id"]').fill(doc_id);
  await query.locator('input[name="i_am"]').fill(i_am);
  await query.locator('input[name="sym_name"]').fill(sym_name);
  await submit(page, query, 'Send the query');
  assert.equal(await answer_status(answer(page)), 'done');
}

test('two queries carried at once: a block each, each document once, ranked', async () => {
  const page = await env.browser.new_page();
  await create(page, 'east', 'doc-e1', 'optics#!', 'e_optics');
  await create(page, 'east', 'doc-e2', 'mechanics#!', 'e_mech');
  await create(page, 'west', 'doc-w1', 'physics#!', 'w_phys');
  await open_manager(page, env.server, 'north');
  await ask(page, 'q-optics', 'optics#!', 'ask_optics');
  await ask(page, 'q-mech', 'mechanics#!', 'ask_mech');

  await open_start(page, env.server, 'Four virtual sites');
  await page.getByRole('button', { name: 'Carry all messages', exact: true }).click();
  await page.locator('#carry-log li', { hasText: /^(Finished|Stopped)/ }).waitFor({ timeout: 60000 });
  assert.match(await page.locator('#carry-log li').last().innerText(), /^Finished/);

  await open_manager(page, env.server, 'north');
  const results = page.locator('form').filter({ has: page.getByRole('button', { name: 'Show the saved results', exact: true }) });
  await results.locator('input[name="ic_id_list"]').fill('-1');
  await submit(page, results, 'Show the saved results');
  const frame = answer(page);
  assert.equal(await answer_status(frame), 'done');
  const blocks = frame.locator('section.query-block');
  assert.equal(await blocks.count(), 2);
  const seen = {};
  for (let i = 0; i < 2; i++) {
    const block = blocks.nth(i);
    const head = await block.locator('h2').innerText();
    const rows = block.locator('tbody tr');
    const docs = await rows.evaluateAll((trs) =>
      trs.map((tr) => ({ doc: tr.dataset.doc, rank: Number(tr.dataset.rank), site: tr.querySelector('td.site').textContent })),
    );
    // Each document once, in rank order, each with a site.
    assert.equal(new Set(docs.map((d) => d.doc)).size, docs.length, JSON.stringify(docs));
    assert.deepEqual(docs.map((d) => d.rank), [...docs.map((d) => d.rank)].sort((a, b) => a - b));
    for (const d of docs) assert.ok(['east', 'west', 'unknown site'].includes(d.site), JSON.stringify(d));
    // Keywords are words.
    for (const keys of await block.locator('td.keys').allInnerTexts()) assert.doesNotMatch(keys, /#|!/);
    assert.doesNotMatch(await block.locator('h2').innerText(), /#|!/);
    seen[head.includes('q-optics') ? 'optics' : 'mech'] = docs;
  }
  // Every document the sites hold is found by both queries (all lie within
  // the retrieval threshold of each other), and comes back once per query.
  for (const docs of Object.values(seen)) assert.deepEqual(docs.map((d) => d.doc).sort(), ['doc-e1', 'doc-e2', 'doc-w1']);
  // The nearest document comes first: optics for the optics query.
  assert.equal(seen.optics[0].doc === 'doc-e1' || seen.optics[0].doc === 'doc-e2', true);
  assert.equal(seen.mech[0].doc === 'doc-e1' || seen.mech[0].doc === 'doc-e2', true);
  await screenshot(page, 'results-two-queries');
  await page.close();
});

test('deleting the vantle of an unknown document says nothing was found', async () => {
  const page = await env.browser.new_page();
  await open_manager(page, env.server, 'south');
  const form = manager_form(page, 'MSG_MOVE_DELETE');
  await form.locator('input[name="content"]').fill('no-such-doc');
  page.once('dialog', (d) => d.accept());
  await submit(page, form, 'Delete the vantle of this document');
  const frame = answer(page);
  assert.equal(await answer_status(frame), 'nothing');
  assert.equal(await status_line(frame), 'Nothing found: no vantle for document "no-such-doc" at this site Nothing was deleted.');
  assert.doesNotMatch(await shown_text(frame), /doc_id/);
  await page.close();
});
