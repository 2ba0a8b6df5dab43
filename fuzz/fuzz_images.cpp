// Any bytes as an image given to --make: the first byte picks its ending, the rest is the file.
// Nothing may crash or hang; a package written must hold exactly that one texture, of the
// image's size, its levels each a quarter of the one before.
#include <algorithm>
#include <fstream>
#include <string>

#include "fuzz_check.h"
#include "images.h"
#include "make.h"
#include "wadpack.h"

using namespace fuzzcheck;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* const kEndings[] = {".png", ".bmp", ".tga", ".jpg", ".pcx"};
  if (size < 1) return 0;
  const fs::path& root = Root();
  const std::string names[] = {"{in", "in", "!in"};
  const fs::path image = root / (names[data[0] / 5 % 3] + kEndings[data[0] % 5]);
  const fs::path package = root / (data[0] >= 128 ? "decals.wad" : "out.wad");
  std::ofstream(image, std::ios::binary)
      .write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
  // Pictures larger than 512 x 512 take the same paths, only longer: they are left out, so that
  // the fuzzer spends its time on shapes.
  IMAGE header;
  if (OpenImage(image.string().c_str(), IMAGEKIND(data[0] % 5 + 1), &header).empty() &&
      uint64_t{header.width} * header.height > 512 * 512) {
    fs::remove(image);
    return 0;
  }
  std::string packagePath = package.string(), imagePath = image.string(), dither = "--dither";
  char* args[] = {dither.data(), packagePath.data(), imagePath.data()};
  const bool dithered = data[0] % 2 == 0;
  const int status = MakePackage(dithered ? 3 : 2, dithered ? args : args + 1);

  Check(!fs::exists(packagePath + ".part"), "a part file left", package);
  if (status == 0) {
    const Bytes written = ReadFile(package);
    const std::vector<wadpack::Found> found = wadpack::Read(written);
    Check(found.size() == 1 && wadpack::Get32(written, 4) == 1, "not one texture", package);
    const wadpack::Texture& t = found[0].texture;
    Check(t.width % 16 == 0 && t.height % 16 == 0 && t.width > 0 && t.height > 0, "a side",
          package);
    Check(t.palette.size() == 768, "not 256 entries", package);
  } else {
    Check(!fs::exists(package), "a package written by a run that failed", package);
  }
  fs::remove(package);
  fs::remove(image);
  return 0;
}
