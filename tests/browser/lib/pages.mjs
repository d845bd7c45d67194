// What the tests do on the demo's pages: open the start page, press a site's
// buttons, submit forms, read what a page shows.
import assert from 'node:assert/strict';

export const sites = ['north', 'east', 'south'];

/// The sample configuration of each site (samples/site/<site>/config.txt).
export const sample_config = {
  north: { server_id: 'srv1' },
  east: { server_id: 'srv2' },
  south: { server_id: 'srv3' },
};

/// Runs `action` (a click or a form submission) and returns the response of
/// the navigation it starts in the frame named `frame_name` (the main frame
/// when it is empty), once the new document has loaded.
export async function navigation(page, action, frame_name = '') {
  const in_frame = (f) => (frame_name ? f.name() === frame_name : f === page.mainFrame());
  const response = page.waitForEvent('response', (r) => r.request().isNavigationRequest() && in_frame(r.frame()));
  const navigated = page.waitForEvent('framenavigated', in_frame);
  await action();
  const r = await response;
  const frame = await navigated;
  await frame.waitForLoadState('load');
  // An answer frame shows the site's answer once its values have come.
  if (frame_name) await frame.waitForSelector('html[data-shown]', { state: 'attached', timeout: 10000 }).catch(() => {});
  return r;
}

/// The frame a form sends its answer to: its target, or the page's base
/// target; '' for the page itself.
export async function form_target(form) {
  return form.evaluate((f) => f.getAttribute('target') || document.querySelector('base')?.target || '');
}

/// The frame that shows the answers of a site's forms: on the start page
/// the frame of the site's box, on a manager page (no site) its answer frame.
export function answer(page, site = '') {
  const frame = page.frame({ name: site ? `answer-${site}` : 'answer' });
  assert.ok(frame, `no answer frame ${site}`);
  return frame;
}

/// Opens a page by address and checks that the server answered with 200.
export async function open(page, url) {
  const r = await page.goto(url);
  assert.equal(r.status(), 200, `${url} answered ${r.status()}`);
  return r;
}

/// Opens the start page and checks that it is the start page (of the
/// three sample sites unless `title` says otherwise).
export async function open_start(page, server, title = 'Three virtual sites') {
  await open(page, server.start_url());
  assert.equal(await page.title(), title);
}

/// Opens a site's manager page (the sample page orv_manager.zoaml) and
/// checks that it names the site.
export async function open_manager(page, server, site) {
  await open(page, server.url(`${site}/vexil.cgi?zoa_name=orv_manager.zoaml`));
  assert.equal(await page.title(), `Virtual site manager of ${site}`);
}

/// The form of the manager page that sends the given message type (its
/// hidden message_type field), for example MSG_CREATE or MSG_UPDATE_CONFIG;
/// the first such form when several do.
export function manager_form(page, message_type) {
  return page
    .locator('form')
    .filter({ has: page.locator(`input[type="hidden"][name="message_type"][value="${message_type}"]`) })
    .first();
}

/// Presses a button of a form and returns the response of the answer it
/// leads to (in the frame the form targets), checking that the server
/// answered with 200.
export async function submit(page, form, button) {
  const target = await form_target(form);
  const r = await navigation(page, () => form.getByRole('button', { name: button, exact: true }).click(), target);
  assert.equal(r.status(), 200, `${button} answered ${r.status()}`);
  return r;
}

/// The box of one site on the start page.
export function site_box(page, site) {
  return page.locator(`#site-${site}`);
}

/// Presses a button in a site's box on the start page; returns the response
/// of the answer, which the box's frame shows.
export async function press(page, site, button) {
  const r = await navigation(
    page,
    () => site_box(page, site).getByRole('button', { name: button, exact: true }).click(),
    `answer-${site}`,
  );
  assert.equal(r.status(), 200, `${button} at ${site} answered ${r.status()}`);
  return r;
}

/// The text a page or frame shows, with runs of white space made single
/// spaces.
export async function shown_text(page) {
  return (await page.locator('body').innerText()).replace(/\s+/g, ' ').trim();
}

/// Changes an input of a form on the page, as someone editing the page would
/// (hidden inputs included): `selector` picks the input.
export async function set_input(page, selector, value) {
  await page.locator(selector).evaluate((el, v) => {
    el.value = v;
  }, value);
}

/// Waits until the page has shown the answer in `frame` with its status
/// line (the frame's body then carries data-answer-view); returns that
/// status (done, refused, error, nothing or answered), '' when the frame
/// shows no answer of a site.
export async function answer_status(frame) {
  try {
    await frame.waitForSelector('body[data-answer-view]', { state: 'attached', timeout: 5000 });
  } catch {
    return '';
  }
  return frame.locator('body').getAttribute('data-answer-view');
}

/// The answer in `frame` as the site wrote it, every line (folded ones too),
/// with runs of white space made single spaces; the text the frame shows
/// when it holds no answer of a site.
export async function answer_text(frame) {
  await answer_status(frame);
  const raw = frame.locator('#answer-raw');
  if (await raw.count()) return (await raw.textContent()).replace(/\s+/g, ' ').trim();
  return shown_text(frame);
}

/// The status line above the answer in `frame`.
export async function status_line(frame) {
  await answer_status(frame);
  return (await frame.locator('#answer-status').innerText()).replace(/\s+/g, ' ').trim();
}
