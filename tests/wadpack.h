// Builds WAD3 texture packages in memory, and reads them back, for the tests, the benchmark
// and the bundled sample. The layout is drawn at the top of src/wad3.cpp.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace wadpack {

using Bytes = std::vector<uint8_t>;

// Record sizes, and the fields the tests change, from the start of their record.
constexpr size_t kHeadSize = 12, kLumpSize = 32, kMipHeadSize = 40;
constexpr size_t kCountField = 4, kDirectoryField = 8;                    // header
constexpr size_t kWidthField = 16, kHeightField = 20, kPixelsField = 24;  // texture header

struct Texture {
  std::string name;  // texture header name: 16 bytes at most, zero-padded
  uint32_t width = 0;
  uint32_t height = 0;
  Bytes pixels;           // width * height palette indices
  Bytes palette;          // red, green, blue per entry; the stored count is size / 3
  char type = 'C';        // directory entry's lump type
  std::string entryName;  // directory entry's name; the texture name when empty
};

inline void Put16(Bytes& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

inline void Put32(Bytes& out, uint32_t value) {
  Put16(out, value);
  Put16(out, value >> 16);
}

inline void Set32(Bytes& out, size_t at, uint32_t value) {
  for (unsigned i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

inline uint32_t Get16(const Bytes& b, uint64_t at) {
  const uint8_t* p = b.data() + static_cast<size_t>(at);
  return uint32_t{p[0]} | uint32_t{p[1]} << 8;
}

inline uint32_t Get32(const Bytes& b, uint64_t at) {
  return Get16(b, at) | Get16(b, at + 2) << 16;
}

inline void PutName(Bytes& out, const std::string& name) {
  for (size_t i = 0; i < 16; ++i)
    out.push_back(i < name.size() ? static_cast<uint8_t>(name[i]) : 0);
}

inline void PutEntry(Bytes& out, uint32_t filepos, uint32_t size, char type,
                     const std::string& name) {
  Put32(out, filepos);
  Put32(out, size);  // disksize
  Put32(out, size);  // size
  out.insert(out.end(), {static_cast<uint8_t>(type), 0, 0, 0});
  PutName(out, name);
}

// Texture header, four mip levels laid out where the palette's position expects them, palette.
inline void PutTexture(Bytes& out, const Texture& t) {
  const uint32_t pixels = t.width * t.height;
  PutName(out, t.name);
  Put32(out, t.width);
  Put32(out, t.height);
  uint32_t offset = 40;
  for (uint32_t level = 0; level < 4; ++level) {
    Put32(out, offset);
    offset += pixels >> (2 * level);
  }
  for (uint32_t level = 0; level < 4; ++level) {
    const size_t end = out.size() + (pixels >> (2 * level));
    for (uint32_t y = 0; y < t.height >> level; ++y) {
      for (uint32_t x = 0; x < t.width >> level; ++x) {
        out.push_back(t.pixels[(y * t.width + x) << level]);
      }
    }
    out.resize(end);
  }
  Put16(out, static_cast<uint32_t>(t.palette.size() / 3));
  out.insert(out.end(), t.palette.begin(), t.palette.end());
}

// Header, then the lumps back to back and the directory, or the directory first.
inline Bytes Package(const std::vector<Texture>& textures, bool directoryFirst = false) {
  const auto count = static_cast<uint32_t>(textures.size());
  Bytes lumps;
  std::vector<uint32_t> starts;
  for (const Texture& t : textures) {
    starts.push_back(static_cast<uint32_t>(lumps.size()));
    PutTexture(lumps, t);
  }
  starts.push_back(static_cast<uint32_t>(lumps.size()));
  const uint32_t lumpBase = directoryFirst ? 12 + 32 * count : 12;
  Bytes out = {'W', 'A', 'D', '3'};
  Put32(out, count);
  Put32(out, directoryFirst ? 12 : lumpBase + starts.back());
  Bytes directory;
  for (uint32_t i = 0; i < count; ++i) {
    const Texture& t = textures[i];
    PutEntry(directory, lumpBase + starts[i], starts[i + 1] - starts[i], t.type,
             t.entryName.empty() ? t.name : t.entryName);
  }
  const Bytes& first = directoryFirst ? directory : lumps;
  const Bytes& second = directoryFirst ? lumps : directory;
  out.insert(out.end(), first.begin(), first.end());
  out.insert(out.end(), second.begin(), second.end());
  return out;
}

// A texture read back from a package, and where its parts lie there.
struct Found {
  Texture texture;
  size_t entry = 0;    // its directory entry
  size_t mip = 0;      // its texture header
  size_t pixels = 0;   // its full-size pixels
  size_t palette = 0;  // its palette's entry count
};

// The textures of a package, in directory order. One whose pixels or palette do not lie
// wholly in the package is left out; positions are checked in 64 bits before they are used.
inline std::vector<Found> Read(const Bytes& b) {
  std::vector<Found> found;
  const uint64_t size = b.size();
  if (size < kHeadSize || !std::equal(b.begin(), b.begin() + 4, "WAD3")) return found;
  const uint64_t count = Get32(b, kCountField), directory = Get32(b, kDirectoryField);
  if (directory + count * kLumpSize > size) return found;
  auto slice = [&](uint64_t from, uint64_t to) {
    return Bytes(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(to));
  };
  for (uint64_t k = 0; k < count; ++k) {
    const uint64_t entry = directory + k * kLumpSize, mip = Get32(b, entry);
    const auto type = static_cast<uint8_t>(Get16(b, entry + 12));
    if (type != 'C' || mip + kMipHeadSize > size) continue;
    Texture t;
    const Bytes name = slice(mip, mip + 16);
    t.name.assign(name.begin(), std::find(name.begin(), name.end(), 0));
    t.width = Get32(b, mip + kWidthField);
    t.height = Get32(b, mip + kHeightField);
    const uint64_t pixels = uint64_t{t.width} * t.height,
                   start = mip + Get32(b, mip + kPixelsField);
    const uint64_t palette = mip + kMipHeadSize + pixels + pixels / 4 + pixels / 16 + pixels / 64;
    if (start + pixels > size || palette + 2 > size) continue;
    const uint64_t entries = Get16(b, palette);
    if (palette + 2 + entries * 3 > size) continue;
    t.pixels = slice(start, start + pixels);
    t.palette = slice(palette + 2, palette + 2 + entries * 3);
    // Each lies within the bytes in memory, so each fits in a size_t.
    found.push_back({std::move(t), static_cast<size_t>(entry), static_cast<size_t>(mip),
                     static_cast<size_t>(start), static_cast<size_t>(palette)});
  }
  return found;
}

}  // namespace wadpack
