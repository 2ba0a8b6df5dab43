/* colours: the rules shared by the textures, sprites and skins --make writes, by how the game
 * draws them. A `{` texture, a masked skin and an alpha-test sprite leave entry 255 out, drawn
 * transparent; decals and index-alpha sprites take each index as an opacity of entry 255's
 * colour; additive sprites add their colours to what lies behind.
 */
#include "colours.h"

#include <cstring>

#include "quantize.h"

namespace {

constexpr uint32_t kTransparentBlue = Rgb(0, 0, 255); /* what editors and compilers show */
constexpr uint8_t kHalfOpaque = 128;
constexpr unsigned kMaskedEntry = 255;
constexpr unsigned kOpaque = 255;

// The grey level of a colour, from black 0 to white 255.
uint8_t Grey(const uint8_t* p) {
  return static_cast<uint8_t>((77 * p[0] + 150 * p[1] + 29 * p[2] + 128) >> 8);
}

}  // namespace

bool IsTransparent(const IMAGE& image, size_t i) {
  const uint8_t* p = &image.pixels[kChannels * i];
  return image.alpha ? p[3] < kHalfOpaque : Rgb(p[0], p[1], p[2]) == kTransparentBlue;
}

void GatherColours(const IMAGE& image, bool masked, std::vector<uint32_t>* colours,
                   uint64_t sums[3]) {
  const size_t pixels = size_t{image.width} * image.height;
  for (size_t i = 0; i < pixels; ++i) {
    if (masked && IsTransparent(image, i)) continue;
    const uint8_t* p = &image.pixels[kChannels * i];
    colours->push_back(Rgb(p[0], p[1], p[2]));
    for (unsigned k = 0; k < 3; ++k) sums[k] += p[k];
  }
}

void OpacityIndices(const IMAGE& image, bool inverted, uint8_t* indices, uint64_t sums[3],
                    uint64_t* weight) {
  const size_t pixels = size_t{image.width} * image.height;
  for (size_t i = 0; i < pixels; ++i) {
    const uint8_t* p = &image.pixels[kChannels * i];
    const uint8_t alpha = inverted ? static_cast<uint8_t>(kOpaque - p[3]) : p[3];
    indices[i] = image.alpha ? alpha : Grey(p);
    const uint64_t weighed = inverted ? kOpaque - indices[i] : indices[i];
    for (unsigned k = 0; k < 3; ++k) sums[k] += p[k] * weighed;
    *weight += weighed;
  }
}

void OpacityPalette(const uint64_t sums[3], uint64_t weight, uint8_t* palette) {
  for (unsigned i = 0; i < kMaskedEntry; ++i) memset(&palette[3 * i], int(i), 3);
  for (unsigned k = 0; k < 3; ++k) {
    palette[3 * kMaskedEntry + k] =
        static_cast<uint8_t>(weight == 0 ? 0 : (sums[k] + weight / 2) / weight);
  }
}

void Premultiply(IMAGE* image) {
  const size_t pixels = size_t{image->width} * image->height;
  for (size_t i = 0; i < pixels; ++i) {
    uint8_t* p = &image->pixels[kChannels * i];
    for (unsigned k = 0; k < 3; ++k) p[k] = static_cast<uint8_t>((p[k] * p[3] + 127) / 255);
    p[3] = kOpaque;
  }
  image->alpha = false;
}

void ToColours(IMAGE* image) {
  const size_t pixels = size_t{image->width} * image->height;
  std::vector<uint8_t> rgba(kChannels * pixels);
  for (size_t i = 0; i < pixels; ++i) {
    memcpy(&rgba[kChannels * i], &image->palette[3 * image->pixels[i]], 3);
    rgba[kChannels * i + 3] = kOpaque;
  }
  image->pixels = std::move(rgba);
  image->indexed = false;
  image->alpha = false;
}

void MaskedEntry(uint8_t* palette) {
  for (unsigned k = 0; k < 3; ++k) {
    palette[3 * kMaskedEntry + k] = uint8_t(kTransparentBlue >> (16 - 8 * k));
  }
}
