// Decodes a PCX file the way a reader would, refusing anything malformed.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace pcxdecode {

using Bytes = std::vector<uint8_t>;

constexpr size_t kHeader = 128;
constexpr size_t kPaletteBytes = 768;

struct Image {
  uint32_t width = 0, height = 0;
  Bytes pixels;   // width * height palette indices
  Bytes palette;  // the 768 bytes at the end of the file
  bool operator==(const Image&) const = default;
};

inline unsigned Field16(const Bytes& file, size_t at) {
  return file[at] | unsigned{file[at + 1]} << 8;
}

// The image, or nothing when the header, a row or the palette block is malformed.
inline std::optional<Image> Decode(const Bytes& file) {
  if (file.size() < kHeader + 1 + kPaletteBytes) return std::nullopt;
  const Bytes start = {0x0A, 5, 1, 8, 0, 0, 0, 0};
  if (!std::equal(start.begin(), start.end(), file.begin()) || file[65] != 1) return std::nullopt;
  Image image;
  image.width = Field16(file, 66);
  image.height = static_cast<uint16_t>(Field16(file, 10) + 1);
  if (static_cast<uint16_t>(Field16(file, 8) + 1) != image.width) return std::nullopt;
  const size_t end = file.size() - 1 - kPaletteBytes;
  size_t at = kHeader;
  for (size_t row = 0; row < image.height; ++row) {
    const size_t rowEnd = image.pixels.size() + image.width;
    while (image.pixels.size() < rowEnd && at < end) {
      const unsigned count = file[at] >= 0xC0 ? file[at++] & 0x3Fu : 1;
      if (count == 0 || at == end) return std::nullopt;
      image.pixels.insert(image.pixels.end(), count, file[at++]);
    }
    if (image.pixels.size() != rowEnd) return std::nullopt;  // cut short, or run into the next row
  }
  if (at != end || file[end] != 0x0C) return std::nullopt;
  image.palette.assign(file.end() - kPaletteBytes, file.end());
  return image;
}

}  // namespace pcxdecode
