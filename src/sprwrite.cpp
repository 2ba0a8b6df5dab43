/* sprwrite: a sprite as the game reads it (the extraction's walk is drawn in spr.cpp).
 *
 *    0  4     "IDSP"
 *    4  u32   version          2
 *    8  u32   type             how it faces the viewer: 0 parallel-upright, 1 facing-upright,
 *                              2 parallel, 3 oriented, 4 parallel-oriented
 *   12  u32   format           0 normal, 1 additive, 2 index-alpha, 3 alpha-test
 *   16  f32   bounding radius  from the centre to the largest frame's corner
 *   20  u32   max width, max height: the largest frame's sides
 *   28  u32   numframes
 *   32  f32   beam length      0
 *   36  u32   sync type        1: random, as nearly every real sprite has it
 *   40  u16   256, then 768 bytes of red, green, blue
 * Each frame:
 *    0  u32   0                a single picture
 *    4  i32   origin x         -(width / 2)
 *    8  i32   origin y         height / 2: the picture centred
 *   12  u32   width, height
 *   20        width * height palette indices, rows top to bottom
 * Nothing follows the last frame. The radius is a float: the square root of an integer, halved,
 * correctly rounded on every machine.
 */
#include "sprwrite.h"

#include <cmath>
#include <cstring>

#include "tools.h"

namespace {

constexpr uint32_t kSyncRandom = 1;
constexpr uint16_t kEntries = 256;
constexpr size_t kPaletteBytes = 3 * kEntries;
constexpr uint32_t kSingle = 0;

uint32_t Bits(float value) {
  uint32_t bits;
  memcpy(&bits, &value, sizeof bits);
  return bits;
}

}  // namespace

SPRHEAD SpriteHead(uint32_t type, uint32_t format, uint32_t width, uint32_t height,
                   uint32_t frames) {
  // √((w/2)² + (h/2)²) = √(w² + h²) / 2. The square root of an integer lies too far from any
  // midpoint between two floats for the double's own rounding to matter.
  const double squares = double(width) * width + double(height) * height;
  const auto radius = static_cast<float>(std::sqrt(squares) / 2);
  return {type, format, Bits(radius), width, height, frames, Bits(0.0f), kSyncRandom, kEntries};
}

bool BeginSprite(SPRWRITE* sprite, const char* path, const SPRHEAD& head, const uint8_t* palette) {
  if (!BeginPart(&sprite->file, path)) return false;
  FILE* const fp = sprite->file.fp;
  put4(kSpriteMagic, fp);
  put4(kSpriteVersion, fp);
  for (const uint32_t field : {head.type, head.format, head.boundingradius, head.maxwidth,
                               head.maxheight, head.numframes, head.beamlength, head.synctype}) {
    put4(field, fp);
  }
  put2(head.palette, fp);
  fwrite(palette, 1, kPaletteBytes, fp);
  return true;
}

void AddFrame(SPRWRITE* sprite, uint32_t width, uint32_t height, const uint8_t* indices) {
  FILE* const fp = sprite->file.fp;
  put4(kSingle, fp);
  put4(static_cast<uint32_t>(-static_cast<int32_t>(width / 2)), fp);
  put4(height / 2, fp);
  put4(width, fp);
  put4(height, fp);
  fwrite(indices, 1, size_t{width} * height, fp);
}

bool FinishSprite(SPRWRITE* sprite) {
  return CommitPart(&sprite->file);
}

void AbandonSprite(SPRWRITE* sprite) {
  AbandonPart(&sprite->file);
}
