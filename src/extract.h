// The extraction: every picture of a package, map, model or sprite to a PCX file.
#pragma once

#include "picture.h"

// The kinds of file the extraction reads, told by their first words.
enum KIND { kNoKind, kPackageKind, kMapKind, kModelKind, kSpriteKind };

// Writes every texture of the package FileName as OutputFolder + name + ".pcx", or with `png`
// as ".png" drawn as the game draws it. Returns the exit status: 0 after the whole directory was
// walked, 1 on the first failure.
int EnumerateImages(const char* FileName, const char* OutputFolder, bool png = false);

// Opens FileName and walks it as EnumerateImages does; with `gathered`, a check that writes
// nothing and keeps where each texture lies, of the kinds in `kinds` alone (a bit each), the rest
// refused as no package. Prints the size line only without `gathered`.
int EnumerateFile(const char* FileName, const char* OutputFolder, GATHERED* gathered,
                  unsigned kinds, bool png = false);
constexpr unsigned kEveryKind = 1 << kPackageKind | 1 << kMapKind | 1 << kModelKind |
                                1 << kSpriteKind;
