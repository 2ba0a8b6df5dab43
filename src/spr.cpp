/* spr: the pictures a sprite holds.
 *
 * A sprite of Half-Life and its mods (version 2); integers little-endian, positions in bytes
 * from the start of the file.
 *
 * Header, 42 bytes at offset 0:
 *    0  4     "IDSP"
 *    4  u32   version          2
 *    8  u32   type             not used here
 *   12  u32   format           how the game draws it: 0 normal, 1 additive, 2 index-alpha,
 *                              3 alpha-test
 *   16  u32   bounding radius, max width, max height: not used here
 *   28  u32   numframes
 *   32  u32   beam length, sync type: not used
 *   40  u16   palette count n, then n entries of red, green, blue
 * Then numframes frames, one after another:
 *    0  u32   group            0: one picture follows; 1: a group, u32 count k, k four-byte
 *                              intervals, then k pictures
 * Picture:
 *    0  2 × 4 origin x, y     not used
 *    8  u32   width
 *   12  u32   height
 *   16        width * height palette indices, rows top to bottom
 *
 * A sprite names no picture: each is named after the sprite's file, its last path component
 * without ".spr" (in any case), an underscore and the picture's number in file order from 0.
 * Every sum is taken in 64 bits, so no wrapped size passes a check.
 */
#include "spr.h"

#include <cinttypes>
#include <cstdio>
#include <limits>
#include <memory>
#include <new>
#include <string_view>

#include "pcx.h"
#include "tools.h"
#include "win32.h"

namespace {

constexpr uint64_t kSpriteHeadSize = 42;
constexpr uint64_t kTypeField = 8; /* the header's fields after the magic and the version */
constexpr uint64_t kWordSize = 4;
constexpr uint64_t kPictureHeadSize = 16; /* origin x, y, width, height */
constexpr uint32_t kSingle = 0, kGroup = 1;
constexpr uint32_t kIndexAlpha = 2, kAlphaTest = 3; /* formats */
constexpr std::string_view kEnding = ".spr";

SPRHEAD ReadHead(FILE* fp) {
  SPRHEAD head;
  head.type = get4(fp);
  head.format = get4(fp);
  head.boundingradius = get4(fp);
  head.maxwidth = get4(fp);
  head.maxheight = get4(fp);
  head.numframes = get4(fp);
  head.beamlength = get4(fp);
  head.synctype = get4(fp);
  head.palette = get2(fp);
  return head;
}

// The pictures' names begin with the sprite file's name: its last path component (on Windows
// '\\' separates components too) without a final ".spr" in any case.
std::string_view Stem(std::string_view path) {
  path = LastComponent(path);
  path.remove_suffix(path.size() - WithoutEnding(path, kEnding));
  return path;
}

int Malformed(const RUN& run) {
  return Fail(run, "SPR file is malformed.\n");
}

}  // namespace

int EnumerateSprite(const RUN& run) {
  FILE* const fp = run.fp;
  if (run.size < kSpriteHeadSize) return Malformed(run);
  if (!SeekTo(fp, kTypeField, run.size)) return CannotRead(run);
  const SPRHEAD head = ReadHead(fp);
  if (ReadFailed(fp, kSpriteHeadSize)) return CannotRead(run);
  const uint64_t paletteBytes = uint64_t{head.palette} * kPaletteEntryBytes;
  if (kSpriteHeadSize + paletteBytes > run.size) return Malformed(run);

  // Each picture's name: the stem, an underscore and its number, with room for a closing zero.
  const std::string_view stem = Stem(run.FileName);
  const size_t nameSize = stem.size() + 1 + std::numeric_limits<uint64_t>::digits10 + 2;
  const std::unique_ptr<char[]> name(new (std::nothrow) char[nameSize]);
  if (!name) return Fail(run, "Out of memory (FileName).\n");
  const LOOK look = head.format == kIndexAlpha ? kLookIndexAlpha
                    : head.format == kAlphaTest ? kLookMasked
                                                : kLookOpaque;
  uint64_t at = kSpriteHeadSize + paletteBytes, number = 0;  // never past the end of the file
  for (uint64_t frame = 0; frame < head.numframes; ++frame) {
    if (at + kWordSize > run.size) return Malformed(run);
    if (!SeekTo(fp, at, run.size)) return CannotRead(run);
    const uint32_t group = get4(fp);
    if (ReadFailed(fp, at + kWordSize)) return CannotRead(run);
    uint64_t pictures = 1;
    if (group == kGroup) {
      if (at + 2 * kWordSize > run.size) return Malformed(run);
      pictures = get4(fp);
      if (ReadFailed(fp, at + 2 * kWordSize)) return CannotRead(run);
      at += 2 * kWordSize + pictures * kWordSize;  // the flag, the count and the intervals
    } else if (group == kSingle) {
      at += kWordSize;
    } else {
      return Malformed(run);
    }
    for (uint64_t k = 0; k < pictures; ++k, ++number) {
      if (at + kPictureHeadSize > run.size) return Malformed(run);
      if (!SeekTo(fp, at + 2 * kWordSize, run.size)) return CannotRead(run);  // past the origin
      const uint32_t width = get4(fp), height = get4(fp);
      if (ReadFailed(fp, at + kPictureHeadSize)) return CannotRead(run);
      const uint64_t pixels = at + kPictureHeadSize,
                     end = AddClamped(pixels, uint64_t{width} * height);
      if (end > run.size) return Malformed(run);
      const int length = snprintf(name.get(), nameSize, "%.*s_%" PRIu64,
                                  static_cast<int>(stem.size()), stem.data(), number);
      const PICTURE picture = {
          name.get(),  static_cast<size_t>(length), width, height, pixels, kSpriteHeadSize,
          head.palette, look};
      if (WritePicture(run, picture) != 0) return 1;
      at = end;
    }
  }
  return 0;
}
