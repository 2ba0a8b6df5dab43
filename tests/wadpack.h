// Builds WAD3 texture packages and maps in memory, and reads them back, for the tests, the
// benchmark and the bundled sample. The layouts are drawn at the top of src/wad3.cpp and
// src/bsp.cpp.
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
constexpr size_t kMapHeadSize = 124, kTextureLumpField = 20;              // map header
constexpr uint32_t kMapVersion = 30, kNoTexture = 0xFFFFFFFF;

struct Texture {
  std::string name;  // texture header name: 16 bytes at most, zero-padded
  uint32_t width = 0;
  uint32_t height = 0;
  Bytes pixels;           // width * height palette indices
  Bytes palette;          // red, green, blue per entry; the stored count is size / 3
  char type = 'C';        // directory entry's lump type
  std::string entryName;  // directory entry's name; the texture name when empty
  bool named = false;     // in a map: only named there, its header alone, held by a package
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

// A map (BSP version 30) whose texture lump holds `slots` in order, a null one empty. Other
// lumps' bytes lie before (`before` of them: by default 3, which puts the texture lump at an
// offset that is no multiple of 4, as in real maps) and after the texture lump.
inline Bytes Map(const std::vector<const Texture*>& slots, uint32_t before = 3) {
  constexpr uint32_t kAfter = 5, kLumps = 15;
  const auto count = static_cast<uint32_t>(slots.size());
  Bytes lump;
  Put32(lump, count);
  lump.resize(4 + 4 * size_t{count});
  for (uint32_t k = 0; k < count; ++k) {
    const Texture* t = slots[k];
    Set32(lump, 4 + 4 * size_t{k}, t ? static_cast<uint32_t>(lump.size()) : kNoTexture);
    if (t && t->named) {
      PutName(lump, t->name);
      for (uint32_t field : {t->width, t->height, 0u, 0u, 0u, 0u}) Put32(lump, field);
    } else if (t) {
      PutTexture(lump, *t);
    }
  }
  const uint32_t at = kMapHeadSize + before, end = at + static_cast<uint32_t>(lump.size());
  Bytes out;
  Put32(out, kMapVersion);
  for (uint32_t k = 0; k < kLumps; ++k) {
    const uint32_t position = k == 0 ? kMapHeadSize : k <= 2 ? at : k == 3 ? end : end + kAfter;
    Put32(out, position);
    Put32(out, k == 0 ? before : k == 2 ? end - at : k == 3 ? kAfter : 0);
  }
  out.insert(out.end(), before, 0x11);
  out.insert(out.end(), lump.begin(), lump.end());
  out.insert(out.end(), kAfter, 0x22);
  return out;
}

// A texture read back from a package or a map, and where its parts lie there.
struct Found {
  Texture texture;
  size_t entry = 0;    // its directory entry
  size_t mip = 0;      // its texture header
  size_t pixels = 0;   // its full-size pixels
  size_t palette = 0;  // its palette's entry count
};

// The textures of a package, in directory order, or of a map, in slot order. One whose pixels
// or palette do not lie wholly in the file is left out, as is one a map only names; positions
// are checked in 64 bits before they are used.
inline std::vector<Found> Read(const Bytes& b) {
  std::vector<Found> found;
  const uint64_t size = b.size();
  std::vector<std::pair<uint64_t, uint64_t>> headers;  // each texture's entry or slot, and header
  bool map = false;
  if (size >= kHeadSize && std::equal(b.begin(), b.begin() + 4, "WAD3")) {
    const uint64_t count = Get32(b, kCountField), directory = Get32(b, kDirectoryField);
    if (directory + count * kLumpSize > size) return found;
    for (uint64_t k = 0; k < count; ++k) {
      const uint64_t entry = directory + k * kLumpSize;
      if (static_cast<uint8_t>(Get16(b, entry + 12)) == 'C')
        headers.emplace_back(entry, Get32(b, entry));
    }
  } else if (size >= kMapHeadSize && Get32(b, 0) == kMapVersion) {
    map = true;
    const uint64_t lump = Get32(b, kTextureLumpField), length = Get32(b, kTextureLumpField + 4);
    if (lump + length > size || length < 4 || 4 + 4 * uint64_t{Get32(b, lump)} > length)
      return found;
    for (uint64_t k = 0; k < Get32(b, lump); ++k) {
      const uint64_t slot = lump + 4 + 4 * k, offset = Get32(b, slot);
      if (offset != kNoTexture) headers.emplace_back(slot, lump + offset);
    }
  }
  auto slice = [&](uint64_t from, uint64_t to) {
    return Bytes(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(to));
  };
  for (const auto& [entry, mip] : headers) {
    if (mip + kMipHeadSize > size || (map && Get32(b, mip + kPixelsField) == 0)) continue;
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
