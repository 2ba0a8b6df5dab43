// Builds PNG, BMP and TGA files in memory for the tests of --make: every field written here,
// so that a test can make any image, or break any part of one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace imagepack {

using Bytes = std::vector<uint8_t>;

inline void Big32(Bytes& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

inline uint32_t Crc32(const uint8_t* p, size_t n) {
  uint32_t crc = 0xFFFFFFFF;
  for (size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

inline void Chunk(Bytes& out, const std::string& type, const Bytes& data) {
  Big32(out, static_cast<uint32_t>(data.size()));
  const size_t start = out.size();
  out.insert(out.end(), type.begin(), type.end());
  out.insert(out.end(), data.begin(), data.end());
  Big32(out, Crc32(out.data() + start, out.size() - start));
}

// zlib of stored blocks: what any inflater reads.
inline Bytes Stored(const Bytes& data) {
  Bytes out = {0x78, 0x01};
  size_t at = 0;
  do {
    const size_t n = std::min<size_t>(65535, data.size() - at);
    out.push_back(at + n == data.size() ? 1 : 0);
    out.insert(out.end(), {uint8_t(n), uint8_t(n >> 8), uint8_t(~n), uint8_t(~n >> 8)});
    out.insert(out.end(), data.begin() + long(at), data.begin() + long(at + n));
    at += n;
  } while (at < data.size());
  uint32_t a = 1, b = 0;
  for (uint8_t v : data) {
    a = (a + v) % 65521;
    b = (b + a) % 65521;
  }
  Big32(out, b << 16 | a);
  return out;
}

// A PNG of `type` (0 grey, 2 RGB, 3 indexed, 4 grey and alpha, 6 RGBA) at `depth` bits a
// sample, whose rows are `samples` packed as PNG packs them (each sample of 16 bits big-endian,
// those under 8 bits from the top of each byte), with `palette` (and `alpha`, as tRNS) for
// type 3.
struct Png {
  uint32_t width = 0, height = 0;
  uint8_t depth = 8, type = 2;
  Bytes samples;  // the rows, without their filter bytes
  Bytes palette, alpha;
};

inline size_t RowBytes(const Png& png) {
  static const unsigned kChannels[] = {1, 0, 3, 1, 2, 0, 4};
  return (size_t{png.width} * kChannels[png.type] * png.depth + 7) / 8;
}

inline Bytes Encode(const Png& png) {
  Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes ihdr;
  Big32(ihdr, png.width);
  Big32(ihdr, png.height);
  ihdr.insert(ihdr.end(), {png.depth, png.type, 0, 0, 0});
  Chunk(out, "IHDR", ihdr);
  if (!png.palette.empty()) Chunk(out, "PLTE", png.palette);
  if (!png.alpha.empty()) Chunk(out, "tRNS", png.alpha);
  Bytes raw;
  const size_t row = RowBytes(png);
  for (uint32_t y = 0; y < png.height; ++y) {
    raw.push_back(0);  // no filter
    raw.insert(raw.end(), png.samples.begin() + long(y * row),
               png.samples.begin() + long((y + 1) * row));
  }
  Chunk(out, "IDAT", Stored(raw));
  Chunk(out, "IEND", {});
  return out;
}

// An uncompressed BMP of 1, 4 or 8 bits with `palette` (red, green, blue each) and `indices`,
// rows bottom to top unless topDown.
inline Bytes Bmp(uint32_t width, uint32_t height, unsigned bits, const Bytes& palette,
                 const Bytes& indices, bool topDown = false) {
  const size_t entries = palette.size() / 3, stride = (width * bits + 31) / 32 * 4;
  const uint32_t rows = static_cast<uint32_t>(14 + 40 + 4 * entries);
  Bytes out = {'B', 'M'};
  auto le = [&](uint32_t v, int n) {
    for (int i = 0; i < n; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  le(rows + static_cast<uint32_t>(stride * height), 4);
  le(0, 4);
  le(rows, 4);
  le(40, 4);
  le(width, 4);
  le(topDown ? 0u - height : height, 4);
  le(1, 2);
  le(bits, 2);
  le(0, 4);  // uncompressed
  le(static_cast<uint32_t>(stride * height), 4);
  le(2835, 4);
  le(2835, 4);
  le(static_cast<uint32_t>(entries), 4);
  le(0, 4);
  for (size_t i = 0; i < entries; ++i) {
    out.insert(out.end(), {palette[3 * i + 2], palette[3 * i + 1], palette[3 * i], 0});
  }
  for (uint32_t r = 0; r < height; ++r) {
    const uint32_t y = topDown ? r : height - 1 - r;
    Bytes row(stride, 0);
    for (uint32_t x = 0; x < width; ++x) {
      const unsigned shift = 8 - bits * (x % (8 / bits) + 1);
      row[x * bits / 8] = static_cast<uint8_t>(row[x * bits / 8] | indices[y * width + x] << shift);
    }
    out.insert(out.end(), row.begin(), row.end());
  }
  return out;
}

// An uncompressed TGA of red, green, blue (and alpha where `alpha`) per pixel, top to bottom.
inline Bytes Tga(uint32_t width, uint32_t height, const Bytes& rgba, bool alpha) {
  Bytes out = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  out.insert(out.end(), {uint8_t(width), uint8_t(width >> 8), uint8_t(height),
                         uint8_t(height >> 8), uint8_t(alpha ? 32 : 24),
                         uint8_t(alpha ? 0x28 : 0x20)});  // top to bottom, 8 alpha bits
  for (size_t i = 0; i < size_t{width} * height; ++i) {
    out.insert(out.end(), {rgba[4 * i + 2], rgba[4 * i + 1], rgba[4 * i]});
    if (alpha) out.push_back(rgba[4 * i + 3]);
  }
  return out;
}

// An 8-bit PCX of one plane, each pixel a code of its own, and its 256-entry palette.
inline Bytes Pcx(uint32_t width, uint32_t height, const Bytes& indices, const Bytes& palette) {
  Bytes out(128, 0);
  out[0] = 0x0A, out[1] = 5, out[2] = 1, out[3] = 8, out[65] = 1, out[68] = 1;
  out[8] = uint8_t(width - 1), out[9] = uint8_t((width - 1) >> 8);
  out[10] = uint8_t(height - 1), out[11] = uint8_t((height - 1) >> 8);
  out[66] = uint8_t(width), out[67] = uint8_t(width >> 8);
  for (const uint8_t v : indices) {
    if (v >= 0xC0) out.push_back(0xC1);
    out.push_back(v);
  }
  out.push_back(0x0C);
  Bytes full = palette;
  full.resize(768);
  out.insert(out.end(), full.begin(), full.end());
  return out;
}

}  // namespace imagepack
