// The pictures the page shows come from the PCX files the program wrote, so that what the user
// sees is the file they get. Only what the program writes is read: 8 bits a pixel in one plane,
// rows run-length encoded, and the 256-colour palette in the last 769 bytes:
//   header, 128 bytes: 8 u16 window right, 10 u16 window bottom (Width - 1, Height - 1),
//                     66 u16 bytes per row (Width)
//   rows:   11nnnnnn v   nnnnnn copies of the byte v;   v (below 0xC0)   the byte v
//   palette: 0x0C, then 256 entries of red, green, blue

import { crc32 } from './zip.js';

const kHeader = 128;
const kPaletteBlock = 1 + 256 * 3;
const kRunFlag = 0xc0;

// { width, height } of a PCX file from its header, or {} when it is not one the program wrote.
export function pcxSize(file) {
  if (file.length < kHeader + kPaletteBlock || file[0] !== 0x0a || file[3] !== 8) return {};
  const field = (at) => file[at] | (file[at + 1] << 8);
  const width = field(66);
  if (((field(8) + 1) & 0xffff) !== width) return {};
  // Height - 1 in 16 bits is 0xFFFF for 0 rows and for 65536: only the first has no rows.
  const height = (field(10) + 1) & 0xffff || (file.length === kHeader + kPaletteBlock ? 0 : 0x10000);
  return { width, height };
}

// { width, height, pixels, palette } of a PCX file, or null when it is not one the program wrote.
export function decodePcx(file) {
  const { width, height } = pcxSize(file);
  if (width === undefined) return null;
  const end = file.length - kPaletteBlock;
  const pixels = new Uint8Array(width * height);
  let at = kHeader;
  for (let row = 0; row < height; ++row) {
    for (let x = row * width, rowEnd = x + width; x < rowEnd; ) {
      if (at >= end) return null;
      const byte = file[at++];
      if (byte < kRunFlag) {
        pixels[x++] = byte;
        continue;
      }
      const count = byte & ~kRunFlag;
      if (at >= end || count === 0 || x + count > rowEnd) return null;
      pixels.fill(file[at++], x, x + count);
      x += count;
    }
  }
  if (at !== end || file[end] !== 0x0c) return null;
  return { width, height, pixels, palette: file.subarray(end + 1) };
}

// An 8-bit PNG of the image, which the browser decodes only while it is on screen; with
// `transparent`, that palette entry is fully transparent (as the game draws textures named {...).
// The pixel data is stored, not compressed: the picture lives only while it is near the screen.
//   signature, 8 bytes; then chunks: u32 length (big-endian, as every number here), 4 bytes type,
//   data, u32 CRC-32 of type and data
//   IHDR: u32 width, u32 height, 8 bits, colour type 3 (palette), 0, 0, 0 (no interlace)
//   PLTE: 256 entries of red, green, blue; tRNS: one alpha byte per entry up to the last one kept
//   IDAT: zlib: 0x78 0x01, stored blocks (u8 final, u16 length, u16 ~length, little-endian, bytes)
//         of the rows, each a filter byte 0 and its pixels, then the Adler-32 of the rows
//   IEND: no data
export function toPng({ width, height, pixels, palette }, transparent) {
  const raw = new Uint8Array((width + 1) * height);
  for (let y = 0; y < height; ++y) raw.set(pixels.subarray(y * width, (y + 1) * width), y * (width + 1) + 1);
  const kBlock = 0xffff, blocks = Math.max(1, Math.ceil(raw.length / kBlock));
  const zlib = new Uint8Array(2 + 5 * blocks + raw.length + 4);
  zlib.set([0x78, 0x01]);
  let at = 2;
  for (let b = 0; b < blocks; ++b) {
    const run = raw.subarray(b * kBlock, (b + 1) * kBlock);
    zlib.set([b === blocks - 1 ? 1 : 0, run.length & 255, run.length >> 8, ~run.length & 255, (~run.length >> 8) & 255], at);
    zlib.set(run, at + 5);
    at += 5 + run.length;
  }
  new DataView(zlib.buffer).setUint32(at, adler32(raw));
  const header = new Uint8Array(13);
  new DataView(header.buffer).setUint32(0, width);
  new DataView(header.buffer).setUint32(4, height);
  header.set([8, 3, 0, 0, 0], 8);
  const chunks = [chunk('IHDR', header), chunk('PLTE', palette.subarray(0, 768))];
  if (transparent !== undefined) {
    const alpha = new Uint8Array(transparent + 1).fill(255);
    alpha[transparent] = 0;
    chunks.push(chunk('tRNS', alpha));
  }
  chunks.push(chunk('IDAT', zlib), chunk('IEND', new Uint8Array(0)));
  return new Blob([Uint8Array.of(0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a), ...chunks], { type: 'image/png' });
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
