// Laying the demo out again, as a restarted scripts/demo.sh does, renews
// programs and pages and keeps what the sites hold.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { test } from 'node:test';

import { use_demo } from './lib/fixture.mjs';
import { answer, manager_form, open_manager, shown_text, submit, answer_text } from './lib/pages.mjs';

const env = use_demo();

test('laying out again keeps a site\'s settings and renews its pages', async () => {
  const page = await env.browser.new_page();
  await open_manager(page, env.server, 'east');
  const form = manager_form(page, 'MSG_UPDATE_CONFIG');
  await form.locator('input[name="content"]').fill('MAX_VANTLE_THRESHOLD|7');
  await submit(page, form, 'Change Configuration');
  assert.equal(await answer_text(answer(page)), '"MAX_VANTLE_THRESHOLD" is updated with the new value "7".');
  // A page of the site spoilt by hand.
  fs.writeFileSync(env.server.site_file('east', 'zoaml', 'orv_manager.tpl'), '<P>spoilt</P>\n');
  await page.goto(env.server.url('east/vexil.cgi?zoa_name=orv_manager.zoaml'));
  assert.match(await shown_text(page), /^spoilt\b/);

  env.server.lay_out_again();

  await open_manager(page, env.server, 'east');
  assert.equal(await page.locator('input[name="doc_id"]').first().inputValue(), 'doc-001');
  await submit(page, manager_form(page, 'MSG_SHOW_CONFIG'), 'Show the configuration');
  assert.match(await answer_text(answer(page)), /MAXIMUM VANTLES THRESHOLD = 7\./);
  assert.match(env.server.read_site_file('east', 'config.txt'), /^max\. vantle# threshold: 7$/m);
  await page.close();
});
