// The package --make writes: to a new file beside its path, renamed over it once whole.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "partfile.h"
#include "wadfile.h"

// A package being written.
struct WADWRITE {
  PARTFILE file;
  uint64_t at = 0;  // bytes written so far
  std::vector<WAD3LUMP> directory;
};

// One texture as the package holds it: its name's 16 bytes, size, levels and palette.
struct TEXTURE {
  char name[kWad3NameSize];
  uint32_t width, height;
  std::vector<uint8_t> levels[kMipLevels];  // P, P/4, P/16 and P/64 bytes, P = width x height
  std::vector<uint8_t> palette;             // red, green, blue per entry, 65535 entries at most
};

// The bytes a texture of width x height and `paletteBytes` takes as a package or a map lays it:
// its header, four levels, palette count and entries, and zero bytes to the next multiple of 4.
uint64_t LaidLength(uint32_t width, uint32_t height, uint64_t paletteBytes);

// Writes the texture so laid, its header's offsets to the levels behind each other.
void LayTexture(const TEXTURE& texture, FILE* fp);

// Creates the part file beside `path`. False where it cannot be.
bool BeginPackage(WADWRITE* package, const char* path);

// Writes the texture's lump, laid out as LayTexture lays it. False where the package would pass
// 4 GiB.
bool AddTexture(WADWRITE* package, const TEXTURE& texture);

// Writes the directory, flushes and closes the part file, and renames it over the path. False
// where any write failed; the part file is then removed.
bool FinishPackage(WADWRITE* package);

// Closes and removes the part file, leaving whatever was at the path as it was.
void AbandonPackage(WADWRITE* package);
