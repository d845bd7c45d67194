// A query in two presses: Send the query on north's manager page, then the
// carry its answer offers; the query's progress (waiting, sent, answered)
// changes while the carry runs, and its ranked results show at the end.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { screenshot } from './lib/browser.mjs';
import { use_demo } from './lib/fixture.mjs';
import { answer, answer_status, manager_form, open_manager, status_line, submit } from './lib/pages.mjs';

const env = use_demo();

test('a query from north reaches its results from east and south in two presses', async () => {
  const page = await env.browser.new_page();
  for (const [site, doc] of [['east', 'doc-east'], ['south', 'doc-south']]) {
    await open_manager(page, env.server, site);
    const create = manager_form(page, 'MSG_CREATE');
    await create.locator('input[name="doc_id"]').fill(doc);
    await create.locator('input[name="sym_name"]').fill(`n_${site}`);
    await submit(page, create, 'Create the vantle');
    assert.equal(await answer_status(answer(page)), 'done');
  }
  // North asks south too once its threshold passes their distance (12).
  await open_manager(page, env.server, 'north');
  const change = manager_form(page, 'MSG_UPDATE_CONFIG');
  await change.locator('input[name="content"]').fill('VG_THRESHOLD|13');
  await submit(page, change, 'Change Configuration');
  assert.equal(await answer_status(answer(page)), 'done');

  await open_manager(page, env.server, 'north');
  await page.locator('#carry-section').waitFor();
  // Every change of a site's state in the progress table, in order.
  await page.evaluate(() => {
    window.seen = [];
    new MutationObserver(() => {
      for (const row of document.querySelectorAll('#progress-table tbody tr')) {
        const entry = `${row.dataset.site}: ${row.querySelector('.state').textContent}`;
        if (!window.seen.includes(entry)) window.seen.push(entry);
      }
    }).observe(document.getElementById('query-progress'), { childList: true, subtree: true });
  });
  const query = page.locator('form').filter({ has: page.getByRole('button', { name: 'Send the query', exact: true }) });
  await query.locator('input[name="doc_id"]').fill('q-two');
  await submit(page, query, 'Send the query'); // press 1
  assert.match(await status_line(answer(page)), /^Done: vantle 1 made for document "q-two"/);
  await answer(page).getByRole('button', { name: 'Carry the messages and show the results', exact: true }).click(); // press 2
  await page.waitForFunction(() => {
    const f = document.querySelector('iframe[name="answer"]').contentDocument;
    return f && f.querySelector('section.query-block tbody tr');
  }, null, { timeout: 60000 });
  const frame = answer(page);
  assert.match(await status_line(frame), /^Done: 2 documents found for query "q-two"/);
  const docs = await frame.locator('section.query-block tbody tr').evaluateAll((trs) => trs.map((tr) => tr.dataset.doc));
  assert.deepEqual([...docs].sort(), ['doc-east', 'doc-south']);
  const ranks = await frame.locator('section.query-block tbody tr').evaluateAll((trs) => trs.map((tr) => Number(tr.dataset.rank)));
  assert.deepEqual(ranks, [1, 2]);
  // Each document with the site that answered it, as the carry saw it.
  const by_site = await frame.locator('section.query-block tbody tr').evaluateAll((trs) =>
    Object.fromEntries(trs.map((tr) => [tr.dataset.doc, tr.querySelector('td.site').textContent])),
  );
  assert.deepEqual(by_site, { 'doc-east': 'east', 'doc-south': 'south' });
  // The progress went from waiting to answered for both sites.
  const seen = await page.evaluate(() => window.seen);
  for (const site of ['east', 'south']) {
    const states = seen.filter((s) => s.startsWith(`${site}: `));
    assert.equal(states[0], `${site}: waiting to be sent`, seen.join('\n'));
    assert.ok(states.includes(`${site}: sent, waiting for its answer`), seen.join('\n'));
    assert.match(states.at(-1), new RegExp(`^${site}: answered \\(1 document`), seen.join('\n'));
  }
  assert.match(await page.locator('#carry-state').innerText(), /^Finished after \d rounds?/);
  await page.evaluate(() => window.scrollTo(0, 0));
  await screenshot(page, 'query-two-presses', { full_page: false });
  await page.close();
});
