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
#include "wasi.h"
#include "win32.h"

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

constexpr uint32_t kBlock = 64;  /* pixels whose run ends one 64-bit mask holds */
constexpr size_t kStaged = 2048; /* bytes staged before they are sent: 1024 pixels or more */

constexpr uint8_t kPaletteMarker = 0x0C;
constexpr uint32_t kPaletteEntries = 256;

constexpr size_t kImageBuffer = 1 << 16; /* fewer, larger writes */


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

// Eight bytes from p as one word, the first byte lowest, whatever the machine's byte order.
uint64_t Load8(const uint8_t* p) {
  uint64_t word;
  memcpy(&word, p, sizeof word);
  return std::endian::native == std::endian::little ? word : __builtin_bswap64(word);
}

// Which of the pixels from row[base] on, 64 at most, end a run: bit i is set when pixel
// base + i is the row's last or differs from the next. Eight pairs are compared at once;
// the words may reach past the row, but never past the image.
uint64_t RunEnds(const uint8_t* row, uint32_t base, uint32_t width, const uint8_t* imageEnd) {
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7F, kHigh = 0x8080808080808080;
  constexpr uint64_t kGather = 0x0102040810204080; /* bit 8k to bit 56 + k */
  const uint32_t size = std::min(kBlock, width - base);
  const bool last = width - base <= kBlock;
  const uint8_t* pixels = row + base;
  uint8_t tail[kBlock + 8];  // the image's last pixels, padded
  if (static_cast<size_t>(imageEnd - pixels) <= kBlock) {
    memcpy(tail, pixels, size);
    memset(tail + size, 0, sizeof tail - size);
    pixels = tail;
  }
  uint64_t ends = 0;
#pragma GCC unroll 8  // unrolled so that every shift is a constant
  for (uint32_t i = 0; i < kBlock; i += 8) {
    // Byte k of diff is nonzero where pixel i + k differs from the next.
    const uint64_t diff = Load8(pixels + i) ^ Load8(pixels + i + 1);
    // 0x80 in each nonzero byte: its low seven bits plus 0x7F reach the top bit only if one
    // is set, and never pass 0xFE, so no byte carries into the next and each answer is exact.
    const uint64_t nonzero = (((diff & kLow7) + kLow7) | diff) & kHigh;
    // Each flag, moved down to bit 8k, is carried up to bit 56 + k by the gather constant's
    // byte 7 - k; the other products all land on distinct bits below 56, so nothing carries.
    ends |= ((nonzero >> 7) * kGather >> 56) << i;
  }
  if (last) ends = (ends | uint64_t{1} << (size - 1)) & (~uint64_t{0} >> (kBlock - size));
  return ends;
}

void Send(const uint8_t* bytes, size_t count, FILE* fp) {
  if constexpr (kWholeRuns) {
    fwrite(bytes, 1, count, fp);
    return;
  }
#pragma GCC unroll 4  // unrolled so that the loop's own count and test come once in 4 bytes
  for (size_t i = 0; i < count; ++i) PutByte(bytes[i], fp);
}

// Encodes one row, run by run. A run of count pixels of one value, cut into pieces of at
// most 63 and never continued into the next row, becomes the count byte 0xC0 | count and
// the value; a lone value below 0xC0, which cannot pass for a count byte, stands alone.
// The run ends of 64 pixels are found at once, and each run's bytes are staged without
// branching on whether it needs a count byte (that is as random as the pixels), then sent.
void WriteRow(const uint8_t* row, uint32_t width, const uint8_t* imageEnd, FILE* fp) {
  uint8_t staged[kStaged];
  size_t n = 0;        // bytes staged
  uint32_t start = 0;  // the current run's first pixel
  for (uint32_t base = 0; base < width; base += kBlock) {
    const uint32_t size = std::min(kBlock, width - base);
    uint64_t ends = RunEnds(row, base, width, imageEnd);
    if (start == base && ends == ~uint64_t{0} >> (kBlock - size)) {
      // Every pixel a run of its own, as in noise: the same rule with count 1.
#pragma GCC unroll 8  // unrolled so that the loop's own count and test come once in 8 pixels
      for (uint32_t x = base; x < base + size; ++x) {
        staged[n] = kRunFlag | 1;
        n += row[x] >= kRunFlag;
        staged[n++] = row[x];
      }
      start = base + size;
      ends = 0;
    }
    for (; ends != 0; ends &= ends - 1) {
      const uint32_t end = base + static_cast<uint32_t>(std::countr_zero(ends)) + 1;
      const uint8_t value = row[start];
      uint32_t count = end - start;
      start = end;
      if (count > kMaxRun) {  // long runs, as in bands: whole pieces of 63 straight away
        Send(staged, n, fp);
        n = 0;
        for (; count > kMaxRun; count -= kMaxRun) {
          PutByte(kRunFlag | kMaxRun, fp);
          PutByte(value, fp);
        }
      }
      // A count byte when the run is longer than one pixel or the value could pass for one.
      const bool counted = count > 1 || value >= kRunFlag;
      staged[n] = static_cast<uint8_t>(kRunFlag | count);
      n += counted;
      staged[n++] = value;
    }
    if (n > kStaged - 2 * kBlock) {  // room for the next block's two bytes a pixel
      Send(staged, n, fp);
      n = 0;
    }
  }
  Send(staged, n, fp);
}

// Always the marker and exactly 256 entries, so readers find the palette 769 bytes from the end.
void WritePalette(const PCXENCODE& image, FILE* fp) {
  PutByte(kPaletteMarker, fp);
  const uint32_t entries = std::min(image.PaletteSize, kPaletteEntries);
  for (uint32_t i = 0; i < entries * kPaletteEntryBytes; ++i) PutByte(image.Palette[i], fp);
  PutZeros((kPaletteEntries - entries) * kPaletteEntryBytes, fp);
}

}  // namespace

FILE* CreateImage(const PCXENCODE* Encode) {
  const PCXENCODE& image = *Encode;
  const unsigned long width = image.Width;
  const unsigned long height = image.Height;
  // Sizes the 16-bit header fields cannot hold would make a file no reader decodes right.
  if (image.Width > kMaxPcxWidth || image.Height > kMaxPcxHeight) {
    printf("Image too large : %s (%lux%lu)\n", image.FileName, width, height);
    return nullptr;
  }
  FILE* fp = fopen(image.FileName, "wb");  // binary: Windows would write each 0x0A as 0x0D 0x0A
  if (fp == nullptr) {
    printf("Could not create : %s\n", image.FileName);
    return nullptr;
  }
  printf("%s (%lux%lu)\n", image.FileName, width, height);
  return fp;
}

int EncodePCX(const PCXENCODE* Encode) {
  const PCXENCODE& image = *Encode;
  FILE* fp = CreateImage(Encode);
  if (fp == nullptr) return 0;
  char buffer[kImageBuffer];
  setvbuf(fp, buffer, _IOFBF, kImageBuffer);

  WriteHeader(image, fp);
  const uint8_t* row = image.ImageData;
  const uint8_t* const imageEnd = row + size_t{image.Width} * image.Height;
  for (uint32_t y = 0; y < image.Height; ++y, row += image.Width) {
    WriteRow(row, image.Width, imageEnd, fp);
  }
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
