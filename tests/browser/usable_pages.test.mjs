// The sample pages as a new user meets them: text in any language, forms
// that change something sent once, sample values that stay, answers beside
// the forms that asked, and pages that long words do not widen.
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
  press,
  shown_text,
  submit,
} from './lib/pages.mjs';

const env = use_demo();

const cafe = 'Café Müller';

// The form of the manager page that holds the given button.
function form_with(page, button) {
  return page.locator('form').filter({ has: page.getByRole('button', { name: button, exact: true }) });
}

// The ids of the cells a site stores (its file.ic).
function stored_ids(site) {
  return [...env.server.read_site_file(site, 'file.ic').matchAll(/^id: (\d+)$/gm)].map((m) => m[1]).sort();
}

// Sends a query from north's manager page and carries it to east and back
// with the start page's buttons; returns the id of the query vantle.
async function query_from_north(page, doc_id, keywords) {
  await open_manager(page, env.server, 'north');
  const query = form_with(page, 'Send the query');
  await query.locator('input[name="doc_id"]').fill(doc_id);
  await query.locator('input[name="i_am"]').fill(keywords);
  await query.locator('input[name="sym_name"]').fill(`ask_${doc_id}`);
  await submit(page, query, 'Send the query');
  const made = (await answer_text(answer(page))).match(/Create a new Vantle (\d+) for Doc/);
  assert.ok(made, await answer_text(answer(page)));
  await open_start(page, env.server);
  await press(page, 'north', 'Send outgoing messages');
  await press(page, 'east', 'Pick up incoming messages');
  await press(page, 'east', 'Send outgoing messages');
  await press(page, 'north', 'Pick up incoming messages');
  return made[1];
}

test('"Café Müller" as a document id and a comment is stored, shown and found as typed', async () => {
  const page = await env.browser.new_page();
  await open_manager(page, env.server, 'east');
  const create = manager_form(page, 'MSG_CREATE');
  await create.locator('input[name="doc_id"]').fill(cafe);
  await create.locator('input[name="i_comment"]').fill(`${cafe}#!`);
  await create.locator('input[name="sym_name"]').fill('cafe');
  const sent = page.waitForRequest((r) => r.url().endsWith('/east/orv.cgi'));
  const r = await submit(page, create, 'Create the vantle');
  // Sent as POST in UTF-8, answered as UTF-8.
  assert.equal((await sent).method(), 'POST');
  assert.match((await sent).postData(), /doc_id=Caf%C3%A9\+M%C3%BCller&/);
  assert.match(r.headers()['content-type'], /^text\/html; charset=utf-8$/i);
  assert.match(await answer_text(answer(page)), new RegExp(`Create a new Vantle 1 for Doc "${cafe}"`));
  assert.match(env.server.read_site_text('east', 'vantle_db'), new RegExp(`^${cafe}$`, 'm'));

  await submit(page, form_with(page, 'List all vantles'), 'List all vantles');
  const listed = await answer_text(answer(page));
  assert.ok(listed.includes(`doc_id = ${cafe}`), listed);
  assert.ok(listed.includes(`i_comment = ${cafe}#!`), listed);

  // A query from north finds it, characters and all.
  const id = await query_from_north(page, 'q-café', 'optics#!');
  await open_manager(page, env.server, 'north');
  const results = form_with(page, 'Show the saved results');
  await results.locator('input[name="ic_id_list"]').fill(id);
  await submit(page, results, 'Show the saved results');
  const shown = await answer_text(answer(page));
  assert.ok(shown.includes('*** Saved Query Results for document with id = q-café'), shown);
  assert.ok(shown.includes(`Doc id: ${cafe}#!`), shown);
  assert.ok(shown.includes(`I comment: ${cafe}#!`), shown);
  await page.evaluate(() => window.scrollTo(0, 0));
  await screenshot(page, 'query-results-north', { full_page: false });
  await page.close();
});

test('reloading after "Create the vantle" makes no second vantle', async () => {
  const page = await env.browser.new_page();
  await open_manager(page, env.server, 'south');
  await submit(page, manager_form(page, 'MSG_CREATE'), 'Create the vantle');
  assert.match(await answer_text(answer(page)), /Create a new Vantle 1 for Doc "doc-001"/);
  assert.deepEqual(stored_ids('south'), ['1']);
  // The answer frame reloaded on its own, then the whole page.
  await navigation(page, () => answer(page).evaluate(() => window.location.reload()), 'answer');
  assert.match(await answer_text(answer(page)), /Reloading does not send that form again/);
  assert.deepEqual(stored_ids('south'), ['1'], 'reloading the answer sent the create form again');
  await page.reload();
  await page.waitForLoadState('load');
  assert.match(await answer_text(answer(page)), /appears here/);
  assert.deepEqual(stored_ids('south'), ['1'], 'reloading the page sent the create form again');
  assert.equal(env.server.read_site_text('south', 'vantle_db'), 'lens_notes\ndoc-001\n');
  await page.close();
});

test('after two showings and a reload the create form holds its sample values and is sent as shown', async () => {
  const page = await env.browser.new_page();
  await open_manager(page, env.server, 'north');
  await open_manager(page, env.server, 'north');
  await page.reload();
  await page.waitForLoadState('load');
  const create = manager_form(page, 'MSG_CREATE');
  const values = {};
  for (const name of ['doc_id', 'i_am', 'i_love', 'i_hate', 'i_behave', 'i_keyword', 'i_comment', 'sym_name']) {
    values[name] = await create.locator(`input[name="${name}"]`).inputValue();
  }
  assert.deepEqual(values, {
    doc_id: 'doc-001',
    i_am: 'physics#optics#!',
    i_love: 'optics#!',
    i_hate: '!',
    i_behave: '!',
    i_keyword: 'lenses#mirrors#!',
    i_comment: 'Notes on lenses and mirrors#!',
    sym_name: 'lens_notes',
  });
  assert.ok(await create.locator('input[name="vantle_type"][value="Archives"]').isChecked());
  await submit(page, create, 'Create the vantle');
  const shown = await answer_text(answer(page));
  assert.match(shown, /Create a new Vantle \d+ for Doc "doc-001"/);
  assert.match(shown, /has the symbolic name "lens_notes"/);
  await page.close();
});

test('each manager page names its site and shows the answer of every form beside it', async () => {
  const page = await env.browser.new_page();
  for (const site of ['north', 'east', 'south']) {
    await open_manager(page, env.server, site);
    assert.equal(await page.getByRole('heading', { level: 1 }).innerText(), `Virtual site manager of ${site}`);
    assert.match(await page.locator('.note').first().innerText(), /under a line that tells whether the site did it, refused it or failed/);
    await submit(page, manager_form(page, 'MSG_SHOW_CONFIG'), 'Show the configuration');
    assert.match(await answer_text(answer(page)), new RegExp(`ORV ID = ${site} `));
    assert.equal(await answer_status(answer(page)), 'done');
  }

  // Every form of east's page, one after the other, without leaving it.
  const manager = env.server.url('east/vexil.cgi?zoa_name=orv_manager.zoaml');
  await open_manager(page, env.server, 'east');
  page.on('dialog', (d) => d.accept());
  const steps = [
    ['Create the vantle', {}, /Create a new Vantle \d+ for Doc "doc-001"/],
    ['Send the query', { doc_id: 'q-east', i_am: 'optics#!', sym_name: 'ask_east' }, /for Doc "q-east"/],
    ['List all vantles', {}, /Vantle type = Info_Gathering .*Vantle type = Archives/],
    ['Show the vantle', { ic_id_list: '1' }, /Vantle ic_id = 1 /],
    ['Show the saved results', { ic_id_list: '2' }, null],
    ['Show the configuration', {}, /^SERVER ID = srv2 ORV ID = east /],
    ['Change Configuration', { content: 'SET_EMAIL_ADDRESS|ops@east.example' }, /^"SET_EMAIL_ADDRESS" is updated/],
    ['Send outgoing messages', {}, /Send the outgoing message: north\d+/],
    ['Pick up incoming messages', {}, null],
    ['Delete the vantle', { ic_id_list: '2' }, null],
    ['Delete the vantle of this document', { content: 'doc-001' }, null],
    ['TRIGGER IC <VANTLE>', { flag: 'old', ic_id_list: '-1', message_type: 'MSG_SHOW_ALL' }, /Vantle orv_id = east/],
  ];
  for (const [button, fields, expected] of steps) {
    const form = form_with(page, button);
    for (const [name, value] of Object.entries(fields)) {
      const input = form.locator(`input[name="${name}"]`);
      if ((await input.first().getAttribute('type')) === 'radio') await form.locator(`input[name="${name}"][value="${value}"]`).check();
      else await input.fill(value);
    }
    // The requests the press sends to the site (a form that changes the
    // site is sent by the page's script, its answer shown on a note page).
    const sent = [];
    const record = (req) => {
      if (new URL(req.url()).pathname.endsWith('/orv.cgi')) sent.push(req.method());
    };
    page.on('request', record);
    await submit(page, form, button);
    page.off('request', record);
    assert.equal(page.url(), manager, `${button}: the manager page was left`);
    assert.notEqual(answer(page).url(), 'about:srcdoc', `${button}: no answer in the frame`);
    const shown = await answer_text(answer(page));
    if (expected) assert.match(shown, expected, `${button}: ${shown}`);
    assert.doesNotMatch(shown, /Lack of|Unknown|Unexpected/, `${button}: ${shown}`);
    const method = ['List all vantles', 'Show the vantle', 'Show the saved results', 'Show the configuration'].includes(
      button,
    )
      ? 'GET'
      : 'POST';
    assert.ok(sent.includes(method), `${button}: ${sent}`);
    if (method === 'GET') assert.ok(!sent.includes('POST'), `${button}: ${sent}`);
    if (button === 'List all vantles') {
      await page.evaluate(() => window.scrollTo(0, 0));
      await screenshot(page, 'manager-page-with-answer', { full_page: false });
    }
  }
  await page.close();
});

test('long words do not widen the pages', async () => {
  const page = await env.browser.new_page();
  const long = 'x'.repeat(400);
  await open_manager(page, env.server, 'north');
  const create = manager_form(page, 'MSG_CREATE');
  // A document id is one line of at most 255 bytes and a keyword at most
  // 80: the long word goes into the comment, which has no such bound.
  await create.locator('input[name="doc_id"]').fill(`doc${long.slice(0, 250)}`);
  await create.locator('[name="i_comment"]').fill(long);
  await create.locator('input[name="sym_name"]').fill('long');
  await submit(page, create, 'Create the vantle');
  await submit(page, form_with(page, 'List all vantles'), 'List all vantles');
  assert.ok((await answer_text(answer(page))).includes(`i_comment = ${long}#!`));
  const fits = () => document.documentElement.scrollWidth <= document.documentElement.clientWidth;
  assert.ok(await page.evaluate(fits), 'the manager page is wider than the window');
  assert.ok(await answer(page).evaluate(fits), 'the answer is wider than its frame');

  await open_start(page, env.server);
  const box = page.locator('#site-south');
  await box.getByLabel('Setting').selectOption('SET_EMAIL_ADDRESS');
  await box.getByLabel('New value').fill(`ops${long}@south.example`);
  await press(page, 'south', 'Change the configuration');
  assert.ok((await answer_text(answer(page, 'south'))).includes(long));
  assert.ok(await page.evaluate(fits), 'the start page is wider than the window');
  assert.ok(await answer(page, 'south').evaluate(fits), 'the answer is wider than its frame');
  await page.close();
});
