/* wadfile: a WAD3 package's records; integers little-endian, positions in bytes from the start
 * of the file.
 *
 * Header, 12 bytes at offset 0:
 *    0  u32   identification   "WAD3", read as 0x33444157
 *    4  u32   numlumps         number of directory entries
 *    8  u32   infotableofs     position of the directory
 * Directory: numlumps entries of 32 bytes, entry k at infotableofs + 32 k:
 *    0  u32   filepos          position of the lump
 *    4  u32   disksize         its length in the file (--make writes it; the extraction skips it)
 *    8  u32   size             its length unpacked: the same, as nothing is packed
 *   12  u8    type             'C' (0x43) for a texture; other lumps are skipped
 *   13  u8    compression, pad1, pad2: 0, not used
 *   16  16    name             not used by the extraction: the texture header names the output
 * Texture header, 40 bytes at filepos:
 *    0  16    name             up to the first zero byte, 16 bytes at most
 *   16  u32   width
 *   20  u32   height
 *   24  u32   offsets[4]       mip levels, relative to filepos; the extraction uses only [0]
 * Full-size pixels: P = width * height palette indices at filepos + offsets[0],
 * rows top to bottom; levels 1 to 3 halve each side, P/4, P/16 and P/64 bytes.
 * Palette: behind the header and four mip levels of P, P/4, P/16 and P/64 bytes, at
 * filepos + 40 + P + P/4 + P/16 + P/64: a u16 count n, then n entries of red, green, blue.
 */
#include "wadfile.h"

#include <initializer_list>

#include "tools.h"

WAD3HEAD ReadHead(FILE* fp) {
  WAD3HEAD head;
  head.identification = get4(fp);
  head.numlumps = get4(fp);
  head.infotableofs = get4(fp);
  return head;
}

WAD3LUMP ReadLump(FILE* fp) {
  WAD3LUMP lump;
  lump.filepos = get4(fp);
  lump.disksize = get4(fp);
  lump.size = get4(fp);
  ReadBytes(fp, &lump.type, 1);
  ReadBytes(fp, &lump.compression, 1);
  ReadBytes(fp, &lump.pad1, 1);
  ReadBytes(fp, &lump.pad2, 1);
  ReadBytes(fp, lump.name, kWad3NameSize);
  return lump;
}

WAD3MIP ReadMip(FILE* fp) {
  WAD3MIP mip;
  ReadBytes(fp, mip.name, kWad3NameSize);
  mip.width = get4(fp);
  mip.height = get4(fp);
  for (uint32_t& offset : mip.offsets) offset = get4(fp);
  return mip;
}

void WriteHead(const WAD3HEAD& head, FILE* fp) {
  put4(head.identification, fp);
  put4(head.numlumps, fp);
  put4(head.infotableofs, fp);
}

void WriteLump(const WAD3LUMP& lump, FILE* fp) {
  put4(lump.filepos, fp);
  put4(lump.disksize, fp);
  put4(lump.size, fp);
  for (const char c : {lump.type, lump.compression, lump.pad1, lump.pad2}) putc(c, fp);
  fwrite(lump.name, 1, kWad3NameSize, fp);
}

void WriteMip(const WAD3MIP& mip, FILE* fp) {
  fwrite(mip.name, 1, kWad3NameSize, fp);
  put4(mip.width, fp);
  put4(mip.height, fp);
  for (const uint32_t offset : mip.offsets) put4(offset, fp);
}

uint64_t PaletteOffset(uint64_t pixels) {
  return kMipHeadSize + pixels + pixels / 4 + pixels / 16 + pixels / 64;
}
