/* quantize: a palette for a truecolour picture, in integer arithmetic alone, so that every
 * machine and wad3.wasm choose the same colours.
 *
 * The picture's distinct colours, each with its count of pixels, are split into boxes: the box
 * whose colours lie furthest from their mean (the largest sum of squared distances) is split
 * across the channel in which they spread most, where the two halves' sums are least. The mean
 * of each box starts k-means, which moves each entry to the mean of the colours nearest to it
 * until none moves. Each pixel then takes its nearest entry.
 */
#include "quantize.h"

#include <algorithm>
#include <iterator>
#include <numeric>

namespace {

constexpr unsigned kMinCacheBits = 8, kMaxCacheBits = 16;
constexpr unsigned kMaxRounds = 64; /* k-means converges long before, but never loops forever */
constexpr int kErrorScale = 16;     /* Floyd-Steinberg: 7, 3, 5 and 1 sixteenths */

uint32_t Channel(uint32_t colour, unsigned c) {
  return colour >> (16 - 8 * c) & 0xFF;
}

// A distinct colour and how many pixels have it.
struct COUNTED {
  uint32_t colour;
  uint32_t count;
};

// The sums of a run of counted colours, from which their mean and spread follow.
struct SUMS {
  uint64_t count = 0;
  uint64_t sum[3] = {};
  uint64_t squares[3] = {};

  void Add(const COUNTED& c) {
    count += c.count;
    for (unsigned k = 0; k < 3; ++k) {
      const uint64_t v = Channel(c.colour, k);
      sum[k] += v * c.count;
      squares[k] += v * v * c.count;
    }
  }
  // The sum of squared distances from the mean in channel k, rounded down.
  uint64_t Spread(unsigned k) const {
    return count == 0 ? 0 : squares[k] - sum[k] * sum[k] / count;
  }
  uint64_t Spread() const { return Spread(0) + Spread(1) + Spread(2); }
  uint32_t Mean() const {
    uint32_t mean = 0;
    for (unsigned k = 0; k < 3; ++k) mean = mean << 8 | uint32_t((sum[k] + count / 2) / count);
    return mean;
  }
};

SUMS operator-(SUMS a, const SUMS& b) {
  a.count -= b.count;
  for (unsigned k = 0; k < 3; ++k) {
    a.sum[k] -= b.sum[k];
    a.squares[k] -= b.squares[k];
  }
  return a;
}

struct BOX {
  size_t begin, end;  // its colours in the array
  SUMS sums;
};

SUMS SumOf(const std::vector<COUNTED>& colours, size_t begin, size_t end) {
  SUMS sums;
  for (size_t i = begin; i < end; ++i) sums.Add(colours[i]);
  return sums;
}

// Splits the box across its widest channel where the halves' spreads add up to the least.
void Split(std::vector<COUNTED>& colours, BOX& box, BOX* second) {
  unsigned axis = 0;
  for (unsigned k = 1; k < 3; ++k) axis = box.sums.Spread(k) > box.sums.Spread(axis) ? k : axis;
  const unsigned shift = 16 - 8 * axis;
  std::sort(colours.begin() + long(box.begin), colours.begin() + long(box.end),
            [shift](const COUNTED& a, const COUNTED& b) {
              // Rotated so that the axis comes first, the rest breaking ties: a total order.
              const uint32_t ka = (a.colour >> shift & 0xFF) << 24 | a.colour;
              const uint32_t kb = (b.colour >> shift & 0xFF) << 24 | b.colour;
              return ka < kb;
            });
  SUMS left;
  uint64_t best = UINT64_MAX;
  size_t at = box.begin + 1;
  SUMS bestLeft;
  for (size_t i = box.begin; i + 1 < box.end; ++i) {
    left.Add(colours[i]);
    if (Channel(colours[i].colour, axis) == Channel(colours[i + 1].colour, axis)) continue;
    const uint64_t spread = left.Spread() + (box.sums - left).Spread();
    if (spread < best) {
      best = spread;
      at = i + 1;
      bestLeft = left;
    }
  }
  if (best == UINT64_MAX) {  // one value in that channel: split by count
    bestLeft = SumOf(colours, box.begin, at);
  }
  *second = {at, box.end, box.sums - bestLeft};
  box = {box.begin, at, bestLeft};
}

}  // namespace

void PrepareNearest(NEAREST* nearest, const uint8_t* palette, unsigned entries, size_t colours) {
  nearest->entries = entries;
  for (unsigned i = 0; i < entries; ++i) {
    const int red = palette[3 * i], green = palette[3 * i + 1], blue = palette[3 * i + 2];
    nearest->sorted[i] = {red, green, blue, red + green + blue, static_cast<uint8_t>(i)};
  }
  std::sort(nearest->sorted, nearest->sorted + entries,
            [](const NEAREST::ENTRY& a, const NEAREST::ENTRY& b) {
              return a.sum != b.sum ? a.sum < b.sum : a.index < b.index;
            });
  for (unsigned i = 0; i < entries; ++i) nearest->position[nearest->sorted[i].index] = uint8_t(i);
  for (unsigned s = 0, at = 0; s < std::size(nearest->first); ++s) {
    while (at < entries && nearest->sorted[at].sum < int(s)) ++at;
    nearest->first[s] = static_cast<uint16_t>(at);
  }
  nearest->last = 0;
  // A slot for every other colour looked up, as far as a cache that stays in the processor's
  // caches goes: no larger than what it will hold, for it is cleared for each picture.
  unsigned bits = kMinCacheBits;
  while (bits < kMaxCacheBits && size_t{1} << bits < colours / 2) ++bits;
  nearest->bits = bits;
  nearest->keys.assign(colours == 0 ? 0 : size_t{1} << bits, 0);
  nearest->answers.assign(nearest->keys.size(), 0);
}

uint8_t Nearest(NEAREST* nearest, uint32_t colour) {
  size_t slot = 0;
  if (!nearest->keys.empty()) {
    slot = (colour * 0x9E3779B1u) >> (32 - nearest->bits);
    if (nearest->keys[slot] == colour + 1) return nearest->answers[slot];
  }
  const int red = int(Channel(colour, 0)), green = int(Channel(colour, 1)),
            blue = int(Channel(colour, 2)), sum = red + green + blue;
  const NEAREST::ENTRY* const sorted = nearest->sorted;
  const int n = int(nearest->entries);
  auto distance = [&](const NEAREST::ENTRY& e) {
    const int dr = e.red - red, dg = e.green - green, db = e.blue - blue;
    return dr * dr + dg * dg + db * db;
  };
  // The last answer, often near for a neighbouring pixel, bounds the search from the start.
  uint8_t index = nearest->last;
  int best = distance(sorted[nearest->position[index]]);
  // The first entry of at least this sum, then outward both ways while the sums alone allow an
  // entry nearer: (dr + dg + db)^2 <= 3 (dr^2 + dg^2 + db^2).
  auto consider = [&](const NEAREST::ENTRY& e) {
    const int d = distance(e);
    if (d < best || (d == best && e.index < index)) {
      best = d;
      index = e.index;
    }
  };
  int up = nearest->first[sum], down = up - 1;
  for (; up < n && (sorted[up].sum - sum) * (sorted[up].sum - sum) <= 3 * best; ++up) {
    consider(sorted[up]);
  }
  for (; down >= 0 && (sum - sorted[down].sum) * (sum - sorted[down].sum) <= 3 * best; --down) {
    consider(sorted[down]);
  }
  nearest->last = index;
  if (!nearest->keys.empty()) {
    nearest->keys[slot] = colour + 1;
    nearest->answers[slot] = index;
  }
  return index;
}

unsigned ChoosePalette(std::vector<uint32_t> pixels, unsigned entries,
                       const std::vector<uint32_t>& fixed, uint8_t* palette) {
  std::sort(pixels.begin(), pixels.end());
  std::vector<COUNTED> colours;
  for (size_t i = 0; i < pixels.size();) {
    size_t j = i;
    while (j < pixels.size() && pixels[j] == pixels[i]) ++j;
    colours.push_back({pixels[i], uint32_t(j - i)});
    i = j;
  }
  pixels = {};
  std::vector<uint32_t> chosen;
  if (colours.size() <= entries) {
    for (const COUNTED& c : colours) chosen.push_back(c.colour);
  } else {
    std::vector<BOX> boxes = {{0, colours.size(), SumOf(colours, 0, colours.size())}};
    while (boxes.size() < entries) {
      size_t widest = boxes.size();
      uint64_t spread = 0;
      for (size_t b = 0; b < boxes.size(); ++b) {
        if (boxes[b].end - boxes[b].begin < 2) continue;
        const uint64_t s = boxes[b].sums.Spread();
        if (widest == boxes.size() || s > spread) {
          widest = b;
          spread = s;
        }
      }
      if (widest == boxes.size()) break;
      BOX second;
      Split(colours, boxes[widest], &second);
      boxes.push_back(second);
    }
    for (const BOX& box : boxes) chosen.push_back(box.sums.Mean());

    // k-means: the fixed entries are centres too, but stay where they are.
    const size_t moving = chosen.size();
    std::vector<uint32_t> centres = chosen;
    centres.insert(centres.end(), fixed.begin(), fixed.end());
    std::vector<uint8_t> flat(centres.size() * 3);
    NEAREST nearest;
    for (unsigned round = 0; round < kMaxRounds; ++round) {
      for (size_t i = 0; i < centres.size(); ++i) {
        for (unsigned k = 0; k < 3; ++k) flat[3 * i + k] = uint8_t(Channel(centres[i], k));
      }
      PrepareNearest(&nearest, flat.data(), unsigned(centres.size()), 0);
      std::vector<SUMS> sums(centres.size());
      for (const COUNTED& c : colours) sums[Nearest(&nearest, c.colour)].Add(c);
      bool moved = false;
      for (size_t i = 0; i < moving; ++i) {
        if (sums[i].count == 0) continue;  // no colour nearest: it stays
        const uint32_t mean = sums[i].Mean();
        moved |= mean != centres[i];
        centres[i] = mean;
      }
      if (!moved) break;
    }
    chosen.assign(centres.begin(), centres.begin() + long(moving));
  }
  for (size_t i = 0; i < chosen.size(); ++i) {
    for (unsigned k = 0; k < 3; ++k) palette[3 * i + k] = uint8_t(Channel(chosen[i], k));
  }
  return unsigned(chosen.size());
}

void MapPixels(const uint8_t* rgba, uint32_t width, uint32_t height, const uint8_t* palette,
               unsigned entries, bool dither, int keep, uint8_t* out) {
  NEAREST nearest;
  PrepareNearest(&nearest, palette, entries, size_t{width} * height);
  if (!dither) {
    for (size_t i = 0; i < size_t{width} * height; ++i) {
      if (out[i] == keep) continue;
      const uint8_t* p = rgba + 4 * i;
      out[i] = Nearest(&nearest, Rgb(p[0], p[1], p[2]));
    }
    return;
  }
  // Each row's errors, in sixteenths, one pixel of margin on either side.
  std::vector<int> here((size_t{width} + 2) * 3), next(here.size());
  for (uint32_t y = 0; y < height; ++y) {
    const bool forward = y % 2 == 0;
    std::fill(next.begin(), next.end(), 0);
    for (uint32_t step = 0; step < width; ++step) {
      const uint32_t x = forward ? step : width - 1 - step;
      const size_t i = size_t{y} * width + x;
      if (out[i] == keep) continue;
      int wanted[3];
      for (unsigned k = 0; k < 3; ++k) {
        const int v = rgba[4 * i + k] + ((here[(x + 1) * 3 + k] + kErrorScale / 2) >> 4);
        wanted[k] = std::clamp(v, 0, 255);
      }
      const uint8_t index =
          Nearest(&nearest, Rgb(uint32_t(wanted[0]), uint32_t(wanted[1]), uint32_t(wanted[2])));
      out[i] = index;
      // The columns ahead of this pixel and behind it, in the margin at a row's ends.
      const size_t at = size_t{x} + 1, ahead = forward ? at + 1 : at - 1,
                   behind = forward ? at - 1 : at + 1;
      for (unsigned k = 0; k < 3; ++k) {
        const int error = wanted[k] - palette[3 * index + k];
        here[ahead * 3 + k] += error * 7;
        next[behind * 3 + k] += error * 3;
        next[at * 3 + k] += error * 5;
        next[ahead * 3 + k] += error * 1;
      }
    }
    std::swap(here, next);
  }
}
