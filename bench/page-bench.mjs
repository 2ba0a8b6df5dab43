// The page's time and memory, side by side with the native program on the same packages:
//   node bench/page-bench.mjs [--browser chromium|firefox] [--runs N] [--program build/wad3]
//                             [--page build-web/wad3.html] [--no-save] [--png] [--part-limit BYTES]
//                             PACKAGE.wad|MAP.bsp|--folder FOLDER|--tiny COUNT...
// For each package, each run: build/wad3's wall time converting it in a fresh folder; then a
// fresh browser opens the page from disk and is given it: the time from choosing it to the last
// picture in the page (the program's end, every picture counted and those on screen drawn); a
// search's time, from the keystroke to the matches laid out and to their pictures drawn; the zip
// saved into the downloads folder (one zip, or one after another of several), checked file by
// file against the native program's, and its time; with --png, the zip of PNG files too, its
// time, its size and its files against the native program's names; and the peak memory of all of
// the browser's processes while converting and while saving, as the sum of their proportional
// set sizes sampled every 0.1 s. --folder FOLDER gives a game's folder to the folder control
// (Chromium), every package and map below it converted by build/wad3 one after another, each in a
// fresh folder, their times summed; --tiny COUNT makes a package of COUNT textures of 2 x 2
// pixels.
import { execFileSync, spawnSync } from 'node:child_process';
import { mkdirSync, mkdtempSync, readdirSync, readFileSync, rmSync, statSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { basename, join, resolve } from 'node:path';
import { pathToFileURL } from 'node:url';

import { unzipSync } from '../web/node_modules/fflate/esm/index.mjs';
import { landed, launch } from '../web/tests/browsers.mjs';
import { packMany } from '../web/tests/wadpack.mjs';

const options = { browser: 'chromium', runs: 1, program: 'build/wad3', page: 'build-web/wad3.html', save: true, png: false };
const packages = [];
const args = process.argv.slice(2);
for (let i = 0; i < args.length; ++i) {
  if (args[i] === '--tiny') packages.push({ tiny: Number(args[++i]) });
  else if (args[i] === '--folder') packages.push({ folder: resolve(args[++i]) });
  else if (args[i] === '--no-save') options.save = false;
  else if (args[i] === '--png') options.png = true;
  else if (args[i].startsWith('--')) options[args[i].slice(2)] = args[++i];
  else packages.push({ path: resolve(args[i]) });
}
if (packages.length === 0) {
  console.error('usage: node bench/page-bench.mjs [--browser chromium|firefox] [--runs N] [--no-save] [--png] PACKAGE.wad|MAP.bsp|--folder FOLDER|--tiny COUNT...');
  process.exit(2);
}
const scratch = mkdtempSync(join(tmpdir(), 'wad3-page-bench-'));
process.on('exit', () => rmSync(scratch, { recursive: true, force: true }));

// The browser's processes: every one below this one, which launched it.
function processes() {
  const parent = new Map();
  for (const pid of readdirSync('/proc').filter((p) => /^\d+$/.test(p))) {
    try {
      parent.set(pid, readFileSync(`/proc/${pid}/stat`, 'utf8').replace(/^.*\) /, '').split(' ')[1]);
    } catch {}  // gone already
  }
  const tree = new Set([String(process.pid)]);
  for (let grew = true; grew; ) {
    grew = false;
    for (const [pid, ppid] of parent) if (tree.has(ppid) && !tree.has(pid)) tree.add(pid), (grew = true);
  }
  tree.delete(String(process.pid));
  return [...tree];
}

function pssKiB() {
  let total = 0;
  for (const pid of processes()) {
    try {
      total += Number(readFileSync(`/proc/${pid}/smaps_rollup`, 'utf8').match(/^Pss:\s+(\d+)/m)[1]);
    } catch {}
  }
  return total;
}

async function sampled(work) {
  let peak = pssKiB();
  const sampler = setInterval(() => (peak = Math.max(peak, pssKiB())), 100);
  const started = Date.now();
  try {
    const result = await work();
    return { ms: Date.now() - started, peak, result };
  } finally {
    clearInterval(sampler);
  }
}

// build/wad3 on each of `inputs` ({ path, folder: its folder in the zip }) in a fresh folder of
// its own, one after another, after a sync: the wall time of all, and where each one's files are.
function native(inputs) {
  const root = mkdtempSync(join(scratch, 'native-'));
  const folders = inputs.map((_, k) => join(root, String(k)));
  folders.forEach((folder) => mkdirSync(folder));
  execFileSync('sync');
  const started = process.hrtime.bigint();
  inputs.forEach(({ path }, k) => spawnSync(resolve(options.program), [path], { cwd: folders[k], stdio: 'ignore' }));
  const ms = Number(process.hrtime.bigint() - started) / 1e6;
  const files = new Map();  // path in the zip -> where the native file is
  inputs.forEach(({ folder }, k) => {
    for (const file of readdirSync(folders[k])) files.set(`${folder}/${file}`, join(folders[k], file));
  });
  return { ms, root, files };
}

// Every package and map below `folder`, in the page's path order, each with its folder in the zip.
function below(folder, top = basename(folder)) {
  const found = [];
  for (const name of readdirSync(folder).sort()) {
    const path = join(folder, name);
    if (statSync(path).isDirectory()) found.push(...below(path, `${top}/${name}`));
    else if (/\.(wad|bsp)$/i.test(name)) found.push({ path, folder: `${top}/${name}`.replace(/\.(wad|bsp)$/i, '') });
  }
  return found.sort((a, b) => {
    const x = a.folder.split('/'), y = b.folder.split('/');
    for (let i = 0; i < Math.min(x.length, y.length); ++i) if (x[i] !== y[i]) return x[i] < y[i] ? -1 : 1;
    return x.length - y.length;
  });
}

const mib = (kib) => `${(kib / 1024).toFixed(0)} MiB`;
const s = (ms) => `${(ms / 1000).toFixed(2)} s`;

for (const given of packages) {
  if (given.tiny) {
    given.path = join(scratch, `tiny-${given.tiny}.wad`);
    writeFileSync(given.path, packMany(given.tiny));
  }
  const inputs = given.folder ? below(given.folder) : [{ path: given.path, folder: basename(given.path).replace(/\.(wad|bsp)$/i, '') }];
  const megabytes = inputs.reduce((sum, { path }) => sum + statSync(path).size, 0) / 1e6;
  console.log(`${basename(given.folder ?? given.path)}: ${inputs.length} files, ${megabytes.toFixed(0)} MB, ${options.browser}`);
  for (let run = 1; run <= Number(options.runs); ++run) {
    const wad3 = native(inputs);
    const downloads = mkdtempSync(join(scratch, 'downloads-'));
    const after = [];
    const browser = await launch({ skip() {}, after: (f) => after.push(f) }, options.browser, downloads);
    const page = await browser.newPage();
    await page.setViewport({ width: 1366, height: 768 });
    await page.goto(pathToFileURL(resolve(options.page)).href);
    await page.waitForFunction(() => document.querySelector('input[type="file"]'));
    const input = await page.$(given.folder ? 'input[webkitdirectory]' : 'input[type="file"]:not([webkitdirectory])');
    const shown = await sampled(async () => {
      await input.uploadFile(given.folder ?? given.path);
      await page.waitForFunction(() => document.body.dataset.state === 'done' &&
        [...document.querySelectorAll('figure img')].every((img) => img.complete && img.naturalWidth > 0),
        { timeout: 0, polling: 50 });
      return page.$$eval('.package', (sections) => ({
        state: sections.every((p) => p.dataset.state !== 'working' && p.dataset.state !== 'waiting') ? 'done' : 'working',
        files: sections.reduce((sum, p) => sum + Number(p.dataset.files), 0) }));
    });
    // A search: from the keystroke to the matches laid out (the frame after it), and to every
    // picture on screen drawn; the slowest of a few typed, then cleared.
    const search = await page.evaluate(async () => {
      const field = document.querySelector('input[type="search"]');
      let laid = 0, drawn = 0;
      for (const text of ['a', 'a 6', 'a 64x64', '']) {
        const started = performance.now();
        field.value = text;
        field.dispatchEvent(new Event('input'));
        await new Promise((done) => requestAnimationFrame(() => done()));
        laid = Math.max(laid, performance.now() - started);
        while (![...document.querySelectorAll('figure img')].every((img) => img.complete && img.naturalWidth > 0) &&
               performance.now() - started < 30000) {
          await new Promise((done) => setTimeout(done, 5));
        }
        drawn = Math.max(drawn, performance.now() - started);
      }
      return { laid, drawn };
    });
    let line = `  run ${run}: build/wad3 ${s(wad3.ms)} (${wad3.files.size} files); page ${shown.result.state}, ` +
               `${shown.result.files} files, until the last picture ${s(shown.ms)} (${(shown.ms / wad3.ms).toFixed(2)} x), ` +
               `peak ${mib(shown.peak)}; a search laid out in ${search.laid.toFixed(0)} ms, drawn in ${search.drawn.toFixed(0)} ms`;
    if (options.save) {
      if (options['part-limit']) {
        await page.$eval('[data-action="save-zip"]', (button, limit) => { button.dataset.partLimit = limit; }, options['part-limit']);
      }
      for (const format of options.png ? ['PCX', 'PNG'] : ['PCX']) {
        const choice = await page.$(`input[name="format"][value="${format}"]`);
        if (choice) await choice.click();  // an earlier page saves PCX files alone
        const saved = await sampled(() => saveZips(page, downloads, format === 'PNG' ? 'wad3-textures-png' : 'wad3-textures'));
        let files = 0;
        for (const zipped of saved.result) {
          for (const [path, bytes] of Object.entries(unzipSync(zipped))) {
            const nativePath = wad3.files.get(format === 'PNG' ? path.replace(/\.png$/, '.pcx') : path);
            if (!nativePath || (format === 'PCX' && Buffer.compare(bytes, readFileSync(nativePath)) !== 0)) {
              throw new Error(`${path} is not the native program's`);
            }
            ++files;
          }
        }
        if (files !== wad3.files.size) throw new Error(`the zip holds ${files} files, build/wad3 wrote ${wad3.files.size}`);
        const bytes = saved.result.reduce((sum, z) => sum + z.length, 0);
        line += `; ${format}: saved ${saved.result.length} zip${saved.result.length > 1 ? 's' : ''}, ${(bytes / 1e6).toFixed(0)} MB, ` +
                `${format === 'PCX' ? 'exact' : 'every file'}, in ${s(saved.ms)}, peak ${mib(saved.peak)}`;
      }
    }
    console.log(line);
    for (const f of after) await f();
    rmSync(wad3.root, { recursive: true, force: true });
    rmSync(downloads, { recursive: true, force: true });
    mkdirSync(downloads, { recursive: true });
  }
}

// Clicks the save control and saves every zip it offers, one after another; their bytes.
async function saveZips(page, downloads, name) {
  await page.click('[data-action="save-zip"]');
  await page.waitForFunction(() => !document.querySelector('[data-action="save-zip"]').textContent.startsWith('Making'),
    { timeout: 0, polling: 50 });
  const parts = await page.$$eval('[data-action="save-part"]', (links) => links.map((a) => a.download));
  if (parts.length === 0) return [await landed(downloads, `${name}.zip`, 600000)];
  const zips = [];
  for (const part of parts) {
    await page.click(`[download="${part}"]`);
    zips.push(await landed(downloads, part, 600000));
  }
  return zips;
}
