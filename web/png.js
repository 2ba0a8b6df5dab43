// Pictures as PNG files: 8 bits a pixel with the texture's palette, the same indices as its PCX
// file, each entry given the colour and opacity the game draws it with (its look). The page
// draws them stored, quick to make while they come near the screen; it saves them compressed.
//   signature, 8 bytes; then chunks: u32 length (big-endian, as every number here), 4 bytes type,
//   data, u32 CRC-32 of type and data
//   IHDR: u32 width, u32 height, 8 bits, colour type 3 (palette), or 0 (grey) for an opaque
//   picture whose palette is the grey ramp, 0, 0, 0 (no interlace)
//   PLTE (not for grey): 256 entries of red, green, blue; tRNS: one opacity byte per entry, up to the last one
//   that is not opaque
//   IDAT: zlib of the rows, each a filter byte and its pixels: stored blocks for the screen (u8
//   final, u16 length, u16 ~length, little-endian, bytes, and the Adler-32), deflate for a file
//   IEND: no data
import { zlibSync } from 'fflate';

import { crc32, crc32Combine } from './zip.js';

const kEntries = 256;
const kSignature = Uint8Array.of(0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a);
const kLast = kEntries - 1;  // the entry that a {texture and a decal's rule make transparent
const kBlue = [0, 0, 255];   // a decal whose last entry is this keeps its own colours

// The looks: how the game draws each palette entry of a picture.
//   opaque      every entry as the palette has it (and sprites drawn normal or additive)
//   masked      entry 255 transparent (textures named {..., skins flagged masked, alpha-test
//               sprites)
//   decal       the decals of decals.wad: every entry in entry 255's colour with opacity
//               255 - index, except where entry 255 is pure blue, 0 0 255: then masked
//   indexalpha  index-alpha sprites: every entry in entry 255's colour with opacity = index

// { palette, alpha } of the picture's `palette` (256 entries of red, green, blue) in `look`: the
// colours, and an opacity for each entry or null where every one is opaque.
export function colours(palette, look) {
  const last = Array.from(palette.subarray(3 * kLast, 3 * kLast + 3));
  if (look === 'indexalpha' || (look === 'decal' && last.some((value, k) => value !== kBlue[k]))) {
    const tinted = new Uint8Array(3 * kEntries);
    for (let i = 0; i < kEntries; ++i) tinted.set(last, 3 * i);
    return { palette: tinted, alpha: Uint8Array.from({ length: kEntries }, (_, i) => (look === 'decal' ? kLast - i : i)) };
  }
  if (look === 'masked' || look === 'decal') {
    const alpha = new Uint8Array(kEntries).fill(255);
    alpha[kLast] = 0;
    return { palette, alpha };
  }
  return { palette, alpha: null };
}

// The picture { width, height, pixels, palette } as a PNG file (a Uint8Array) in its look, for
// the screen: rows stored as they are, no time spent compressing.
export function drawnPng(image, look) {
  const rows = plainRows(image, 0, image.height);
  const kBlock = 0xffff, blocks = Math.max(1, Math.ceil(rows.length / kBlock));
  const zlib = new Uint8Array(2 + 5 * blocks + rows.length + 4);
  zlib.set([0x78, 0x01]);
  let at = 2;
  for (let b = 0; b < blocks; ++b) {
    const run = rows.subarray(b * kBlock, (b + 1) * kBlock);
    zlib.set([b === blocks - 1 ? 1 : 0, run.length & 255, run.length >> 8, ~run.length & 255, (~run.length >> 8) & 255], at);
    zlib.set(run, at + 5);
    at += 5 + run.length;
  }
  new DataView(zlib.buffer).setUint32(at, adler32(rows));
  return png(image, look, zlib);
}

// The picture as a PNG file to save, compressed as an ordinary PNG library does at its defaults
// or smaller: each row unfiltered, or each with the filter that leaves the least to code where a
// sample of rows shows that to compress better (textures whose palette runs from dark to light).
// `zlib`, where given, is the rows already so compressed (by wad3.wasm, in the page's workers).
export function savedPng(image, look, zlib = savedRows(image)) {
  return png(image, look, zlib);
}

// A PNG file to save from rows wad3.wasm compressed, `zlibCrc` their CRC-32, and the file's own
// CRC-32, both got without reading the rows again: { png, crc }.
export function zippedPng(image, look, zlib, zlibCrc) {
  const file = png(image, look, zlib, crc32Combine(kIdatCrc, zlibCrc, zlib.length));
  const before = file.length - 12 - 4 - zlib.length, after = before + zlib.length;  // the rows' place
  const crc = crc32Combine(crc32Combine(crc32(file.subarray(0, before)), zlibCrc, zlib.length), crc32(file.subarray(after)), file.length - after);
  return { png: file, crc };
}
const kIdatCrc = crc32(Uint8Array.from('IDAT', (c) => c.charCodeAt(0)));

function savedRows(image) {
  const { width, height } = image;
  const sample = Math.min(height, Math.max(16, height >> 3)), from = (height - sample) >> 1;
  const kQuick = { level: 1 };
  const coded = (rows) => zlibSync(rows(image, from, from + sample), kQuick).length;
  const filtered = width > 0 && sample > 0 && coded(filteredRows) < coded(plainRows);
  const rows = filtered ? filteredRows(image, 0, height) : plainRows(image, 0, height);
  return zlibSync(rows, { level: 6 });
}

// Whether every entry of the palette is the grey of its own index: then each index is its grey
// level, and the file needs no palette (as Pillow reads such a PCX file, and writes it).
export const isGreyRamp = (palette) => palette.length >= 3 * kEntries &&
  palette.subarray(0, 3 * kEntries).every((value, k) => value === Math.floor(k / 3));

function png({ width, height, palette }, look, zlib, zlibChunkCrc) {
  const header = new Uint8Array(13), view = new DataView(header.buffer);
  view.setUint32(0, width);
  view.setUint32(4, height);
  const grey = look === 'opaque' && isGreyRamp(palette);
  header.set([8, grey ? 0 : 3, 0, 0, 0], 8);
  const drawn = colours(palette.subarray(0, 3 * kEntries), look);
  const chunks = [chunk('IHDR', header)];
  if (!grey) chunks.push(chunk('PLTE', drawn.palette));
  if (drawn.alpha) chunks.push(chunk('tRNS', drawn.alpha.subarray(0, drawn.alpha.findLastIndex((a) => a !== 255) + 1)));
  chunks.push(chunk('IDAT', zlib, zlibChunkCrc), chunk('IEND', new Uint8Array(0)));
  const file = new Uint8Array(chunks.reduce((sum, c) => sum + c.length, kSignature.length));
  file.set(kSignature);
  chunks.reduce((at, c) => (file.set(c, at), at + c.length), kSignature.length);
  return file;
}

// Rows from..to, each after filter byte 0 (none).
function plainRows({ width, pixels }, from, to) {
  const rows = new Uint8Array((width + 1) * (to - from));
  for (let y = from; y < to; ++y) rows.set(pixels.subarray(y * width, (y + 1) * width), (y - from) * (width + 1) + 1);
  return rows;
}

// Rows from..to, each after the filter, of the five, whose bytes taken as signed differences sum
// the least (the choice libpng makes): 0 none, 1 sub (the left pixel), 2 up, 3 average of the
// two, 4 Paeth (whichever of left, up and upper left is nearest left + up - upper left). A loop
// each, so that none decides on its filter pixel by pixel.
function filteredRows({ width, pixels }, from, to) {
  const rows = new Uint8Array((width + 1) * (to - from)), zero = new Uint8Array(width + 1);
  const trials = Array.from({ length: 5 }, () => new Uint8Array(width));
  const size = (v) => (v < 128 ? v : 256 - v);
  for (let y = from; y < to; ++y) {
    const row = pixels.subarray(y * width, (y + 1) * width), up = y > 0 ? pixels.subarray((y - 1) * width, y * width) : zero;
    const [none, sub, above, average, paeth] = trials;
    const sums = [0, 0, 0, 0, 0];
    for (let x = 0, a = 0, c = 0; x < width; a = row[x], c = up[x], ++x) {
      const v = row[x], b = up[x];
      sums[0] += size((none[x] = v));
      sums[1] += size((sub[x] = (v - a) & 255));
      sums[2] += size((above[x] = (v - b) & 255));
      sums[3] += size((average[x] = (v - ((a + b) >> 1)) & 255));
      const p = a + b - c, pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
      sums[4] += size((paeth[x] = (v - (pa <= pb && pa <= pc ? a : pb <= pc ? b : c)) & 255));
    }
    let best = 0;
    for (let filter = 1; filter < 5; ++filter) if (sums[filter] < sums[best]) best = filter;
    const out = (y - from) * (width + 1);
    rows[out] = best;
    rows.set(trials[best], out + 1);
  }
  return rows;
}

// A chunk, its CRC-32 computed unless `crc` gives it.
function chunk(type, data, crc) {
  const bytes = new Uint8Array(12 + data.length), view = new DataView(bytes.buffer);
  view.setUint32(0, data.length);
  bytes.set(Array.from(type, (c) => c.charCodeAt(0)), 4);
  bytes.set(data, 8);
  view.setUint32(8 + data.length, crc ?? crc32(bytes.subarray(4, 8 + data.length)));
  return bytes;
}

function adler32(bytes) {
  let a = 1, b = 0;
  for (let i = 0; i < bytes.length; ) {
    for (const end = Math.min(i + 4096, bytes.length); i < end; ++i) b += (a += bytes[i]);  // exact
    a %= 65521;  // within a run of 4096
    b %= 65521;
  }
  return ((b << 16) | a) >>> 0;
}
