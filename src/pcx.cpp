/* pcx: one 8-bit palettised image as a run-length-encoded PCX file.
 *
 * Header, 128 bytes, 16-bit fields little-endian:
 *    0  u8    0x0A          maker
 *    1  u8    5             version
 *    2  u8    1             encoding: run-length
 *    3  u8    8             bits per pixel
 *    4  u16   0, 0          window left, top
 *    8  u16   Width - 1     window right (low 16 bits)
 *   10  u16   Height - 1    window bottom (low 16 bits)
 *   12  u16   92, 92        horizontal, vertical resolution
 *   16  48    zero          16-colour palette, unused at 8 bits per pixel
 *   64  u8    0             reserved
 *   65  u8    1             colour planes
 *   66  u16   Width         bytes per row, not rounded up to even
 *   68  u16   1             palette type: colour
 *   70  u16   0, 0          screen width, height
 *   74  54    zero          filler
 *
 * Rows, Height of them, each encoded on its own so that it decodes to exactly
 * Width bytes (a run never crosses into the next row):
 *   11nnnnnn v    nnnnnn (1..63) copies of the byte v
 *   v             one byte v, only when v < 0xC0 (its top two bits not both set)
 *
 * Palette block, the last 769 bytes: 0x0C, then 256 entries of red, green, blue;
 * entries the image has no colour for are zero.
 */
#include "pcx.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

#include "tools.h"

namespace {

constexpr uint8_t kMaker = 0x0A;
constexpr uint8_t kVersion = 5;
constexpr uint8_t kEncodingRle = 1;
constexpr uint8_t kBitsPerPixel = 8;
constexpr uint16_t kResolution = 92;
constexpr unsigned kHeaderPaletteBytes = 48;
constexpr uint8_t kReserved = 0;
constexpr uint8_t kColourPlanes = 1;
constexpr uint16_t kPaletteTypeColour = 1;
constexpr unsigned kFillerBytes = 54;

constexpr unsigned kRunFlag = 0xC0; /* 11xxxxxx: a run count in the low six bits */
constexpr uint32_t kMaxRun = 63;    /* the largest count six bits hold */

constexpr uint8_t kPaletteMarker = 0x0C;
constexpr uint32_t kPaletteEntries = 256;
constexpr uint32_t kEntryBytes = 3; /* red, green, blue */

constexpr size_t kStreamBuffer = 1 << 16; /* fewer, larger writes */

constexpr uint32_t kMaxWidth = 0xFFFF;   /* bytes per row is a 16-bit field */
constexpr uint32_t kMaxHeight = 0x10000; /* window bottom, Height - 1, is a 16-bit field */

void PutByte(unsigned value, FILE* fp) {
  putc_unlocked(static_cast<int>(value), fp);
}

void PutZeros(uint32_t count, FILE* fp) {
  for (uint32_t i = 0; i < count; ++i) PutByte(0, fp);
}

void WriteHeader(const PCXENCODE& image, FILE* fp) {
  PutByte(kMaker, fp);
  PutByte(kVersion, fp);
  PutByte(kEncodingRle, fp);
  PutByte(kBitsPerPixel, fp);
  put2(0, fp);  // window left
  put2(0, fp);  // window top
  put2(static_cast<uint16_t>(image.Width - 1), fp);
  put2(static_cast<uint16_t>(image.Height - 1), fp);
  put2(kResolution, fp);
  put2(kResolution, fp);
  PutZeros(kHeaderPaletteBytes, fp);
  PutByte(kReserved, fp);
  PutByte(kColourPlanes, fp);
  put2(static_cast<uint16_t>(image.Width), fp);
  put2(kPaletteTypeColour, fp);
  put2(0, fp);  // screen width
  put2(0, fp);  // screen height
  PutZeros(kFillerBytes, fp);
}

// Which of eight bytes loaded as one word comes first in memory among those set in diff.
uint32_t FirstDifference(uint64_t diff) {
  const int bits =
      std::endian::native == std::endian::little ? std::countr_zero(diff) : std::countl_zero(diff);
  return static_cast<uint32_t>(bits) / 8;
}

// How many bytes from p on equal p[0], at most limit: eight at a time while they last.
uint32_t RunLength(const uint8_t* p, uint32_t limit) {
  if (limit == 1 || p[1] != p[0]) return 1;  // noise: predicted, so no wait on the loads
  const uint64_t pattern = p[0] * 0x0101010101010101u;
  uint32_t count = 2;
  for (uint64_t word; count + sizeof word <= limit; count += sizeof word) {
    memcpy(&word, p + count, sizeof word);
    if (word != pattern) return count + FirstDifference(word ^ pattern);
  }
  while (count < limit && p[count] == p[0]) ++count;
  return count;
}

// Encodes one row. Each step finds one run, stages its one or two bytes in a ring without
// branching on whether a count byte is needed (that is as random as the pixels), and sends
// the oldest staged byte: the stream writes, each waiting on the one before, then overlap
// the run search instead of following it. What is still staged goes out at the end.
void WriteRow(const uint8_t* row, uint32_t width, FILE* fp) {
  constexpr size_t kRing = 512;  // a power of two: the index wraps with a mask
  uint8_t ring[kRing];
  // Bytes staged and bytes sent: each step stages at most one more than it sends.
  size_t in = 0, out = 0;
  for (uint32_t x = 0; x < width;) {
    // Lone bytes first, as in noise: a byte that differs from the next is a run of one.
    const uint8_t* p = row + x;
    const uint8_t* const lone = row + std::min<uint32_t>(width - 1, x + kRing / 4);
    for (; p < lone && p[1] != p[0]; ++p) {
      ring[in % kRing] = kRunFlag | 1;
      in += *p >= kRunFlag;
      ring[in++ % kRing] = *p;
      PutByte(ring[out++ % kRing], fp);
    }
    x = static_cast<uint32_t>(p - row);
    if (in - out > kRing / 2) {  // rare: keeps room for the next steps
      while (out != in) PutByte(ring[out++ % kRing], fp);
    }
    const uint8_t value = row[x];
    const uint32_t count = RunLength(row + x, std::min(width - x, kMaxRun));
    // A lone byte that could pass for a count byte gets a count byte of its own.
    ring[in % kRing] = static_cast<uint8_t>(kRunFlag | count);
    in += count > 1 || value >= kRunFlag;
    ring[in++ % kRing] = value;
    PutByte(ring[out++ % kRing], fp);
    x += count;
  }
  while (out != in) PutByte(ring[out++ % kRing], fp);
}

// Always the marker and exactly 256 entries, so readers find the palette 769 bytes from the end.
void WritePalette(const PCXENCODE& image, FILE* fp) {
  PutByte(kPaletteMarker, fp);
  const uint32_t entries = std::min(image.PaletteSize, kPaletteEntries);
  for (uint32_t i = 0; i < entries * kEntryBytes; ++i) PutByte(image.Palette[i], fp);
  PutZeros((kPaletteEntries - entries) * kEntryBytes, fp);
}

}  // namespace

int EncodePCX(const PCXENCODE* Encode) {
  const PCXENCODE& image = *Encode;
  const unsigned long width = image.Width;
  const unsigned long height = image.Height;
  // Sizes the 16-bit header fields cannot hold would make a file no reader decodes right.
  if (image.Width > kMaxWidth || image.Height > kMaxHeight) {
    printf("Image too large : %s (%lux%lu)\n", image.FileName, width, height);
    return 0;
  }
  char buffer[kStreamBuffer];
  FILE* fp = fopen(image.FileName, "wb");  // binary: Windows would write each 0x0A as 0x0D 0x0A
  if (fp == nullptr) {
    printf("Could not create : %s\n", image.FileName);
    return 0;
  }
  setvbuf(fp, buffer, _IOFBF, kStreamBuffer);
  printf("%s (%lux%lu)\n", image.FileName, width, height);

  WriteHeader(image, fp);
  const uint8_t* row = image.ImageData;
  for (uint32_t y = 0; y < image.Height; ++y, row += image.Width) WriteRow(row, image.Width, fp);
  WritePalette(image, fp);

  // A full disk shows up only when the buffer is flushed: check the stream and the close.
  const bool failed = ferror(fp) != 0;
  if (fclose(fp) != 0 || failed) {
    printf("Could not write : %s\n", image.FileName);
    remove(image.FileName);
    return 0;
  }
  return 1;
}
