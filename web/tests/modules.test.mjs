// The page's own parts under Node: a package through wad3.wasm in memory as the worker runs it,
// compared with the native program's run; the names; the PCX reader and the pictures.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { inflateSync } from 'node:zlib';
import { test } from 'node:test';

import { unzipSync } from 'fflate';

import { convert, countTextures, memorySource } from '../convert.js';
import { byPath, fromDrop, fromFolder } from '../folders.js';
import { matcher } from '../find.js';
import { byteString, folderName, readable } from '../names.js';
import { decodePcx, toPng } from '../pcx.js';
import { crc32, localHeader, split, zip, zipParts } from '../zip.js';
import { pack, runNative, texture } from './wadpack.mjs';

const build = process.env.WAD3_WEB_BUILD ?? new URL('../../build-web', import.meta.url).pathname;
const program = new WebAssembly.Module(readFileSync(`${build}/wad3.wasm`));
const native = `${build}/wad3`;

// The worker's run, gathered: exit status, lines, the files left, and what each image showed.
function runPage(name, bytes) {
  const reports = [];
  convert(program, name, memorySource(bytes), (report) => reports.push(report.pcx ? { ...report, pcx: report.pcx.slice() } : report));
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
  assert.equal(countTextures(memorySource(bytes)), 2);
  assert.equal(countTextures(memorySource(bytes.subarray(0, 12 + 32 + 31))), 1);  // the directory cut short
  assert.equal(countTextures(memorySource(new Uint8Array(11))), 0);
});

test('names: no two bytes read as one character, and one folder per package', () => {
  const characters = new Set(Array.from({ length: 256 }, (_, b) => readable(Uint8Array.of(b))));
  assert.equal(characters.size, 256);
  assert.equal(readable(byteString(Uint8Array.of(0x63, 0xe9, 0x80))), 'cé€');
  const taken = new Set();
  assert.deepEqual(['castle1.wad', 'castle1.wad', 'CASTLE1.WAD', 'x', '.wad'].map((n) => folderName(n, taken)),
                   ['castle1', 'castle1 (2)', 'CASTLE1 (3)', 'x', '.wad']);
});

test('reads only well-formed PCX files, and draws them as PNG pictures', async () => {
  const image = { width: 3, height: 2, pixels: Uint8Array.of(1, 2, 3, 4, 5, 6), palette: new Uint8Array(768) };
  image.palette.set([10, 20, 30], 3 * 6);
  const page = runPage('one.wad', pack([{ ...texture('one', 3, 2), pixels: image.pixels, palette: image.palette }]));
  const file = page.files.get('one.pcx');
  assert.deepEqual(decodePcx(file), image);
  for (const broken of [file.subarray(0, file.length - 1), file.subarray(0, 200)]) assert.equal(decodePcx(broken), null);
  const crossing = file.slice();
  crossing[128] = 0xc4;  // a run of 4 in a row of 3
  assert.equal(decodePcx(crossing), null);
  // The picture: a PNG of the same pixels and colours, entry 255 transparent only where asked.
  for (const transparent of [undefined, 255]) {
    const png = new Uint8Array(await toPng(image, transparent).arrayBuffer());
    const chunks = pngChunks(png);
    assert.deepEqual([...chunks.keys()], transparent === undefined ? ['IHDR', 'PLTE', 'IDAT', 'IEND'] : ['IHDR', 'PLTE', 'tRNS', 'IDAT', 'IEND']);
    assert.deepEqual([...chunks.get('IHDR')], [0, 0, 0, 3, 0, 0, 0, 2, 8, 3, 0, 0, 0]);
    assert.deepEqual([...inflateSync(chunks.get('IDAT'))], [0, 1, 2, 3, 0, 4, 5, 6]);  // a filter byte a row
    assert.deepEqual([...chunks.get('PLTE').subarray(18, 21)], [10, 20, 30]);
    if (transparent) assert.deepEqual([...chunks.get('tRNS')], [...new Array(255).fill(255), 0]);
  }
});

// Each chunk of a PNG by its type, its CRC checked.
function pngChunks(png) {
  const view = new DataView(png.buffer, png.byteOffset), chunks = new Map();
  for (let at = 8; at < png.length; ) {
    const length = view.getUint32(at), type = String.fromCharCode(...png.subarray(at + 4, at + 8));
    assert.equal(view.getUint32(at + 8 + length), crc32(png.subarray(at + 4, at + 8 + length)), type);
    chunks.set(type, png.subarray(at + 8, at + 8 + length));
    at += 12 + length;
  }
  return chunks;
}

// Files as the worker hands them to the zip: each record, its local header and bytes, in one array.
function records(files, when = new Date(2026, 11, 9, 10, 30)) {
  const parts = [], listed = [];
  let at = 0;
  for (const [path, bytes] of files) {
    const header = localHeader(path, bytes.length, crc32(bytes), when);
    parts.push(header, bytes);
    listed.push({ path, size: bytes.length, crc: crc32(bytes), when, at, length: header.length + bytes.length });
    at += header.length + bytes.length;
  }
  const all = new Uint8Array(at);
  parts.reduce((to, part) => (all.set(part, to), to + part.length), 0);
  return listed.map((file) => ({ ...file, bytes: all }));
}

test('zips: every file whole, and the ZIP64 records wherever a count or position would overflow', async () => {
  const bytes = (text) => new TextEncoder().encode(text);
  const files = records([['castle1/{fence.pcx', bytes('abc')], ['cé€/x.pcx', bytes('')], ['valve/halflife/a.pcx', bytes('x'.repeat(70000))]]);
  assert.equal(crc32(bytes('The quick brown fox jumps over the lazy dog')), 0x414fa339);
  const small = new Uint8Array(await zip(files).arrayBuffer());
  assert.deepEqual(Object.keys(unzipSync(small)), files.map((f) => f.path));
  assert.deepEqual(unzipSync(small)['valve/halflife/a.pcx'], bytes('x'.repeat(70000)));
  assert.equal(end(small).entries, 3);
  assert.equal(end(small).zip64, undefined);
  // Some of them, out of order: the records are cut out of their array.
  const some = new Uint8Array(await zip([files[2], files[0]]).arrayBuffer());
  assert.deepEqual(Object.keys(unzipSync(some)), ['valve/halflife/a.pcx', 'castle1/{fence.pcx']);
  assert.deepEqual(unzipSync(some)['castle1/{fence.pcx'], bytes('abc'));

  // 70,000 files: the end record says 0xFFFF, the ZIP64 end record 70,000, and an archiver that
  // reads them lists every file.
  const many = records(Array.from({ length: 70000 }, (_, i) => [`t/${i}.pcx`, bytes(`${i}`)]));
  const big = new Uint8Array(await zip(many).arrayBuffer());
  assert.deepEqual(end(big), { entries: 0xffff, zip64: 70000 });
  assert.equal(Object.keys(unzipSync(big)).length, 70000);
  const folder = mkdtempSync(join(tmpdir(), 'wad3-zip-'));
  try {
    writeFileSync(join(folder, 'small.zip'), small);
    execFileSync('unzip', ['-tq', join(folder, 'small.zip')]);  // the CRC of 70,000 bytes
    writeFileSync(join(folder, 'many.zip'), big);
    assert.equal(execFileSync('unzip', ['-Z1', join(folder, 'many.zip')], { maxBuffer: 1 << 26 }).toString().split('\n').filter(Boolean).length, 70000);
    execFileSync('unzip', ['-tq', join(folder, 'many.zip')]);  // every CRC
  } catch (error) {
    if (error.code !== 'ENOENT' || process.env.CI === 'true') throw error;  // no unzip here
  } finally {
    rmSync(folder, { recursive: true, force: true });
  }

  // Past 4 GiB: a file that large has its sizes in ZIP64 fields, and one that starts past it its
  // position, and the directory's place is the ZIP64 end record's.
  const huge = 2 ** 32 + 7;
  const header = localHeader('b', huge, 0, new Date());
  assert.equal(new DataView(header.buffer).getUint32(18, true), 0xffffffff);
  assert.deepEqual([...header.subarray(31, 35)], [1, 0, 16, 0]);
  assert.equal(new DataView(header.buffer).getBigUint64(35, true), BigInt(huge));
  const far = { subarray: (from, to) => ({ size: to - from }) };  // only its length is read
  const sized = [['a', 10], ['b', huge], ['c', 5]].map(([path, size], k) => ({
    path, size, crc: 0, when: new Date(), bytes: far, at: k * 2 ** 33, length: 31 + size + (size === huge ? 20 : 0) }));
  const parts = zipParts(sized);
  const directory = parts.find((part) => part instanceof Uint8Array);
  const view = new DataView(directory.buffer);
  const c = 46 + 1 + 0 + 46 + 1 + 20;  // a's and b's central headers before c's
  assert.equal(view.getUint32(46 + 1 + 20, true), 0xffffffff);  // b's sizes
  assert.equal(view.getUint32(c + 42, true), 0xffffffff);  // c's position
  assert.deepEqual([view.getUint16(c + 47, true), view.getUint16(c + 49, true)], [1, 8]);
  assert.equal(Number(view.getBigUint64(c + 51, true)), 31 + 10 + 31 + 20 + huge);
  const record = parts.at(-3);
  assert.equal(new DataView(record.buffer).getUint32(0, true), 0x06064b50);
  assert.equal(Number(new DataView(record.buffer).getBigUint64(48, true)), 31 + 10 + 31 + 20 + huge + 31 + 5);

  // Split into zips within a limit: in order, every file once, a file larger than it alone.
  const runs = split(records([['a', new Uint8Array(100)], ['b', new Uint8Array(100)], ['c', new Uint8Array(1000)], ['d', new Uint8Array(1)]]), 700);
  assert.deepEqual(runs.map((run) => run.map((f) => f.path)), [['a', 'b'], ['c'], ['d']]);
  for (const run of runs.filter((r) => r.length > 1)) assert.ok(zip(run).size <= 700);
});

// The entries count of a zip's end record, and of its ZIP64 end record where it has one.
function end(zipped) {
  const view = new DataView(zipped.buffer, zipped.byteOffset);
  const at = zipped.length - 22;
  assert.equal(view.getUint32(at, true), 0x06054b50);
  const counted = { entries: view.getUint16(at + 10, true) };
  if (view.getUint32(at - 20, true) === 0x07064b50) {
    const record = Number(view.getBigUint64(at - 20 + 8, true));
    assert.equal(view.getUint32(record, true), 0x06064b50);
    counted.zip64 = Number(view.getBigUint64(record + 32, true));
  }
  return counted;
}

test('folders: every package below, in path order, read in every batch', async () => {
  // A folder entry as browsers hand it: its reader gives entries 100 at a time, then none.
  const file = (path) => ({ isFile: true, isDirectory: false, name: path.split('/').at(-1), fullPath: `/${path}`,
                            file: (ok) => ok({ name: path.split('/').at(-1) }) });
  const folder = (path, entries) => ({ isFile: false, isDirectory: true, name: path, fullPath: `/${path}`,
    createReader() {
      let at = 0;
      return { readEntries: (ok) => setTimeout(() => ok(entries.slice(at, (at += 100))), 0) };
    } });
  const decals = Array.from({ length: 250 }, (_, i) => file(`game/cstrike/decals/d${String(i).padStart(3, '0')}.wad`));
  const game = folder('game', [
    folder('game/valve', [file('game/valve/zz.wad'), file('game/valve/Halflife.WAD'), file('game/valve/readme.txt')]),
    folder('game/cstrike', [folder('game/cstrike/decals', decals), file('game/cstrike/cstrike.wad')]),
  ]);
  const { given, skipped } = await fromDrop({ entries: [file('loose.txt'), game] });
  assert.equal(skipped, 1);
  assert.equal(given.length, 1 + 250 + 3);
  assert.deepEqual(given.slice(0, 3).map((g) => g.path), ['loose.txt', 'game/cstrike/cstrike.wad', 'game/cstrike/decals/d000.wad']);
  assert.deepEqual(given.slice(-2).map((g) => g.path), ['game/valve/Halflife.WAD', 'game/valve/zz.wad']);
  // Chosen with the folder control: the same paths, the same order.
  const chosen = fromFolder(['b/x.wad', 'a b/y.wad', 'a/z.WAD', 'a/notes.txt'].map((p) => ({ name: p.split('/').at(-1), webkitRelativePath: p })));
  assert.deepEqual(chosen.given.map((g) => g.path), ['a/z.WAD', 'a b/y.wad', 'b/x.wad']);
  assert.equal(chosen.skipped, 1);
  assert.ok(byPath({ path: 'a/b/c' }, { path: 'a/b' }) > 0);
});

test('finds by every word of the name in any case, or by size', () => {
  const item = (name, width, height) => ({ lower: name.toLowerCase(), size: `${width}x${height}` });
  const names = [item('CONCRETE1.pcx', 128, 128), item('conc_old.pcx', 64, 64), item('{fence.pcx', 128, 128), item('128x128.pcx', 8, 8)];
  for (const [query, found] of [
    ['', null], ['   ', null], ['conc', [0, 1]], ['CONC 128x128', [0]], ['128X128', [0, 2, 3]], ['conc 128×128', [0]],
    ['{', [2]], ['conc fence', []], ['8x8', [3]], ['.pcx 64x64', [1]],
  ]) {
    const test = matcher(query);
    assert.deepEqual(test && names.flatMap((n, i) => (test(n) ? [i] : [])), found, query);
  }
});
