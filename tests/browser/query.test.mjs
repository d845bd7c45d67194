// A query in two presses: Send the query on north's manager page, then the
// carry its answer offers; the query's progress (waiting, sent, answered)
// changes while the carry runs, and its ranked results show at the end.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { screenshot } from './lib/browser.mjs';
import { use_demo } from './lib/fixture.mjs';
import { answer, answer_status, manager_form, open_manager, open_start, press, site_box, status_line, submit } from './lib/pages.mjs';

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

  // The start page reads the settings as they are now: north asks south
  // too, and the map marks the path of the last query.
  await open_start(page, env.server);
  await page.locator('#live-map').waitFor();
  assert.match(await page.locator('#asks').innerText(), /^north asks east and south; /);
  const marked = await page.locator('#live-map line[data-path="last-query"]').evaluateAll((ls) => ls.map((l) => l.dataset.pair).sort());
  assert.deepEqual(marked, ['north east', 'north south']);
  assert.match(await page.locator('#live-map').getAttribute('aria-label'), /north asks east and south/);
  assert.match(await page.locator('#last-query').innerText(), /"q-two", went from north to east, south/);
  await page.locator('#live-map').scrollIntoViewIfNeeded();
  await screenshot(page, 'start-page-map-after-threshold', { full_page: false });
  await page.close();
});

test('an answer opened in a tab of its own is a page with title, site, status and the way back', async () => {
  const page = await env.browser.new_page();
  await open_manager(page, env.server, 'east');
  await submit(page, manager_form(page, 'MSG_SHOW_ALL'), 'List all vantles');
  const link = answer(page).locator('#own-tab');
  const [tab] = await Promise.all([page.context().waitForEvent('page'), link.click()]);
  await tab.waitForLoadState('load');
  await tab.waitForFunction(() => document.querySelector('iframe[name="answer"]').contentDocument?.body?.dataset.answerView);
  await tab.waitForFunction(() => /^Answer of east: Done/.test(document.title));
  assert.equal(await tab.locator('h1').innerText(), 'Answer of east');
  assert.equal(await tab.getByRole('link', { name: 'Back to the manager page of east' }).getAttribute('href'), 'vexil.cgi?zoa_name=orv_manager.zoaml');
  const frame = tab.frame({ name: 'answer' });
  assert.match(await status_line(frame), /^Done: 1 vantle listed/);
  await screenshot(tab, 'answer-own-tab', { full_page: false });
  await tab.close();
  await page.close();
});

test('at 1280 px the configuration table of a start page box is whole', async () => {
  const page = await env.browser.new_page();
  await page.setViewportSize({ width: 1280, height: 900 });
  await open_start(page, env.server);
  await press(page, 'south', 'Show the configuration');
  const frame = answer(page, 'south');
  assert.equal(await status_line(frame), 'Done: the configuration of this site');
  // Nothing sticks out of the frame: every value cell lies inside it.
  const fits = await frame.evaluate(() => {
    const width = document.documentElement.clientWidth;
    return [...document.querySelectorAll('#settings td')].every((td) => td.getBoundingClientRect().right <= width + 0.5);
  });
  assert.equal(fits, true);
  assert.equal(await frame.evaluate(() => document.documentElement.scrollWidth <= document.documentElement.clientWidth), true);
  await site_box(page, 'south').scrollIntoViewIfNeeded();
  await screenshot(page, 'start-page-config-1280', { full_page: false });
  await page.close();
});

test('at 400 px the answer panel leaves most of the window to the forms', async () => {
  const page = await env.browser.new_page();
  await page.setViewportSize({ width: 400, height: 800 });
  await open_manager(page, env.server, 'north');
  await submit(page, manager_form(page, 'MSG_SHOW_ALL'), 'List all vantles');
  const panel = await page.locator('aside.answer').boundingBox();
  assert.ok(panel.height <= 800 * 0.4, JSON.stringify(panel));
  await screenshot(page, 'narrow-400-panel', { full_page: false });
  await page.close();
});
