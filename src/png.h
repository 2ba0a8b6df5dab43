// The PNG writer: one 8-bit palettised picture as a PNG file, drawn as the game draws it.
#pragma once

#include <cstdint>
#include <vector>

#include "pcx.h"

// How the game draws a picture's palette entries.
enum LOOK {
  kLookOpaque,      // every entry as the palette has it (sprites drawn normal or additive too)
  kLookMasked,      // entry 255 transparent: {textures, skins flagged masked, alpha-test sprites
  kLookDecal,       // decals.wad: every entry in entry 255's colour, as opaque as 255 - index;
                    // where entry 255 is pure blue, as kLookMasked
  kLookIndexAlpha,  // index-alpha sprites: every entry in entry 255's colour, as opaque as index
};
constexpr unsigned kLooks = 4;

// The PNG file of width x height `pixels` with `palette` (256 entries of red, green, blue) in
// `look`. Throws std::bad_alloc where there is not the memory for it; empty where the rows
// would pass what this machine can address.
std::vector<uint8_t> PngFile(const uint8_t* pixels, uint32_t width, uint32_t height,
                             const uint8_t* palette, LOOK look);

// Creates Encode->FileName, prints its path and size and writes the image as a PNG file in
// `look`, with the checks and lines of EncodePCX. Returns 1 when the whole file was written, 0
// when it was not (the line says why).
int EncodePNG(const PCXENCODE* Encode, LOOK look);
