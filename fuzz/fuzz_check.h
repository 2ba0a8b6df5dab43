// What the harnesses share: a private working folder and a check that stops on the first fault.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "scratch.h"

namespace fuzzcheck {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// A fresh folder holding out/; the program's lines go nowhere.
inline const fs::path& Root() {
  static const fs::path root = [] {
    const fs::path made = scratch::MakeFolder("wad3-fuzz-");
    fs::create_directory(made / "out");
    if (freopen("/dev/null", "w", stdout) == nullptr) abort();
    return made;
  }();
  return root;
}

inline void Check(bool ok, const char* fault, const fs::path& path = {}) {
  if (ok) return;
  fprintf(stderr, "fault: %s %s\n", fault, path.string().c_str());
  abort();
}

inline Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

}  // namespace fuzzcheck
