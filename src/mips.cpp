/* mips: each mip pixel is the mean of its 2^k x 2^k block of the full-size source (in colours
 * where the source has them, so that no level inherits the full size's rounding), then the
 * nearest palette entry. The sums of each level are added up from the level above, so each
 * source pixel is read once; the nearest entries found are kept for colours met again.
 */
#include "mips.h"

#include "quantize.h"

namespace {

// A block's sums in one word, 16 bits each: red, green, blue, and how many pixels are opaque. An
// 8 x 8 block sums to 64 x 255 at most, so four words add up with no lane carrying into the next.
constexpr unsigned kLane = 16;
constexpr uint64_t kLaneMask = 0xFFFF;

uint64_t Pack(uint32_t red, uint32_t green, uint32_t blue) {
  return uint64_t{red} | uint64_t{green} << kLane | uint64_t{blue} << 2 * kLane |
         uint64_t{1} << 3 * kLane;
}

uint32_t Lane(uint64_t sums, unsigned k) {
  return static_cast<uint32_t>(sums >> (kLane * k) & kLaneMask);
}

uint32_t Mean(uint32_t sum, uint32_t count) {
  return (sum + count / 2) / count;
}

}  // namespace

void MakeMips(const uint8_t* rgba, const uint8_t* indices, uint32_t width, uint32_t height,
              const uint8_t* palette, MIPRULE rule, std::vector<uint8_t> levels[kMipCount]) {
  const bool masked = rule == kMipMasked;
  NEAREST nearest;
  PrepareNearest(&nearest, palette, masked ? kTransparent : 256, size_t{width} * height / 3);
  // Each index's colour, packed; a `{` texture's entry 255 is no colour and no opaque pixel.
  uint64_t packed[256];
  for (unsigned i = 0; i < 256; ++i) {
    packed[i] = masked && i == kTransparent
                    ? 0
                    : Pack(palette[3 * i], palette[3 * i + 1], palette[3 * i + 2]);
  }
  auto source = [&](size_t at) {
    if (rgba == nullptr) return packed[indices[at]];
    if (masked && indices[at] == kTransparent) return uint64_t{0};
    return Pack(rgba[4 * at], rgba[4 * at + 1], rgba[4 * at + 2]);
  };
  std::vector<uint64_t> above, sums;
  std::vector<uint16_t> indexAbove, indexSums;  // decals: the sums of the indices
  const bool opacity = rule == kMipOpacity;
  for (unsigned level = 1; level <= kMipCount; ++level) {
    const uint32_t w = width >> level, h = height >> level, aboveWidth = w * 2;
    sums.assign(size_t{w} * h, 0);
    if (opacity) indexSums.assign(sums.size(), 0);
    for (uint32_t y = 0; y < h; ++y) {
      for (uint32_t x = 0; x < w; ++x) {
        const size_t to = size_t{y} * w + x;
        const size_t a = size_t{2 * y} * (level == 1 ? width : aboveWidth) + 2 * x;
        const size_t b = a + (level == 1 ? width : aboveWidth);
        if (level == 1) {  // from the source itself, its colours or those of its indices
          sums[to] = source(a) + source(a + 1) + source(b) + source(b + 1);
          if (opacity) {
            indexSums[to] = static_cast<uint16_t>(indices[a] + indices[a + 1] + indices[b] +
                                                  indices[b + 1]);
          }
        } else {  // from the level above: the sums of its 2 x 2 block
          sums[to] = above[a] + above[a + 1] + above[b] + above[b + 1];
          if (opacity) {
            indexSums[to] = static_cast<uint16_t>(indexAbove[a] + indexAbove[a + 1] +
                                                  indexAbove[b] + indexAbove[b + 1]);
          }
        }
      }
    }
    std::vector<uint8_t>& out = levels[level - 1];
    out.resize(sums.size());
    const uint32_t area = 1u << (2 * level);
    for (size_t i = 0; i < out.size(); ++i) {
      const uint32_t opaque = Lane(sums[i], 3);
      if (opacity) {
        out[i] = static_cast<uint8_t>(Mean(indexSums[i], area));
      } else if (masked && 2 * (area - opaque) > area) {
        out[i] = kTransparent;
      } else {
        out[i] = Nearest(&nearest, Rgb(Mean(Lane(sums[i], 0), opaque),
                                       Mean(Lane(sums[i], 1), opaque),
                                       Mean(Lane(sums[i], 2), opaque)));
      }
    }
    std::swap(above, sums);
    std::swap(indexAbove, indexSums);
  }
}
