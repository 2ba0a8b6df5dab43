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

inline uint32_t Get32(const wadpack::Bytes& b, uint64_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t{b[at + 3]} << 24;
}

// The textures of one package, in directory order.
inline void ReadPackage(const wadpack::Bytes& b, std::vector<wadpack::Texture>& out) {
  if (b.size() < 12 || !std::equal(b.begin(), b.begin() + 4, "WAD3")) return;
  const uint64_t count = Get32(b, 4), directory = Get32(b, 8);
  if (directory + count * 32 > b.size()) return;
  for (uint64_t k = 0; k < count; ++k) {
    const uint64_t entry = directory + k * 32, at = Get32(b, entry);
    if (b[entry + 12] != 'C' || at + 40 > b.size()) continue;
    wadpack::Texture t;
    t.name.assign(b.begin() + long(at),
                  std::find(b.begin() + long(at), b.begin() + long(at) + 16, 0));
    t.width = Get32(b, at + 16);
    t.height = Get32(b, at + 20);
    const uint64_t pixels = uint64_t{t.width} * t.height, start = at + Get32(b, at + 24);
    const uint64_t palette = at + 40 + pixels + pixels / 4 + pixels / 16 + pixels / 64;
    if (start + pixels > b.size() || palette + 2 > b.size()) continue;
    const uint64_t entries = b[palette] | b[palette + 1] << 8;
    if (palette + 2 + entries * 3 > b.size()) continue;
    t.pixels.assign(b.begin() + long(start), b.begin() + long(start + pixels));
    t.palette.assign(b.begin() + long(palette + 2), b.begin() + long(palette + 2 + entries * 3));
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
