/* bsp: the textures a map carries.
 *
 * A map of Half-Life and its mods (BSP version 30); integers little-endian, positions in bytes
 * from the start of the file.
 *
 * Header, 124 bytes at offset 0:
 *    0  u32   version          30
 *    4  15 lumps of           u32 fileofs (position), u32 filelen (length in bytes)
 *   20  lump 2                 the textures
 * Texture lump, at its fileofs:
 *    0  u32   count n
 *    4  n u32 offsets          each from the lump's start to a texture header, or 0xFFFFFFFF
 *                              where the slot holds none
 * Texture header, 40 bytes, as a package's (wadfile.cpp): name, width, height, offsets[4] from
 * the header. A texture the map carries has its four mip levels, u16 count and palette behind
 * the header as in a package; one the map only names, held by a package, has offsets[0] 0.
 *
 * Every sum is taken in 64 bits, so no wrapped offset or count passes a check.
 */
#include "bsp.h"

#include "tools.h"

namespace {

constexpr uint64_t kMapHeadSize = 124;
constexpr uint64_t kTextureLumpEntry = 4 + 2 * 8; /* lump 2 of the table at 4 */
constexpr uint64_t kLumpEntrySize = 8;
constexpr uint64_t kCountSize = 4, kOffsetSize = 4;
constexpr uint32_t kNoTexture = 0xFFFFFFFF;

BSPLUMP ReadLump(FILE* fp) {
  BSPLUMP lump;
  lump.fileofs = get4(fp);
  lump.filelen = get4(fp);
  return lump;
}

int Malformed(const RUN& run) {
  return Fail(run, "BSP file is malformed.\n");
}

}  // namespace

int EnumerateMap(const RUN& run) {
  FILE* const fp = run.fp;
  if (run.size < kMapHeadSize) return Malformed(run);
  if (!SeekTo(fp, kTextureLumpEntry, run.size)) return CannotRead(run);
  const BSPLUMP lump = ReadLump(fp);
  if (ReadFailed(fp, kTextureLumpEntry + kLumpEntrySize)) return CannotRead(run);
  if (uint64_t{lump.fileofs} + lump.filelen > run.size) return Malformed(run);
  if (lump.filelen < kCountSize) return 0;  // room for no count: no textures

  if (!SeekTo(fp, lump.fileofs, run.size)) return CannotRead(run);
  const uint32_t count = get4(fp);
  if (ReadFailed(fp, lump.fileofs + kCountSize)) return CannotRead(run);
  if (kCountSize + uint64_t{count} * kOffsetSize > lump.filelen) return Malformed(run);

  for (uint64_t k = 0; k < count; ++k) {
    const uint64_t slot = lump.fileofs + kCountSize + k * kOffsetSize;
    if (!SeekTo(fp, slot, run.size)) return CannotRead(run);
    const uint32_t offset = get4(fp);
    if (ReadFailed(fp, slot + kOffsetSize)) return CannotRead(run);
    if (offset == kNoTexture) continue;
    if (ExtractTexture(run, uint64_t{lump.fileofs} + offset, true) != 0) return 1;
  }
  return 0;
}
