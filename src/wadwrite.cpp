/* wadwrite: a package as the game's tools read it (the layout is drawn in wadfile.cpp).
 *
 *    0  the header: "WAD3", the count of lumps, the directory's position
 *   12  the lumps, each at a multiple of 4: the 40-byte texture header (its name zero-padded to
 *       16 bytes, width, height, offsets 40, 40 + P, 40 + P + P/4, 40 + P + P/4 + P/16), the
 *       four levels, the u16 count of palette entries, the entries, zero bytes to a multiple of 4
 *       then the directory: for each lump its position, its length with its padding twice
 *       (disksize, size), type 'C', compression 0, two zero bytes, and the name
 *
 * It is written to a part file beside the package (partfile.cpp).
 */
#include "wadwrite.h"

#include <cstring>

#include "tools.h"

namespace {

constexpr uint64_t kAlignment = 4;
constexpr uint64_t kMaxPackage = UINT32_MAX; /* positions are 32 bits */

uint64_t Padded(uint64_t length) {
  return (length + kAlignment - 1) / kAlignment * kAlignment;
}

}  // namespace

uint64_t LaidLength(uint32_t width, uint32_t height, uint64_t paletteBytes) {
  const uint64_t pixels = uint64_t{width} * height;
  uint64_t levels = 0;
  for (unsigned k = 0; k < kMipLevels; ++k) levels += pixels >> (2 * k);
  return Padded(kMipHeadSize + levels + kPaletteCountSize + paletteBytes);
}

void LayTexture(const TEXTURE& texture, FILE* fp) {
  WAD3MIP mip = {};
  memcpy(mip.name, texture.name, kWad3NameSize);
  mip.width = texture.width;
  mip.height = texture.height;
  uint64_t offset = kMipHeadSize;
  for (unsigned k = 0; k < kMipLevels; ++k) {
    mip.offsets[k] = static_cast<uint32_t>(offset);
    offset += texture.levels[k].size();
  }
  WriteMip(mip, fp);
  // A level of a small texture, or a palette, may be empty: no bytes, and no pointer to them.
  for (const std::vector<uint8_t>& level : texture.levels) {
    if (!level.empty()) fwrite(level.data(), 1, level.size(), fp);
  }
  put2(static_cast<uint16_t>(texture.palette.size() / 3), fp);
  if (!texture.palette.empty()) fwrite(texture.palette.data(), 1, texture.palette.size(), fp);
  for (offset += kPaletteCountSize + texture.palette.size(); offset % kAlignment != 0; ++offset) {
    putc(0, fp);
  }
}

bool BeginPackage(WADWRITE* package, const char* path) {
  if (!BeginPart(&package->file, path)) return false;
  WriteHead({kMagic, 0, 0}, package->file.fp);  // the count and the directory's position come last
  package->at = kHeadSize;
  return true;
}

bool AddTexture(WADWRITE* package, const TEXTURE& texture) {
  const uint64_t padded = LaidLength(texture.width, texture.height, texture.palette.size());
  if (package->at + padded + kLumpSize * (package->directory.size() + 1) > kMaxPackage) {
    return false;
  }
  WAD3LUMP lump = {};
  lump.filepos = static_cast<uint32_t>(package->at);
  lump.disksize = lump.size = static_cast<uint32_t>(padded);
  lump.type = kTextureType;
  memcpy(lump.name, texture.name, kWad3NameSize);
  package->directory.push_back(lump);
  LayTexture(texture, package->file.fp);
  package->at += padded;
  return true;
}

bool FinishPackage(WADWRITE* package) {
  FILE* const fp = package->file.fp;
  const uint64_t directory = package->at;
  for (const WAD3LUMP& lump : package->directory) WriteLump(lump, fp);
  if (fseek(fp, 0, SEEK_SET) != 0) {
    AbandonPart(&package->file);
    return false;
  }
  WriteHead({kMagic, static_cast<uint32_t>(package->directory.size()),
             static_cast<uint32_t>(directory)},
            fp);
  return CommitPart(&package->file);
}

void AbandonPackage(WADWRITE* package) {
  AbandonPart(&package->file);
}
