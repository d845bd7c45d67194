// Messages between the sites: the transfer scripts of the layout move a
// site's outgoing files into the inboxes of its siblings.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { test } from 'node:test';

import { use_demo } from './lib/fixture.mjs';
import { answer, open_start, press, shown_text, answer_text } from './lib/pages.mjs';

const env = use_demo();

test('sending at north delivers its outgoing files to east and south', async () => {
  const page = await env.browser.new_page();
  // Two files waiting in north's outbox, named as orv names them: the
  // target's orv id, the second and a sequence number.
  const files = { east17000000000: 'a message for east\n', south17000000001: 'a message for south\n' };
  for (const [name, text] of Object.entries(files)) {
    env.server.write_site_file('north', 'outbox', name, text);
  }
  await open_start(page, env.server);
  await press(page, 'north', 'Send outgoing messages');
  const shown = await answer_text(answer(page, 'north'));
  for (const name of Object.keys(files)) {
    assert.match(shown, new RegExp(`Send the outgoing message: ${name}`));
  }
  assert.deepEqual(env.server.list_site_dir('north', 'outbox'), []);
  assert.deepEqual(env.server.list_site_dir('east', 'inbox'), ['east17000000000']);
  assert.deepEqual(env.server.list_site_dir('south', 'inbox'), ['south17000000001']);
  assert.equal(env.server.read_site_file('east', 'inbox', 'east17000000000'), files.east17000000000);
  assert.equal(env.server.read_site_file('south', 'inbox', 'south17000000001'), files.south17000000001);
  assert.deepEqual(env.server.list_site_dir('north', 'inbox'), []);
  await page.close();
});

test('a file of the same name already in the receiving inbox is not replaced', async () => {
  const page = await env.browser.new_page();
  // east already holds a file of that name: the one from south gets a
  // suffix instead of replacing it.
  const name = 'east17000000009';
  env.server.write_site_file('east', 'inbox', name, 'first\n');
  env.server.write_site_file('south', 'outbox', name, 'second\n');
  await open_start(page, env.server);
  await press(page, 'south', 'Send outgoing messages');
  assert.match(await answer_text(answer(page, 'south')), new RegExp(`Send the outgoing message: ${name}`));
  assert.equal(env.server.read_site_file('east', 'inbox', name), 'first\n');
  assert.equal(env.server.read_site_file('east', 'inbox', `${name}.1`), 'second\n');
  assert.deepEqual(env.server.list_site_dir('south', 'outbox'), []);
  await page.close();
});

test('picking up with an empty inbox processes nothing and saves the cells', async () => {
  const page = await env.browser.new_page();
  assert.deepEqual(env.server.list_site_dir('north', 'inbox'), []);
  assert.equal(fs.existsSync(env.server.site_file('north', 'file.ic')), false);
  await open_start(page, env.server);
  await press(page, 'north', 'Pick up incoming messages');
  assert.equal(await answer_text(answer(page, 'north')), '');
  assert.ok(fs.existsSync(env.server.site_file('north', 'file.ic')), 'north saved no cells');
  await page.close();
});
