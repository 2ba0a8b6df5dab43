// Any bytes given to --make: the first byte picks the image's ending, the rest is the file.
// Nothing may crash or hang; a package written must hold exactly that one texture, of the
// image's size, its levels each a quarter of the one before; the image made a sprite of one
// frame, in the format the first byte picks, must be that frame and nothing more. Bytes that
// begin as a map's (its version, 30) are the map to write again with a package's textures and
// an image: a map written must have the slots it had and be read whole by the extraction. Bytes
// that begin as a model's ("IDST") are the model whose skin an image replaces: the model
// written must be as long, and be read whole by the extraction.
#include <algorithm>
#include <fstream>
#include <string>

#include "extract.h"
#include "fuzz_check.h"
#include "images.h"
#include "imagepack.h"
#include "make.h"
#include "wadpack.h"

using namespace fuzzcheck;

namespace {

void Write(const fs::path& path, const uint8_t* data, size_t size) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// The inputs given with every map: textures of the names the corpus's maps give their slots.
bool WriteInputs(const fs::path& package, const fs::path& image) {
  const Bytes skin = imagepack::Encode({6, 4, 8, 0, Bytes(24, 5), {}, {}});
  Write(image.parent_path() / "skin.png", skin.data(), skin.size());
  wadpack::Texture wall, fence;
  wall.name = "WALL", wall.width = 8, wall.height = 4, wall.pixels = Bytes(32, 3);
  wall.palette = Bytes(48, 9);
  fence.name = "{fence", fence.width = fence.height = 16, fence.pixels = Bytes(256, 255);
  fence.palette = Bytes(768, 1);
  const Bytes bytes = wadpack::Package({wall, fence});
  Write(package, bytes.data(), bytes.size());
  const Bytes png = imagepack::Encode({16, 16, 8, 0, Bytes(256, 77), {}, {}});
  Write(image, png.data(), png.size());
  return true;
}

int FuzzMap(const uint8_t* data, size_t size) {
  const fs::path& root = Root();
  const fs::path map = root / "in.bsp", out = root / "out.bsp", package = root / "in.wad",
                 image = root / "named.png";
  static const bool given = WriteInputs(package, image);
  Check(given, "no inputs");
  Write(map, data + 1, size - 1);
  std::string outPath = out.string(), mapPath = map.string(), packagePath = package.string(),
              imagePath = image.string(), dither = "--dither";
  char* args[] = {dither.data(), outPath.data(), mapPath.data(), packagePath.data(), imagePath.data()};
  const bool dithered = data[0] % 2 == 0;
  const int status = MakePackage(dithered ? 5 : 4, dithered ? args : args + 1);
  Check(!fs::exists(outPath + ".part"), "a part file left", out);
  if (status == 0) {
    const Bytes before(data + 1, data + size), after = ReadFile(out);
    const uint64_t lump = wadpack::Get32(before, 20), written = wadpack::Get32(after, 20);
    Check(wadpack::Get32(after, 0) == 30 && written % 4 == 0, "not a map", out);
    Check(wadpack::Get32(after, written) == wadpack::Get32(before, lump), "slots lost", out);
    GATHERED gathered;
    Check(EnumerateFile(outPath.c_str(), "", &gathered, 1 << kMapKind) == 0, "not read whole", out);
  } else {
    Check(!fs::exists(out), "a map written by a run that failed", out);
  }
  fs::remove(out);
  fs::remove(map);
  return 0;
}

// The model's skin named as the corpus's model names it, replaced by an image of its size.
int FuzzModel(const uint8_t* data, size_t size) {
  const fs::path& root = Root();
  const fs::path model = root / "in.mdl", out = root / "out.mdl", image = root / "skin.png";
  static const bool given = WriteInputs(root / "in.wad", root / "named.png");
  Check(given, "no inputs");
  Write(model, data + 1, size - 1);
  std::string outPath = out.string(), modelPath = model.string(), imagePath = image.string();
  char* args[] = {outPath.data(), modelPath.data(), imagePath.data()};
  if (MakePackage(3, args) == 0) {
    Check(fs::file_size(out) == size - 1, "not as long as the model", out);
    GATHERED gathered;
    Check(EnumerateFile(outPath.c_str(), "", &gathered, 1 << kModelKind) == 0, "not read whole", out);
  } else {
    Check(!fs::exists(out), "a model written by a run that failed", out);
  }
  Check(!fs::exists(outPath + ".part"), "a part file left", out);
  fs::remove(out);
  fs::remove(model);
  return 0;
}

// The image as the one frame of a sprite of the format `format`.
void FuzzSprite(const fs::path& image, uint32_t format) {
  static const char* const kFormats[] = {"normal", "additive", "indexalpha", "alphatest"};
  const fs::path sprite = Root() / "out.spr";
  std::string spritePath = sprite.string(), imagePath = image.string(), option = "--format",
              name = kFormats[format];
  char* args[] = {option.data(), name.data(), spritePath.data(), imagePath.data()};
  if (MakePackage(4, args) == 0) {
    const Bytes written = ReadFile(sprite);
    const uint64_t width = wadpack::Get32(written, 20), height = wadpack::Get32(written, 24);
    Check(wadpack::Get32(written, 12) == format && wadpack::Get32(written, 28) == 1, "a header", sprite);
    Check(written.size() == 42 + 768 + 20 + width * height, "not one frame", sprite);
  } else {
    Check(!fs::exists(sprite), "a sprite written by a run that failed", sprite);
  }
  Check(!fs::exists(spritePath + ".part"), "a part file left", sprite);
  fs::remove(sprite);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* const kEndings[] = {".png", ".bmp", ".tga", ".jpg", ".pcx"};
  if (size < 1) return 0;
  if (size >= 5 && wadpack::Get32(Bytes(data + 1, data + 5), 0) == 30) return FuzzMap(data, size);
  if (size >= 5 && wadpack::Get32(Bytes(data + 1, data + 5), 0) == 0x54534449) {  // "IDST"
    return FuzzModel(data, size);
  }
  const fs::path& root = Root();
  const std::string names[] = {"{in", "in", "!in"};
  const fs::path image = root / (names[data[0] / 5 % 3] + kEndings[data[0] % 5]);
  const fs::path package = root / (data[0] >= 128 ? "decals.wad" : "out.wad");
  Write(image, data + 1, size - 1);
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
  FuzzSprite(image, data[0] / 15 % 4);
  fs::remove(image);
  return 0;
}
