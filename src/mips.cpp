/* mips: each mip pixel is the mean of its 2^k x 2^k block of the full-size source (in colours
 * where the source has them, so that no level inherits the full size's rounding), then the
 * nearest palette entry. The sums of each level are added up from the level above, so each
 * source pixel is read once; the nearest entries found are kept for colours met again.
 */
#include "mips.h"

#include "quantize.h"

namespace {

// The sums of one level's blocks: colour channels, index, and how many pixels are opaque. A
// block of 8 x 8 sums to 64 x 255 at most: 16 bits hold every sum.
struct BLOCKS {
  uint32_t width = 0, height = 0;
  std::vector<uint16_t> red, green, blue, index, opaque;

  void Resize(uint32_t w, uint32_t h) {
    width = w;
    height = h;
    for (auto* v : {&red, &green, &blue, &index, &opaque}) v->assign(size_t{w} * h, 0);  // sums
  }
  void Add(size_t to, const BLOCKS& from, size_t at) {
    red[to] = static_cast<uint16_t>(red[to] + from.red[at]);
    green[to] = static_cast<uint16_t>(green[to] + from.green[at]);
    blue[to] = static_cast<uint16_t>(blue[to] + from.blue[at]);
    index[to] = static_cast<uint16_t>(index[to] + from.index[at]);
    opaque[to] = static_cast<uint16_t>(opaque[to] + from.opaque[at]);
  }
};

uint32_t Mean(uint32_t sum, uint32_t count) {
  return (sum + count / 2) / count;
}

}  // namespace

void MakeMips(const uint8_t* rgba, const uint8_t* indices, uint32_t width, uint32_t height,
              const uint8_t* palette, MIPRULE rule, std::vector<uint8_t> levels[kMipCount]) {
  const bool masked = rule == kMipMasked;
  NEAREST nearest;
  PrepareNearest(&nearest, palette, masked ? kTransparent : 256, size_t{width} * height / 3);
  BLOCKS above, blocks;
  for (unsigned level = 1; level <= kMipCount; ++level) {
    blocks.Resize(width >> level, height >> level);
    for (uint32_t y = 0; y < blocks.height; ++y) {
      for (uint32_t x = 0; x < blocks.width; ++x) {
        const size_t to = size_t{y} * blocks.width + x;
        if (level > 1) {  // from the level above: the sums of its 2 x 2 block
          const size_t a = size_t{2 * y} * above.width + 2 * x, b = a + above.width;
          blocks.Add(to, above, a);
          blocks.Add(to, above, a + 1);
          blocks.Add(to, above, b);
          blocks.Add(to, above, b + 1);
          continue;
        }
        // Level 1 from the source itself, its colours or those of its indices.
        const size_t a = size_t{2 * y} * width + 2 * x, b = a + width;
        const size_t block[4] = {a, a + 1, b, b + 1};
        uint32_t red = 0, green = 0, blue = 0, index = 0, opaque = 0;
#pragma GCC unroll 4
        for (const size_t at : block) {
          const uint32_t seen = !masked || indices[at] != kTransparent;
          const uint8_t* colour = rgba != nullptr ? &rgba[4 * at] : &palette[3 * indices[at]];
          red += colour[0] * seen;
          green += colour[1] * seen;
          blue += colour[2] * seen;
          opaque += seen;
          index += indices[at];
        }
        blocks.red[to] = static_cast<uint16_t>(red);
        blocks.green[to] = static_cast<uint16_t>(green);
        blocks.blue[to] = static_cast<uint16_t>(blue);
        blocks.index[to] = static_cast<uint16_t>(index);
        blocks.opaque[to] = static_cast<uint16_t>(opaque);
      }
    }
    std::vector<uint8_t>& out = levels[level - 1];
    out.resize(blocks.red.size());
    const uint32_t area = 1u << (2 * level);
    for (size_t i = 0; i < out.size(); ++i) {
      const uint32_t opaque = blocks.opaque[i];
      if (rule == kMipOpacity) {
        out[i] = static_cast<uint8_t>(Mean(blocks.index[i], area));
      } else if (masked && 2 * (area - opaque) > area) {
        out[i] = kTransparent;
      } else {
        out[i] = Nearest(&nearest, Rgb(Mean(blocks.red[i], opaque), Mean(blocks.green[i], opaque),
                                       Mean(blocks.blue[i], opaque)));
      }
    }
    std::swap(above, blocks);
  }
}
