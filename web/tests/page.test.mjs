// The page as a person uses it, opened from disk in the browser WAD3_BROWSER names (chromium or
// firefox), headless. Packages given one by one and dropped, a broken one, a file that is no
// package, every real package at hand (../shared/wad3-samples); a game's folder of packages, maps,
// models and sprites chosen and searched; a sprite played; a browser that refuses WebAssembly; a
// program that traps; 70,000 tiny textures. Every file's lines and pictures must be the native
// program's, the pictures drawn in the files' colours as the game draws them (a { texture's entry
// 255 transparent, a decal or an index-alpha sprite in one colour with the opacity of each index,
// a masked skin and an alpha-test sprite with entry 255 transparent), every zip what was shown, as
// PCX or as PNG files that Pillow reads as those colours, and no request may leave.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { cpSync, existsSync, mkdirSync, mkdtempSync, readdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { basename, join } from 'node:path';
import { test } from 'node:test';
import { pathToFileURL } from 'node:url';

import { unzipSync } from 'fflate';

import { folderName, readable } from '../names.js';
import { decodePcx } from '../pcx.js';
import { drawnPng, isGreyRamp } from '../png.js';
import { landed, launch } from './browsers.mjs';
import { drawnColours, hasPillow, pillow } from './pillow.mjs';
import { makeNative, map, model, pack, packMany, runNative, sprite, texture, tga } from './wadpack.mjs';

const browserName = process.env.WAD3_BROWSER ?? 'chromium';
const top = new URL('../../', import.meta.url).pathname;
const build = process.env.WAD3_WEB_BUILD ?? join(top, 'build-web');
const samples = join(top, '../shared/wad3-samples');
const mapSamples = join(top, '../shared/map-samples');
const modelSamples = join(top, '../shared/model-samples');
const native = (name, bytes) => runNative(join(build, 'wad3'), name, bytes);

// A fresh browser and page on `html` (the built page by default), with a scratch folder and a
// downloads folder that go when test t ends.
async function open(t, { html = join(build, 'wad3.html'), args } = {}) {
  const scratch = mkdtempSync(join(tmpdir(), `wad3-${browserName}-`));
  t.after(() => rmSync(scratch, { recursive: true, force: true }));
  mkdirSync(join(scratch, 'downloads'));
  const browser = await launch(t, browserName, join(scratch, 'downloads'), args);
  if (!browser) return null;
  const page = await browser.newPage();
  await page.setViewport({ width: 1280, height: 900 });
  const requests = [], errors = [];
  page.on('request', (request) => requests.push(request.url()));
  page.on('pageerror', (error) => errors.push(error.message));
  await page.goto(pathToFileURL(html).href);
  const write = (path, bytes) => {
    mkdirSync(join(scratch, path, '..'), { recursive: true });
    writeFileSync(join(scratch, path), bytes);
    return join(scratch, path);
  };
  return { page, scratch, write, requests, errors };
}

async function choose(page, selector, ...paths) {
  await (await page.$(selector)).uploadFile(...paths);
}

const whenDone = (page, timeout = 300000) =>
  page.waitForFunction(() => document.body.dataset.state === 'done', { timeout, polling: 100 });

// Clicks `control` and gives the bytes of the file that lands; it is then removed, so that the
// next download of that name lands under it again.
async function download(page, { scratch }, control, name) {
  await (typeof control === 'string' ? page.click(control) : control.click());
  const bytes = await landed(join(scratch, 'downloads'), name);
  rmSync(join(scratch, 'downloads', name));
  return bytes;
}

const packageStates = (page) => page.$$eval('.package', (sections) => sections.map((s) => ({
  path: s.querySelector('h2').textContent, state: s.dataset.state, status: s.querySelector('.status').textContent,
  ms: Number(s.dataset.ms), lines: s.querySelector('pre').textContent, files: Number(s.dataset.files),
  shown: Number(s.dataset.shown), found: s.querySelector('.found').textContent, folded: s.classList.contains('folded'),
  hidden: s.offsetParent === null,
})));

// How the page draws a picture of the file `path`: a decal in decals.wad, a { texture masked.
const lookOf = (path, name) => (/(^|\/)decals\.wad$/i.test(path) ? 'decal' : name.startsWith('{') ? 'masked' : 'opaque');

// The files of a zip of PNG files against the native runs' PCX files: the same paths but .png (a
// picture with no pixels keeps its PCX file), each read by Pillow as the colours the page draws.
function assertPngZip(zipped, runs) {
  const entries = unzipSync(zipped), want = new Map();
  for (const run of runs) {
    for (const [file, pcx] of run.files) {
      const { width, height } = decodePcx(pcx), png = width > 0 && height > 0;
      want.set(`${run.folder}/${readable(png ? file.replace(/\.pcx$/, '.png') : file)}`, { pcx, png, look: lookOf(run.name, file) });
    }
  }
  assert.deepEqual(Object.keys(entries).sort(), [...want.keys()].sort());
  const pngs = new Map([...want].filter(([, w]) => w.png).map(([path], k) => [`${k}.png`, entries[path]]));
  const read = pillow(pngs);
  [...want].filter(([, w]) => w.png).forEach(([path, w], k) => {
    assert.equal(read[`${k}.png`].mode, w.look === 'opaque' && isGreyRamp(decodePcx(w.pcx).palette) ? 'L' : 'P', path);
    assert.deepEqual(read[`${k}.png`].rgba, drawnColours(w.pcx, w.look), path);
  });
  for (const [path, w] of want) if (!w.png) assert.deepEqual(entries[path], w.pcx, path);
}

// Every picture in the page, read back from the screen's bitmap: { name, rgba }.
const pictures = (page) => page.$$eval('figure img', (imgs) => imgs.map((img) => {
  const canvas = document.createElement('canvas');
  [canvas.width, canvas.height] = [img.naturalWidth, img.naturalHeight];
  const context = canvas.getContext('2d');
  context.drawImage(img, 0, 0);
  return { name: img.alt, rgba: Array.from(context.getImageData(0, 0, canvas.width, canvas.height).data) };
}));

// A picture as read back from the screen against the colours it should be drawn in: each pixel's
// opacity exactly, and its colour within the precision its opacity leaves it on screen.
function assertDrawn({ name, rgba }, want) {
  assert.equal(rgba.length, want.length, name);
  for (let i = 0; i < want.length; i += 4) {
    assert.equal(rgba[i + 3], want[i + 3], `${name}: opacity of pixel ${i / 4}`);
    for (let c = 0; c < 3 && want[i + 3] > 0; ++c) {
      assert.ok(Math.abs(rgba[i + c] - want[i + c]) <= Math.ceil(255 / want[i + 3]), `${name}: colour of pixel ${i / 4}`);
    }
  }
}

// Every picture shown is in the page, and drawn: none left from before a search.
const drawn = (page) => page.waitForFunction(() =>
  [...document.querySelectorAll('.package')].every((s) => s.querySelectorAll('figure').length <= Number(s.dataset.shown)) &&
  [...document.querySelectorAll('figure img')].every((img) => img.complete && img.naturalWidth > 0), { polling: 100 });

// The files of a zip, folders left out, against the native runs' files under their folders.
function assertZip(zipped, runs) {
  const entries = unzipSync(zipped);
  const want = {};
  for (const run of runs) {
    for (const [file, bytes] of run.files) want[`${run.folder}/${readable(file)}`] = bytes;
  }
  assert.deepEqual(Object.keys(entries).sort(), Object.keys(want).sort());
  for (const [path, bytes] of Object.entries(want)) assert.deepEqual(entries[path], bytes, path);
}

test(`${browserName}: converts every package given into the native files and lines, and sends nothing`, async (t) => {
  const opened = await open(t);
  if (!opened) return;
  const { page, write, requests, errors } = opened;
  const sample = join(top, 'examples/sample.wad');
  const whole = pack([texture('first', 4, 4), texture('second', 8, 8)]);
  const given = [
    write('a/broken.wad', whole.subarray(0, whole.length - 800)),  // ends in the second's pixels
    write('b/notes.txt', new TextEncoder().encode('this is no package at all')),
    ...(existsSync(samples) ? readdirSync(samples).filter((f) => f.endsWith('.wad')).sort().map((f) => join(samples, f)) : []),
    write('c/sample.wad', readFileSync(sample)),  // a second package of that name: a folder of its own
  ];

  await choose(page, 'input[type="file"]:not([webkitdirectory])', sample);
  await whenDone(page);
  await drawn(page);
  // Every picture at its file's colours; palette entry 255 of a { texture transparent.
  const sampleRun = native('sample.wad', readFileSync(sample));
  const shownPictures = await pictures(page);
  assert.deepEqual(shownPictures.map((p) => p.name).sort(), [...sampleRun.files.keys()].sort());
  let transparent = 0;
  for (const { name, rgba } of shownPictures) {
    const { pixels, palette } = decodePcx(sampleRun.files.get(name));
    const clear = (i) => name.startsWith('{') && i === 255;
    transparent += Array.from(pixels).filter(clear).length;
    const want = Array.from(pixels).flatMap((i) => (clear(i) ? [0, 0, 0, 0] : [...palette.subarray(3 * i, 3 * i + 3), 255]));
    assert.deepEqual(rgba, want, name);
  }
  assert.ok(transparent > 0, 'the sample\'s {fence has transparent pixels');

  // Dropped anywhere on the page, a package converts as a chosen one does.
  await page.evaluate((bytes) => {
    const transfer = new DataTransfer();
    transfer.items.add(new File([new Uint8Array(bytes)], 'dropped.wad'));
    const drop = new DragEvent('drop', { dataTransfer: transfer, bubbles: true, cancelable: true });
    document.querySelector('footer').dispatchEvent(drop);
  }, [...readFileSync(sample)]);
  await choose(page, 'input[type="file"]:not([webkitdirectory])', ...given);
  await whenDone(page);
  const shown = await packageStates(page);

  const packages = [sample, sample, ...given];
  assert.equal(shown.length, packages.length);
  const taken = new Set();
  const expected = packages.map((path, i) => {
    const name = i === 1 ? 'dropped.wad' : basename(path);
    return { name, folder: folderName(name, taken), path, ...native(name, readFileSync(path)) };
  });
  expected.forEach((run, i) => {
    assert.equal(shown[i].lines, readable(run.out), run.name);
    assert.equal(shown[i].state, run.status === 0 ? 'done' : 'failed', run.name);
    assert.equal(shown[i].files, run.files.size, run.name);
  });
  assert.equal(shown[2].status, 'Stopped: Invalid mip entry; offsets[0] is malformed.');
  assert.equal(shown[3].status, 'Stopped: Invalid WAD3 header id.');
  assert.equal(shown[2].files, 1);

  // The zip: a folder a package with files, each file the native program's.
  const files = expected.reduce((sum, run) => sum + run.files.size, 0);
  assert.equal(await page.$eval('[data-action="save-zip"]', (b) => b.textContent), `Save all ${files.toLocaleString('en-US')} PCX files as a zip`);
  assertZip(await download(page, opened, '[data-action="save-zip"]', 'wad3-textures.zip'), expected);

  // One picture saved alone is its PCX file.
  let first = await page.$('.package figure a');
  const name = await first.evaluate((a) => a.download);
  assert.deepEqual(await download(page, opened, first, name), expected[0].files.get(name));

  // As PNG files, where Pillow is at hand to read them: the zip and a picture alone.
  if (hasPillow()) {
    await page.click('input[name="format"][value="PNG"]');
    assert.equal(await page.$eval('[data-action="save-zip"]', (b) => b.textContent), `Save all ${files.toLocaleString('en-US')} PNG files as a zip`);
    const started = Date.now();
    const pngZip = await download(page, opened, '[data-action="save-zip"]', 'wad3-textures-png.zip');
    t.diagnostic(`the PNG zip of ${files} files saved in ${Date.now() - started} ms`);
    assertPngZip(pngZip, expected);
    // Each file the one wad3 --png writes, byte for byte.
    const entries = unzipSync(pngZip);
    for (const run of expected) {
      const written = runNative(join(build, 'wad3'), run.name, readFileSync(run.path), ['--png']);
      for (const [file, bytes] of written.files) assert.deepEqual(entries[`${run.folder}/${readable(file)}`], bytes, file);
    }
    await drawn(page);
    first = await page.$('.package figure a');
    const png = await first.evaluate((a) => a.download);
    assert.equal(png, name.replace(/\.pcx$/, '.png'));
    const aloneBytes = await download(page, opened, first, png);
    assert.deepEqual(aloneBytes, runNative(join(build, 'wad3'), 'sample.wad', readFileSync(sample), ['--png']).files.get(png));
    const alone = pillow(new Map([['alone.png', aloneBytes]]))['alone.png'];
    assert.deepEqual(alone.rgba, drawnColours(expected[0].files.get(name), lookOf('sample.wad', name)));
  }

  // Nothing but the page itself and the Blobs it made; a connection is refused by its policy.
  assert.equal(await page.evaluate(() => fetch('https://example.com/').then(() => 'sent', () => 'refused')), 'refused');
  assert.deepEqual(requests.filter((url) => !/^(blob:|file:|data:)/.test(url)), []);  // data: is inline
  assert.deepEqual(errors, []);
  const total = shown.reduce((sum, s) => sum + s.ms, 0);
  t.diagnostic(`${packages.length} packages, ${files} files, ${total} ms in the page`);
});

// Made-up models and sprites: one model whose skins lie in another beside it, one of them masked;
// a sprite drawn index-alpha with a group among its frames, one drawn alpha-test.
const madeModels = () => {
  const palette = texture('p', 0, 0).palette;
  return {
    'game/valve/models/barney.mdl': model([]),
    'game/valve/models/barneyT.mdl': model([{ ...texture('Face.BMP', 8, 6), flags: 0 }, { ...texture('grate.bmp', 5, 5), flags: 0x40,
                                                                                         pixels: Uint8Array.from({ length: 25 }, (_, i) => (i % 3 ? i : 255)) }]),
    'game/valve/sprites/muzzle.spr': sprite([[texture('a', 6, 6)], [texture('bb', 6, 6), texture('ccc', 6, 6)]], palette, 2),
    'game/valve/sprites/fence.SPR': sprite([[texture('d', 7, 3)]], palette, 3),
  };
};

// A game's folder: made-up packages, maps, models and sprites, a file that is none of them, and
// every real package, map, model and sprite at hand in three more folders.
function gameFolder(write, scratch) {
  const named = { ...texture('generic', 64, 64), named: true };
  const made = {
    'game/cstrike/decals.WAD': pack([texture('concrete', 16, 16), texture('conc_old', 8, 8), texture('{grate', 4, 4)]),
    'game/cstrike/maps/de_x.wad': pack([texture('sky', 8, 4)]),
    'game/cstrike/maps/de_y.BSP': map([texture('mapwall', 16, 16), null, named, named]),
    'game/cstrike/maps/de_z.bsp': map([named]),
    'game/valve/halflife.wad': readFileSync(join(top, 'examples/sample.wad')),
    ...madeModels(),
  };
  for (const [path, bytes] of Object.entries(made)) write(path, bytes);
  write('game/valve/readme.txt', new TextEncoder().encode('not a package'));
  const paths = Object.keys(made);
  let skipped = 1;
  for (const [folder, to, ending] of [[samples, 'game/real', /\.wad$/], [mapSamples, 'game/realmaps', /\.bsp$/],
                                      [modelSamples, 'game/realmodels', /\.(mdl|spr)$/]]) {
    const real = existsSync(folder) ? readdirSync(folder).sort() : [];
    if (real.length > 0) cpSync(folder, join(scratch, to), { recursive: true });
    paths.push(...real.filter((f) => ending.test(f)).map((f) => `${to}/${f}`));
    skipped += real.filter((f) => !ending.test(f)).length;
  }
  return { paths: paths.sort(), skipped };
}

const skippedNote = (n) => `${n} ${n === 1 ? 'file that is' : 'files that are'} no package, map, model or sprite skipped.`;

test(`${browserName}: a game's folder chosen: every package below it, in path order, a folder each in the zip`, async (t) => {
  const opened = await open(t);
  if (!opened) return;
  const { page, scratch, write, errors } = opened;
  const { paths, skipped } = gameFolder(write, scratch);
  try {
    await choose(page, 'input[webkitdirectory]', join(scratch, 'game'));
  } catch (error) {  // Firefox 153's WebDriver BiDi: input.setFiles refuses a folder ("Is directory")
    if (browserName !== 'firefox') throw error;
    t.skip(`the driver cannot choose a folder in ${browserName}: ${error.message.split('\n')[0]}`);
    return;
  }
  await whenDone(page);
  const states = await packageStates(page);
  assert.deepEqual(states.map((s) => s.path), paths);
  assert.equal(await page.$eval('#note', (n) => n.textContent), skippedNote(skipped));
  // A map says what it carries and what packages hold, so that one with none inside is no fault.
  const status = (path) => states.find((s) => s.path === path).status;
  assert.equal(status('game/cstrike/maps/de_y.BSP'), '1 texture written; 2 more are in packages');
  assert.equal(status('game/cstrike/maps/de_z.bsp'), '0 textures written; the 1 it names is in a package');
  assert.equal(status('game/valve/models/barney.mdl'), 'Its skins are in barneyT.mdl');
  assert.equal(status('game/valve/sprites/muzzle.spr'), '3 pictures written');
  const runs = paths.map((path) => ({ folder: path.replace(/\.(wad|bsp|mdl|spr)$/i, ''), ...native(basename(path), readFileSync(join(scratch, path))) }));
  runs.forEach((run, i) => assert.equal(states[i].lines, readable(run.out), paths[i]));
  assertZip(await download(page, opened, '[data-action="save-zip"]', 'wad3-textures.zip'), runs);
  await page.type('input[type="search"]', 'wall');  // the README's picture
  await drawn(page);
  await page.screenshot({ path: join(build, 'web.png') });
  assert.deepEqual(errors, []);
});

test(`${browserName}: a game's folder dropped: every package below it, in path order`, async (t) => {
  if (browserName !== 'chromium') {  // WebDriver BiDi drags no files
    t.skip(`the driver cannot drop a folder in ${browserName}`);
    return;
  }
  const opened = await open(t);
  if (!opened) return;
  const { page, scratch, write, errors } = opened;
  const { paths, skipped } = gameFolder(write, scratch);
  const client = await page.createCDPSession();  // a drag from outside the page, as a person makes one
  const data = { items: [], files: [join(scratch, 'game')], dragOperationsMask: 1 };
  // On the viewer's part of the page: what is dropped on the package being made goes there.
  const { x, y, width, height } = await (await page.$('main .actions')).boundingBox();
  for (const type of ['dragEnter', 'dragOver', 'drop']) {
    await client.send('Input.dispatchDragEvent', { type, x: x + width / 2, y: y + height / 2, data });
  }
  await whenDone(page);
  assert.deepEqual((await packageStates(page)).map((s) => s.path), paths);
  assert.equal(await page.$eval('#note', (n) => n.textContent), skippedNote(skipped));
  assert.deepEqual(errors, []);
});

test(`${browserName}: a search shows only what it found, decals as the game draws them, and the zip holds it`, async (t) => {
  const opened = await open(t);
  if (!opened) return;
  const { page, scratch, write, errors } = opened;
  const { paths } = gameFolder(write, scratch);
  await choose(page, 'input[type="file"]:not([webkitdirectory])', ...paths.map((path) => join(scratch, path)));
  await whenDone(page);

  // Words of the name in any case and a size: the pictures narrow, and the sections without one
  // leave the page, counted in one line below it, which lists them when clicked.
  await page.type('input[type="search"]', 'CONC 16x16');
  await page.waitForFunction(() => document.querySelector('[data-action="save-zip"]').textContent === 'Save the 1 PCX file found', { polling: 50 });
  const found = await packageStates(page);
  assert.equal(found[0].path, 'decals.WAD');
  assert.deepEqual([found[0].shown, found[0].found, found[0].hidden], [1, '1 of 3 match', false]);
  assert.deepEqual(found.slice(1).filter((s) => !s.hidden || s.shown !== 0), []);
  const none = paths.slice(1).map((path) => basename(path));
  assert.equal(await page.$eval('#unmatched button', (b) => b.textContent),
               `${none.length} packages, maps, models and sprites have no texture named CONC 16x16`);
  assert.equal(await page.$eval('#unmatched ul', (list) => list.hidden), true);
  await page.click('#unmatched button');
  assert.deepEqual(await page.$$eval('#unmatched li .path', (items) => items.map((item) => item.textContent)), none);
  await drawn(page);

  // A decal: entry 255's colour, each index's opacity 255 - index, as read back from the screen
  // (where a colour keeps only the precision its opacity leaves it).
  const decals = native('decals.WAD', readFileSync(join(scratch, paths[0])));
  const [concrete] = await pictures(page);
  assert.equal(concrete.name, 'concrete.pcx');
  const want = drawnColours(decals.files.get('concrete.pcx'), 'decal');
  assert.ok(new Set(want.filter((_, i) => i % 4 === 3)).size > 1, 'the decal has several opacities');
  assertDrawn(concrete, want);
  const zipped = unzipSync(await download(page, opened, '[data-action="save-zip"]', 'wad3-textures.zip'));
  assert.deepEqual(Object.keys(zipped), ['decals/concrete.pcx']);
  assert.deepEqual(zipped['decals/concrete.pcx'], decals.files.get('concrete.pcx'));

  // Cleared, every picture is back; more than a zip may hold makes several, each complete, the
  // files in order across them.
  await page.$eval('input[type="search"]', (field) => { field.value = ''; field.dispatchEvent(new Event('input')); });
  await drawn(page);  // the pictures drawn before are drawn again
  assert.equal(await page.$eval('#unmatched', (line) => line.hidden), true);
  const runs = paths.map((path) => native(basename(path), readFileSync(join(scratch, path))));
  const files = runs.reduce((sum, run) => sum + run.files.size, 0);
  const bytes = runs.reduce((sum, run) => sum + [...run.files.values()].reduce((s, f) => s + f.length, 0), 0);
  assert.equal(await page.$eval('[data-action="save-zip"]', (b) => b.textContent), `Save all ${files} PCX files as a zip`);
  await page.$eval('[data-action="save-zip"]', (button, limit) => { button.dataset.partLimit = limit; }, Math.ceil(bytes / 3) + 20000);
  await page.click('[data-action="save-zip"]');
  const links = await page.$$('[data-action="save-part"]');
  assert.ok(links.length > 1);
  const names = [];
  for (const link of links) names.push(...Object.keys(unzipSync(await download(page, opened, link, await link.evaluate((a) => a.download)))));
  assert.equal(names.length, files);
  assert.equal(names[0], 'decals/concrete.pcx');
  assert.deepEqual(errors, []);
});

test(`${browserName}: models and sprites drawn as the game draws them, and a sprite played`, async (t) => {
  const opened = await open(t);
  if (!opened) return;
  const { page, write, errors } = opened;
  const made = Object.entries(madeModels()).map(([path, bytes]) => ({ path: write(path, bytes), bytes }));
  await choose(page, 'input[type="file"]:not([webkitdirectory])', ...made.map(({ path }) => path));
  await whenDone(page);
  const states = await packageStates(page);
  assert.deepEqual(states.map((s) => s.status), ['Its skins are in barneyT.mdl', '2 skins written', '3 pictures written', '1 picture written']);
  // Each picture read back from the screen: the masked skin's entry 255 and the alpha-test
  // sprite's transparent, the index-alpha sprite's opacity its index, the rest opaque.
  await drawn(page);
  const looks = { 'Face.pcx': 'opaque', 'grate.pcx': 'masked', 'muzzle_0.pcx': 'indexalpha', 'muzzle_1.pcx': 'indexalpha',
                  'muzzle_2.pcx': 'indexalpha', 'fence_0.pcx': 'masked' };
  const files = new Map(made.flatMap(({ path, bytes }) => [...native(basename(path), bytes).files]));
  const shown = await pictures(page);
  assert.deepEqual(shown.map((p) => p.name).sort(), Object.keys(looks).sort());
  for (const picture of shown) assertDrawn(picture, drawnColours(files.get(picture.name), looks[picture.name]));
  assert.ok(shown.find((p) => p.name === 'grate.pcx').rgba.some((v, i) => i % 4 === 3 && v === 0), 'the masked skin has holes');

  // The sprite's first picture plays its three frames while the pointer is on it, then shows the
  // first again; the others stand still.
  const first = await page.$('img[alt="muzzle_0.pcx"]');
  await first.hover();
  const seen = new Set();
  for (const until = Date.now() + 5000; seen.size < 3 && Date.now() < until; await new Promise((done) => setTimeout(done, 20))) {
    seen.add(await first.evaluate((img) => img.dataset.frame));
  }
  assert.deepEqual([...seen].sort(), ['0', '1', '2']);
  // What it shows, read back with the frame it says it shows, once that has been drawn.
  const playing = await page.waitForFunction(() => {
    const img = document.querySelector('img[alt="muzzle_0.pcx"]');
    if (!img.complete || img.dataset.frame === '0') return false;
    const canvas = Object.assign(document.createElement('canvas'), { width: img.naturalWidth, height: img.naturalHeight });
    const context = canvas.getContext('2d');
    context.drawImage(img, 0, 0);
    return { frame: img.dataset.frame, rgba: Array.from(context.getImageData(0, 0, canvas.width, canvas.height).data) };
  }, { polling: 10 }).then((handle) => handle.jsonValue());
  assertDrawn({ name: `frame ${playing.frame}`, rgba: playing.rgba }, drawnColours(files.get(`muzzle_${playing.frame}.pcx`), 'indexalpha'));
  await page.hover('h1');
  await page.waitForFunction(() => document.querySelector('img[alt="muzzle_0.pcx"]').dataset.frame === '0', { polling: 50 });
  assert.equal(await page.$eval('img[alt="muzzle_1.pcx"]', (img) => img.dataset.frame), undefined);

  // The search finds skins and frames by their names, and the zip keeps them under their files'
  // paths without their endings.
  await page.type('input[type="search"]', 'muzzle');
  await page.waitForFunction(() => document.querySelector('[data-action="save-zip"]').textContent === 'Save the 3 PCX files found', { polling: 50 });
  const zipped = unzipSync(await download(page, opened, '[data-action="save-zip"]', 'wad3-textures.zip'));
  assert.deepEqual(Object.keys(zipped), ['muzzle/muzzle_0.pcx', 'muzzle/muzzle_1.pcx', 'muzzle/muzzle_2.pcx']);
  assert.deepEqual(errors, []);
});

test(`${browserName}: a browser that refuses WebAssembly says so at once and offers nothing`, async (t) => {
  const html = readFileSync(join(build, 'wad3.html'), 'utf8');
  for (const [why, text, args] of [['policy', html.replace(" 'wasm-unsafe-eval'", ''), []]]) {
    const folder = mkdtempSync(join(tmpdir(), 'wad3-refused-'));
    t.after(() => rmSync(folder, { recursive: true, force: true }));
    writeFileSync(join(folder, 'wad3.html'), text);
    const opened = await open(t, { html: join(folder, 'wad3.html'), args });
    if (!opened) return;
    const { page } = opened;
    await page.waitForFunction(() => document.body.dataset.state === 'unsupported', { timeout: 20000 });
    const note = await page.$eval('#note', (n) => n.textContent);
    assert.match(note, /^This browser cannot convert packages here: .+/, why);
    assert.deepEqual(await page.$$eval('input, button', (controls) => controls.filter((c) => !c.disabled).length), 0, why);
  }
});

// A program of one function that traps at once, in the page in place of wad3.wasm.
const kTrap = Uint8Array.of(0, 0x61, 0x73, 0x6d, 1, 0, 0, 0, 1, 4, 1, 0x60, 0, 0, 3, 2, 1, 0, 5, 3, 1, 0, 1,
                            7, 0x13, 2, 6, 0x5f, 0x73, 0x74, 0x61, 0x72, 0x74, 0, 0, 6, 0x6d, 0x65, 0x6d, 0x6f, 0x72, 0x79, 2, 0,
                            10, 5, 1, 3, 0, 0, 0x0b);

test(`${browserName}: a program that traps ends its package, and a fresh worker takes the next`, async (t) => {
  const html = readFileSync(join(build, 'wad3.html'), 'utf8')
    .replace(/(<script type="application\/wasm" id="wad3-wasm">)[^<]*/, (_, tag) => tag + Buffer.from(kTrap).toString('base64'));
  const folder = mkdtempSync(join(tmpdir(), 'wad3-trap-'));
  t.after(() => rmSync(folder, { recursive: true, force: true }));
  writeFileSync(join(folder, 'wad3.html'), html);
  const opened = await open(t, { html: join(folder, 'wad3.html') });
  if (!opened) return;
  const sample = join(top, 'examples/sample.wad');
  await choose(opened.page, 'input[type="file"]:not([webkitdirectory])', sample, opened.write('x/again.wad', readFileSync(sample)));
  await whenDone(opened.page, 30000);
  const shown = await packageStates(opened.page);
  assert.equal(shown.length, 2);
  for (const s of shown) assert.match(s.status, /^Not converted: the program stopped \(RuntimeError: .+\)$/);
});

test(`${browserName}: 70,000 tiny textures shown, and a zip whose end records count them all`, async (t) => {
  const opened = await open(t);
  if (!opened) return;
  const { page, write, errors } = opened;
  const bytes = packMany(70000);
  const path = write('many/many.wad', bytes);
  const run = { folder: 'many', ...native('many.wad', bytes) };
  const started = Date.now();
  await choose(page, 'input[type="file"]:not([webkitdirectory])', path);
  await whenDone(page, 600000);
  const shownIn = Date.now() - started;
  const [state] = await packageStates(page);
  assert.equal(state.files, 70000);
  assert.equal(state.lines, readable(run.out));
  const saving = Date.now();
  const zipped = await download(page, opened, '[data-action="save-zip"]', 'wad3-textures.zip');
  const savedIn = Date.now() - saving;
  const view = new DataView(zipped.buffer, zipped.byteOffset);
  const end = zipped.length - 22, locator = end - 20;
  assert.equal(view.getUint16(end + 10, true), 0xffff);  // the count is the ZIP64 record's
  assert.equal(view.getUint32(locator, true), 0x07064b50);
  const record = Number(view.getBigUint64(locator + 8, true));
  assert.equal(view.getBigUint64(record + 24, true), 70000n);
  assertZip(zipped, [run]);
  const list = join(opened.scratch, 'many.zip');
  writeFileSync(list, zipped);
  try {
    assert.equal(execFileSync('unzip', ['-Z1', list], { maxBuffer: 1 << 26 }).toString().trim().split('\n').length, 70000);
  } catch (error) {
    if (error.code !== 'ENOENT' || process.env.CI === 'true') throw error;
  }
  assert.deepEqual(errors, []);
  t.diagnostic(`70,000 textures: shown in ${shownIn} ms, their zip saved in ${savedIn} ms`);
});

// Images made in the test: a truecolour gradient, a { texture with transparent pixels, an indexed
// PNG (made by the page's own PNG writer: indices and palette kept exactly), and one whose width
// is no multiple of 16.
const madeImages = () => {
  const palette = Uint8Array.from({ length: 768 }, (_, i) => (i * 7) & 255);
  return {
    'drawn/wall.tga': tga(32, 16, (x, y) => [x * 8, y * 16, (x * y) & 255, 255]),
    'drawn/{grate.tga': tga(16, 16, (x, y) => [200, 100, 50, (x + y) % 4 === 0 ? 0 : 255]),
    'drawn/sub/floor.png': drawnPng({ width: 16, height: 32, palette, pixels: Uint8Array.from({ length: 512 }, (_, i) => i % 251) }, 'opaque'),
    'bad/odd.tga': tga(20, 16, () => [1, 2, 3, 255]),
  };
};

const whenMade = (page, state) =>
  page.waitForFunction((want) => document.body.dataset.make === want, { timeout: 120000, polling: 50 }, state);

// The textures the package being made shows: name and size as captioned, and each as read back
// from the screen.
const madeTextures = (page, section = '#make') => page.$$eval(`${section} figure`, (figures) => figures.map((figure) => {
  const img = figure.querySelector('img'), canvas = document.createElement('canvas');
  [canvas.width, canvas.height] = [img.naturalWidth, img.naturalHeight];
  const context = canvas.getContext('2d');
  context.drawImage(img, 0, 0);
  return { caption: figure.querySelector('figcaption').textContent,
           rgba: Array.from(context.getImageData(0, 0, canvas.width, canvas.height).data) };
}));

const setField = (page, selector, value) => page.$eval(selector, (field, v) => {
  field.value = v;
  field.dispatchEvent(new Event('input'));
}, value);

test(`${browserName}: images made a package, the native program's bytes, with and without dithering, decals, a problem`, async (t) => {
  const opened = await open(t);
  if (!opened) return;
  const { page, scratch, write, errors, requests } = opened;
  const made = madeImages();
  for (const [path, bytes] of Object.entries(made)) write(path, bytes);
  const given = ['drawn/wall.tga', 'drawn/{grate.tga', 'drawn/sub/floor.png'];
  const program = join(build, 'wad3');
  const nativeMake = (args) => {
    const run = makeNative(program, scratch, args);
    return { ...run, bytes: run.status === 0 ? new Uint8Array(readFileSync(join(scratch, args.find((a) => a.endsWith('.wad'))))) : null };
  };

  assert.equal(await page.evaluate(() => document.body.dataset.make), 'empty');
  await choose(page, 'input[data-input="make"]', ...given.map((path) => join(scratch, path)));
  await whenMade(page, 'ready');
  const plain = nativeMake(['textures.wad', ...given]);
  assert.equal(plain.status, 0);
  assert.deepEqual(await download(page, opened, '[data-action="save-package"]', 'textures.wad'), plain.bytes);
  // Each texture as the game draws it, in the package's order: the native extraction's pixels,
  // the { texture's transparent ones clear.
  const extracted = runNative(program, 'textures.wad', plain.bytes);
  const shown = await madeTextures(page);
  assert.deepEqual(shown.map((s) => s.caption), ['wall 32x16', '{grate 16x16', 'floor 16x32']);
  for (const [k, name] of ['wall.pcx', '{grate.pcx', 'floor.pcx'].entries()) {
    assertDrawn({ name, rgba: shown[k].rgba }, drawnColours(extracted.files.get(name), lookOf('textures.wad', name)));
  }
  assert.ok(shown[1].rgba.some((v, i) => i % 4 === 3 && v === 0), 'the { texture has clear pixels');

  // Dithered, as --dither makes it.
  await page.click('[data-field="dither"]');
  await whenMade(page, 'ready');
  assert.deepEqual(await download(page, opened, '[data-action="save-package"]', 'textures.wad'),
                   nativeMake(['--dither', 'textures.wad', ...given]).bytes);
  await page.click('[data-field="dither"]');

  // A file with a problem: said at its file, in the program's words; nothing can be saved until
  // it is removed, and the others' textures are still drawn.
  await choose(page, 'input[data-input="make"]', join(scratch, 'bad/odd.tga'));
  await whenMade(page, 'problems');
  const files = await page.$$eval('#make .make-files li', (items) => items.map((item) => ({
    path: item.querySelector('.path').textContent, state: item.dataset.state,
    said: Array.from(item.querySelectorAll('.problem, .note'), (said) => said.textContent) })));
  assert.deepEqual(files.at(-1), { path: 'odd.tga', state: 'problems', said: ['20x16, sides must be multiples of 16: 16x16 or 32x16'] });
  assert.ok(files.slice(0, -1).every((file) => file.state === 'ok'));
  assert.equal(await page.$eval('[data-action="save-package"]', (b) => b.disabled), true);
  assert.equal(await page.$eval('#make .make-status', (s) => s.textContent), 'Nothing written : textures.wad (1 problem)');
  assert.equal((await madeTextures(page)).length, 3);
  await page.click('#make .make-files li:last-child [data-action="remove"]');
  await whenMade(page, 'ready');

  // decals.wad makes decals, drawn in their colour with each index's opacity.
  await setField(page, '[data-field="package-name"]', 'decals.wad');
  await whenMade(page, 'ready');
  const decals = nativeMake(['decals.wad', ...given]);
  assert.deepEqual(await download(page, opened, '[data-action="save-package"]', 'decals.wad'), decals.bytes);
  const decalFiles = runNative(program, 'decals.wad', decals.bytes).files;
  for (const [k, { rgba }] of (await madeTextures(page)).entries()) {
    const name = ['wall.pcx', '{grate.pcx', 'floor.pcx'][k];
    assertDrawn({ name, rgba }, drawnColours(decalFiles.get(name), 'decal'));
  }
  // A name that is no package's is said, and nothing saved.
  await setField(page, '[data-field="package-name"]', 'textures');
  await whenMade(page, 'problems');
  assert.match(await page.$eval('#make .make-status', (s) => s.textContent), /ending in \.wad/);

  assert.deepEqual(requests.filter((url) => !/^(blob:|file:|data:)/.test(url)), []);
  assert.deepEqual(errors, []);
});

test(`${browserName}: the textures found saved as a package, copied as --make copies them, a model's skins left out`, async (t) => {
  const opened = await open(t);
  if (!opened) return;
  const { page, scratch, write, errors } = opened;
  const files = {
    'found/a.wad': pack([texture('wall', 16, 16), texture('floor', 32, 16)]),
    'found/b.wad': pack([texture('WALL', 16, 32), texture('sky', 16, 16)]),
    'found/m.bsp': map([texture('mapwall', 16, 16), { ...texture('generic', 64, 64), named: true }]),
    'found/barneyT.mdl': madeModels()['game/valve/models/barneyT.mdl'],
  };
  for (const [path, bytes] of Object.entries(files)) write(path, bytes);
  const paths = Object.keys(files).map((path) => join(scratch, path));
  await choose(page, 'input[type="file"]:not([webkitdirectory])', ...paths);
  await whenDone(page);
  const program = join(build, 'wad3');
  const nativeMake = (...inputs) => {
    assert.equal(makeNative(program, scratch, ['out.wad', ...inputs]).status, 0);
    return new Uint8Array(readFileSync(join(scratch, 'out.wad')));
  };
  const button = '[data-action="save-found-package"]';
  assert.equal(await page.$eval(button, (b) => b.textContent),
               'Save all 5 textures as a package (2 skins and frames of models and sprites left out)');
  // The later wall replaces the earlier in its place, as the program does, and the page says so.
  assert.deepEqual(await download(page, opened, button, 'wad3-textures.wad'), nativeMake('found/a.wad', 'found/b.wad', 'found/m.bsp'));
  assert.equal(await page.$eval('#note', (n) => n.textContent),
               'Of two textures of the same name, the later replaces the earlier: wall from a.wad by WALL from b.wad.');
  // What a search finds, alone.
  await page.type('input[type="search"]', 'wall');
  assert.equal(await page.$eval(button, (b) => b.textContent), 'Save the 3 textures found as a package');
  write('alone.wad', pack([texture('WALL', 16, 32)]));
  write('alone.bsp', map([texture('mapwall', 16, 16)]));
  assert.deepEqual(await download(page, opened, button, 'wad3-textures.wad'), nativeMake('alone.wad', 'alone.bsp'));
  assert.deepEqual(errors, []);
});

const whenState = (page, key, state) =>
  page.waitForFunction((k, want) => document.body.dataset[k] === want, { timeout: 120000, polling: 50 }, key, state);

// What a way back lists of its files: path, state and what is said of each.
const formFiles = (page, section) => page.$$eval(`${section} .make-files li`, (items) => items.map((item) => ({
  path: item.querySelector('.path').textContent, state: item.dataset.state,
  said: Array.from(item.querySelectorAll('.problem, .note'), (said) => said.textContent) })));

test(`${browserName}: a game's maps say the textures no package holds, and one is saved with its packages' textures inside`, async (t) => {
  const opened = await open(t);
  if (!opened) return;
  const { page, scratch, write, errors, requests } = opened;
  const key = '{\n"wad" "\\\\half-life\\\\valve\\\\halflife.wad;c:\\\\mine\\\\Extra.WAD;lost.wad"\n"classname" "worldspawn"\n}\n';
  const named = (name) => ({ ...texture(name, 16, 16), named: true });
  write('game/valve/halflife.wad', pack([texture('wall', 16, 16), texture('sky', 16, 16)]));
  write('game/valve/extra.wad', pack([texture('CRATE', 16, 16)]));
  write('game/valve/maps/c1.bsp', map([texture('mapwall', 16, 16), named('wall'), named('crate'), named('gone'), named('GONE')], key));
  write('game/valve/maps/whole.bsp', map([texture('mine', 16, 16), named('sky')]));
  // The folder chosen; where the driver cannot choose one (Firefox's), its files one by one.
  let at = (path) => `game/valve/${path}`;
  try {
    await choose(page, 'input[webkitdirectory]:not([data-input])', join(scratch, 'game'));
  } catch (error) {
    if (browserName !== 'firefox') throw error;
    at = (path) => path.split('/').at(-1);
    await choose(page, 'input[type="file"]:not([webkitdirectory]):not([data-input])',
                 ...['halflife.wad', 'extra.wad', 'maps/c1.bsp', 'maps/whole.bsp'].map((path) => join(scratch, 'game/valve', path)));
  }
  await whenDone(page);
  await page.waitForFunction(() => [...document.querySelectorAll('.package')].filter((s) => s.dataset.missing).length === 2);
  const maps = await page.$$eval('.package[data-missing]', (sections) => sections.map((s) => ({
    path: s.querySelector('h2').textContent, missing: s.dataset.missing, line: s.querySelector('.missing-line').textContent })));
  assert.deepEqual(maps, [{ path: at('maps/c1.bsp'), missing: '1', line: '1 texture it names is in no package given' },
                          { path: at('maps/whole.bsp'), missing: '0', line: '' }]);
  await page.click('.package[data-missing="1"] .missing');
  assert.deepEqual(await page.$$eval('.package[data-missing="1"] .lacking:not([hidden]) li', (items) => items.map((i) => i.textContent)),
                   ['gone']);
  await drawn(page);
  await (await page.$('.package[data-missing="1"]')).screenshot({ path: join(build, 'map.png') });  // the README's picture
  // The word `missing` finds the map that lacks textures, and folds the others away.
  await page.type('input[type="search"]', 'missing');
  assert.deepEqual((await packageStates(page)).filter((s) => !s.hidden).map((s) => s.path), [at('maps/c1.bsp')]);
  await setField(page, 'input[type="search"]', '');

  // Its textures put inside from the packages its wad key names, found by name in any case, in
  // the key's order: the native --make's bytes; the one not found is said.
  const program = join(build, 'wad3');
  const nativeMap = (...args) => {
    assert.equal(makeNative(program, scratch, ['out.bsp', ...args]).status, 0);
    return new Uint8Array(readFileSync(join(scratch, 'out.bsp')));
  };
  assert.deepEqual(await download(page, opened, '.package[data-missing="1"] [data-action="embed-map"]', 'c1.bsp'),
                   nativeMap('game/valve/maps/c1.bsp', 'game/valve/halflife.wad', 'game/valve/extra.wad'));
  assert.equal(await page.$eval('#make-map .unfound', (p) => p.textContent), 'Not among the folder\'s packages: lost.wad.');
  assert.deepEqual(await page.$$eval('#make-map .map-textures li', (items) => items.map((i) => i.textContent)),
                   ['mapwall 16x16: carried by the map', `wall 16x16: from ${at('halflife.wad')}`, `crate 16x16: from ${at('extra.wad')}`,
                    'gone 16x16: in no file given', 'GONE 16x16: in no file given']);
  assert.deepEqual((await madeTextures(page, '#make-map')).filter((s) => /^(mapwall|wall|crate) /.test(s.caption)).map((s) => s.caption),
                   ['mapwall 16x16', 'wall 16x16', 'crate 16x16']);

  // A map and its textures given: a package and an image, the image's texture replacing the
  // package's; one of the wrong size is said at its file, and nothing can be saved.
  write('own/m.bsp', map([named('wall'), named('{fence'), texture('sky', 16, 16)]));
  write('own/pack.wad', pack([texture('wall', 16, 16)]));
  write('own/{fence.tga', tga(16, 16, (x, y) => [x * 16, y * 16, 0, (x + y) % 3 ? 255 : 0]));
  write('own/wall.tga', tga(32, 16, () => [1, 2, 3, 255]));
  while (await page.$('#make-map .make-files li:last-child [data-action="remove"]')) {
    await page.click('#make-map .make-files li:last-child [data-action="remove"]');
    await page.waitForFunction(() => document.body.dataset.mapMake !== 'working', { polling: 50 });
  }
  await whenState(page, 'mapMake', 'empty');
  await choose(page, 'input[data-input="map"]', join(scratch, 'own/m.bsp'));
  await choose(page, 'input[data-input="map-textures"]', join(scratch, 'own/pack.wad'), join(scratch, 'own/{fence.tga'));
  await whenState(page, 'mapMake', 'ready');
  assert.deepEqual(await download(page, opened, '[data-action="save-map"]', 'm.bsp'), nativeMap('own/m.bsp', 'own/pack.wad', 'own/{fence.tga'));
  assert.deepEqual(await page.$$eval('#make-map .map-textures li', (items) => items.map((i) => i.textContent)),
                   ['wall 16x16: from pack.wad', '{fence 16x16: from {fence.tga', 'sky 16x16: carried by the map']);
  const fence = (await madeTextures(page, '#make-map')).find((s) => s.caption === '{fence 16x16');
  assert.ok(fence.rgba.some((v, i) => i % 4 === 3 && v === 0), 'the { texture is drawn with its clear pixels');
  await choose(page, 'input[data-input="map-textures"]', join(scratch, 'own/wall.tga'));
  await whenState(page, 'mapMake', 'problems');
  assert.deepEqual((await formFiles(page, '#make-map')).at(-1),
                   { path: 'wall.tga', state: 'problems', said: ['wall is 32x16, the map\'s is 16x16: its faces are aligned to that size'] });
  assert.equal(await page.$eval('[data-action="save-map"]', (b) => b.disabled), true);
  assert.deepEqual(requests.filter((url) => !/^(blob:|file:|data:)/.test(url)), []);
  assert.deepEqual(errors, []);
});

test(`${browserName}: frames made a sprite of each type and format, reordered and removed, played before it is saved`, async (t) => {
  const opened = await open(t);
  if (!opened) return;
  const { page, scratch, write, errors } = opened;
  const frames = ['f/one.tga', 'f/two.tga', 'f/three.tga'].map((path, k) =>
    write(path, tga(8 + 8 * k, 16, (x, y) => [x * 20 + k * 60, y * 15, 90, (x + y + k) % 4 ? 255 : 0])));
  const program = join(build, 'wad3');
  const nativeSprite = (...args) => {
    assert.equal(makeNative(program, scratch, [...args]).status, 0);
    return new Uint8Array(readFileSync(join(scratch, 'sprite.spr')));
  };
  assert.equal(await page.evaluate(() => document.body.dataset.spriteMake), 'empty');
  await choose(page, 'input[data-input="sprite"]', ...frames);
  await whenState(page, 'spriteMake', 'ready');
  assert.deepEqual(await download(page, opened, '[data-action="save-sprite"]', 'sprite.spr'), nativeSprite('sprite.spr', ...frames));
  assert.equal(await page.$eval('#make-sprite .played figcaption', (c) => c.textContent), 'played, 3 frames');
  for (const [type, format] of [['oriented', 'alphatest'], ['facing-upright', 'indexalpha'], ['parallel-upright', 'additive']]) {
    await page.select('[data-field="sprite-type"]', type);
    await page.select('[data-field="sprite-format"]', format);
    await whenState(page, 'spriteMake', 'ready');
    assert.deepEqual(await download(page, opened, '[data-action="save-sprite"]', 'sprite.spr'),
                     nativeSprite('--type', type, '--format', format, 'sprite.spr', ...frames), `${type} ${format}`);
  }
  // Each frame as the game draws it in alpha-test: the native extraction's pixels, entry 255 clear.
  await page.select('[data-field="sprite-format"]', 'alphatest');
  await whenState(page, 'spriteMake', 'ready');
  const made = nativeSprite('--type', 'parallel-upright', '--format', 'alphatest', 'sprite.spr', ...frames);
  const extracted = runNative(program, 'sprite.spr', made).files;
  const shown = (await madeTextures(page, '#make-sprite')).filter((s) => !s.caption.startsWith('played'));
  assert.equal(shown.length, 3);
  for (const [k, name] of [...extracted.keys()].sort().entries()) assertDrawn({ name, rgba: shown[k].rgba }, drawnColours(extracted.get(name), 'masked'));

  // Moved by its buttons, then removed: the frames in the order listed.
  await page.click('#make-sprite .make-files li:first-child [data-action="later"]');
  await whenState(page, 'spriteMake', 'ready');
  assert.deepEqual((await formFiles(page, '#make-sprite')).map((f) => f.path), ['two.tga', 'one.tga', 'three.tga']);
  assert.deepEqual(await download(page, opened, '[data-action="save-sprite"]', 'sprite.spr'),
                   nativeSprite('--type', 'parallel-upright', '--format', 'alphatest', 'sprite.spr', frames[1], frames[0], frames[2]));
  await page.click('#make-sprite .make-files li:last-child [data-action="earlier"]');
  await whenState(page, 'spriteMake', 'ready');
  await page.click('#make-sprite .make-files li:first-child [data-action="remove"]');
  await whenState(page, 'spriteMake', 'ready');
  assert.deepEqual((await formFiles(page, '#make-sprite')).map((f) => f.path), ['three.tga', 'one.tga']);
  // A file that is no image is said at it; a name that is no sprite's at the top.
  write('f/broken.tga', Uint8Array.of(1, 2, 3));
  await choose(page, 'input[data-input="sprite"]', join(scratch, 'f/broken.tga'));
  await whenState(page, 'spriteMake', 'problems');
  assert.equal((await formFiles(page, '#make-sprite')).at(-1).state, 'problems');
  await page.click('#make-sprite .make-files li:last-child [data-action="remove"]');
  await whenState(page, 'spriteMake', 'ready');
  await setField(page, '[data-field="sprite-name"]', 'sprite');
  await whenState(page, 'spriteMake', 'problems');
  assert.match(await page.$eval('#make-sprite .make-status', (s) => s.textContent), /ending in \.spr/);
  assert.deepEqual(errors, []);
});

test(`${browserName}: a model's skins replaced by images of their names, drawn as the game draws them`, async (t) => {
  const opened = await open(t);
  if (!opened) return;
  const { page, scratch, write, errors } = opened;
  const palette = texture('p', 0, 0).palette;
  write('m/guy.mdl', model([{ ...texture('Face.bmp', 16, 8), palette }, { ...texture('grate.BMP', 8, 8), palette, flags: 0x40 }]));
  write('m/face.tga', tga(16, 8, (x, y) => [x * 16, y * 32, 200, 255]));
  write('m/grate.tga', tga(8, 8, (x, y) => [x * 32, 10, y * 32, (x + y) % 2 ? 255 : 0]));
  write('m/nose.tga', tga(8, 8, () => [1, 2, 3, 255]));
  write('m/Grate.png', drawnPng({ width: 16, height: 16, palette, pixels: new Uint8Array(256) }, 'opaque'));
  const program = join(build, 'wad3');
  const nativeModel = (...images) => {
    assert.equal(makeNative(program, scratch, ['out.mdl', 'm/guy.mdl', ...images]).status, 0);
    return new Uint8Array(readFileSync(join(scratch, 'out.mdl')));
  };
  await choose(page, 'input[data-input="model"]', join(scratch, 'm/guy.mdl'));
  await whenState(page, 'modelMake', 'empty');
  await choose(page, 'input[data-input="model-skins"]', join(scratch, 'm/face.tga'), join(scratch, 'm/grate.tga'));
  await whenState(page, 'modelMake', 'ready');
  const made = nativeModel('m/face.tga', 'm/grate.tga');
  assert.deepEqual(await download(page, opened, '[data-action="save-model"]', 'guy.mdl'), made);
  const extracted = runNative(program, 'guy.mdl', made).files;
  const shown = await madeTextures(page, '#make-model');
  assert.deepEqual(shown.map((s) => s.caption), ['Face 16x8', 'grate 8x8']);
  assertDrawn({ name: 'Face.pcx', rgba: shown[0].rgba }, drawnColours(extracted.get('Face.pcx'), 'opaque'));
  assert.ok(shown[1].rgba.some((v, i) => i % 4 === 3 && v === 0), 'the masked skin is drawn with its clear pixels');
  // What does not match, by name and by size, is said at its file, and nothing can be saved.
  await choose(page, 'input[data-input="model-skins"]', join(scratch, 'm/nose.tga'), join(scratch, 'm/Grate.png'));
  await whenState(page, 'modelMake', 'problems');
  const files = await formFiles(page, '#make-model');
  assert.deepEqual(files.slice(-2).map((f) => f.state), ['problems', 'problems']);
  assert.match(files.at(-2).said[0], /no skin nose/);
  assert.match(files.at(-1).said[0], /16x16, the skin grate\.BMP is 8x8/);
  assert.equal(await page.$eval('[data-action="save-model"]', (b) => b.disabled), true);
  assert.deepEqual(errors, []);
});

test(`${browserName}: with room for no file in memory, every file goes through the browser's database and back, exact`, async (t) => {
  const opened = await open(t);
  if (!opened) return;
  const { page, scratch, write, errors } = opened;
  await page.evaluate(() => { document.body.dataset.resident = '1'; });
  const paths = gameFolder(write, scratch).paths.filter((path) => /\.(wad|bsp)$/i.test(path));  // drawn by their names' rule
  await choose(page, 'input[type="file"]:not([webkitdirectory])', ...paths.map((path) => join(scratch, path)));
  await whenDone(page);
  await drawn(page);
  const taken = new Set();
  const runs = paths.map((path) => ({ folder: folderName(basename(path), taken), name: basename(path),
                                      ...native(basename(path), readFileSync(join(scratch, path))) }));
  assertZip(await download(page, opened, '[data-action="save-zip"]', 'wad3-textures.zip'), runs);
  // Pictures scrolled away and back, and searched for, are read back and drawn again.
  await page.type('input[type="search"]', 'a');
  await drawn(page);
  await setField(page, 'input[type="search"]', '');
  await drawn(page);
  const [first] = await pictures(page);
  assertDrawn(first, drawnColours(runs[0].files.get(first.name), lookOf(runs[0].name, first.name)));
  if (hasPillow()) {
    await page.click('input[name="format"][value="PNG"]');
    assertPngZip(await download(page, opened, '[data-action="save-zip"]', 'wad3-textures-png.zip'), runs);
  }
  assert.deepEqual(errors, []);
});
