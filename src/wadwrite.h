// The package --make writes: to a new file beside its path, renamed over it once whole.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "wadfile.h"

// A package being written.
struct WADWRITE {
  std::string path;  // where it goes once complete
  std::string part;  // the file it is written to until then
  FILE* fp = nullptr;
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

// Creates the part file beside `path`. False where it cannot be.
bool BeginPackage(WADWRITE* package, const char* path);

// Writes the texture's lump: the header, the four levels, the palette's count and entries, and
// zero bytes to the next multiple of 4. False where the package would pass 4 GiB.
bool AddTexture(WADWRITE* package, const TEXTURE& texture);

// Writes the directory, flushes and closes the part file, and renames it over the path. False
// where any write failed; the part file is then removed.
bool FinishPackage(WADWRITE* package);

// Closes and removes the part file, leaving whatever was at the path as it was.
void AbandonPackage(WADWRITE* package);
