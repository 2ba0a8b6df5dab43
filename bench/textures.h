// Every texture of the WAD3 packages under a folder, for timing on real textures. A texture
// whose pixels or palette do not lie wholly in its package is left out.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "wadpack.h"

namespace textures {

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
    for (auto& found : wadpack::Read(wadpack::Bytes(std::istreambuf_iterator<char>(in), {}))) {
      all.push_back(std::move(found.texture));
    }
  }
  return all;
}

}  // namespace textures
