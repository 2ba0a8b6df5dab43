// How an image's colours become palette indices by the way the game draws what is made of it:
// entry 255 transparent, indices as opacities, colours added to what lies behind.
#pragma once

#include <cstdint>
#include <vector>

#include "images.h"

// Whether pixel i is transparent where entry 255 is: alpha below 128, or in an image without
// alpha, pure blue 0 0 255.
bool IsTransparent(const IMAGE& image, size_t i);

// Appends the colour (0xRRGGBB) of each pixel that takes part in choosing the palette, those
// transparent left out where `masked`, and adds each channel to `sums`.
void GatherColours(const IMAGE& image, bool masked, std::vector<uint32_t>* colours,
                   uint64_t sums[3]);

// Each pixel's opacity as its index: its alpha (`inverted`: 255 less it), or in an image
// without alpha its grey level. Adds each colour weighted by its opacity to `sums`, and the
// opacities to `weight`.
void OpacityIndices(const IMAGE& image, bool inverted, uint8_t* indices, uint64_t sums[3],
                    uint64_t* weight);

// Entries 0 to 254 the grey ramp, entry 255 the mean colour weighted by opacity.
void OpacityPalette(const uint64_t sums[3], uint64_t weight, uint8_t* palette);

// Each colour multiplied by its alpha, which becomes opaque: drawn added to what lies behind,
// transparent is black, which adds nothing.
void Premultiply(IMAGE* image);

// An indexed image as the colours of its indices, opaque.
void ToColours(IMAGE* image);

// Entry 255 made 0 0 255, the colour editors and compilers show where it is transparent.
void MaskedEntry(uint8_t* palette);
