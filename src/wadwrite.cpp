/* wadwrite: a package as the game's tools read it (the layout is drawn in wadfile.cpp).
 *
 *    0  the header: "WAD3", the count of lumps, the directory's position
 *   12  the lumps, each at a multiple of 4: the 40-byte texture header (its name zero-padded to
 *       16 bytes, width, height, offsets 40, 40 + P, 40 + P + P/4, 40 + P + P/4 + P/16), the
 *       four levels, the u16 count of palette entries, the entries, zero bytes to a multiple of 4
 *       then the directory: for each lump its position, its length with its padding twice
 *       (disksize, size), type 'C', compression 0, two zero bytes, and the name
 *
 * It is written to PATH.part and renamed over PATH only once flushed and closed without a fault,
 * so that a full disk or a crash never leaves half a package where a whole one was.
 */
#include "wadwrite.h"

#include <cstring>

#include "tools.h"
#include "win32.h"

namespace {

constexpr char kPartEnding[] = ".part";
constexpr uint64_t kAlignment = 4;
constexpr uint64_t kMaxPackage = UINT32_MAX; /* positions are 32 bits */

void Pad(WADWRITE* package) {
  for (; package->at % kAlignment != 0; ++package->at) putc(0, package->fp);
}

// Replaces the file at `to` with the one at `from`, in one step where the system allows.
bool Replace(const char* from, const char* to) {
#ifdef _WIN32
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
  return rename(from, to) == 0;
#endif
}

}  // namespace

bool BeginPackage(WADWRITE* package, const char* path) {
  package->path = path;
  package->part = package->path + kPartEnding;
  package->fp = fopen(package->part.c_str(), "wb");
  if (package->fp == nullptr) return false;
  WriteHead({kMagic, 0, 0}, package->fp);  // the count and the directory's position come last
  package->at = kHeadSize;
  return true;
}

bool AddTexture(WADWRITE* package, const TEXTURE& texture) {
  uint64_t levels = 0;
  for (const std::vector<uint8_t>& level : texture.levels) levels += level.size();
  const uint64_t length = kMipHeadSize + levels + kPaletteCountSize + texture.palette.size();
  const uint64_t padded = (length + kAlignment - 1) / kAlignment * kAlignment;
  if (package->at + padded + kLumpSize * (package->directory.size() + 1) > kMaxPackage) {
    return false;
  }
  WAD3LUMP lump = {};
  lump.filepos = static_cast<uint32_t>(package->at);
  lump.disksize = lump.size = static_cast<uint32_t>(padded);
  lump.type = kTextureType;
  memcpy(lump.name, texture.name, kWad3NameSize);
  package->directory.push_back(lump);

  WAD3MIP mip = {};
  memcpy(mip.name, texture.name, kWad3NameSize);
  mip.width = texture.width;
  mip.height = texture.height;
  uint64_t offset = kMipHeadSize;
  for (unsigned k = 0; k < kMipLevels; ++k) {
    mip.offsets[k] = static_cast<uint32_t>(offset);
    offset += texture.levels[k].size();
  }
  WriteMip(mip, package->fp);
  for (const std::vector<uint8_t>& level : texture.levels) {
    fwrite(level.data(), 1, level.size(), package->fp);
  }
  put2(static_cast<uint16_t>(texture.palette.size() / 3), package->fp);
  fwrite(texture.palette.data(), 1, texture.palette.size(), package->fp);
  package->at += length;
  Pad(package);
  return true;
}

bool FinishPackage(WADWRITE* package) {
  const uint64_t directory = package->at;
  for (const WAD3LUMP& lump : package->directory) WriteLump(lump, package->fp);
  const bool headed = fseek(package->fp, 0, SEEK_SET) == 0;
  if (headed) {
    WriteHead({kMagic, static_cast<uint32_t>(package->directory.size()),
               static_cast<uint32_t>(directory)},
              package->fp);
  }
  // A full disk shows only when the buffer is flushed: check the stream, the flush and the close.
  const bool written = headed && fflush(package->fp) == 0 && ferror(package->fp) == 0 &&
                       SyncFile(package->fp);
  const bool closed = fclose(package->fp) == 0;
  package->fp = nullptr;
  if (!written || !closed || !Replace(package->part.c_str(), package->path.c_str())) {
    remove(package->part.c_str());
    return false;
  }
  return true;
}

void AbandonPackage(WADWRITE* package) {
  if (package->fp != nullptr) fclose(package->fp);
  package->fp = nullptr;
  remove(package->part.c_str());
}
