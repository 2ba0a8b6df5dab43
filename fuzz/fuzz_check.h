// What the harnesses share: a private working folder and a check that stops on the first fault.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fuzzcheck {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// A fresh folder holding out/; the program's lines go nowhere.
inline const fs::path& Root() {
  static const fs::path root = [] {
    std::string pattern = (fs::temp_directory_path() / "wad3-fuzz-XXXXXX").string();
    const fs::path made = mkdtemp(pattern.data());
    fs::create_directory(made / "out");
    if (freopen("/dev/null", "w", stdout) == nullptr) abort();
    return made;
  }();
  return root;
}

inline void Check(bool ok, const char* fault, const fs::path& path = {}) {
  if (ok) return;
  fprintf(stderr, "fault: %s %s\n", fault, path.c_str());
  abort();
}

inline Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

}  // namespace fuzzcheck
