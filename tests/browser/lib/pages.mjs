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
/// the main-frame navigation it starts, once the new page has loaded.
export async function navigation(page, action) {
  const response = page.waitForEvent(
    'response',
    (r) => r.request().isNavigationRequest() && r.frame() === page.mainFrame(),
  );
  await action();
  const r = await response;
  await page.waitForLoadState('load');
  return r;
}

/// Opens a page by address and checks that the server answered with 200.
export async function open(page, url) {
  const r = await page.goto(url);
  assert.equal(r.status(), 200, `${url} answered ${r.status()}`);
  return r;
}

/// Opens the start page and checks that it is the start page.
export async function open_start(page, server) {
  await open(page, server.start_url());
  assert.equal(await page.title(), 'Three virtual sites');
}

/// Opens a site's manager page (the sample page orv_manager.zoaml).
export async function open_manager(page, server, site) {
  await open(page, server.url(`${site}/vexil.cgi?zoa_name=orv_manager.zoaml`));
  assert.equal(await page.title(), 'Virtual site manager');
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

/// Presses a button of a form and returns the response of the page it
/// leads to, checking that the server answered with 200.
export async function submit(page, form, button) {
  const r = await navigation(page, () => form.getByRole('button', { name: button, exact: true }).click());
  assert.equal(r.status(), 200, `${button} answered ${r.status()}`);
  return r;
}

/// The box of one site on the start page.
export function site_box(page, site) {
  return page.locator(`#site-${site}`);
}

/// Presses a button in a site's box on the start page; returns the response.
export async function press(page, site, button) {
  const r = await navigation(page, () =>
    site_box(page, site).getByRole('button', { name: button, exact: true }).click(),
  );
  assert.equal(r.status(), 200, `${button} at ${site} answered ${r.status()}`);
  return r;
}

/// The text a page shows, with runs of white space made single spaces.
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
