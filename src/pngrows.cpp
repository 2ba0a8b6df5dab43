// Rows as PNG files hold them: each a filter byte and its pixels, filtered.
//   0 none, 1 sub (less the pixel to the left), 2 up (less the one above), 3 average (less the
//   mean of the two, rounded down), 4 Paeth (less whichever of left, above and upper left is
//   nearest left + above - upper left); outside the picture a pixel is 0.
// Palette indices are no quantities: their differences code no better than they do, and a sample
// of rows that says otherwise misleads often enough to make a file a third larger; such rows go
// unfiltered, as Pillow writes them. Grey levels are quantities: each of those rows takes the
// filter, but average, that leaves the least (libpng's choice, among Pillow's four).
#include "pngrows.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "deflate.h"

namespace {

constexpr size_t kFilters = 5, kAverage = 3;

// What each filter leaves of the row, `up` being the row above: the bytes it makes, taken as
// signed differences, summed.
void Left(const uint8_t* row, const uint8_t* up, uint32_t width, uint32_t* sums) {
  const auto size = [](int v) { return static_cast<uint32_t>(v & 128 ? 256 - (v & 255) : v & 255); };
  uint32_t none = 0, sub = 0, above = 0, average = 0, paeth = 0;
  for (uint32_t x = 0; x < width; ++x) {
    const int v = row[x], a = x > 0 ? row[x - 1] : 0, b = up[x], c = x > 0 ? up[x - 1] : 0;
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    none += size(v);
    sub += size(v - a);
    above += size(v - b);
    average += size(v - ((a + b) >> 1));
    paeth += size(v - (pa <= pb && pa <= pc ? a : pb <= pc ? b : c));
  }
  sums[0] = none, sums[1] = sub, sums[2] = above, sums[3] = average, sums[4] = paeth;
}

// Writes the row filtered with `filter`.
void Filter(size_t filter, const uint8_t* row, const uint8_t* up, uint32_t width, uint8_t* out) {
  for (uint32_t x = 0; x < width; ++x) {
    const int v = row[x], a = x > 0 ? row[x - 1] : 0, b = up[x], c = x > 0 ? up[x - 1] : 0;
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    const int predicted[kFilters] = {0, a, b, (a + b) >> 1, pa <= pb && pa <= pc ? a : pb <= pc ? b : c};
    out[x] = static_cast<uint8_t>(v - predicted[filter]);
  }
}

}  // namespace

std::vector<uint8_t> PngRows(const uint8_t* pixels, uint32_t width, uint32_t height, bool grey) {
  std::vector<uint8_t> rows(size_t{width + 1} * height), zero(width, 0);
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* out = rows.data() + size_t{width + 1} * y;
    const uint8_t* row = pixels + size_t{width} * y;
    const uint8_t* up = y > 0 ? row - width : zero.data();
    size_t best = 0;
    if (grey) {
      uint32_t sums[kFilters];
      Left(row, up, width, sums);
      sums[kAverage] = UINT32_MAX;  // which Pillow never takes, nor need we
      best = static_cast<size_t>(std::min_element(sums, sums + kFilters) - sums);
    }
    out[0] = static_cast<uint8_t>(best);
    if (best == 0) {
      std::memcpy(out + 1, row, width);
    } else {
      Filter(best, row, up, width, out + 1);
    }
  }
  std::vector<uint8_t> zlib(DeflateBound(rows.size()));
  zlib.resize(Deflate(rows.data(), rows.size(), zlib.data(), grey));
  return zlib;
}

namespace {

// CRC-32 (as zip files and PNG chunks have it), four bytes a step: table k gives the CRC of a
// byte followed by k zeros.
struct CRCTABLES {
  uint32_t t[4][256];
};
constexpr CRCTABLES MakeCrcTables() {
  CRCTABLES tables = {};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    tables.t[0][n] = c;
  }
  for (int k = 1; k < 4; ++k) {
    for (uint32_t n = 0; n < 256; ++n) {
      tables.t[k][n] = (tables.t[k - 1][n] >> 8) ^ tables.t[0][tables.t[k - 1][n] & 255];
    }
  }
  return tables;
}
constexpr CRCTABLES kCrc = MakeCrcTables();

}  // namespace

uint32_t Crc32(const uint8_t* bytes, size_t size) {
  const auto& t = kCrc.t;
  uint32_t c = 0xFFFFFFFF;
  size_t i = 0;
  for (; i + 4 <= size; i += 4) {
    c ^= uint32_t{bytes[i]} | uint32_t{bytes[i + 1]} << 8 | uint32_t{bytes[i + 2]} << 16 |
         uint32_t{bytes[i + 3]} << 24;
    c = t[3][c & 255] ^ t[2][(c >> 8) & 255] ^ t[1][(c >> 16) & 255] ^ t[0][c >> 24];
  }
  for (; i < size; ++i) c = t[0][(c ^ bytes[i]) & 255] ^ (c >> 8);
  return ~c;
}

void AppendChunk(std::vector<uint8_t>& out, const char* type, const uint8_t* data, size_t size) {
  const auto big32 = [&out](uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
  };
  big32(static_cast<uint32_t>(size));
  out.insert(out.end(), type, type + 4);
  if (size != 0) out.insert(out.end(), data, data + size);
  big32(Crc32(out.data() + out.size() - size - 4, size + 4));
}

bool IsGreyRamp(const uint8_t* palette) {
  for (size_t k = 0; k < kPaletteSize; ++k) {
    if (palette[k] != k / 3) return false;
  }
  return true;
}

bool PcxPixels(const uint8_t* file, size_t size, uint32_t* width, uint32_t* height, std::vector<uint8_t>* pixels) {
  constexpr size_t kHeader = 128, kPaletteBlock = 1 + kPaletteSize;
  constexpr uint8_t kRunFlag = 0xC0, kRunCount = 0x3F;
  if (size < kHeader + kPaletteBlock || file[0] != 0x0A || file[3] != 8) return false;
  const auto field = [&](size_t at) { return uint32_t{file[at]} | uint32_t{file[at + 1]} << 8; };
  *width = field(66);
  if (((field(8) + 1) & 0xFFFF) != *width) return false;
  *height = (field(10) + 1) & 0xFFFF;
  if (*height == 0 && size != kHeader + kPaletteBlock) *height = 0x10000;
  const size_t end = size - kPaletteBlock;
  pixels->resize(size_t{*width} * *height);
  size_t at = kHeader;
  uint8_t* out = pixels->data();
  for (uint32_t row = 0; row < *height; ++row) {
    for (size_t x = size_t{row} * *width, rowEnd = x + *width; x < rowEnd;) {
      if (at >= end) return false;
      const uint8_t byte = file[at++];
      if (byte < kRunFlag) {
        out[x++] = byte;
        continue;
      }
      const size_t count = byte & kRunCount;
      if (at >= end || count == 0 || x + count > rowEnd) return false;
      std::memset(out + x, file[at++], count);
      x += count;
    }
  }
  return at == end && file[end] == 0x0C;
}
