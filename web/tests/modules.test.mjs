// The page's own parts under Node: a package or map through wad3.wasm in memory as the worker runs
// it, compared with the native program's run; the names; the PCX reader and the pictures, drawn
// and saved as PNG files, read back by Pillow.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { existsSync, mkdtempSync, readdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { inflateSync } from 'node:zlib';
import { test } from 'node:test';

import { unzipSync } from 'fflate';

import { contents, convert, memorySource } from '../convert.js';
import { byPath, fromDrop, fromFolder, kindOf } from '../folders.js';
import { doneWords, matcher, progressWords, saveLabel, unmatchedLabel } from '../find.js';
import { byteString, folderName, readable } from '../names.js';
import { decodePcx } from '../pcx.js';
import { make } from '../making.js';
import { colours, drawnPng, isGreyRamp } from '../png.js';
import { pngFiles } from '../pngfiles.js';
import { crc32, localHeader, split, zip, zipParts } from '../zip.js';
import { drawnColours, hasPillow, pillow } from './pillow.mjs';
import { map, model, pack, runNative, sprite, texture, tga } from './wadpack.mjs';

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

// The PNG file the page saves of the PCX file `pcx` in `look`: the program's, made by wad3.wasm.
function savedPng(pcx, look) {
  return pngFiles(program, pcx, [{ at: 0, length: pcx.length, look }])[0].png;
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

test('a map converts as the native program does, and says what it carries and only names', () => {
  const named = { ...texture('named', 16, 16), named: true };
  const slots = [texture('wall', 16, 8), null, named, texture('{sky', 5, 3), named];
  const page = assertSameRun('de_x.bsp', map(slots));
  assert.deepEqual([page.status, [...page.files.keys()]], [0, ['wall.pcx', '{sky.pcx']]);
  assert.deepEqual(page.start, { type: 'start', kind: 'map', textures: 2, named: 2 });
  const quake = map(slots);
  quake[0] = 29;  // Quake's maps: no textures of this kind
  assert.match(readable(assertSameRun('q.bsp', quake).out), /\nInvalid WAD3 header id\.\n$/);
});

test('models and sprites convert as the native program does, each picture in its look', () => {
  const skins = [{ ...texture('Base.BMP', 5, 3), flags: 0 }, { ...texture('grate.bmp', 4, 4), flags: 0x40 }];
  const page = assertSameRun('barney.mdl', model(skins));
  assert.deepEqual([...page.files.keys()], ['Base.pcx', 'grate.pcx']);
  assert.deepEqual(page.start, { type: 'start', kind: 'model', textures: 2, looks: ['opaque', 'masked'] });
  assert.equal(assertSameRun('barneyT.mdl', model([])).status, 0);
  const frames = [[texture('a', 4, 4)], [texture('b', 2, 2), texture('c', 3, 1)], [texture('d', 1, 1)]];
  for (const [format, look] of [[0, 'opaque'], [1, 'opaque'], [2, 'indexalpha'], [3, 'masked']]) {
    const run = assertSameRun('Muzzle.SPR', sprite(frames, texture('p', 0, 0).palette, format));
    assert.deepEqual([...run.files.keys()], ['Muzzle_0.pcx', 'Muzzle_1.pcx', 'Muzzle_2.pcx', 'Muzzle_3.pcx']);
    assert.deepEqual(run.start, { type: 'start', kind: 'sprite', textures: 4, looks: new Array(4).fill(look) });
  }
});

test('counts what the file holds as the program will walk it', () => {
  const bytes = pack([texture('a', 1, 1), texture('b', 1, 1), texture('c', 1, 1)]);
  bytes[12 + 32 + 12] = 0x42;  // not a texture
  assert.deepEqual(contents(memorySource(bytes)), { kind: 'package', textures: 2 });
  assert.deepEqual(contents(memorySource(bytes.subarray(0, 12 + 32 + 31))), { kind: 'package', textures: 1 });  // the directory cut short
  assert.deepEqual(contents(memorySource(new Uint8Array(11))), { textures: 0 });
  // A source that gives a few bytes at a time, as a window of the file's ends.
  const trickle = (source) => ({ size: source.size, read: (at, length) => source.read(at, Math.min(length, 5)) });
  assert.deepEqual(contents(trickle(memorySource(bytes))), { kind: 'package', textures: 2 });
  const bsp = map([texture('a', 2, 2), null, { ...texture('b', 4, 4), named: true }]);
  assert.deepEqual(contents(trickle(memorySource(bsp))), { kind: 'map', textures: 1, named: 1 });
  assert.deepEqual(contents(memorySource(bsp.subarray(0, 123))), { textures: 0 });
  assert.deepEqual(contents(memorySource(bsp.subarray(0, bsp.length - 6))), { kind: 'map', textures: 0, named: 0 });  // lump cut
  // A sprite's pictures as far as the file holds them; a model's table only where it holds all.
  const spr = sprite([[texture('a', 4, 4)], [texture('b', 2, 2), texture('c', 3, 1)]], texture('p', 0, 0).palette, 2);
  assert.equal(contents(trickle(memorySource(spr))).textures, 3);
  assert.equal(contents(memorySource(spr.subarray(0, spr.length - 20))).textures, 2);
  const mdl = model([{ ...texture('a', 2, 2), flags: 0 }]);
  assert.deepEqual(contents(memorySource(mdl.subarray(0, 244 + 79))), { kind: 'model', textures: 0, looks: [] });
});

test('names: no two bytes read as one character, and one folder per package', () => {
  const characters = new Set(Array.from({ length: 256 }, (_, b) => readable(Uint8Array.of(b))));
  assert.equal(characters.size, 256);
  assert.equal(readable(byteString(Uint8Array.of(0x63, 0xe9, 0x80))), 'cé€');
  const taken = new Set();
  assert.deepEqual(['castle1.wad', 'castle1.wad', 'CASTLE1.WAD', 'x', '.wad', 'cstrike/maps/de_x.BSP', 'models/barney.mdl', 'sprites/smoke.SPR'].map((n) => folderName(n, taken)),
                   ['castle1', 'castle1 (2)', 'CASTLE1 (3)', 'x', '.wad', 'cstrike/maps/de_x', 'models/barney', 'sprites/smoke']);
});

test('reads only well-formed PCX files, and draws and saves them as PNG files', async () => {
  const image = { width: 3, height: 2, pixels: Uint8Array.of(1, 2, 3, 4, 5, 6), palette: new Uint8Array(768) };
  image.palette.set([10, 20, 30], 3 * 6);
  const page = runPage('one.wad', pack([{ ...texture('one', 3, 2), pixels: image.pixels, palette: image.palette }]));
  const file = page.files.get('one.pcx');
  assert.deepEqual(decodePcx(file), image);
  for (const broken of [file.subarray(0, file.length - 1), file.subarray(0, 200)]) assert.equal(decodePcx(broken), null);
  const crossing = file.slice();
  crossing[128] = 0xc4;  // a run of 4 in a row of 3
  assert.equal(decodePcx(crossing), null);
  // Drawn and saved: the same pixels and colours, entry 255 transparent only where the look says.
  for (const look of ['opaque', 'masked']) {
    for (const [png, drawn] of [[drawnPng(image, look), true], [savedPng(file, look), false]]) {
      const chunks = pngChunks(png);
      assert.deepEqual([...chunks.keys()], look === 'opaque' ? ['IHDR', 'PLTE', 'IDAT', 'IEND'] : ['IHDR', 'PLTE', 'tRNS', 'IDAT', 'IEND']);
      assert.deepEqual([...chunks.get('IHDR')], [0, 0, 0, 3, 0, 0, 0, 2, 8, 3, 0, 0, 0]);
      if (drawn) assert.deepEqual([...inflateSync(chunks.get('IDAT'))], [0, 1, 2, 3, 0, 4, 5, 6]);  // a filter byte a row
      assert.deepEqual([...chunks.get('PLTE').subarray(18, 21)], [10, 20, 30]);
      if (look === 'masked') assert.deepEqual([...chunks.get('tRNS')], [...new Array(255).fill(255), 0]);
    }
  }
});

test('decals and index-alpha sprites: entry 255\'s colour, each index its opacity; decals whose entry 255 is pure blue, their own colours', () => {
  const palette = Uint8Array.from({ length: 768 }, (_, i) => i % 251);
  palette.set([44, 0, 0], 765);  // blood
  const blood = colours(palette, 'decal');
  assert.deepEqual([...blood.palette.subarray(0, 6)], [44, 0, 0, 44, 0, 0]);
  assert.deepEqual([blood.alpha[0], blood.alpha[1], blood.alpha[254], blood.alpha[255]], [255, 254, 1, 0]);
  palette.set([0, 0, 255], 765);
  const blue = colours(palette, 'decal');
  assert.equal(blue.palette, palette);
  assert.deepEqual([blue.alpha[0], blue.alpha[254], blue.alpha[255]], [255, 255, 0]);
  assert.equal(colours(palette, 'opaque').alpha, null);
  const indexed = colours(palette, 'indexalpha');  // entry 255 is pure blue: no exception here
  assert.deepEqual([...indexed.palette.subarray(0, 3)], [0, 0, 255]);
  assert.deepEqual([indexed.alpha[0], indexed.alpha[1], indexed.alpha[255]], [0, 1, 255]);
});

test('PNG files read by Pillow as the PCX files\' colours in each look, the indices kept', (t) => {
  if (!hasPillow()) return t.skip('needs Pillow (python3-pil)');
  // Noise, bands, a dark-to-light ramp that the filters code better, a single pixel, a wide row.
  const ramp = texture('ramp', 64, 48);
  ramp.palette = Uint8Array.from({ length: 768 }, (_, i) => Math.floor(i / 3));
  ramp.pixels = Uint8Array.from({ length: 64 * 48 }, (_, i) => ((i % 64) + Math.floor(i / 64) * 3) & 255);
  const noise = texture('noise', 37, 23);
  let seed = 7;
  noise.pixels = noise.pixels.map(() => (seed = (seed * 1103515245 + 12345) >>> 0) >>> 24);
  // Rows the zip's deflate codes at its edges: one run of a colour (matches of the most length,
  // over many blocks), noise that only stored blocks hold.
  const flat = { ...texture('flat', 1024, 512), pixels: new Uint8Array(1024 * 512).fill(9) };
  const loud = { ...texture('loud', 512, 512), pixels: Uint8Array.from({ length: 512 * 512 }, () => (seed = (seed * 1103515245 + 12345) >>> 0) >>> 24) };
  const textures = [ramp, noise, texture('bands', 40, 30), texture('one', 1, 1), texture('wide', 300, 2), flat, loud];
  textures[2].palette.set([0, 0, 255], 765);
  const { files } = runPage('pngs.wad', pack(textures));
  // The zip's PNG files, made by wad3.wasm, a slice of all of them at once in each look.
  const slice = new Uint8Array([...files.values()].reduce((sum, pcx) => sum + pcx.length, 0)), places = [];
  for (const pcx of files.values()) {
    slice.set(pcx, places.reduce((sum, p) => sum + p.length, 0));
    places.push({ at: places.reduce((sum, p) => sum + p.length, 0), length: pcx.length });
  }
  const pngs = new Map(), looks = new Map(), modes = new Map();
  for (const look of ['opaque', 'masked', 'decal', 'indexalpha']) {
    const made = pngFiles(program, slice, places.map((place) => ({ ...place, look })));
    for (const [k, [name, pcx]] of [...files].entries()) {
      // The palette and its indices, as in the PCX file; an opaque grey ramp as its grey levels.
      const mode = look === 'opaque' && isGreyRamp(decodePcx(pcx).palette) ? 'L' : 'P';
      for (const kind of ['', 'drawn-']) modes.set(`${kind}${look}-${name}.png`, mode);
      assert.equal(made[k].crc, crc32(made[k].png), name);
      assert.deepEqual(made[k].png, savedPng(pcx, look), name);  // alone or in a slice, the same file
      pngs.set(`${look}-${name}.png`, made[k].png);
      looks.set(`${look}-${name}.png`, drawnColours(pcx, look));
      pngs.set(`drawn-${look}-${name}.png`, drawnPng(decodePcx(pcx), look));
      looks.set(`drawn-${look}-${name}.png`, drawnColours(pcx, look));
    }
  }
  const read = pillow(pngs);
  for (const [name, want] of looks) {
    assert.equal(read[name].mode, modes.get(name), name);
    assert.deepEqual(read[name].rgba, want, name);
  }
  assert.ok(pngChunks(savedPng(files.get('ramp.pcx'), 'opaque')).get('IDAT').length <
            pngChunks(savedPng(files.get('noise.pcx'), 'opaque')).get('IDAT').length);
  // zlib's own reading of the rows: whole, their checksums right, never past stored size.
  for (const [name, pcx] of files) {
    const { width, height } = decodePcx(pcx), zlib = pngChunks(savedPng(pcx, 'masked')).get('IDAT'), rows = inflateSync(zlib);
    assert.equal(rows.length, (width + 1) * height, name);
    assert.ok(zlib.length <= rows.length + 5 * Math.ceil(rows.length / 65535) + 6 + 2 * Math.ceil(rows.length / 16384), name);
  }
  // A file that is no PCX file the program writes gets no PNG file, and the others theirs.
  const broken = slice.slice();
  broken[places[1].at] = 0;
  const again = pngFiles(program, broken, places.map((place) => ({ ...place, look: 'opaque' })));
  assert.equal(again[1], undefined);
  assert.deepEqual(again[0].png, savedPng(files.values().next().value, 'opaque'));
});

test('the PNG files the page saves are those wad3 --png writes, byte for byte, in every look', () => {
  const fence = texture('{fence', 16, 8), plain = texture('plain', 5, 3), flat = texture('flat', 0, 4);
  plain.palette = plain.palette.subarray(0, 48);  // 16 entries: the rest black
  const blue = texture('blue', 4, 4);
  blue.palette.set([0, 0, 255], 765);
  const kinds = [
    ['p.wad', pack([fence, plain, flat])],
    ['DECALS.WAD', pack([texture('blood', 8, 8), blue])],
    ['m.bsp', map([fence, plain])],
    ['m.mdl', model([{ ...texture('skin.bmp', 7, 5), flags: 0x40 }, texture('face', 3, 3)])],
    ...[0, 1, 2, 3].map((format) => [`s${format}.spr`, sprite([[texture('a', 3, 2)], [texture('b', 5, 4)]], blue.palette, format)]),
  ];
  for (const [name, bytes] of kinds) {
    const page = runPage(name, bytes), png = runNative(native, name, bytes, ['--png']);
    assert.equal(png.status, 0, name);
    // Each picture's look as the page gives it (packages.js).
    const looks = new Map([...page.images.keys()].map((file, k) => [file, page.start.looks?.[k] ??
      (/^decals\.wad$/i.test(name) ? 'decal' : file.startsWith('{') ? 'masked' : 'opaque')]));
    for (const [file, pcx] of page.files) {
      const { width, height } = decodePcx(pcx), look = looks.get(file);
      const saved = width > 0 && height > 0 ? [file.replace(/\.pcx$/, '.png'), savedPng(pcx, look)] : [file, pcx];
      assert.deepEqual(png.files.get(saved[0]), saved[1], `${name}: ${file}`);
    }
    assert.equal(png.files.size, page.files.size, name);
  }
});

// The real packages and maps beside the checkout, if they are there: their paths.
const kShared = new URL('../../../shared/', import.meta.url).pathname;
const realFiles = (folder, ending) => (existsSync(join(kShared, folder)) ? readdirSync(join(kShared, folder))
  .filter((f) => f.toLowerCase().endsWith(ending)).sort().map((f) => join(kShared, folder, f)) : []);

test('a file whose name begins with - is made into a package as any other, its lines naming it as given', () => {
  const square = tga(16, 16, (x, y) => [x * 16, y * 16, 0, 255]), odd = tga(20, 16, () => [1, 2, 3, 255]);
  const made = make(program, { name: '-t.wad', dither: false, inputs: [{ path: '-dash.tga', bytes: square }] });
  assert.equal(made.lines, '-dash (16x16)\n1 texture written to -t.wad\n');
  assert.equal(made.status, 0);
  const refused = make(program, { name: 't.wad', dither: false, inputs: [{ path: '-odd.tga', bytes: odd }] });
  assert.equal(refused.lines, '-odd.tga : 20x16, sides must be multiples of 16: 16x16 or 32x16\nNothing written : t.wad (1 problem)\n');
});

test('PNG files of the real packages and maps no larger than Pillow writes them at its defaults, each at most 1.05 times', (t) => {
  const real = [...realFiles('wad3-samples', '.wad'), ...realFiles('map-samples', '.bsp')];
  if (real.length === 0) return t.skip('needs the real packages and maps in ../shared');
  if (!hasPillow()) return t.skip('needs Pillow (python3-pil)');
  const folder = mkdtempSync(join(tmpdir(), 'wad3-sizes-'));
  try {
    const sums = { wad: [0, 0, 0], bsp: [0, 0, 0] };  // PCX, the program's PNG, Pillow's
    let worst = { ratio: 0 };
    for (const path of real) {
      const kind = path.endsWith('.bsp') ? 'bsp' : 'wad';
      const pictures = [...runNative(native, 'p', readFileSync(path)).files].filter(([, pcx]) => decodePcx(pcx).width > 0 && decodePcx(pcx).height > 0);
      const slice = new Uint8Array(pictures.reduce((sum, [, pcx]) => sum + pcx.length, 0)), places = [];
      let at = 0;
      pictures.forEach(([name, pcx], k) => {
        writeFileSync(join(folder, `${k}.pcx`), pcx);
        slice.set(pcx, at);
        places.push({ at, length: pcx.length, look: 'opaque' });
        at += pcx.length;
      });
      const made = pngFiles(program, slice, places);
      const script = 'import io,json,os,sys\nfrom PIL import Image\nn={}\nfor f in os.listdir(sys.argv[1]):\n' +
        ' b=io.BytesIO(); Image.open(os.path.join(sys.argv[1],f)).save(b,"PNG"); n[f]=len(b.getvalue())\n' +
        ' os.remove(os.path.join(sys.argv[1],f))\nprint(json.dumps(n))';
      const theirs = JSON.parse(execFileSync('/usr/bin/python3', ['-c', script, folder]).toString());
      pictures.forEach(([name, pcx], k) => {
        const ours = made[k].png.length, pillows = theirs[`${k}.pcx`];
        sums[kind][0] += pcx.length;
        sums[kind][1] += ours;
        sums[kind][2] += pillows;
        if (ours / pillows > worst.ratio) worst = { ratio: ours / pillows, name: `${path}: ${name}` };
      });
    }
    t.diagnostic(`the largest against Pillow's: ${worst.ratio.toFixed(3)} times, ${worst.name}`);
    assert.ok(worst.ratio <= 1.05, worst.name);
    for (const [kind, [pcx, ours, theirs]] of Object.entries(sums)) {
      if (pcx === 0) continue;
      const share = (n) => `${(100 * n / pcx).toFixed(1)} %`;
      t.diagnostic(`${kind}: PNG ${share(ours)} of the PCX files, Pillow's ${share(theirs)}`);
      assert.ok(ours <= theirs, `${kind}: ${ours} bytes, Pillow ${theirs}`);
    }
  } finally {
    rmSync(folder, { recursive: true, force: true });
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
  const chosen = fromFolder(['b/x.wad', 'a b/y.wad', 'a/z.WAD', 'a/notes.txt', 'a/maps/de_x.BSP'].map((p) => ({ name: p.split('/').at(-1), webkitRelativePath: p })));
  assert.deepEqual(chosen.given.map((g) => g.path), ['a/maps/de_x.BSP', 'a/z.WAD', 'a b/y.wad', 'b/x.wad']);
  assert.equal(chosen.skipped, 1);
  assert.ok(byPath({ path: 'a/b/c' }, { path: 'a/b' }) > 0);
});

test('the page\'s words for what it counts', () => {
  assert.equal(saveLabel(1234, false, 'PCX'), 'Save all 1,234 PCX files as a zip');
  assert.equal(saveLabel(1, true, 'PNG'), 'Save the 1 PNG file found');
  assert.equal(doneWords('map', 12, 31), '12 textures written; 31 more are in packages');
  assert.equal(doneWords('map', 1, 1), '1 texture written; 1 more is in a package');
  assert.equal(doneWords('map', 14, 0), '14 textures written');
  assert.equal(doneWords('map', 0, 17), '0 textures written; the 17 it names are in packages');
  assert.equal(doneWords('package', 1234), '1,234 files written');
  assert.equal(doneWords('model', 0, undefined, 'barneyT.mdl'), 'Its skins are in barneyT.mdl');
  assert.equal(doneWords('model', 4, undefined, 'barneyT.mdl'), '4 skins written');
  assert.equal(doneWords('sprite', 1), '1 picture written');
  assert.equal(progressWords('package', 3, 1234), '3 of 1,234 textures');
  assert.equal(progressWords('sprite', 0, 12), '0 of 12 pictures');
  assert.equal(unmatchedLabel([...new Array(70).fill('package'), 'map', 'map'], 'blood'), '72 packages and maps have no texture named blood');
  assert.equal(unmatchedLabel(['map'], 'sky'), '1 map has no texture named sky');
  assert.equal(unmatchedLabel(['file', 'sprite', 'map', 'package', 'model'], 'a'), '5 packages, maps, models, sprites and files have no texture named a');
  assert.deepEqual(['a.wad', 'maps/B.BSP', 'c.txt', 'd.wad.bak', 'm.Mdl', 's.SPR'].map(kindOf),
                   ['package', 'map', undefined, undefined, 'model', 'sprite']);
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
