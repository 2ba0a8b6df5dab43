// Mip levels 1 to 3 of a texture, each from the full-size source.
#pragma once

#include <cstdint>
#include <vector>

// How a mip pixel follows from its block of full-size pixels.
enum MIPRULE {
  kMipColours,  // the palette entry nearest to the block's mean colour
  kMipMasked,   // `{`: 255 where more than half the block is, else as kMipColours among 0..254
  kMipOpacity,  // decals: the block's mean index, each index an opacity
};

constexpr unsigned kMipCount = 3;
constexpr uint8_t kTransparent = 255; /* the entry a `{` texture leaves out */

// Levels 1 to 3 (sides halved, a quarter, an eighth) of the width x height texture whose
// full-size `indices` take colours from `palette`, from `rgba` (red, green, blue, alpha a
// pixel: the source's colours), or where it is null, from the palette's colours of the indices.
void MakeMips(const uint8_t* rgba, const uint8_t* indices, uint32_t width, uint32_t height,
              const uint8_t* palette, MIPRULE rule, std::vector<uint8_t> levels[kMipCount]);
