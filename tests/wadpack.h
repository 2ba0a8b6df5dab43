// Builds WAD3 texture packages, maps, models and sprites in memory, and reads packages and maps
// back, for the tests, the benchmark and the bundled sample. The layouts are drawn at the top of
// src/wad3.cpp, src/bsp.cpp, src/mdl.cpp and src/spr.cpp.
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
constexpr size_t kModelHeadSize = 244, kModelTexturesField = 180, kModelRecordSize = 80;  // model
constexpr size_t kSkinWidthField = 68, kSkinIndexField = 76;  // model texture record
constexpr size_t kSpriteHeadSize = 42, kSpriteFramesField = 28, kSpritePaletteField = 40;

struct Texture {
  std::string name;  // texture header name: 16 bytes at most, zero-padded
  uint32_t width = 0;
  uint32_t height = 0;
  Bytes pixels;           // width * height palette indices
  Bytes palette;          // red, green, blue per entry; the stored count is size / 3
  char type = 'C';        // directory entry's lump type
  std::string entryName;  // directory entry's name; the texture name when empty
  bool named = false;     // in a map: only named there, its header alone, held by a package
  uint32_t flags = 0;     // a model's skin: 0x40 drawn masked
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
// offset that is no multiple of 4, as in real maps; or the entities lump's text and its zero
// byte, where `entities` is given) and after the texture lump.
inline Bytes Map(const std::vector<const Texture*>& slots, uint32_t before = 3,
                 const std::string& entities = {}) {
  if (!entities.empty()) before = static_cast<uint32_t>(entities.size() + 1);
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
  if (entities.empty()) {
    out.insert(out.end(), before, 0x11);
  } else {
    out.insert(out.end(), entities.begin(), entities.end());
    out.push_back(0);
  }
  out.insert(out.end(), lump.begin(), lump.end());
  out.insert(out.end(), kAfter, 0x22);
  return out;
}

// A model (studio model version 10) whose texture table holds `skins` (their names up to 64
// bytes), `before` bytes after its header; then each skin's pixels and 256-entry palette (its
// palette cut or zero-filled to 256 entries).
inline Bytes Model(const std::vector<Texture>& skins, uint32_t before = 0) {
  Bytes out = {'I', 'D', 'S', 'T'};
  Put32(out, 10);
  out.resize(kModelHeadSize + before);
  Set32(out, kModelTexturesField, static_cast<uint32_t>(skins.size()));
  Set32(out, kModelTexturesField + 4, static_cast<uint32_t>(kModelHeadSize + before));
  auto at = static_cast<uint32_t>(out.size() + kModelRecordSize * skins.size());
  for (const Texture& t : skins) {
    for (size_t i = 0; i < 64; ++i)
      out.push_back(i < t.name.size() ? static_cast<uint8_t>(t.name[i]) : 0);
    for (uint32_t field : {t.flags, t.width, t.height, at}) Put32(out, field);
    at += static_cast<uint32_t>(t.pixels.size() + 768);
  }
  for (const Texture& t : skins) {
    Bytes palette = t.palette;
    palette.resize(768);
    out.insert(out.end(), t.pixels.begin(), t.pixels.end());
    out.insert(out.end(), palette.begin(), palette.end());
  }
  Set32(out, 72, static_cast<uint32_t>(out.size()));  // the model's length
  return out;
}

// A sprite (version 2) with `palette` (red, green, blue per entry) and `frames`, each a group of
// pictures or, holding one picture and not `group`, a single one; only the pictures' sizes and
// pixels are used.
struct Frame {
  std::vector<Texture> pictures;
  bool group = false;
};

inline Bytes Sprite(const std::vector<Frame>& frames, const Bytes& palette, uint32_t format = 0) {
  Bytes out = {'I', 'D', 'S', 'P'};
  for (uint32_t field :
       {2u, 0u, format, 0u, 0u, 0u, static_cast<uint32_t>(frames.size()), 0u, 0u}) {
    Put32(out, field);
  }
  Put16(out, static_cast<uint32_t>(palette.size() / 3));
  out.insert(out.end(), palette.begin(), palette.end());
  for (const Frame& frame : frames) {
    Put32(out, frame.group ? 1 : 0);
    if (frame.group) {
      Put32(out, static_cast<uint32_t>(frame.pictures.size()));
      for (size_t k = 0; k < frame.pictures.size(); ++k) Put32(out, 0x3DCCCCCD);  // 0.1 s each
    }
    for (const Texture& t : frame.pictures) {
      for (uint32_t field : {uint32_t(-int32_t(t.width / 2)), t.height / 2, t.width, t.height}) {
        Put32(out, field);
      }
      out.insert(out.end(), t.pixels.begin(), t.pixels.end());
    }
  }
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
