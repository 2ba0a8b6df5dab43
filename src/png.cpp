/* png: one 8-bit palettised picture as a PNG file, each palette entry given the colour and
 * opacity the game draws it with (its look). The same file whether `wad3 --png` writes it or the
 * page saves it through wad3.wasm (png_batch below).
 *
 * Signature, 8 bytes: 0x89 "PNG" 0x0D 0x0A 0x1A 0x0A. Then chunks, every number big-endian:
 *    0  u32   length n of its data
 *    4  4     type
 *    8  n     data
 *  8+n  u32   CRC-32 of the type and the data
 * Chunks, in this order:
 *   IHDR  u32 width, u32 height, u8 8 bits, u8 colour type 3 (palette), or 0 (grey) for an
 *         opaque picture whose palette is the grey ramp, u8 0 deflate, u8 0 filters, u8 0 no
 *         interlace
 *   PLTE  (not for grey) 256 entries of red, green, blue; a shorter palette padded with black
 *   tRNS  (looks with any entry not opaque) an opacity byte per entry, up to the last one that
 *         is not opaque
 *   IDAT  the zlib stream of the rows (pngrows.cpp), in chunks of kMaxIdat bytes but the last
 *   IEND  no data
 * PNG has no picture without pixels: a side of 0 is none of ours to write (picture.cpp writes
 * such a picture as a PCX file).
 */
#include "png.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>

#include "pngrows.h"

namespace {

constexpr uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr size_t kChunkFrame = 12; /* length, type, CRC */
constexpr uint8_t kBitDepth = 8;
constexpr uint8_t kGreyType = 0, kPaletteType = 3;
constexpr uint32_t kEntries = 256;
constexpr uint32_t kLast = kEntries - 1; /* the entry masks and decals make transparent */
constexpr uint8_t kOpaque = 255;
constexpr uint8_t kBlue[3] = {0, 0, 255}; /* a decal whose entry 255 is this is masked instead */
constexpr size_t kMaxIdat = size_t{1} << 30;   /* a chunk's length is 31 bits */
constexpr uint64_t kMaxRows = SIZE_MAX / 4;   /* room for the rows and their stream in memory */

}  // namespace

std::vector<uint8_t> PngFile(const uint8_t* pixels, uint32_t width, uint32_t height,
                             const uint8_t* palette, LOOK look) {
  const uint8_t* last = palette + 3 * kLast;
  if (look == kLookDecal && std::equal(last, last + 3, kBlue)) look = kLookMasked;
  const bool grey = look == kLookOpaque && IsGreyRamp(palette);
  uint8_t colours[kPaletteSize], alpha[kEntries];
  memset(alpha, kOpaque, sizeof alpha);
  if (look == kLookDecal || look == kLookIndexAlpha) {
    for (uint32_t i = 0; i < kEntries; ++i) {
      memcpy(colours + 3 * i, last, 3);
      alpha[i] = static_cast<uint8_t>(look == kLookDecal ? kLast - i : i);
    }
  } else {
    memcpy(colours, palette, kPaletteSize);
    if (look == kLookMasked) alpha[kLast] = 0;
  }
  size_t opacities = kEntries;
  while (opacities > 0 && alpha[opacities - 1] == kOpaque) --opacities;

  if ((uint64_t{width} + 1) * height > kMaxRows) return {};
  const std::vector<uint8_t> rows = PngRows(pixels, width, height, grey);
  const uint8_t header[] = {uint8_t(width >> 24),  uint8_t(width >> 16),  uint8_t(width >> 8),
                            uint8_t(width),        uint8_t(height >> 24), uint8_t(height >> 16),
                            uint8_t(height >> 8),  uint8_t(height),       kBitDepth,
                            grey ? kGreyType : kPaletteType, 0, 0, 0};
  std::vector<uint8_t> file(std::begin(kSignature), std::end(kSignature));
  file.reserve(sizeof kSignature + 5 * kChunkFrame + sizeof header + kPaletteSize + kEntries +
               rows.size());
  AppendChunk(file, "IHDR", header, sizeof header);
  if (!grey) AppendChunk(file, "PLTE", colours, kPaletteSize);
  if (opacities != 0) AppendChunk(file, "tRNS", alpha, opacities);
  for (size_t at = 0; at == 0 || at < rows.size(); at += kMaxIdat) {
    AppendChunk(file, "IDAT", rows.data() + at, std::min(kMaxIdat, rows.size() - at));
  }
  AppendChunk(file, "IEND", nullptr, 0);
  return file;
}

int EncodePNG(const PCXENCODE* Encode, LOOK look) {
  const PCXENCODE& image = *Encode;
  FILE* fp = CreateImage(Encode);  // the extraction's bounds, so that both write the same pictures
  if (fp == nullptr) return 0;
  uint8_t palette[kPaletteSize] = {};  // the entries a palette lacks are black
  if (image.PaletteSize != 0) {
    memcpy(palette, image.Palette, std::min<size_t>(size_t{image.PaletteSize} * 3, kPaletteSize));
  }
  std::vector<uint8_t> file;  // empty where memory ran out, or the rows pass what it can address
#if defined(__cpp_exceptions)
  try {
#endif
    file = PngFile(image.ImageData, image.Width, image.Height, palette, look);
#if defined(__cpp_exceptions)
  } catch (const std::bad_alloc&) {
    file.clear();
  }
#endif
  if (file.empty()) {
    fclose(fp);
    remove(image.FileName);
    printf("Out of memory : %s\n", image.FileName);
    return 0;
  }
  const bool made = fwrite(file.data(), 1, file.size(), fp) == file.size();
  // A full disk shows up only when the buffer is flushed: check the stream and the close.
  const bool failed = !made || ferror(fp) != 0;
  if (fclose(fp) != 0 || failed) {
    printf("Could not write : %s\n", image.FileName);
    remove(image.FileName);
    return 0;
  }
  return 1;
}

#ifdef __wasi__
// What the page's workers call, with no run of the program: PCX files the program wrote go into
// the room png_input gives, followed by a u32 position, a u32 length and a u32 look for each,
// and png_batch leaves at png_output, for each, a u32 length, the u32 CRC-32 of its PNG file
// and the file (length 0: the file was none the program writes, or had no pixels). Plain
// pointers, so that nothing here needs constructing or destroying between calls.
namespace {
uint8_t* input = nullptr;
size_t inputRoom = 0;
uint8_t* output = nullptr;
constexpr size_t kPlace = 12; /* position, length, look */
}  // namespace

extern "C" __attribute__((export_name("png_input"))) uint8_t* PngInput(uint32_t size) {
  if (size > inputRoom) {
    free(input);
    input = static_cast<uint8_t*>(malloc(size));
    inputRoom = input != nullptr ? size : 0;
  }
  return input;
}

// The length of what lies at png_output, or 0 where there was no room.
extern "C" __attribute__((export_name("png_batch"))) uint32_t PngBatch(uint32_t bytes, uint32_t count) {
  if (input == nullptr || bytes > inputRoom || (inputRoom - bytes) / kPlace < count) return 0;
  std::vector<uint8_t> made, pixels;
  for (uint32_t k = 0; k < count; ++k) {
    uint32_t place[3], width = 0, height = 0;
    std::memcpy(place, input + bytes + kPlace * size_t{k}, sizeof place);
    std::vector<uint8_t> png;
    if (place[0] <= bytes && place[1] <= bytes - place[0] && place[2] < kLooks &&
        PcxPixels(input + place[0], place[1], &width, &height, &pixels) && width > 0 && height > 0) {
      const uint8_t* palette = input + place[0] + place[1] - kPaletteSize;
      png = PngFile(pixels.data(), width, height, palette, static_cast<LOOK>(place[2]));
    }
    const uint32_t fields[2] = {static_cast<uint32_t>(png.size()), Crc32(png.data(), png.size())};
    const uint8_t* raw = reinterpret_cast<const uint8_t*>(fields);
    made.insert(made.end(), raw, raw + sizeof fields);
    made.insert(made.end(), png.begin(), png.end());
  }
  free(output);
  output = static_cast<uint8_t*>(malloc(made.size()));
  if (output == nullptr) return 0;
  std::memcpy(output, made.data(), made.size());
  return static_cast<uint32_t>(made.size());
}

extern "C" __attribute__((export_name("png_output"))) const uint8_t* PngOutput() { return output; }
#endif
