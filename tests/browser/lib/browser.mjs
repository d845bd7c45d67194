// Debian's Chromium, headless, driven by playwright-core. The browser talks
// to 127.0.0.1 only: host names do not resolve, background services are off,
// and every request for another host is aborted and remembered, so a test
// can check that none was made.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';

import { artifacts_dir } from './demo_server.mjs';

export const chromium_path = process.env.CHROMIUM || '/usr/bin/chromium';

const chromium_args = [
  '--headless',
  '--no-sandbox',
  '--disable-gpu',
  '--disable-quic',
  '--no-first-run',
  '--disable-background-networking',
  '--disable-component-update',
  '--disable-sync',
  // Nothing but the loopback address resolves.
  '--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1',
];

/// A browser with a fresh profile (its --user-data-dir) for one test file.
export class test_browser {
  constructor(context, profile) {
    this.context = context; // the persistent context of the fresh profile
    this.profile = profile; // the profile directory, removed by close()
    this.foreign = []; // addresses of requests for hosts other than 127.0.0.1
  }

  /// A new tab.
  async new_page() {
    const page = await this.context.newPage();
    page.setDefaultTimeout(20000);
    return page;
  }

  /// Fails when the browser tried to reach anything but 127.0.0.1.
  assert_loopback_only() {
    assert.deepEqual(this.foreign, [], 'the browser tried to leave the loopback address');
  }

  async close() {
    await this.context.close();
    fs.rmSync(this.profile, { recursive: true, force: true });
  }
}

export async function open_browser() {
  if (!fs.existsSync(chromium_path)) {
    throw new Error(`${chromium_path} is missing (bash scripts/deps.sh browser)`);
  }
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'orv-chromium-'));
  // The persistent context is what passes the fresh profile as --user-data-dir.
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: chromium_path,
    headless: true,
    chromiumSandbox: false,
    args: chromium_args,
    viewport: { width: 1100, height: 800 },
  });
  const browser = new test_browser(context, profile);
  await context.route('**/*', (route) => {
    const url = new URL(route.request().url());
    if (url.protocol === 'data:' || url.hostname === '127.0.0.1') return route.continue();
    browser.foreign.push(url.href);
    return route.abort('blockedbyclient');
  });
  return browser;
}

/// Saves a screenshot into the artifacts directory, of the whole page or
/// (`full_page` false) of the window as the user sees it; returns its path.
export async function screenshot(page, name, { full_page = true } = {}) {
  const file = path.join(artifacts_dir(), `${name}.png`);
  await page.screenshot({ path: file, fullPage: full_page });
  return file;
}
