// The page's own parts under Node: a package through wad3.wasm in memory as the worker runs it,
// compared with the native program's run; the names; the PCX reader and the pictures.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { test } from 'node:test';

import { convert, countTextures } from '../convert.js';
import { byteString, folderName, readable } from '../names.js';
import { decodePcx, toBmp } from '../pcx.js';
import { pack, runNative, texture } from './wadpack.mjs';

const build = process.env.WAD3_WEB_BUILD ?? new URL('../../build-web', import.meta.url).pathname;
const program = new WebAssembly.Module(readFileSync(`${build}/wad3.wasm`));
const native = `${build}/wad3`;

// The worker's run, gathered: exit status, lines, the files left, and what each image showed.
function runPage(name, bytes) {
  const reports = [];
  convert(program, name, bytes.slice().buffer, (report) => reports.push(report));
  const end = reports.at(-1);
  const images = new Map(reports.filter((r) => r.type === 'image').map((r) => [r.name, r]));
  const files = new Map(end.names.map((n) => [n, new Uint8Array(images.get(n).pcx)]));
  const out = Buffer.concat(reports.filter((r) => r.type === 'log').map((r) => r.bytes));
  return { status: end.status, out: new Uint8Array(out), files, images, start: reports[0] };
}

function assertSameRun(name, bytes) {
  const page = runPage(name, bytes), expected = runNative(native, name, bytes);
  assert.equal(page.status, expected.status);
  assert.equal(readable(page.out), readable(expected.out));
  assert.deepEqual([...page.files.keys()].sort(), [...expected.files.keys()].sort());
  for (const [file, bytes] of expected.files) assert.deepEqual(page.files.get(file), bytes, file);
  return page;
}

test('converts as the native program does, every name byte for byte', () => {
  // é as one byte and as UTF-8's two: U+FFFD would have made one file of them.
  const textures = ['caf\xE9', 'caf\xC3\xA9', '\x80\x81\xFF', 'MiXeD', '{fence', 'dup', 'dup'].map(
    (name, i) => texture(name, 3 + i, 2 + (i % 3)));
  const page = assertSameRun('names.wad', pack(textures));
  assert.equal(page.status, 0);
  assert.equal(page.files.size, 6);
  assert.equal(page.start.textures, 7);
  // What the page shows is what the file holds: the texture's pixels and colours.
  for (const t of [textures[0], textures[1], textures[2], textures[6]]) {
    const shown = page.images.get(`${t.name}.pcx`);
    assert.deepEqual([shown.width, shown.height], [t.width, t.height]);
    const image = decodePcx(new Uint8Array(shown.pcx));
    assert.deepEqual(image.pixels, t.pixels);
    assert.deepEqual(image.palette, t.palette);
  }
});

test('a package that fails keeps the files before it, with the same lines', () => {
  const good = [texture('first', 4, 4), texture('second', 8, 8)];
  const slash = pack([good[0], texture('../x', 2, 2)]);
  assert.match(readable(assertSameRun('slash.wad', slash).out), /name is malformed\.\n$/);
  const whole = pack(good);
  const cut = assertSameRun('cut.wad', whole.subarray(0, whole.length - 800));  // in the pixels
  assert.equal(cut.status, 1);
  assert.deepEqual([...cut.files.keys()], ['first.pcx']);
  assert.match(readable(assertSameRun('notes.txt', new TextEncoder().encode('this is no package')).out),
               /\nInvalid WAD3 header id\.\n$/);
});

test('counts the texture entries of the directory the file holds', () => {
  const bytes = pack([texture('a', 1, 1), texture('b', 1, 1), texture('c', 1, 1)]);
  bytes[12 + 32 + 12] = 0x42;  // not a texture
  assert.equal(countTextures(bytes), 2);
  assert.equal(countTextures(bytes.subarray(0, 12 + 32 + 31)), 1);  // the directory cut short
  assert.equal(countTextures(new Uint8Array(11)), 0);
});

test('names: no two bytes read as one character, and one folder per package', () => {
  const characters = new Set(Array.from({ length: 256 }, (_, b) => readable(Uint8Array.of(b))));
  assert.equal(characters.size, 256);
  assert.equal(readable(byteString(Uint8Array.of(0x63, 0xe9, 0x80))), 'cé€');
  const taken = new Set();
  assert.deepEqual(['castle1.wad', 'castle1.wad', 'CASTLE1.WAD', 'x', '.wad'].map((n) => folderName(n, taken)),
                   ['castle1', 'castle1 (2)', 'CASTLE1 (3)', 'x', '.wad']);
});

test('reads only well-formed PCX files, and lays out the pictures bottom up', () => {
  const image = { width: 3, height: 2, pixels: Uint8Array.of(1, 2, 3, 4, 5, 6), palette: new Uint8Array(768) };
  image.palette.set([10, 20, 30], 3 * 6);
  const page = runPage('one.wad', pack([{ ...texture('one', 3, 2), pixels: image.pixels, palette: image.palette }]));
  const file = page.files.get('one.pcx');
  assert.deepEqual(decodePcx(file), image);
  for (const broken of [file.subarray(0, file.length - 1), file.subarray(0, 200)]) assert.equal(decodePcx(broken), null);
  const crossing = file.slice();
  crossing[128] = 0xc4;  // a run of 4 in a row of 3
  assert.equal(decodePcx(crossing), null);
  const bmp = toBmp(image);
  assert.deepEqual([...bmp.subarray(0, 2)], [0x42, 0x4d]);
  assert.equal(bmp.length, 14 + 40 + 1024 + 2 * 4);
  assert.deepEqual([...bmp.subarray(1078)], [4, 5, 6, 0, 1, 2, 3, 0]);  // last row first, padded
  assert.deepEqual([...bmp.subarray(54 + 24, 54 + 28)], [30, 20, 10, 0]);  // blue, green, red
});
