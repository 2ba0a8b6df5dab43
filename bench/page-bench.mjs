// The page's own time and memory on one package, in headless Chromium as its test runs it:
//   node bench/page-bench.mjs build-web/wad3.html PACKAGE.wad [runs]
// For each run, a fresh page is given the package; printed: the page's time from reading the
// file to the program's end (its data-ms), the time until every picture was in the page, and
// the peak memory of all of Chromium's processes, as the sum of their proportional set sizes.
import { readdirSync, readFileSync } from 'node:fs';
import { resolve } from 'node:path';
import { pathToFileURL } from 'node:url';

import { launch } from '../web/tests/chromium.mjs';

const [page, wad, runs = '3'] = process.argv.slice(2);
if (!page || !wad) {
  console.error('usage: node bench/page-bench.mjs build-web/wad3.html PACKAGE.wad [runs]');
  process.exit(2);
}

// Chromium's processes: every one below this one, which launched it.
function processes(root) {
  const parent = new Map();
  for (const pid of readdirSync('/proc').filter((p) => /^\d+$/.test(p))) {
    try {
      parent.set(pid, readFileSync(`/proc/${pid}/stat`, 'utf8').replace(/^.*\) /, '').split(' ')[1]);
    } catch {}  // gone already
  }
  const tree = new Set([String(root)]);
  for (let grew = true; grew; ) {
    grew = false;
    for (const [pid, ppid] of parent) if (tree.has(ppid) && !tree.has(pid)) tree.add(pid), (grew = true);
  }
  tree.delete(String(root));
  return [...tree];
}

function pssKiB(pids) {
  let total = 0;
  for (const pid of pids) {
    try {
      total += Number(readFileSync(`/proc/${pid}/smaps_rollup`, 'utf8').match(/^Pss:\s+(\d+)/m)[1]);
    } catch {}
  }
  return total;
}

const after = [];
const browser = await launch({ skip: () => {}, after: (f) => after.push(f) });
const root = process.pid;
for (let run = 0; run < Number(runs); ++run) {
  const tab = await browser.newPage();
  await tab.goto(pathToFileURL(resolve(page)).href);
  let peak = 0;
  const sampler = setInterval(() => (peak = Math.max(peak, pssKiB(processes(root)))), 100);
  const start = Date.now();
  await tab.locator('input[type="file"]').setInputFiles(resolve(wad));
  await tab.waitForFunction(() => document.body.dataset.state === 'done', null, { timeout: 0 });
  const wall = Date.now() - start;
  clearInterval(sampler);
  const { ms, figures, state } = await tab.$eval('.package', (s) => ({
    ms: Number(s.dataset.ms), figures: s.querySelectorAll('figure').length, state: s.dataset.state }));
  console.log(`run ${run + 1}: ${state}, ${figures} images, page ${(ms / 1000).toFixed(2)} s, ` +
              `until shown ${(wall / 1000).toFixed(2)} s, peak ${(peak / 1024).toFixed(0)} MiB`);
  await tab.close();
}
for (const f of after) await f();
