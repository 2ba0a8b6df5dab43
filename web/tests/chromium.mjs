// Debian's Chromium, headless, for the page's test and its benchmark: as root it runs without
// its sandbox, and the background services that would try to reach Google's servers are off.
import { existsSync } from 'node:fs';

import { chromium } from 'playwright-core';

export const kChromium = '/usr/bin/chromium';
const kFlags = ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-dev-shm-usage',
                '--disable-background-networking', '--disable-component-update', '--disable-sync'];

// The browser, closed when test t ends; null, and t skipped, where there is none (under CI
// that fails instead).
export async function launch(t) {
  if (!existsSync(kChromium)) {
    if (process.env.CI === 'true') throw new Error(`${kChromium} is needed under CI`);
    t.skip(`needs ${kChromium} (Debian's chromium)`);
    return null;
  }
  const browser = await chromium.launch({ executablePath: kChromium, args: kFlags });  // a fresh profile
  t.after(() => browser.close());
  return browser;
}
