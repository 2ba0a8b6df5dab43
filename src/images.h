// Images read for --make: PNG, BMP, TGA and JPEG through stb_image, PCX by a reader of our own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The kinds of image read, by the file's ending.
enum IMAGEKIND { kNoImage, kPng, kBmp, kTga, kJpeg, kPcx };

// The image kind a file name's ending names (".png", ".JPG", ...), in any case, or kNoImage.
IMAGEKIND ImageKind(std::string_view name);

constexpr unsigned kPaletteEntries = 256;
constexpr unsigned kPaletteBytes = kPaletteEntries * 3;
constexpr unsigned kChannels = 4;   /* red, green, blue, alpha */
constexpr uint32_t kMaxSide = 2048; /* four times the largest texture the game loads */

// One image as read: an 8-bit PCX, a PNG of colour type 3 or a BMP of at most 8 bits keeps its
// indices and palette (the entries it lacks 0 0 0); any other is colours.
struct IMAGE {
  IMAGEKIND kind = kNoImage;
  std::vector<uint8_t> file;  // the file's bytes, until the pixels are decoded
  uint32_t width = 0;
  uint32_t height = 0;
  bool indexed = false;
  std::vector<uint8_t> pixels;  // indexed: an index a pixel; else red, green, blue, alpha
  uint8_t palette[kPaletteBytes] = {};
  bool alpha = false;  // some pixel less than opaque
};

// Reads the file `path`, an image of `kind`, checks its layout and finds its size. Returns an
// empty text, or what is wrong with the file ("truncated", "a chunk's checksum is wrong").
std::string OpenImage(const char* path, IMAGEKIND kind, IMAGE* image);

// Decodes the pixels of an image OpenImage took, then lets go of its file's bytes. Returns an
// empty text, or what is wrong with them.
std::string DecodeImage(IMAGE* image);
