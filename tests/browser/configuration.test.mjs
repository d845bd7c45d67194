// Showing and changing a site's configuration through the forms.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { screenshot } from './lib/browser.mjs';
import { use_demo } from './lib/fixture.mjs';
import {
  answer,
  answer_text,
  manager_form,
  open_manager,
  open_start,
  press,
  sample_config,
  shown_text,
  site_box,
  sites,
  submit,
} from './lib/pages.mjs';

const env = use_demo();

test('each site shows its own configuration', async () => {
  const page = await env.browser.new_page();
  for (const site of sites) {
    await open_start(page, env.server);
    await press(page, site, 'Show the configuration');
    assert.equal(
      await answer_text(answer(page, site)),
      `SERVER ID = ${sample_config[site].server_id} ORV ID = ${site} RETRIEVE THRESHOLD = 1. ` +
        'VIRTUAL SITE DISTANCE THRESHOLD = 9. MAXIMUM VANTLES THRESHOLD = 3.',
    );
    if (site === 'north') await screenshot(page, 'configuration-north');
  }
  await page.close();
});

test('a setting changed on the start page is stored at that site only', async () => {
  const page = await env.browser.new_page();
  const before = Object.fromEntries(sites.map((s) => [s, env.server.read_site_file(s, 'config.txt')]));
  await open_start(page, env.server);
  const box = site_box(page, 'east');
  await box.getByLabel('Setting').selectOption('RETRIEVE_THRESHOLD');
  await box.getByLabel('New value').fill('2');
  await press(page, 'east', 'Change the configuration');
  assert.equal(await answer_text(answer(page, 'east')), '"RETRIEVE_THRESHOLD" is updated with the new value "2".');

  assert.equal(
    env.server.read_site_file('east', 'config.txt'),
    before.east.replace('retrieval threshold: 1\n', 'retrieval threshold: 2\n'),
  );
  assert.notEqual(env.server.read_site_file('east', 'config.txt'), before.east);
  assert.equal(env.server.read_site_file('north', 'config.txt'), before.north);
  assert.equal(env.server.read_site_file('south', 'config.txt'), before.south);

  await open_start(page, env.server);
  await press(page, 'east', 'Show the configuration');
  assert.match(await answer_text(answer(page, 'east')), /RETRIEVE THRESHOLD = 2\./);
  await press(page, 'north', 'Show the configuration');
  assert.match(await answer_text(answer(page, 'north')), /RETRIEVE THRESHOLD = 1\./);
  await page.close();
});

test('a setting changed on the manager page is stored', async () => {
  const page = await env.browser.new_page();
  await open_manager(page, env.server, 'south');
  const form = manager_form(page, 'MSG_UPDATE_CONFIG');
  await form.locator('input[name="content"]').fill('SET_EMAIL_ADDRESS|ops@south.example');
  await submit(page, form, 'Change Configuration');
  assert.equal(await answer_text(answer(page)), '"SET_EMAIL_ADDRESS" is updated with the new value "ops@south.example".');
  await screenshot(page, 'configuration-changed-south');
  assert.match(env.server.read_site_file('south', 'config.txt'), /^email address: ops@south\.example$/m);

  // The manager page's own show form shows the site's settings.
  await submit(page, manager_form(page, 'MSG_SHOW_CONFIG'), 'Show the configuration');
  assert.match(await answer_text(answer(page)), /^SERVER ID = srv3 ORV ID = south RETRIEVE THRESHOLD = 1\./);
  await page.close();
});

test('a change that names no known setting is refused and stores nothing', async () => {
  const page = await env.browser.new_page();
  const before = env.server.read_site_file('north', 'config.txt');
  await open_manager(page, env.server, 'north');
  const form = manager_form(page, 'MSG_UPDATE_CONFIG');
  await form.locator('input[name="content"]').fill('COLOUR|blue');
  await submit(page, form, 'Change Configuration');
  assert.equal(await answer_text(answer(page)), 'Unknown Choice "COLOUR" with value blue.');
  assert.equal(env.server.read_site_file('north', 'config.txt'), before);
  await page.close();
});
