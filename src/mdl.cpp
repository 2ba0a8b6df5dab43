/* mdl: the skins a model carries.
 *
 * A studio model of Half-Life and its mods (version 10); integers little-endian, positions in
 * bytes from the start of the file.
 *
 * Header, 244 bytes at offset 0 (only these fields are read):
 *    0  4     "IDST"
 *    4  u32   version          10
 *  180  u32   numtextures      records in the texture table; 0 where the skins lie in a model
 *                              of their own (barneyT.mdl beside barney.mdl)
 *  184  u32   textureindex     position of the texture table
 * Texture table: numtextures records of 80 bytes, record k at textureindex + 80 k:
 *    0  64    name             up to the first zero byte, 64 bytes at most; ".bmp" at its end
 *                              (in any case) is left out of the file's name
 *   64  u32   flags            0x40: masked, entry 255 drawn transparent
 *   68  u32   width
 *   72  u32   height
 *   76  u32   index            position of width * height palette indices, rows top to bottom,
 *                              and right after them the palette: 256 entries of red, green, blue
 *
 * Every sum is taken in 64 bits, so no wrapped count or position passes a check.
 */
#include "mdl.h"

#include <cstring>
#include <string_view>

#include "tools.h"

namespace {

constexpr uint32_t kPaletteEntries = 256;
constexpr uint64_t kPaletteBytes = kPaletteEntries * 3;
constexpr uint32_t kMaskedFlag = 0x40;
constexpr std::string_view kBitmap = ".bmp"; /* what the skins were made from */

int Malformed(const RUN& run) {
  return Fail(run, "MDL file is malformed.\n");
}

}  // namespace

MDLTEXTURE ReadModelTexture(FILE* fp) {
  MDLTEXTURE texture;
  ReadBytes(fp, texture.name, kModelNameSize);
  texture.flags = get4(fp);
  texture.width = get4(fp);
  texture.height = get4(fp);
  texture.index = get4(fp);
  return texture;
}

int EnumerateModel(const RUN& run) {
  FILE* const fp = run.fp;
  if (run.size < kModelHeadSize) return Malformed(run);
  if (!SeekTo(fp, kModelTexturesField, run.size)) return CannotRead(run);
  const uint32_t numtextures = get4(fp), textureindex = get4(fp);
  if (ReadFailed(fp, kModelTexturesField + 8)) return CannotRead(run);
  if (textureindex + uint64_t{numtextures} * kModelRecordSize > run.size) return Malformed(run);

  for (uint64_t k = 0; k < numtextures; ++k) {
    const uint64_t record = textureindex + k * kModelRecordSize;
    if (!SeekTo(fp, record, run.size)) return CannotRead(run);
    const MDLTEXTURE texture = ReadModelTexture(fp);
    if (ReadFailed(fp, record + kModelRecordSize)) return CannotRead(run);
    const uint64_t pixels = uint64_t{texture.width} * texture.height;
    if (texture.index + pixels + kPaletteBytes > run.size) return Malformed(run);
    const PICTURE picture = {
        texture.name,
        WithoutEnding({texture.name, strnlen(texture.name, kModelNameSize)}, kBitmap),
        texture.width,
        texture.height,
        texture.index,
        texture.index + pixels,
        kPaletteEntries,
        (texture.flags & kMaskedFlag) != 0 ? kLookMasked : kLookOpaque};
    if (WritePicture(run, picture) != 0) return 1;
  }
  return 0;
}
