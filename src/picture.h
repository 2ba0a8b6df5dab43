// The one path every picture the extraction finds takes to its PCX file, and what each kind of
// file's walk shares: the file it reads, and how a run ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "png.h"

// What a check of a file for --make keeps instead of writing its pictures: where each texture's
// header lies, and how many lumps were no texture.
struct GATHERED {
  std::vector<uint64_t> textures;  // positions of the WAD3MIP headers, in walk order
  uint64_t otherLumps = 0;
};

// The file a run reads, as each kind of file's walk is handed it.
struct RUN {
  FILE* fp;
  uint64_t size;             // measured once the file was opened; every check is against it
  const char* FileName;      // as given, for the lines
  const char* OutputFolder;  // put before every image's name
  GATHERED* gathered;        // when not null, every check is made and nothing is written
  bool png = false;          // pictures written as PNG files, drawn as the game draws them
  bool decals = false;       // a package named decals.wad, drawn by the decals' rule
};

// a + b, held at UINT64_MAX where it would wrap: a position that far lies past any file.
inline uint64_t AddClamped(uint64_t a, uint64_t b) {
  return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

// The length of `name` without `ending` (lower case) where the name ends with it in any case, as
// a file's name ends in ".bmp" or ".SPR".
size_t WithoutEnding(std::string_view name, std::string_view ending);

// The name with A to Z made a to z, as the game compares texture and file names.
std::string Lower(std::string_view name);

// The last component of a path, where '/' (and on Windows '\\') separates them.
std::string_view LastComponent(std::string_view path);

// Whether the path names a package of decals, decals.wad in any case, which the game draws by
// a rule of its own.
bool IsDecals(std::string_view path);

// A name that would place its file outside the output folder, or not in a file of its own.
bool IsMalformedName(const char* name, size_t length);

// Prints why the run ends, after the file's name in a check for --make; returns 1.
int Fail(const RUN& run, const char* message);
// Prints that the file could not be read; returns 1.
int CannotRead(const RUN& run);

// A picture as its file holds it, found by a walk and handed to WritePicture: raw positions and
// sizes, checked there, and its name's bytes.
struct PICTURE {
  const char* name;  // the output file's name without ".pcx", not yet checked
  size_t nameLength;
  uint32_t width;
  uint32_t height;
  uint64_t pixels;       // position of width x height palette indices, rows top to bottom
  uint64_t palette;      // position of the palette: entries of red, green, blue
  uint32_t paletteSize;  // its entries, or kCountedPalette
  LOOK look;             // how the game draws it, for a PNG file
};
// A palette whose u16 entry count lies just before its entries, at `palette`: a package's.
constexpr uint32_t kCountedPalette = UINT32_MAX;

// Reads the picture's palette and pixels and writes it as OutputFolder + name + ".pcx" (".png"
// for a PNG run, but where a side is 0, which no PNG holds), with
// every check, line and mend a package's texture has. Returns 0 to go on with the walk, 1 after
// printing why the run ends.
int WritePicture(const RUN& run, const PICTURE& picture);

// Reads the texture whose 40-byte WAD3MIP header is at mippos and writes it. In a map
// (inMap), a texture whose offsets[0] is 0 has no pixels there, a package holds it: it is
// skipped. Returns 0 to go on with the walk, 1 after printing why the run ends.
int ExtractTexture(const RUN& run, uint64_t mippos, bool inMap);
