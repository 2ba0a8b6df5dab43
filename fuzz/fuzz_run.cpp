// The whole run on any package: nothing may appear outside the output folder, and every
// file written must be a PCX whose rows decode to exactly their width.
#include <fstream>

#include "fuzz_check.h"
#include "pcxdecode.h"
#include "extract.h"

using namespace fuzzcheck;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fs::path& root = Root();
  const fs::path package = root / "p.wad";
  std::ofstream(package, std::ios::binary)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  EnumerateImages(package.string().c_str(), (root / "out/").string().c_str());

  for (const auto& entry : fs::directory_iterator(root)) {
    Check(entry.path() == package || entry.path() == root / "out", "outside the output folder",
          entry.path());
  }
  for (const auto& entry : fs::directory_iterator(root / "out")) {
    Check(entry.is_regular_file() && !entry.is_symlink(), "not a plain file", entry.path());
    Check(entry.path().filename().string().ends_with(".pcx"), "not named .pcx", entry.path());
    Check(pcxdecode::Decode(ReadFile(entry.path())).has_value(), "malformed PCX", entry.path());
    fs::remove(entry.path());
  }
  return 0;
}
