// The encoders on any small image: decoding the PCX file must give back the pixels and the
// first 256 palette entries, zero-filled; the PNG file, in any look, the size and the indices.
#include <algorithm>

#include "fuzz_check.h"
#include "images.h"
#include "pcx.h"
#include "png.h"
#include "pcxdecode.h"

using namespace fuzzcheck;

// Input: width, height, two bytes of palette count (0..511), then the bytes that fill the
// pixels and the palette, repeated as often as needed.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr size_t kSizes = 4;
  if (size <= kSizes) return 0;
  const uint32_t width = data[0], height = data[1];
  const uint32_t entries = data[2] | (data[3] & 1u) << 8;
  const uint8_t* fill = data + kSizes;
  const size_t fillSize = size - kSizes;
  Bytes pixels(size_t{width} * height), palette(size_t{entries} * 3);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = fill[i % fillSize];
  for (size_t i = 0; i < palette.size(); ++i) palette[i] = fill[(i * 7 + 3) % fillSize];

  const fs::path path = Root() / "out" / "image.pcx";
  const std::string name = path.string();
  const PCXENCODE image = {name.c_str(), pixels.data(), width, height, palette.data(), entries};
  Check(EncodePCX(&image) == 1, "not written", path);
  const auto decoded = pcxdecode::Decode(ReadFile(path));
  Check(decoded.has_value(), "malformed PCX", path);
  Bytes expected(palette.begin(), palette.begin() + std::min<long>(768, long(palette.size())));
  expected.resize(pcxdecode::kPaletteBytes);
  Check(decoded->width == width && decoded->height == height, "wrong size", path);
  Check(decoded->pixels == pixels, "wrong pixels", path);
  Check(decoded->palette == expected, "wrong palette", path);
  fs::remove(path);

  if (width == 0 || height == 0) return 0;  // no PNG holds such a picture
  const fs::path pngPath = Root() / "out" / "image.png";
  const std::string pngName = pngPath.string();
  const PCXENCODE png = {pngName.c_str(), pixels.data(), width, height, palette.data(), entries};
  Check(EncodePNG(&png, LOOK(data[3] >> 1 & 3)) == 1, "PNG not written", pngPath);
  IMAGE read;
  Check(OpenImage(pngName.c_str(), kPng, &read).empty(), "PNG refused", pngPath);
  Check(DecodeImage(&read).empty(), "PNG not decoded", pngPath);
  Check(read.width == width && read.height == height, "PNG of the wrong size", pngPath);
  if (read.indexed) {
    Check(read.pixels == pixels, "PNG of the wrong pixels", pngPath);
  } else {  // grey levels, each its index
    for (size_t i = 0; i < pixels.size(); ++i) Check(read.pixels[4 * i] == pixels[i], "wrong grey", pngPath);
  }
  fs::remove(pngPath);
  return 0;
}
