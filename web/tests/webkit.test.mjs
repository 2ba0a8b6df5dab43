// The page in WebKit, Safari's engine: Debian's WebKitGTK MiniBrowser driven by WebKitWebDriver
// (W3C WebDriver, spoken here over HTTP), under a virtual display (xvfb-run). WebKitGTK's workers
// read no file, so the page reads each file whole and hands it over: every package's, map's,
// model's and sprite's lines and files must still be the native program's, every picture drawn (a { texture's entry 255
// transparent), and a search must narrow; a package made of images must be the native --make's,
// and so must a map, a sprite and a model, read from the Blob the page saves (its downloads are not
// driven here).
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { existsSync, mkdtempSync, readdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { basename, join } from 'node:path';
import { test } from 'node:test';
import { setTimeout as sleep } from 'node:timers/promises';
import { pathToFileURL } from 'node:url';

import { readable } from '../names.js';
import { makeNative, map, model, pack, runNative, sprite, texture, tga } from './wadpack.mjs';

const kDriver = '/usr/bin/WebKitWebDriver';
const kBrowser = '/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser';
const top = new URL('../../', import.meta.url).pathname;
const build = process.env.WAD3_WEB_BUILD ?? join(top, 'build-web');
const samples = join(top, '../shared/wad3-samples');
const mapSamples = join(top, '../shared/map-samples');
const modelSamples = join(top, '../shared/model-samples');

// A WebDriver session on the page; `call(method, path, body)` below the session.
async function session(t) {
  if (!existsSync(kDriver) || !existsSync(kBrowser) || !process.env.DISPLAY) {
    if (process.env.CI === 'true') throw new Error(`${kDriver}, ${kBrowser} and a display are needed under CI`);
    t.skip('needs WebKitWebDriver, MiniBrowser (webkit2gtk-driver) and a display (xvfb-run)');
    return null;
  }
  const port = 4400 + (process.pid % 500);
  const driver = spawn(kDriver, [`--port=${port}`], { stdio: 'ignore' });
  let sessionId = null;
  t.after(async () => {
    if (sessionId) await send('DELETE', `/session/${sessionId}`).catch(() => {});
    driver.kill();
  });
  const send = async (method, path, body) => {
    const response = await fetch(`http://127.0.0.1:${port}${path}`, {
      method, headers: { 'content-type': 'application/json' }, body: body && JSON.stringify(body) });
    const { value } = await response.json();
    if (value?.error) throw new Error(`${value.error}: ${value.message}`);
    return value;
  };
  for (let tries = 0; ; ++tries) {  // until the driver listens
    try {
      ({ sessionId } = await send('POST', '/session', { capabilities: { alwaysMatch: {
        browserName: 'MiniBrowser', 'webkitgtk:browserOptions': { binary: kBrowser, args: ['--automation'] } } } }));
      return (method, path, body) => send(method, `/session/${sessionId}${path}`, body);
    } catch (error) {
      if (tries === 50) throw error;
      await sleep(100);
    }
  }
}

test('webkit: converts every package into the native files and lines, draws them, and finds', async (t) => {
  const call = await session(t);
  if (!call) return;
  const scratch = mkdtempSync(join(tmpdir(), 'wad3-webkit-'));
  t.after(() => rmSync(scratch, { recursive: true, force: true }));
  const write = (name, bytes) => (writeFileSync(join(scratch, name), bytes), join(scratch, name));
  const whole = pack([texture('first', 4, 4), texture('second', 8, 8)]);
  const given = [
    join(top, 'examples/sample.wad'),
    write('broken.wad', whole.subarray(0, whole.length - 800)),
    write('notes.txt', new TextEncoder().encode('this is no package at all')),
    write('de_y.bsp', map([texture('mapwall', 16, 16), null, { ...texture('named', 8, 8), named: true }])),
    write('barneyT.mdl', model([{ ...texture('Face.bmp', 8, 6), flags: 0x40 }])),
    write('muzzle.spr', sprite([[texture('a', 6, 6)], [texture('b', 6, 6), texture('c', 6, 6)]], texture('p', 0, 0).palette, 2)),
    ...(existsSync(samples) ? readdirSync(samples).filter((f) => f.endsWith('.wad')).sort().map((f) => join(samples, f)) : []),
    ...(existsSync(mapSamples) ? readdirSync(mapSamples).filter((f) => f.endsWith('.bsp')).sort().map((f) => join(mapSamples, f)) : []),
    ...(existsSync(modelSamples) ? readdirSync(modelSamples).filter((f) => /\.(mdl|spr)$/.test(f)).sort().map((f) => join(modelSamples, f)) : []),
  ];
  await call('POST', '/url', { url: pathToFileURL(join(build, 'wad3.html')).href });
  const run = (script) => call('POST', '/execute/sync', { script, args: [] });
  const input = Object.values(await call('POST', '/element', {
    using: 'css selector', value: 'input[type="file"]:not([webkitdirectory])' }))[0];
  await call('POST', `/element/${input}/value`, { text: given.join('\n') });
  for (let waited = 0; (await run('return document.body.dataset.state')) !== 'done'; waited += 100) {
    assert.ok(waited < 120000, 'the page did not finish');
    await sleep(100);
  }
  const shown = await run(`return [...document.querySelectorAll('.package')].map((s) => ({
    state: s.dataset.state, lines: s.querySelector('pre').textContent, files: Number(s.dataset.files) }))`);
  assert.equal(shown.length, given.length);
  given.forEach((path, i) => {
    const native = runNative(join(build, 'wad3'), basename(path), readFileSync(path));
    assert.equal(shown[i].lines, readable(native.out), path);
    assert.equal(shown[i].state, native.status === 0 ? 'done' : 'failed', path);
    assert.equal(shown[i].files, native.files.size, path);
  });

  // Every picture on screen drawn, and the sample's {fence with transparent pixels.
  for (let waited = 0; !(await run(`return [...document.querySelectorAll('figure img')]
         .every((img) => img.complete && img.naturalWidth > 0)`)); waited += 100) {
    assert.ok(waited < 30000, 'the pictures were not drawn');
    await sleep(100);
  }
  const clear = await run(`const img = document.querySelector('figure img[alt="{fence.pcx"]');
    const canvas = Object.assign(document.createElement('canvas'), { width: img.naturalWidth, height: img.naturalHeight });
    const context = canvas.getContext('2d');
    context.drawImage(img, 0, 0);
    return context.getImageData(0, 0, canvas.width, canvas.height).data.filter((v, i) => i % 4 === 3 && v === 0).length`);
  assert.ok(clear > 0);

  await run(`const field = document.querySelector('input[type="search"]');
    field.value = 'FENCE 64x64';
    field.dispatchEvent(new Event('input'));`);
  assert.equal(await run(`return document.querySelector('[data-action="save-zip"]').textContent`), 'Save the 1 PCX file found');
});

// Sets the file input `selector` to `paths`, waits for the form's state `key` to be ready, and
// gives the Blob its save button `save` hands over, read back.
async function madeThere(call, selector, paths, key, save) {
  const run = (script) => call('POST', '/execute/sync', { script, args: [] });
  const input = Object.values(await call('POST', '/element', { using: 'css selector', value: selector }))[0];
  await call('POST', `/element/${input}/value`, { text: paths.join('\n') });
  if (!save) return null;
  for (let waited = 0; (await run(`return document.body.dataset.${key}`)) !== 'ready'; waited += 100) {
    assert.ok(waited < 120000, `${key}: ${await run(`return document.body.dataset.${key}`)}`);
    await sleep(100);
  }
  // The Blob the save button hands over, read back as base64.
  const saved = await call('POST', '/execute/async', { args: [], script: `const done = arguments[arguments.length - 1];
    const made = URL.createObjectURL;
    URL.createObjectURL = (blob) => {
      URL.createObjectURL = made;
      const reader = new FileReader();
      reader.onload = () => done(reader.result.split(',')[1]);
      reader.readAsDataURL(blob);
      return made(blob);
    };
    document.querySelector('${save}').click();` });
  return new Uint8Array(Buffer.from(saved, 'base64'));
}

test('webkit: images made a package, a map, a sprite and a model, the native --make\'s bytes', async (t) => {
  const call = await session(t);
  if (!call) return;
  const scratch = mkdtempSync(join(tmpdir(), 'wad3-webkit-'));
  t.after(() => rmSync(scratch, { recursive: true, force: true }));
  const write = (name, bytes) => (writeFileSync(join(scratch, name), bytes), join(scratch, name));
  const given = [write('wall.tga', tga(32, 16, (x, y) => [x * 8, y * 16, (x * y) & 255, 255])),
                 write('{grate.tga', tga(16, 16, (x, y) => [200, 100, 50, (x + y) % 4 === 0 ? 0 : 255]))];
  await call('POST', '/url', { url: pathToFileURL(join(build, 'wad3.html')).href });
  const run = (script) => call('POST', '/execute/sync', { script, args: [] });
  const program = join(build, 'wad3');
  const native = (out, ...inputs) => {
    assert.equal(makeNative(program, scratch, [out, ...inputs]).status, 0);
    return new Uint8Array(readFileSync(join(scratch, out)));
  };
  const savedPackage = await madeThere(call, 'input[data-input="make"]', given, 'make', '[data-action="save-package"]');
  assert.deepEqual(await run(`return [...document.querySelectorAll('#make figcaption')].map((c) => c.textContent)`),
                   ['wall 32x16', '{grate 16x16']);
  assert.deepEqual(savedPackage, native('out.wad', ...given));

  const named = (name, width, height) => ({ ...texture(name, width, height), named: true });
  const mapPath = write('m.bsp', map([named('wall', 32, 16), named('{grate', 16, 16), texture('sky', 16, 16)]));
  await madeThere(call, 'input[data-input="map"]', [mapPath], 'mapMake', null);
  assert.deepEqual(await madeThere(call, 'input[data-input="map-textures"]', given, 'mapMake', '[data-action="save-map"]'),
                   native('out.bsp', mapPath, ...given));

  assert.deepEqual(await madeThere(call, 'input[data-input="sprite"]', given, 'spriteMake', '[data-action="save-sprite"]'),
                   native('sprite.spr', ...given));

  const palette = texture('p', 0, 0).palette;
  const modelPath = write('guy.mdl', model([{ ...texture('wall.bmp', 32, 16), palette }, { ...texture('{grate.bmp', 16, 16), palette, flags: 0x40 }]));
  await madeThere(call, 'input[data-input="model"]', [modelPath], 'modelMake', null);
  assert.deepEqual(await madeThere(call, 'input[data-input="model-skins"]', given, 'modelMake', '[data-action="save-model"]'),
                   native('out.mdl', modelPath, ...given));
});
