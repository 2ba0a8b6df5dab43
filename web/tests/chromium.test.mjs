// The page as a person uses it, in Debian's Chromium, headless: opened from disk, given the
// sample, then a package dropped on it, a broken package, a file that is no package, every real
// package at hand (../shared/wad3-samples) and the sample again; every package's lines and
// files must be the native program's, the pictures the files' colours, the zip must hold them
// a folder a package, and no request may leave.
import assert from 'node:assert/strict';
import { existsSync, mkdtempSync, readdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { basename, join } from 'node:path';
import { test } from 'node:test';
import { pathToFileURL } from 'node:url';

import { unzipSync } from 'fflate';

import { folderName, readable } from '../names.js';
import { decodePcx } from '../pcx.js';
import { launch } from './chromium.mjs';
import { pack, runNative, texture } from './wadpack.mjs';

const top = new URL('../../', import.meta.url).pathname;
const build = process.env.WAD3_WEB_BUILD ?? join(top, 'build-web');
const samples = join(top, '../shared/wad3-samples');

test('converts every package given into the native files and lines, and sends nothing', async (t) => {
  const browser = await launch(t);
  if (!browser) return;
  const scratch = mkdtempSync(join(tmpdir(), 'wad3-chromium-'));
  t.after(() => rmSync(scratch, { recursive: true, force: true }));
  const write = (name, bytes) => {
    const folder = mkdtempSync(join(scratch, 'p-'));
    writeFileSync(join(folder, name), bytes);
    return join(folder, name);
  };
  const sample = join(top, 'examples/sample.wad');
  const whole = pack([texture('first', 4, 4), texture('second', 8, 8)]);
  const given = [
    write('broken.wad', whole.subarray(0, whole.length - 800)),  // ends in the second's pixels
    write('notes.txt', new TextEncoder().encode('this is no package at all')),
    ...(existsSync(samples) ? readdirSync(samples).filter((f) => f.endsWith('.wad')).sort().map((f) => join(samples, f)) : []),
    write('sample.wad', readFileSync(sample)),  // a second package of that name: a folder of its own
  ];

  const context = await browser.newContext({ acceptDownloads: true });
  const page = await context.newPage();
  const requests = [];
  page.on('request', (request) => requests.push(request.url()));
  const errors = [];
  page.on('pageerror', (error) => errors.push(error.message));
  await page.goto(pathToFileURL(join(build, 'wad3.html')).href);
  const input = page.locator('input[type="file"]');
  assert.equal(await input.count(), 1);

  await input.setInputFiles(sample);
  await page.waitForFunction(() => document.body.dataset.state === 'done' &&
    [...document.querySelectorAll('img')].every((img) => img.complete && img.naturalWidth > 0));
  await page.screenshot({ path: join(build, 'web.png'), fullPage: true });
  // Every picture at its real colours: the pixels the browser shows are the file's.
  const pictures = await page.$$eval('img', (imgs) => imgs.map((img) => {
    const canvas = document.createElement('canvas');
    [canvas.width, canvas.height] = [img.naturalWidth, img.naturalHeight];
    const context = canvas.getContext('2d');
    context.drawImage(img, 0, 0);
    const rgba = context.getImageData(0, 0, canvas.width, canvas.height).data;
    return { name: img.alt, rgb: Array.from(rgba.filter((_, i) => i % 4 !== 3)) };
  }));
  const sampleRun = runNative(join(build, 'wad3'), 'sample.wad', readFileSync(sample));
  assert.deepEqual(pictures.map((p) => p.name).sort(), [...sampleRun.files.keys()].sort());
  for (const { name, rgb } of pictures) {
    const { pixels, palette } = decodePcx(sampleRun.files.get(name));
    assert.deepEqual(rgb, Array.from(pixels).flatMap((i) => [...palette.subarray(3 * i, 3 * i + 3)]), name);
  }
  // Dropped anywhere on the page, a package converts as a chosen one does.
  const dropped = write('dropped.wad', readFileSync(sample));
  await page.evaluate((bytes) => {
    const transfer = new DataTransfer();
    transfer.items.add(new File([new Uint8Array(bytes)], 'dropped.wad'));
    const drop = new DragEvent('drop', { dataTransfer: transfer, bubbles: true, cancelable: true });
    document.querySelector('footer').dispatchEvent(drop);
  }, [...readFileSync(dropped)]);
  await input.setInputFiles(given);
  await page.waitForFunction(() => document.body.dataset.state === 'done', null, { timeout: 300000 });
  const shown = await page.$$eval('.package', (sections) => sections.map((s) => ({
    state: s.dataset.state, status: s.querySelector('.status').textContent, ms: Number(s.dataset.ms),
    lines: s.querySelector('pre').textContent, pictures: s.querySelectorAll('figure img').length,
    figures: s.querySelectorAll('figure').length,
  })));

  const packages = [sample, dropped, ...given];
  assert.equal(shown.length, packages.length);
  const taken = new Set();
  const expected = packages.map((path) => {
    const name = basename(path);
    return { name, folder: folderName(name, taken), ...runNative(join(build, 'wad3'), name, readFileSync(path)) };
  });
  expected.forEach((run, i) => {
    assert.equal(shown[i].lines, readable(run.out), run.name);
    assert.equal(shown[i].state, run.status === 0 ? 'done' : 'failed', run.name);
    assert.equal(shown[i].figures, run.files.size, run.name);
  });
  assert.equal(shown[2].status, 'Stopped: Invalid mip entry; offsets[0] is malformed.');
  assert.equal(shown[3].status, 'Stopped: Invalid WAD3 header id.');
  assert.equal(shown[2].figures, 1);

  // The zip: a folder a package with files, each file the native program's.
  const zipped = await download(page, page.locator('[data-action="save-zip"]'));
  const entries = Object.fromEntries(Object.entries(unzipSync(zipped)).filter(([path]) => !path.endsWith('/')));
  const want = {};
  for (const run of expected) {
    for (const [file, bytes] of run.files) want[`${run.folder}/${readable(file)}`] = bytes;
  }
  assert.deepEqual(Object.keys(entries).sort(), Object.keys(want).sort());
  for (const [path, bytes] of Object.entries(want)) assert.deepEqual(entries[path], bytes, path);
  assert.ok(Object.keys(entries).some((path) => path.startsWith('sample (2)/')));

  // One picture saved alone is its PCX file.
  const first = page.locator('.package').first().locator('figure a').first();
  const name = await first.getAttribute('download');
  assert.deepEqual(await download(page, first), expected[0].files.get(name));

  // Nothing but the page itself and the Blobs it made; a connection is refused by its policy.
  assert.equal(await page.evaluate(() => fetch('https://example.com/').then(() => 'sent', () => 'refused')), 'refused');
  assert.deepEqual(requests.filter((url) => !/^(blob:|file:)/.test(url)), []);
  assert.deepEqual(errors, []);
  const total = shown.reduce((sum, s) => sum + s.ms, 0);
  t.diagnostic(`${packages.length} packages, ${Object.keys(entries).length} files, ${total} ms in the page`);
});

async function download(page, control) {
  const [saved] = await Promise.all([page.waitForEvent('download'), control.click()]);
  const folder = mkdtempSync(join(tmpdir(), 'wad3-download-'));
  try {
    await saved.saveAs(join(folder, 'file'));
    return new Uint8Array(readFileSync(join(folder, 'file')));
  } finally {
    rmSync(folder, { recursive: true, force: true });
  }
}
