// The whole run on any package, as PCX files and then as PNG files: nothing may appear outside
// the output folder, every PCX file's rows decode to exactly their width, and every PNG file is
// read back as its PCX file's picture (a picture without pixels stays a PCX file).
#include <algorithm>
#include <fstream>
#include <map>
#include <vector>

#include "extract.h"
#include "fuzz_check.h"
#include "images.h"
#include "pcxdecode.h"

using namespace fuzzcheck;

namespace {

void CheckFolders(const fs::path& root, const fs::path& package) {
  for (const auto& entry : fs::directory_iterator(root)) {
    Check(entry.path() == package || entry.path() == root / "out", "outside the output folder",
          entry.path());
  }
}

// A file's name without its four-letter ending; a texture's name may be empty, or a dot alone.
std::string Stem(const fs::path& path) {
  const std::string name = path.filename().string();
  return name.substr(0, name.size() - 4);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fs::path& root = Root();
  const fs::path package = root / "p.wad";
  std::ofstream(package, std::ios::binary)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  EnumerateImages(package.string().c_str(), (root / "out/").string().c_str());

  CheckFolders(root, package);
  std::map<std::string, pcxdecode::Image> pictures;  // by name, without ".pcx"
  for (const auto& entry : fs::directory_iterator(root / "out")) {
    Check(entry.is_regular_file() && !entry.is_symlink(), "not a plain file", entry.path());
    Check(entry.path().filename().string().ends_with(".pcx"), "not named .pcx", entry.path());
    const auto decoded = pcxdecode::Decode(ReadFile(entry.path()));
    Check(decoded.has_value(), "malformed PCX", entry.path());
    pictures[Stem(entry.path())] = *decoded;
    fs::remove(entry.path());
  }

  EnumerateImages(package.string().c_str(), (root / "out/").string().c_str(), true);
  CheckFolders(root, package);
  std::vector<fs::path> written;  // all of them first: a check may look for another
  for (const auto& entry : fs::directory_iterator(root / "out")) {
    Check(entry.is_regular_file() && !entry.is_symlink(), "not a plain file", entry.path());
    written.push_back(entry.path());
  }
  for (const fs::path& path : written) {
    const auto found = pictures.find(Stem(path));
    Check(found != pictures.end(), "no PCX file of the same name", path);
    const pcxdecode::Image& picture = found->second;  // the last texture of that name
    const bool empty = picture.width == 0 || picture.height == 0;
    const fs::path expected = path.parent_path() / (Stem(path) + (empty ? ".pcx" : ".png"));
    if (path != expected) {
      // An earlier texture of the same name, of the other format: the last one's file is there.
      Check(std::find(written.begin(), written.end(), expected) != written.end(),
            "named for the other format", path);
      continue;
    }
    if (empty || picture.width > kMaxSide || picture.height > kMaxSide) continue;
    IMAGE image;
    Check(OpenImage(path.string().c_str(), kPng, &image).empty(), "PNG refused", path);
    Check(DecodeImage(&image).empty(), "PNG not decoded", path);
    Check(image.width == picture.width && image.height == picture.height, "another size", path);
    if (image.indexed) Check(image.pixels == picture.pixels, "other indices", path);
  }
  for (const fs::path& path : written) fs::remove(path);
  return 0;
}
