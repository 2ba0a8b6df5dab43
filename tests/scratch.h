// A fresh folder of our own under the system's temporary folder, on POSIX systems and Windows.
#pragma once

#include <filesystem>
#include <random>
#include <string>

namespace scratch {

inline std::filesystem::path MakeFolder(const std::string& prefix) {
  namespace fs = std::filesystem;
  static std::random_device random;
  for (;;) {
    const fs::path folder = fs::temp_directory_path() / (prefix + std::to_string(random()));
    if (fs::create_directory(folder)) {  // false: the name was taken, so draw another
      fs::permissions(folder, fs::perms::owner_all);
      return folder;
    }
  }
}

}  // namespace scratch
