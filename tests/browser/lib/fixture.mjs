// The setting of one test file: a fresh demo on its own port and a browser
// with a fresh profile, shared by the file's tests. After every test the
// server must still be running and the browser must not have left 127.0.0.1.
import assert from 'node:assert/strict';
import { after, afterEach, before } from 'node:test';

import { open_browser } from './browser.mjs';
import { start_demo } from './demo_server.mjs';

/// `sites`: the SITES the demo is laid out with (default the three samples);
/// `auth`: the AUTH it is laid out with (default none).
export function use_demo(sites, auth) {
  const env = { server: null, browser: null };
  before(async () => {
    env.server = await start_demo(sites, auth);
    env.browser = await open_browser();
  });
  afterEach(() => {
    env.browser.assert_loopback_only();
    assert.ok(env.server.running(), `lighttpd stopped:\n${env.server.error_log()}`);
  });
  after(async () => {
    if (env.browser) await env.browser.close();
    if (env.server) await env.server.stop();
  });
  return env;
}
