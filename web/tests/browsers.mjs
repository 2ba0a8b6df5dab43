// Debian's Chromium and Firefox ESR, headless, driven by puppeteer-core (Firefox through WebDriver
// BiDi), for the page's tests and its benchmark: as root Chromium runs without its sandbox, and
// the background services of both that would try to reach their vendors' servers are off.
// Downloads land in a folder of the test's.
import { existsSync, readdirSync, readFileSync, statSync } from 'node:fs';
import { join } from 'node:path';
import { setTimeout as sleep } from 'node:timers/promises';

import puppeteer from 'puppeteer-core';

export const kBrowsers = { chromium: '/usr/bin/chromium', firefox: '/usr/bin/firefox-esr' };
const kChromiumFlags = ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-dev-shm-usage',
                        '--disable-background-networking', '--disable-component-update', '--disable-sync'];
const kFirefoxPrefs = {
  'browser.download.folderList': 2, 'browser.download.useDownloadDir': true, 'browser.download.always_ask_before_handling_new_types': false,
  'browser.download.start_downloads_in_tmp_dir': false, 'browser.download.alwaysOpenPanel': false,
  'browser.safebrowsing.downloads.enabled': false, 'app.update.enabled': false, 'network.connectivity-service.enabled': false,
  'extensions.getAddons.cache.enabled': false, 'browser.newtabpage.enabled': false,
};

// The browser `name`, with downloads going to `downloads`, closed when test t ends; null, and t
// skipped, where it is not installed (under CI that fails instead). Extra Chromium flags in `args`.
export async function launch(t, name, downloads, args = []) {
  const executablePath = kBrowsers[name];
  if (!existsSync(executablePath)) {
    if (process.env.CI === 'true') throw new Error(`${executablePath} is needed under CI`);
    t.skip(`needs ${executablePath}`);
    return null;
  }
  const browser = name === 'chromium'
    ? await puppeteer.launch({ executablePath, args: [...kChromiumFlags, ...args], headless: true,
                               downloadBehavior: { policy: 'allow', downloadPath: downloads } })
    : await puppeteer.launch({ browser: 'firefox', executablePath, headless: true,
                               extraPrefsFirefox: { ...kFirefoxPrefs, 'browser.download.dir': downloads } });
  t.after(() => browser.close());
  return browser;
}

// The bytes of the file `name` once it has landed whole in `folder`.
export async function landed(folder, name, timeout = 120000) {
  const path = join(folder, name);
  for (const until = Date.now() + timeout; Date.now() < until; await sleep(100)) {
    const partial = readdirSync(folder).some((f) => f.startsWith(name) && /\.(crdownload|part)$/.test(f));
    if (existsSync(path) && !partial && statSync(path).size > 0) return new Uint8Array(readFileSync(path));
  }
  throw new Error(`${name} did not land in ${folder}`);
}
