// A fourth site laid out by hand beside the three samples: laying the demo
// out again picks it up, the start page and the map show it, every site's
// site.config knows it, and a query made at north reaches it and comes back
// with its document.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { test } from 'node:test';

import { screenshot } from './lib/browser.mjs';
import { use_demo } from './lib/fixture.mjs';
import { answer, manager_form, open_manager, open_start, press, shown_text, site_box, submit, answer_text } from './lib/pages.mjs';

const env = use_demo();

test('a site laid out by hand joins the demo and a query from north reaches it', async () => {
  const page = await env.browser.new_page();
  // All a new site needs by hand: its directory with html/config.txt.
  fs.mkdirSync(env.server.site_file('west'), { recursive: true });
  fs.writeFileSync(
    env.server.site_file('west', 'config.txt'),
    'server id: srv4\norv id: west\nretrieval threshold: 1\nvirtual site distance threshold: 9\n' +
      'max. vantle# threshold: 3\nemail address: NULL\n',
  );
  env.server.lay_out_again();

  // Every site knows the four sites; the new one is 5 from the others.
  for (const site of ['north', 'east', 'south', 'west']) {
    assert.equal(
      env.server.read_site_file(site, 'site.config'),
      '4\n0 north\n1 east\n2 south\n3 west\n0 4 12 5\n4 0 6 5\n12 6 0 5\n5 5 5 0\n',
      site,
    );
  }

  await open_start(page, env.server, 'Four virtual sites');
  const box = site_box(page, 'west');
  assert.equal(await box.getByRole('heading').innerText(), 'Site west');
  assert.equal(
    await box.getByRole('link', { name: 'Manager page of west' }).getAttribute('href'),
    'west/vexil.cgi?zoa_name=orv_manager.zoaml',
  );
  await press(page, 'west', 'Show the configuration');
  assert.match(await answer_text(answer(page, 'west')), /^SERVER ID = srv4 ORV ID = west /);
  assert.match(await shown_text(page), /north asks east and west; /);
  const map = fs.readFileSync(`${env.server.dir}/www/S-Event_Data/Images/site_map.svg`, 'utf8');
  assert.match(map, />west<\/text>/);
  await screenshot(page, 'start-page-four-sites');

  // A document at west, a query from north.
  await open_manager(page, env.server, 'west');
  const create = manager_form(page, 'MSG_CREATE');
  await create.locator('input[name="doc_id"]').fill('west-notes');
  await submit(page, create, 'Create the vantle');
  assert.match(await answer_text(answer(page)), /Create a new Vantle 1 for Doc "west-notes"/);

  await open_manager(page, env.server, 'north');
  const query = page.locator('form').filter({ has: page.getByRole('button', { name: 'Send the query', exact: true }) });
  await submit(page, query, 'Send the query');
  const shown = await answer_text(answer(page));
  assert.match(shown, /outgoing message in file west\d+/);

  await open_start(page, env.server, 'Four virtual sites');
  await press(page, 'north', 'Send outgoing messages');
  assert.equal(env.server.list_site_dir('west', 'inbox').length, 1);
  await press(page, 'west', 'Pick up incoming messages');
  assert.match(await answer_text(answer(page, 'west')), /Doc west-notes Has been saved into info_list/);
  await press(page, 'west', 'Send outgoing messages');
  await press(page, 'north', 'Pick up incoming messages');

  await open_manager(page, env.server, 'north');
  const results = page
    .locator('form')
    .filter({ has: page.getByRole('button', { name: 'Show the saved results', exact: true }) });
  await results.locator('input[name="ic_id_list"]').fill('1');
  await submit(page, results, 'Show the saved results');
  assert.ok((await answer_text(answer(page))).includes('Doc id: west-notes#!'), await answer_text(answer(page)));
  await page.close();
});
