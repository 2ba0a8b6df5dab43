// Every texture of the WAD3 packages under a folder, for timing on real textures. A texture
// whose pixels or palette do not lie wholly in its package is left out.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "wadpack.h"

namespace textures {

// Positions are checked against the size in 64 bits before they index anything.
inline uint32_t Get32(const wadpack::Bytes& b, uint64_t at) {
  const uint8_t* p = b.data() + static_cast<size_t>(at);
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

inline wadpack::Bytes Slice(const wadpack::Bytes& b, uint64_t from, uint64_t to) {
  return wadpack::Bytes(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(to));
}

// The textures of one package, in directory order.
inline void ReadPackage(const wadpack::Bytes& b, std::vector<wadpack::Texture>& out) {
  const uint64_t size = b.size();
  if (size < 12 || !std::equal(b.begin(), b.begin() + 4, "WAD3")) return;
  const uint64_t count = Get32(b, 4), directory = Get32(b, 8);
  if (directory + count * 32 > size) return;
  for (uint64_t k = 0; k < count; ++k) {
    const uint64_t entry = directory + k * 32, at = Get32(b, entry);
    if (b[static_cast<size_t>(entry + 12)] != 'C' || at + 40 > size) continue;
    wadpack::Texture t;
    const wadpack::Bytes name = Slice(b, at, at + 16);
    t.name.assign(name.begin(), std::find(name.begin(), name.end(), 0));
    t.width = Get32(b, at + 16);
    t.height = Get32(b, at + 20);
    const uint64_t pixels = uint64_t{t.width} * t.height, start = at + Get32(b, at + 24);
    const uint64_t palette = at + 40 + pixels + pixels / 4 + pixels / 16 + pixels / 64;
    if (start + pixels > size || palette + 2 > size) continue;
    const uint64_t entries = uint64_t{b[static_cast<size_t>(palette)]} |
                             uint64_t{b[static_cast<size_t>(palette + 1)]} << 8;
    if (palette + 2 + entries * 3 > size) continue;
    t.pixels = Slice(b, start, start + pixels);
    t.palette = Slice(b, palette + 2, palette + 2 + entries * 3);
    out.push_back(std::move(t));
  }
}

// Every .wad file under folder, in name order, so that the same folder gives the same list.
inline std::vector<wadpack::Texture> Load(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> paths;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    std::string extension = entry.path().extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(), ::tolower);
    if (entry.is_regular_file() && extension == ".wad") paths.push_back(entry.path());
  }
  std::sort(paths.begin(), paths.end());
  std::vector<wadpack::Texture> all;
  for (const auto& path : paths) {
    std::ifstream in(path, std::ios::binary);
    ReadPackage(wadpack::Bytes(std::istreambuf_iterator<char>(in), {}), all);
  }
  return all;
}

}  // namespace textures
