/* make: wad3 --make PACKAGE.wad INPUT... writes one package of every image, package and map
 * given, in the order given, a folder's files in the byte order of their paths.
 * wad3 --make OUT.bsp MAP.bsp INPUT... writes MAP again with the textures the inputs give it:
 * each slot of its texture lump that names a texture given is filled with it (embedded where
 * the map only named it, replaced where it carried it), in the size the map says (bspwrite.cpp).
 *
 * Two passes. The first reads and checks every input, printing each problem; where there is
 * any, nothing is written. The second makes each texture in turn, one in memory at a time, and
 * writes it (wadwrite.cpp). A texture whose name comes again (in any case, as the game finds
 * names) is replaced by the later one, in the earlier one's place.
 *
 * An image becomes the texture named after its file: one with a palette keeps its indices and
 * palette; any other is quantized (quantize.cpp). A name beginning with `{` is drawn with
 * entry 255 transparent: the pixels of alpha below 128 (or, in an image without alpha, those of
 * pure blue) become 255, whose colour is 0 0 255. In decals.wad the game draws entry 255's colour
 * with the opacity 255 - index. A name beginning with `!` is water, whose fog takes its colour
 * from entry 3 and its density from entry 4's red. Mips are made from the full-size source
 * (mips.cpp). A package's or a map's textures are copied as they are.
 */
#include "make.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "bspwrite.h"
#include "colours.h"
#include "extract.h"
#include "images.h"
#include "mdlwrite.h"
#include "mips.h"
#include "picture.h"
#include "quantize.h"
#include "sprwrite.h"
#include "tools.h"
#include "wadfile.h"
#include "wadwrite.h"
#include "win32.h"

namespace {

constexpr char kUsage[] = "USAGE:  WAD3 --make [--dither] package.wad input...\n";
constexpr char kMapUsage[] = "USAGE:  WAD3 --make [--dither] out.bsp map.bsp input...\n";
constexpr char kSpriteUsage[] =
    "USAGE:  WAD3 --make [--type TYPE] [--format FORMAT] [--dither] out.spr image...\n";
constexpr char kModelUsage[] = "USAGE:  WAD3 --make [--dither] out.mdl model.mdl image...\n";
constexpr std::string_view kDither = "--dither";
constexpr size_t kMaxName = kWad3NameSize - 1; /* and a zero byte */
constexpr char kFirstNameByte = '!', kLastNameByte = '~'; /* no spaces: compilers split at them */
constexpr uint32_t kSideMultiple = 16;
constexpr uint32_t kGameSide = 512; /* the largest texture the game loads */
constexpr char kMasked = '{', kWater = '!';
constexpr unsigned kWaterFog = 3, kWaterDensity = 4; /* the entries water's fog is taken from */
constexpr uint32_t kWaterDensityColour = Rgb(64, 64, 64); /* red 64: a moderate fog */
constexpr unsigned kMaxDepth = 64;                         /* folders below folders */
constexpr std::string_view kPackageEnding = ".wad", kMapEnding = ".bsp", kSpriteEnding = ".spr",
                           kModelEnding = ".mdl", kBitmapEnding = ".bmp";
constexpr uint32_t kAdditive = 1, kIndexAlpha = 2, kAlphaTest = 3; /* a sprite's formats */
constexpr uint32_t kMaskedSkin = 0x40;
// The names of a sprite's types and formats, each at its number.
constexpr std::string_view kTypes[] = {"parallel-upright", "facing-upright", "parallel", "oriented",
                                       "parallel-oriented"};
constexpr std::string_view kFormats[] = {"normal", "additive", "indexalpha", "alphatest"};
constexpr uint32_t kDefaultType = 2; /* parallel */

struct FileCloser {
  void operator()(FILE* fp) const { fclose(fp); }
};
using File = std::unique_ptr<FILE, FileCloser>;

struct PartAbandoner {
  void operator()(PARTFILE* part) const { AbandonPart(part); }
};
// Held while a file is written, and let go once its writer has finished or abandoned it: running
// out of memory on the way (an exception) leaves no part file behind.
using Writing = std::unique_ptr<PARTFILE, PartAbandoner>;

// A texture to be written: an image's, or one copied from a package or a map.
struct ENTRY {
  std::string path;  // the file it comes from
  IMAGEKIND kind;    // kNoImage for a copy
  uint64_t mippos;   // a copy's texture header in its file
  char name[kWad3NameSize];
  uint32_t width, height;
  uint64_t paletteBytes;  // as it will be written
};

// An image given for a sprite's frame or a model's skin.
struct FRAME {
  std::string path;
  IMAGEKIND kind;
  uint32_t width, height;
  std::string name;  // its file's name without the ending
};

// What --make writes, by the ending of its name.
enum FORM { kPackageForm, kMapForm, kSpriteForm, kModelForm };

// What the run has gathered and counted.
struct MAKE {
  const char* package;  // what is written
  FORM form;
  const char* noun;  // "package", "map", "sprite" or "model"
  FILEID packageId;  // the package as it lies on disk already, never read from a folder
  bool packageFound;
  bool decals, dither;
  std::vector<ENTRY> entries;
  std::map<std::string, size_t> places;  // each name in lower case, and its entry
  std::vector<std::string> packages;     // each package read, its file's name in lower case
  unsigned problems = 0;
  uint64_t skipped = 0;  // files in folders that are none of the inputs taken
  std::vector<FRAME> frames;  // a sprite's frames, or the images of a model's skins
  // A sprite's type and format, and the statistics its palette is chosen from.
  uint32_t type, format;
  std::vector<uint32_t> colours;
  uint64_t sums[3], weight;
  bool onePalette;  // every frame so far indexed with `palette`
  uint8_t palette[kPaletteBytes];
};

void Problem(MAKE* make, const std::string& path, const std::string& what) {
  printf("%s : %s\n", path.c_str(), what.c_str());
  ++make->problems;
}

std::string_view NameOf(const char (&name)[kWad3NameSize]) {
  return {name, strnlen(name, kWad3NameSize)};
}

// Adds the entry, or puts it in the place of the one of the same name.
void Place(MAKE* make, const ENTRY& entry) {
  const std::string key = Lower(NameOf(entry.name));
  const auto [place, added] = make->places.try_emplace(key, make->entries.size());
  if (added) {
    make->entries.push_back(entry);
    return;
  }
  ENTRY& earlier = make->entries[place->second];
  printf("Replaced : %.*s from %s by %.*s from %s\n", int(NameOf(earlier.name).size()),
         earlier.name, earlier.path.c_str(), int(NameOf(entry.name).size()), entry.name,
         entry.path.c_str());
  earlier = entry;
}

// The multiple of 16 nearest to a side from below, or from above (`upper`, or where none is below).
std::string Multiples(uint32_t side, bool upper) {
  const uint32_t below = side / kSideMultiple * kSideMultiple;
  if (below == side) return std::to_string(side);
  return std::to_string(below == 0 || upper ? below + kSideMultiple : below);
}

// Checks the image at `path` and places its texture.
void CheckImage(MAKE* make, const std::string& path, IMAGEKIND kind) {
  const std::string_view file = LastComponent(path);
  const std::string_view name = file.substr(0, file.rfind('.'));
  const bool plain = std::all_of(name.begin(), name.end(), [](char c) {
    return c >= kFirstNameByte && c <= kLastNameByte;
  });
  if (name.empty() || name.size() > kMaxName || !plain) {
    return Problem(make, path, "its name is no texture name: 1 to 15 characters from ! to ~");
  }
  IMAGE image;
  std::string problem = OpenImage(path.c_str(), kind, &image);
  if (problem.empty() && (image.width % kSideMultiple != 0 || image.height % kSideMultiple != 0 ||
                          image.width == 0 || image.height == 0)) {
    const std::string w = std::to_string(image.width), h = std::to_string(image.height);
    problem = w + "x" + h + ", sides must be multiples of 16: " + Multiples(image.width, false) +
              "x" + Multiples(image.height, false) + " or " + Multiples(image.width, true) + "x" +
              Multiples(image.height, true);
  }
  if (problem.empty() && (image.width > kMaxSide || image.height > kMaxSide)) {
    problem = std::to_string(image.width) + "x" + std::to_string(image.height) +
              ", larger than " + std::to_string(kMaxSide) + " on a side";
  }
  // A PCX was walked whole when opened; its pixels are decoded once, when written.
  if (problem.empty() && kind != kPcx) problem = DecodeImage(&image);
  if (!problem.empty()) return Problem(make, path, problem);
  if (image.width > kGameSide || image.height > kGameSide) {
    printf("%s : %" PRIu32 "x%" PRIu32 ", the game loads at most 512x512\n", path.c_str(),
           image.width, image.height);
  }
  if (image.alpha && !make->decals && name[0] != kMasked) {
    printf("%s : its alpha is not drawn: only a name beginning with { is drawn transparent\n",
           path.c_str());
  }
  ENTRY entry = {path, kind, 0, {}, image.width, image.height, kPaletteBytes};
  memcpy(entry.name, name.data(), name.size());
  Place(make, entry);
}

// The texture whose header is at `mippos` in `fp`, read as it lies there. Returns an empty text,
// or what is wrong with it. With `texture`, its levels and palette are read too.
std::string ReadCopy(FILE* fp, uint64_t size, uint64_t mippos, ENTRY* entry, TEXTURE* texture) {
  if (!SeekTo(fp, mippos, size)) return "cannot be read";
  const WAD3MIP mip = ReadMip(fp);
  memcpy(entry->name, mip.name, kWad3NameSize);
  entry->width = mip.width;
  entry->height = mip.height;
  const uint64_t pixels = uint64_t{mip.width} * mip.height;
  const uint64_t palette = mippos + PaletteOffset(pixels);
  for (unsigned k = 0; k < kMipLevels; ++k) {
    if (AddClamped(mippos + mip.offsets[k], pixels >> (2 * k)) > size) {
      return "Invalid mip entry; offsets[" + std::to_string(k) + "] is malformed.";
    }
  }
  if (palette + kPaletteCountSize > size || !SeekTo(fp, palette, size)) {
    return "Invalid mip entry; palette is malformed.";
  }
  const uint32_t entries = get2(fp);
  if (palette + kPaletteCountSize + uint64_t{entries} * 3 > size) {
    return "Invalid mip entry; palette is malformed.";
  }
  entry->paletteBytes = uint64_t{entries} * 3;
  if (texture != nullptr) {
    memcpy(texture->name, mip.name, kWad3NameSize);
    texture->width = mip.width;
    texture->height = mip.height;
    texture->palette.resize(size_t{entries} * 3);
    ReadBytes(fp, texture->palette.data(), texture->palette.size());
    for (unsigned k = 0; k < kMipLevels; ++k) {
      std::vector<uint8_t>& level = texture->levels[k];
      level.resize(static_cast<size_t>(pixels >> (2 * k)));
      if (!SeekTo(fp, mippos + mip.offsets[k], size)) return "cannot be read";
      ReadBytes(fp, level.data(), level.size());
    }
  }
  if (ReadFailed(fp, std::min(palette + kPaletteCountSize + uint64_t{entries} * 3, size))) {
    return "cannot be read";
  }
  return {};
}

uint64_t SizeOf(FILE* fp) {
  struct stat status;
  return fstat(fileno(fp), &status) == 0 ? static_cast<uint64_t>(status.st_size) : 0;
}

// Checks the package or map at `path`, as the extraction would, and places every texture in it.
void CheckCopies(MAKE* make, const std::string& path) {
  GATHERED gathered;
  if (EnumerateFile(path.c_str(), "", &gathered, 1 << kPackageKind | 1 << kMapKind) != 0) {
    ++make->problems;  // the extraction's line said why
    return;
  }
  if (gathered.otherLumps != 0) {
    printf("%s : %" PRIu64 " %s skipped\n", path.c_str(), gathered.otherLumps,
           gathered.otherLumps == 1 ? "lump that is no texture" : "lumps that are no texture");
  }
  const File file(fopen(path.c_str(), "rb"));
  if (!file) return Problem(make, path, "cannot be read");
  if (WithoutEnding(path, kPackageEnding) != path.size()) {
    make->packages.push_back(Lower(LastComponent(path)));
  }
  const uint64_t size = SizeOf(file.get());
  for (const uint64_t mippos : gathered.textures) {
    ENTRY entry = {path, kNoImage, mippos, {}, 0, 0, 0};
    const std::string problem = ReadCopy(file.get(), size, mippos, &entry, nullptr);
    if (!problem.empty()) return Problem(make, path, problem);
    Place(make, entry);
  }
}

// What a file is, by its ending in any case.
enum INPUT { kOther, kImageInput, kCopyInput };
INPUT InputOf(std::string_view path) {
  if (ImageKind(LastComponent(path)) != kNoImage) return kImageInput;
  for (const std::string_view ending : {kPackageEnding, kMapEnding}) {
    if (WithoutEnding(path, ending) != path.size()) return kCopyInput;
  }
  return kOther;
}

// Adds the frame's colours to the sprite's statistics, as its format draws them.
void Gather(MAKE* make, const std::string& path, IMAGE* image) {
  if (!image->indexed) {
    make->onePalette = false;
  } else if (make->frames.empty()) {
    memcpy(make->palette, image->palette, kPaletteBytes);
  } else if (memcmp(make->palette, image->palette, kPaletteBytes) != 0) {
    make->onePalette = false;
  }
  if (image->indexed) ToColours(image);
  switch (make->format) {
    case kAdditive:
      Premultiply(image);
      return GatherColours(*image, false, &make->colours, make->sums);
    case kIndexAlpha: {
      std::vector<uint8_t> opacities(size_t{image->width} * image->height);
      return OpacityIndices(*image, false, opacities.data(), make->sums, &make->weight);
    }
    case kAlphaTest:
      return GatherColours(*image, true, &make->colours, make->sums);
    default:
      if (image->alpha) {
        printf("%s : its alpha is not drawn: only the formats alphatest, indexalpha and additive "
               "draw it\n", path.c_str());
      }
      return GatherColours(*image, false, &make->colours, make->sums);
  }
}

// Checks an image given for a sprite's frame or a model's skin, and keeps it; a sprite's frame
// adds its colours to the statistics of the sprite's palette. Of a model's images, a name that
// comes again replaces the earlier one.
void CheckFrame(MAKE* make, const std::string& path, IMAGEKIND kind) {
  IMAGE image;
  std::string problem = OpenImage(path.c_str(), kind, &image);
  if (problem.empty() && (image.width > kMaxSide || image.height > kMaxSide)) {
    problem = std::to_string(image.width) + "x" + std::to_string(image.height) +
              ", larger than " + std::to_string(kMaxSide) + " on a side";
  }
  if (problem.empty()) problem = DecodeImage(&image);
  if (problem.empty() && (image.width == 0 || image.height == 0)) problem = "it has no pixels";
  if (!problem.empty()) return Problem(make, path, problem);
  const std::string_view file = LastComponent(path);
  const FRAME frame = {path, kind, image.width, image.height,
                       std::string(file.substr(0, file.rfind('.')))};
  if (make->form == kSpriteForm) {
    if (image.width > kGameSide || image.height > kGameSide) {
      printf("%s : %" PRIu32 "x%" PRIu32 ", the game loads at most 512x512\n", path.c_str(),
             image.width, image.height);
    }
    Gather(make, path, &image);
    make->frames.push_back(frame);
    return;
  }
  const auto [place, added] = make->places.try_emplace(Lower(frame.name), make->frames.size());
  if (added) return make->frames.push_back(frame);
  FRAME& earlier = make->frames[place->second];
  printf("Replaced : %s from %s by %s from %s\n", earlier.name.c_str(), earlier.path.c_str(),
         frame.name.c_str(), frame.path.c_str());
  earlier = frame;
}

// Whether the form written takes the file: images always, packages and maps for a package or
// a map.
bool Taken(const MAKE& make, std::string_view path) {
  const INPUT input = InputOf(path);
  return input == kImageInput ||
         (input == kCopyInput && (make.form == kPackageForm || make.form == kMapForm));
}

void CheckFile(MAKE* make, const std::string& path) {
  if (make->form == kSpriteForm || make->form == kModelForm) {
    CheckFrame(make, path, ImageKind(LastComponent(path)));
  } else if (InputOf(path) == kImageInput) {
    CheckImage(make, path, ImageKind(LastComponent(path)));
  } else {
    CheckCopies(make, path);
  }
}

// Every file below the folder, its other files counted as skipped.
void Walk(MAKE* make, const std::string& folder, unsigned depth, std::vector<std::string>* files) {
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
  if (!dir) return Problem(make, folder, "cannot be read");
  const bool separated = folder.ends_with('/') || (kWindowsNames && folder.ends_with('\\'));
  for (const dirent* item = readdir(dir.get()); item != nullptr; item = readdir(dir.get())) {
    const std::string_view name = item->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = folder + (separated ? "" : "/") + std::string(name);
    struct stat status;
    if (stat(path.c_str(), &status) != 0) {
      Problem(make, path, "cannot be read");
    } else if (S_ISDIR(status.st_mode)) {
      if (depth >= kMaxDepth) {
        Problem(make, path, "lies more than 64 folders deep");
      } else {
        Walk(make, path, depth + 1, files);
      }
    } else if (!Taken(*make, path)) {
      ++make->skipped;
    } else if (make->packageFound && SameFile(path.c_str(), make->packageId)) {
      // Read back, its old textures would replace the very images being made into it anew.
      printf("%s : the %s being made, skipped\n", path.c_str(), make->noun);
    } else {
      files->push_back(path);
    }
  }
}

void CheckInput(MAKE* make, const char* input) {
  struct stat status;
  if (stat(input, &status) != 0) {
    printf("File not found : %s\n", input);
    ++make->problems;
  } else if (S_ISDIR(status.st_mode)) {
    std::vector<std::string> files;
    Walk(make, input, 0, &files);
    std::sort(files.begin(), files.end());  // in the byte order of their paths
    for (const std::string& file : files) CheckFile(make, file);
  } else if (!Taken(*make, input)) {
    Problem(make, input, make->form == kSpriteForm || make->form == kModelForm
                             ? "not an image (.png, .bmp, .tga, .jpg, .jpeg, .pcx)"
                             : "not an image (.png, .bmp, .tga, .jpg, .jpeg, .pcx), package or map");
  } else {
    CheckFile(make, input);
  }
}

// A truecolour image's palette and indices: where `masked`, entry 255 left out, 0 0 255, and the
// transparent pixels 255; for `water`, entry 3 the picture's mean colour and entry 4 its fog.
void Quantize(const IMAGE& image, bool masked, bool water, bool dither, uint8_t* indices,
              uint8_t* palette) {
  const size_t pixels = size_t{image.width} * image.height;
  std::vector<uint32_t> colours, fixed;
  uint64_t sums[3] = {};
  GatherColours(image, masked, &colours, sums);
  for (size_t i = 0; i < pixels; ++i) {
    indices[i] = masked && IsTransparent(image, i) ? kTransparent : 0;
  }
  if (water) {
    uint32_t mean = 0;
    for (unsigned k = 0; k < 3; ++k) mean = mean << 8 | uint32_t((sums[k] + pixels / 2) / pixels);
    fixed = {mean, kWaterDensityColour};
  }
  const unsigned entries = masked ? kTransparent : kPaletteEntries;
  uint8_t chosen[kPaletteBytes];
  const unsigned count =
      ChoosePalette(std::move(colours), entries - unsigned(fixed.size()), fixed, chosen);
  // Water's two entries in their places, the chosen ones around them.
  for (unsigned i = 0, slot = 0; i < count; ++i, ++slot) {
    if (water && slot == kWaterFog) slot += 2;
    memcpy(&palette[3 * slot], &chosen[3 * i], 3);
  }
  for (unsigned f = 0; f < fixed.size(); ++f) {
    const unsigned slot = f == 0 ? kWaterFog : kWaterDensity;
    for (unsigned k = 0; k < 3; ++k) palette[3 * slot + k] = uint8_t(fixed[f] >> (16 - 8 * k));
  }
  if (masked) MaskedEntry(palette);
  MapPixels(image.pixels.data(), image.width, image.height, palette, entries, dither,
            masked ? kTransparent : -1, indices);
}

// An image's texture, its palette chosen and its mips made, by the rules of its name and the
// package.
void MakeTexture(const MAKE& make, const ENTRY& entry, IMAGE& image, TEXTURE* texture) {
  const size_t pixels = size_t{image.width} * image.height;
  memcpy(texture->name, entry.name, kWad3NameSize);
  texture->width = image.width;
  texture->height = image.height;
  std::vector<uint8_t>& full = texture->levels[0];
  uint8_t palette[kPaletteBytes] = {};
  const bool masked = entry.name[0] == kMasked, water = entry.name[0] == kWater;
  MIPRULE rule = make.decals ? kMipOpacity : masked ? kMipMasked : kMipColours;
  if (image.indexed) {
    full = std::move(image.pixels);
    image.pixels = {};  // the mips take the colours of the indices
    memcpy(palette, image.palette, kPaletteBytes);
  } else if (make.decals) {
    // Each index an opacity: 0 opaque, 255 transparent; entry 255 the opaque part's colour.
    full.resize(pixels);
    uint64_t sums[3] = {}, weight = 0;
    OpacityIndices(image, true, full.data(), sums, &weight);
    OpacityPalette(sums, weight, palette);
  } else {
    full.resize(pixels);
    Quantize(image, masked, water, make.dither, full.data(), palette);
  }
  MakeMips(image.indexed ? nullptr : image.pixels.data(), full.data(), image.width, image.height,
           palette, rule, &texture->levels[1]);
  texture->palette.assign(palette, palette + kPaletteBytes);
}

// Makes or reads the entry's texture. Returns an empty text, or what is wrong.
std::string Build(const MAKE& make, const ENTRY& entry, TEXTURE* texture) {
  if (entry.kind == kNoImage) {
    const File file(fopen(entry.path.c_str(), "rb"));
    if (!file) return "cannot be read";
    ENTRY read = entry;
    return ReadCopy(file.get(), SizeOf(file.get()), entry.mippos, &read, texture);
  }
  IMAGE image;
  std::string problem = OpenImage(entry.path.c_str(), entry.kind, &image);
  if (problem.empty()) problem = DecodeImage(&image);
  if (problem.empty() && (image.width != entry.width || image.height != entry.height)) {
    problem = "changed while it was read";
  }
  if (problem.empty()) MakeTexture(make, entry, image, texture);
  return problem;
}

// Makes and writes every texture, then the directory. Returns the exit status.
int WriteEntries(MAKE* make, WADWRITE* package) {
  for (const ENTRY& entry : make->entries) {
    TEXTURE texture;
    const std::string problem = Build(*make, entry, &texture);
    if (!problem.empty() || !AddTexture(package, texture)) {
      printf("%s : %s\n", entry.path.c_str(),
             problem.empty() ? "the package would pass 4 GiB" : problem.c_str());
      printf("Nothing written : %s\n", make->package);
      AbandonPackage(package);
      return 1;
    }
    printf("%.*s (%" PRIu32 "x%" PRIu32 ")\n", int(NameOf(entry.name).size()), entry.name,
           texture.width, texture.height);
  }
  if (!FinishPackage(package)) {
    printf("Could not write : %s\n", make->package);
    return 1;
  }
  printf("%zu texture%s written to %s\n", make->entries.size(),
         make->entries.size() == 1 ? "" : "s", make->package);
  return 0;
}

int Write(MAKE* make) {
  WADWRITE package;
  if (!BeginPackage(&package, make->package)) {
    printf("Could not create : %s\n", package.file.part.c_str());
    return 1;
  }
  Writing writing(&package.file);
  const int status = WriteEntries(make, &package);
  writing.release();
  return status;
}

// Says how many files in folders were skipped and, where anything is wrong, that nothing is
// written. False where it is not.
bool Checked(const MAKE& make) {
  if (make.skipped != 0) {
    const bool images = make.form == kSpriteForm || make.form == kModelForm;
    printf("%" PRIu64 " %s skipped\n", make.skipped,
           make.skipped == 1 ? (images ? "file that is no image" : "file that is no image, package or map")
                             : (images ? "files that are no image" : "files that are no image, package or map"));
  }
  if (make.problems != 0) {
    printf("Nothing written : %s (%u problem%s)\n", make.package, make.problems,
           make.problems == 1 ? "" : "s");
  }
  return make.problems == 0;
}

// Checks every input, then writes the package where nothing is wrong. Returns the exit status.
int Check(MAKE* make, const std::vector<const char*>& inputs) {
  for (const char* input : inputs) CheckInput(make, input);
  if (!Checked(*make)) return 1;
  if (make->entries.empty()) {
    printf("No texture to write : %s\n", make->package);
    return 1;
  }
  return Write(make);
}

// Reads the map to be written again, as the extraction checks it and whole; `file` is left
// open on it where nothing is wrong.
void CheckMap(MAKE* make, const char* path, MAPFILE* map, File* file) {
  struct stat status;
  if (stat(path, &status) != 0) {
    printf("File not found : %s\n", path);
    ++make->problems;
    return;
  }
  if (S_ISDIR(status.st_mode)) return Problem(make, path, "not a map (BSP version 30)");
  file->reset(fopen(path, "rb"));
  if (!*file) return Problem(make, path, "cannot be read");
  const std::string problem = ReadMap(file->get(), map);
  if (!problem.empty()) {
    file->reset();
    return Problem(make, path, problem);
  }
  GATHERED gathered;
  if (EnumerateFile(path, "", &gathered, 1 << kMapKind) != 0) {
    file->reset();
    ++make->problems;  // the extraction's line said why
  }
}

constexpr size_t kNotGiven = SIZE_MAX;

// The entry that fills each slot of the map, or kNotGiven; a size other than the map's is a
// problem. Images the map names nowhere are said to be left out.
std::vector<size_t> Fill(MAKE* make, const MAPFILE& map) {
  std::vector<size_t> given(map.slots.size(), kNotGiven);
  std::vector<bool> used(make->entries.size());
  for (size_t k = 0; k < map.slots.size(); ++k) {
    const MAPSLOT& slot = map.slots[k];
    if (slot.empty) continue;
    const auto place = make->places.find(Lower(NameOf(slot.name)));
    if (place == make->places.end()) continue;
    const ENTRY& entry = make->entries[place->second];
    used[place->second] = true;
    if (entry.width != slot.width || entry.height != slot.height) {
      const std::string_view name = NameOf(entry.name);
      Problem(make, entry.path,
              std::string(name) + " is " + std::to_string(entry.width) + "x" +
                  std::to_string(entry.height) + ", the map's is " + std::to_string(slot.width) +
                  "x" + std::to_string(slot.height) + ": its faces are aligned to that size");
      continue;
    }
    given[k] = place->second;
  }
  for (size_t e = 0; e < make->entries.size(); ++e) {
    const ENTRY& entry = make->entries[e];
    if (used[e] || entry.kind == kNoImage) continue;  // a package's others are for other maps
    printf("%s : the map names no texture %.*s, left out\n", entry.path.c_str(),
           int(NameOf(entry.name).size()), entry.name);
  }
  return given;
}

// Makes each texture given in turn and writes the map. Returns the exit status.
int WriteSlots(MAKE* make, const char* mapPath, const MAPFILE& map, MAPWRITE* out,
               const std::vector<size_t>& given, File* mapFile) {
  std::string path, problem;
  unsigned written = 0, left = 0;
  if (!CopyLumps(out)) path = mapPath, problem = "cannot be read";
  for (size_t k = 0; k < map.slots.size() && problem.empty(); ++k) {
    const MAPSLOT& slot = map.slots[k];
    const std::string_view name = NameOf(slot.name);
    if (given[k] == kNotGiven) {
      AddSlot(out, nullptr);
      if (!slot.empty && !slot.carried) {
        printf("%.*s : left to packages\n", int(name.size()), slot.name);
        ++left;
      }
      continue;
    }
    const ENTRY& entry = make->entries[given[k]];
    TEXTURE texture;
    path = entry.path;
    problem = Build(*make, entry, &texture);
    if (problem.empty() && (texture.width != slot.width || texture.height != slot.height ||
                            texture.palette.size() != entry.paletteBytes)) {
      problem = "changed while it was read";
    }
    if (!problem.empty()) break;
    memset(texture.name, 0, kWad3NameSize);  // as the map spells it
    memcpy(texture.name, slot.name, name.size());
    AddSlot(out, &texture);
    printf("%.*s (%" PRIu32 "x%" PRIu32 ")\n", int(name.size()), slot.name, slot.width,
           slot.height);
    ++written;
  }
  if (problem.empty() && !CopyLumps(out)) path = mapPath, problem = "cannot be read";
  if (!problem.empty()) {
    printf("%s : %s\nNothing written : %s\n", path.c_str(), problem.c_str(), make->package);
    AbandonMap(out);
    return 1;
  }
  mapFile->reset();  // closed before the rename: Windows renames nothing over a file held open
  if (!FinishMap(out)) {
    printf("Could not write : %s\n", make->package);
    return 1;
  }
  printf("%u texture%s written to %s, %u left to packages\n", written, written == 1 ? "" : "s",
         make->package, left);
  return 0;
}

// Checks the map and every input, then writes the map where nothing is wrong. Returns the
// exit status.
int CheckForMap(MAKE* make, const std::vector<const char*>& inputs) {
  MAPFILE map;
  File mapFile;
  CheckMap(make, inputs[0], &map, &mapFile);
  for (size_t i = 1; i < inputs.size(); ++i) CheckInput(make, inputs[i]);
  std::vector<size_t> given;
  MAPWRITE out;
  if (mapFile) {
    given = Fill(make, map);
    std::vector<uint64_t> laid(given.size());
    for (size_t k = 0; k < given.size(); ++k) {
      if (given[k] == kNotGiven) continue;
      const ENTRY& entry = make->entries[given[k]];
      laid[k] = LaidLength(entry.width, entry.height, entry.paletteBytes);
    }
    if (!PlanMap(&out, map, laid, WithoutPackages(map.entities, make->packages))) {
      Problem(make, make->package, "the map would pass 4 GiB");
    }
  }
  if (!Checked(*make)) return 1;
  if (std::count(given.begin(), given.end(), kNotGiven) == long(given.size())) {
    printf("No texture to write : %s\n", make->package);
    return 1;
  }
  if (!BeginMap(&out, make->package)) {
    printf("Could not create : %s\n", out.file.part.c_str());
    return 1;
  }
  Writing writing(&out.file);
  const int status = WriteSlots(make, inputs[0], map, &out, given, &mapFile);
  writing.release();
  return status;
}

// Opens and decodes the image of a frame or skin again. Returns an empty text, or what is wrong.
std::string Reopen(const FRAME& frame, IMAGE* image) {
  std::string problem = OpenImage(frame.path.c_str(), frame.kind, image);
  if (problem.empty()) problem = DecodeImage(image);
  if (problem.empty() && (image->width != frame.width || image->height != frame.height)) {
    problem = "changed while it was read";
  }
  return problem;
}

// A sprite frame's indices in the sprite's palette, as its format draws them.
std::vector<uint8_t> FrameIndices(const MAKE& make, IMAGE* image, const uint8_t* palette) {
  if (make.onePalette) return std::move(image->pixels);
  if (image->indexed) ToColours(image);
  std::vector<uint8_t> indices(size_t{image->width} * image->height);
  if (make.format == kIndexAlpha) {
    uint64_t sums[3] = {}, weight = 0;
    OpacityIndices(*image, false, indices.data(), sums, &weight);
    return indices;
  }
  const bool masked = make.format == kAlphaTest;
  for (size_t i = 0; masked && i < indices.size(); ++i) {
    if (IsTransparent(*image, i)) indices[i] = kTransparent;
  }
  if (make.format == kAdditive) Premultiply(image);
  MapPixels(image->pixels.data(), image->width, image->height, palette,
            masked ? kTransparent : kPaletteEntries, make.dither, masked ? kTransparent : -1,
            indices.data());
  return indices;
}

// The one palette of every frame: the frames' own where they share it, else chosen from the
// statistics as the format draws them.
void SpritePalette(MAKE* make, uint8_t* palette) {
  if (make->onePalette) {
    memcpy(palette, make->palette, kPaletteBytes);
  } else if (make->format == kIndexAlpha) {
    OpacityPalette(make->sums, make->weight, palette);
  } else {
    const bool masked = make->format == kAlphaTest;
    ChoosePalette(std::move(make->colours), masked ? kTransparent : kPaletteEntries, {}, palette);
    make->colours = {};
    if (masked) MaskedEntry(palette);
  }
}

// Writes the frames one at a time. Returns the exit status.
int WriteFrames(MAKE* make, SPRWRITE* sprite, const uint8_t* palette) {
  for (const FRAME& frame : make->frames) {
    IMAGE image;
    const std::string problem = Reopen(frame, &image);
    if (!problem.empty()) {
      printf("%s : %s\nNothing written : %s\n", frame.path.c_str(), problem.c_str(), make->package);
      AbandonSprite(sprite);
      return 1;
    }
    const std::vector<uint8_t> indices = FrameIndices(*make, &image, palette);
    AddFrame(sprite, frame.width, frame.height, indices.data());
    printf("%s (%" PRIu32 "x%" PRIu32 ")\n", frame.name.c_str(), frame.width, frame.height);
  }
  if (!FinishSprite(sprite)) {
    printf("Could not write : %s\n", make->package);
    return 1;
  }
  printf("%zu frame%s written to %s\n", make->frames.size(), make->frames.size() == 1 ? "" : "s",
         make->package);
  return 0;
}

// Checks every image, then writes the sprite where nothing is wrong. Returns the exit status.
int CheckForSprite(MAKE* make, const std::vector<const char*>& inputs) {
  make->onePalette = true;
  for (const char* input : inputs) CheckInput(make, input);
  if (!Checked(*make)) return 1;
  if (make->frames.empty()) {
    printf("No frame to write : %s\n", make->package);
    return 1;
  }
  uint32_t width = 0, height = 0;
  for (const FRAME& frame : make->frames) {
    width = std::max(width, frame.width);
    height = std::max(height, frame.height);
  }
  uint8_t palette[kPaletteBytes] = {};
  SpritePalette(make, palette);
  const SPRHEAD head = SpriteHead(make->type, make->format, width, height,
                                  static_cast<uint32_t>(make->frames.size()));
  SPRWRITE sprite;
  if (!BeginSprite(&sprite, make->package, head, palette)) {
    printf("Could not create : %s\n", sprite.file.part.c_str());
    return 1;
  }
  Writing writing(&sprite.file);
  const int status = WriteFrames(make, &sprite, palette);
  writing.release();
  return status;
}

// Reads the model whose skins are replaced, as the extraction checks it and whole; `file` is
// left open on it where nothing is wrong.
void CheckModel(MAKE* make, const char* path, MODELFILE* model, File* file) {
  struct stat status;
  if (stat(path, &status) != 0) {
    printf("File not found : %s\n", path);
    ++make->problems;
    return;
  }
  if (S_ISDIR(status.st_mode)) return Problem(make, path, "not a model (IDST, version 10)");
  file->reset(fopen(path, "rb"));
  if (!*file) return Problem(make, path, "cannot be read");
  std::string problem = ReadModel(file->get(), model);
  if (problem.empty() && model->skins.empty()) {
    // The game finds such a model's skins in NAMEt.mdl beside it.
    const std::string_view name = LastComponent(path);
    const size_t stem = WithoutEnding(name, kModelEnding);
    problem = "its skins lie in " + std::string(name.substr(0, stem)) + "t" +
              std::string(name.substr(stem)) + ": give that one";
  }
  if (!problem.empty()) {
    file->reset();
    return Problem(make, path, problem);
  }
  GATHERED gathered;
  if (EnumerateFile(path, "", &gathered, 1 << kModelKind) != 0) {
    file->reset();
    ++make->problems;  // the extraction's line said why
  }
}

// A skin to be replaced, and the image that replaces it.
struct SKIN {
  size_t skin, frame;
};

// Each skin that an image names, in the order of their positions; an image that names none, or
// is of another size, is a problem, as are two skins that would share their bytes.
std::vector<SKIN> Match(MAKE* make, const char* path, const MODELFILE& model) {
  std::vector<SKIN> skins;
  for (size_t f = 0; f < make->frames.size(); ++f) {
    const FRAME& frame = make->frames[f];
    bool named = false;
    for (size_t k = 0; k < model.skins.size(); ++k) {
      const MDLTEXTURE& skin = model.skins[k];
      const std::string_view name(skin.name, strnlen(skin.name, kModelNameSize));
      if (Lower(name.substr(0, WithoutEnding(name, kBitmapEnding))) != Lower(frame.name)) continue;
      named = true;
      if (skin.width != frame.width || skin.height != frame.height) {
        Problem(make, frame.path,
                std::to_string(frame.width) + "x" + std::to_string(frame.height) + ", the skin " +
                    std::string(name) + " is " + std::to_string(skin.width) + "x" +
                    std::to_string(skin.height));
      } else {
        skins.push_back({k, f});
      }
    }
    if (!named) Problem(make, frame.path, "the model has no skin " + frame.name);
  }
  std::sort(skins.begin(), skins.end(), [&](const SKIN& a, const SKIN& b) {
    return model.skins[a.skin].index < model.skins[b.skin].index;
  });
  for (size_t k = 1; k < skins.size(); ++k) {
    const MDLTEXTURE &before = model.skins[skins[k - 1].skin], &skin = model.skins[skins[k].skin];
    if (uint64_t{before.index} + uint64_t{before.width} * before.height + kPaletteBytes > skin.index) {
      Problem(make, path, "two skins share their bytes, which one image cannot replace");
      break;
    }
  }
  return skins;
}

// A skin's indices and palette: an indexed image's own, padded with black; else quantized,
// entry 255 left out where the skin is masked.
void MakeSkin(const MAKE& make, const MDLTEXTURE& skin, IMAGE* image, std::vector<uint8_t>* indices,
              uint8_t* palette) {
  if (image->indexed) {
    *indices = std::move(image->pixels);
    memcpy(palette, image->palette, kPaletteBytes);
    return;
  }
  indices->resize(size_t{image->width} * image->height);
  Quantize(*image, (skin.flags & kMaskedSkin) != 0, false, make.dither, indices->data(), palette);
}

// Writes the skins one at a time, the model's other bytes copied. Returns the exit status.
int WriteSkins(MAKE* make, const char* path, const MODELFILE& model, const std::vector<SKIN>& skins,
               MDLWRITE* out, File* modelFile) {
  std::string from = path, problem;
  for (const SKIN& replaced : skins) {
    const FRAME& frame = make->frames[replaced.frame];
    const MDLTEXTURE& skin = model.skins[replaced.skin];
    IMAGE image;
    from = frame.path;
    problem = Reopen(frame, &image);
    if (!problem.empty()) break;
    std::vector<uint8_t> indices;
    uint8_t palette[kPaletteBytes] = {};
    MakeSkin(*make, skin, &image, &indices, palette);
    from = path;
    if (!PutSkin(out, skin, indices.data(), palette)) {
      problem = "cannot be read";
      break;
    }
    printf("%.*s (%" PRIu32 "x%" PRIu32 ")\n", int(strnlen(skin.name, kModelNameSize)), skin.name,
           skin.width, skin.height);
  }
  if (problem.empty() && !CopyModel(out)) problem = "cannot be read";
  if (!problem.empty()) {
    printf("%s : %s\nNothing written : %s\n", from.c_str(), problem.c_str(), make->package);
    AbandonModel(out);
    return 1;
  }
  modelFile->reset();  // closed before the rename: Windows renames nothing over a file held open
  if (!FinishModel(out)) {
    printf("Could not write : %s\n", make->package);
    return 1;
  }
  printf("%zu skin%s replaced in %s\n", skins.size(), skins.size() == 1 ? "" : "s", make->package);
  return 0;
}

// Checks the model and every image, then writes the model where nothing is wrong. Returns the
// exit status.
int CheckForModel(MAKE* make, const std::vector<const char*>& inputs) {
  MODELFILE model;
  File modelFile;
  CheckModel(make, inputs[0], &model, &modelFile);
  for (size_t i = 1; i < inputs.size(); ++i) CheckInput(make, inputs[i]);
  std::vector<SKIN> skins;
  if (modelFile) skins = Match(make, inputs[0], model);
  if (!Checked(*make)) return 1;
  if (skins.empty()) {
    printf("No skin to replace : %s\n", make->package);
    return 1;
  }
  MDLWRITE out;
  if (!BeginModel(&out, model, make->package)) {
    printf("Could not create : %s\n", out.file.part.c_str());
    return 1;
  }
  Writing writing(&out.file);
  const int status = WriteSkins(make, inputs[0], model, skins, &out, &modelFile);
  writing.release();
  return status;
}

// The number of `name` among `names`, or -1.
template <size_t N>
int Named(const std::string_view (&names)[N], std::string_view name) {
  for (size_t i = 0; i < N; ++i) {
    if (names[i] == name) return int(i);
  }
  return -1;
}

}  // namespace

int MakePackage(int count, char** args) {
  std::vector<const char*> words;
  MAKE make = {};
  make.type = kDefaultType;
  bool unknown = false, sprite = false;  // no option of --make: a file of such a name is ./-NAME
  for (int i = 0; i < count; ++i) {
    const std::string_view arg = args[i];
    if (arg == kDither) {
      make.dither = true;
    } else if ((arg == "--type" || arg == "--format") && i + 1 < count) {
      const int number = arg == "--type" ? Named(kTypes, args[++i]) : Named(kFormats, args[++i]);
      unknown |= number < 0;
      (arg == "--type" ? make.type : make.format) = static_cast<uint32_t>(std::max(number, 0));
      sprite = true;
    } else {
      unknown |= arg[0] == '-';
      words.push_back(args[i]);
    }
  }
  auto ends = [&](std::string_view ending) {
    return !words.empty() && WithoutEnding(words[0], ending) != strlen(words[0]);
  };
  make.form = ends(kMapEnding) ? kMapForm
              : ends(kSpriteEnding) ? kSpriteForm
              : ends(kModelEnding) ? kModelForm
                                   : kPackageForm;
  const char* const usages[] = {kUsage, kMapUsage, kSpriteUsage, kModelUsage};
  const size_t least[] = {2, 3, 2, 3};  // the words each form needs
  if (unknown || words.size() < least[make.form] || (sprite && make.form != kSpriteForm)) {
    fputs(usages[make.form], stdout);
    return 1;
  }
  make.package = words[0];
  const char* const nouns[] = {"package", "map", "sprite", "model"};
  make.noun = nouns[make.form];
  make.packageFound = IdentifyFile(make.package, &make.packageId);
  make.decals = make.form == kPackageForm && IsDecals(make.package);
#if defined(__cpp_exceptions)
  try {
#endif
    const std::vector<const char*> inputs(words.begin() + 1, words.end());
    switch (make.form) {
      case kMapForm:
        return CheckForMap(&make, inputs);
      case kSpriteForm:
        return CheckForSprite(&make, inputs);
      case kModelForm:
        return CheckForModel(&make, inputs);
      case kPackageForm:
        break;
    }
    return Check(&make, inputs);
#if defined(__cpp_exceptions)
  } catch (const std::bad_alloc&) {
    printf("Out of memory : %s\n", make.package);  // a part file written was removed
    return 1;
  }
#endif
}
