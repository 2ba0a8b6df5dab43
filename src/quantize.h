// The quantizer: the palette a truecolour picture is given, and each pixel's entry in it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A colour as 0xRRGGBB.
constexpr uint32_t Rgb(uint32_t red, uint32_t green, uint32_t blue) {
  return red << 16 | green << 8 | blue;
}

// The nearest entry to a colour among a palette's first `entries`, found from the entries sorted
// by the sum of their channels, and kept for colours asked for again.
struct NEAREST {
  struct ENTRY {
    int red, green, blue, sum;
    uint8_t index;
  };
  ENTRY sorted[256];
  uint8_t position[256];  // where each entry lies in `sorted`
  uint16_t first[766];    // for each sum, the first entry in `sorted` of at least that sum
  unsigned entries = 0;
  uint8_t last = 0;  // the entry last found
  unsigned bits = 0;           // the cache holds 2^bits answers
  std::vector<uint32_t> keys;  // colour + 1 of each cached answer; 0 where none is
  std::vector<uint8_t> answers;
};

// Readies `nearest` for the first `entries` (1 to 256) of `palette`, to be asked about as many as
// `colours` pixels: where that is not 0, it keeps what it found.
void PrepareNearest(NEAREST* nearest, const uint8_t* palette, unsigned entries, size_t colours);

// The entry nearest to red, green, blue (each 0 to 255) in squared distance; of equally near
// ones, the lowest.
uint8_t Nearest(NEAREST* nearest, uint32_t colour);

// Chooses at most `entries` colours for the picture whose pixels that take part are `colours`,
// beside `fixed` (0xRRGGBB each), which are entries of its palette too but do not move: a
// picture of no more colours keeps them exactly; any other is split into boxes by variance, then
// refined by k-means until no entry moves. Writes red, green, blue of each chosen colour to
// `palette`; returns how many it chose.
unsigned ChoosePalette(std::vector<uint32_t> colours, unsigned entries,
                       const std::vector<uint32_t>& fixed, uint8_t* palette);

// Maps each pixel (red, green, blue, alpha) of a width x height picture to its nearest entry
// among the palette's first `entries`, but those whose index in `out` is already `keep` (the
// transparent ones of a `{` texture). With `dither`, each pixel's error is spread to those not
// yet mapped (Floyd-Steinberg, serpentine).
void MapPixels(const uint8_t* rgba, uint32_t width, uint32_t height, const uint8_t* palette,
               unsigned entries, bool dither, int keep, uint8_t* out);
