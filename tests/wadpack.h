// Builds WAD3 texture packages in memory, for the tests and for the bundled sample.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace wadpack {

using Bytes = std::vector<uint8_t>;

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

inline void PutName(Bytes& out, const std::string& name) {
  for (size_t i = 0; i < 16; ++i)
    out.push_back(i < name.size() ? static_cast<uint8_t>(name[i]) : 0);
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
    Put32(directory, lumpBase + starts[i]);
    Put32(directory, starts[i + 1] - starts[i]);  // disksize
    Put32(directory, starts[i + 1] - starts[i]);  // size
    directory.insert(directory.end(), {static_cast<uint8_t>(textures[i].type), 0, 0, 0});
    PutName(directory, textures[i].entryName.empty() ? textures[i].name : textures[i].entryName);
  }
  const Bytes& first = directoryFirst ? directory : lumps;
  const Bytes& second = directoryFirst ? lumps : directory;
  out.insert(out.end(), first.begin(), first.end());
  out.insert(out.end(), second.begin(), second.end());
  return out;
}

}  // namespace wadpack
