// The pictures the page shows come from the PCX files the program wrote, so that what the user
// sees is the file they get. Only what the program writes is read: 8 bits a pixel in one plane,
// rows run-length encoded, and the 256-colour palette in the last 769 bytes:
//   header, 128 bytes: 8 u16 window right, 10 u16 window bottom (Width - 1, Height - 1),
//                     66 u16 bytes per row (Width)
//   rows:   11nnnnnn v   nnnnnn copies of the byte v;   v (below 0xC0)   the byte v
//   palette: 0x0C, then 256 entries of red, green, blue

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
