// Writes the bundled sample package: a few small textures that look like what they are named.
//   build/make-sample examples/sample.wad
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "wadpack.h"

namespace {

using wadpack::Bytes;
using wadpack::Texture;

// A palette of `count` entries fading from colour `from` to colour `to`.
Bytes Ramp(uint32_t from, uint32_t to, unsigned count) {
  Bytes palette;
  for (unsigned i = 0; i < count; ++i) {
    for (unsigned shift : {16u, 8u, 0u}) {
      const double a = (from >> shift) & 0xFF, b = (to >> shift) & 0xFF;
      palette.push_back(static_cast<uint8_t>(a + (b - a) * i / (count > 1 ? count - 1 : 1)));
    }
  }
  return palette;
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A small fixed pseudo-random sequence, so that every run writes the same package.
unsigned Noise(unsigned& state, unsigned range) {
  state = state * 1103515245u + 12345u;
  return (state >> 16) % range;
}

template <typename Shade>
Texture Paint(const char* name, uint32_t width, uint32_t height, Bytes palette, Shade shade) {
  Texture t;
  t.name = name;
  t.width = width;
  t.height = height;
  t.pixels.resize(width * height);
  t.palette = palette;
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x)
      t.pixels[y * width + x] = static_cast<uint8_t>(shade(x, y));
  }
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fputs("usage: make-sample OUTPUT.wad\n", stderr);
    return 2;
  }
  unsigned seed = 1;
  // Bricks in running bond: indices 0..191 brick red, 192..255 mortar grey.
  const Texture bricks =
      Paint("bricks", 64, 64, Ramp(0x5A1E12, 0xC0603A, 192) + Ramp(0x6E6A60, 0xB8B2A4, 64),
            [&](uint32_t x, uint32_t y) {
              const uint32_t shift = (y / 16) % 2 * 16;
              if (y % 16 >= 14 || (x + shift) % 32 >= 30) return 192 + Noise(seed, 64);
              return (x + shift) / 32 * 40 % 96 + Noise(seed, 96);
            });
  // A sky that fades from deep blue at the top to haze at the horizon, lightly dithered.
  const Texture sky =
      Paint("sky", 128, 64, Ramp(0x10307A, 0xC8DCF0, 256),
            [&](uint32_t, uint32_t y) { return std::min(255u, y * 4 + Noise(seed, 4)); });
  // An odd-sized checker board with a 16-entry palette.
  const Texture checker =
      Paint("checker", 45, 45, Ramp(0x202020, 0xE0E0E0, 16),
            [](uint32_t x, uint32_t y) { return (x / 9 + y / 9) % 2 ? 15 : 2; });
  // A chain-link fence; index 255, pure blue, is the see-through colour of '{' textures.
  const Texture fence = Paint("{fence", 64, 64, Ramp(0x404848, 0xC8D0D0, 255) + Bytes{0, 0, 255},
                              [](uint32_t x, uint32_t y) {
                                const uint32_t d1 = (x + y) % 16, d2 = (x + 64 - y) % 16;
                                if (d1 < 2 || d2 < 2) return 128u + 60 * (d1 == 0 || d2 == 0);
                                return 255u;
                              });
  // Water: two crossing swells in blue-green.
  const Texture water =
      Paint("!water", 64, 64, Ramp(0x0A2A3A, 0x5AB0B8, 256), [](uint32_t x, uint32_t y) {
        const double pi = 3.14159265358979;
        const double wave =
            std::sin(x * pi / 16 + std::sin(y * pi / 32) * 2) + std::cos(y * pi / 8);
        return static_cast<unsigned>(127.5 + wave * 63);
      });

  const Bytes package = wadpack::Package({bricks, sky, checker, fence, water});
  FILE* out = fopen(argv[1], "wb");
  if (out == nullptr || fwrite(package.data(), 1, package.size(), out) != package.size() ||
      fclose(out) != 0) {
    perror(argv[1]);
    return 1;
  }
  return 0;
}
