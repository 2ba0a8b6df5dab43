// Pictures drawn on the screen as PNG files: 8 bits a pixel with the texture's palette, the same
// indices as its PCX file, each entry given the colour and opacity the game draws it with (its
// look), the rows stored, quick to make while they come near the screen. The files the page saves
// are the program's own (pngfiles.js), laid out the same way and compressed.
//   signature, 8 bytes; then chunks: u32 length (big-endian, as every number here), 4 bytes type,
//   data, u32 CRC-32 of type and data
//   IHDR: u32 width, u32 height, 8 bits, colour type 3 (palette), or 0 (grey) for an opaque
//   picture whose palette is the grey ramp, 0, 0, 0 (no interlace)
//   PLTE (not for grey): 256 entries of red, green, blue; tRNS: one opacity byte per entry, up to the last one
//   that is not opaque
//   IDAT: zlib of the rows, each a filter byte and its pixels, in stored blocks (u8 final, u16
//   length, u16 ~length, little-endian, bytes, and the Adler-32)
//   IEND: no data
import { crc32 } from './zip.js';

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

// Whether every entry of the palette is the grey of its own index: then each index is its grey
// level, and the file needs no palette (as Pillow reads such a PCX file, and writes it).
export const isGreyRamp = (palette) => palette.length >= 3 * kEntries &&
  palette.subarray(0, 3 * kEntries).every((value, k) => value === Math.floor(k / 3));

function png({ width, height, palette }, look, zlib) {
  const header = new Uint8Array(13), view = new DataView(header.buffer);
  view.setUint32(0, width);
  view.setUint32(4, height);
  const grey = look === 'opaque' && isGreyRamp(palette);
  header.set([8, grey ? 0 : 3, 0, 0, 0], 8);
  const drawn = colours(palette.subarray(0, 3 * kEntries), look);
  const chunks = [chunk('IHDR', header)];
  if (!grey) chunks.push(chunk('PLTE', drawn.palette));
  if (drawn.alpha) chunks.push(chunk('tRNS', drawn.alpha.subarray(0, drawn.alpha.findLastIndex((a) => a !== 255) + 1)));
  chunks.push(chunk('IDAT', zlib), chunk('IEND', new Uint8Array(0)));
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

function chunk(type, data) {
  const bytes = new Uint8Array(12 + data.length), view = new DataView(bytes.buffer);
  view.setUint32(0, data.length);
  bytes.set(Array.from(type, (c) => c.charCodeAt(0)), 4);
  bytes.set(data, 8);
  view.setUint32(8 + data.length, crc32(bytes.subarray(4, 8 + data.length)));
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
