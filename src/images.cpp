/* images: the pictures --make reads. PNG, BMP, TGA and JPEG are decoded by stb_image (its plain
 * code, not its SIMD paths, so that every machine gives the same pixels); PCX, and the indices of
 * PNG and BMP images that have a palette, by the walks below, so that a picture keeps the very
 * indices its file holds, repeated palette entries and all.
 *
 * PNG: an 8-byte signature, then chunks up to IEND, each
 *    0  u32 big-endian   length n of its data
 *    4  4                type: IHDR first (width, height, bit depth, colour type, ...), PLTE,
 *                        IDAT (the compressed pixels), IEND last, and others
 *    8  n                data
 *  8+n  u32 big-endian   CRC-32 of the type and the data: stb_image does not check it, we do
 * Of colour type 3 (indexed, at any bit depth), the pixels are decoded by stb_image from the same
 * file with its PLTE replaced by the 256 entries i, 0, 0: each pixel's red is then its index.
 *
 * BMP of 1, 4 or 8 bits, uncompressed: "BM", at 10 a u32 position of the rows, at 14 the u32 size
 * h of the info header (12 for the oldest: u16 width, height, planes, bits; else i32 width,
 * height, a negative height for rows top to bottom, u16 planes, bits, u32 compression, ...), and
 * after it the palette up to the rows, of blue, green, red (and a fourth byte but where h = 12).
 * The rows bottom to top unless the height is negative, each padded to a multiple of 4 bytes.
 *
 * stb_image takes a file for whatever kind its first bytes say: each is checked to be of the kind
 * its ending names first, so that no file reaches a decoder by another name.
 *
 * JPEG: markers 0xFF and a byte; after SOI, segments of a u16 big-endian length (itself counted),
 * the compressed data after each SOS running to the next marker. stb_image trusts each Huffman
 * table's counts (DHT: a class and id byte, 16 counts, as many symbols as they add up to, 256 at
 * most), and uses tables a file never defines: the segments are walked first, a table of more
 * symbols is refused, and so is a scan (SOS: a count of components, each an id and its DC and AC
 * tables, then the first and last coefficient) whose tables, or whose frame's quantization
 * tables (SOF0 to SOF2: each component's id, sampling, and DQT table), were not defined.
 *
 * PCX of 8 bits in one plane (as the extraction writes it; its layout is drawn in pcx.cpp):
 * the rows, each `bytes per row` long, run-length coded, and the last 769 bytes 0x0C and the
 * palette.
 */
#include "images.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

// One decoder for every platform and for wad3.wasm: its own plain code, reading from memory.
#define STBI_ONLY_PNG
#define STBI_ONLY_BMP
#define STBI_ONLY_TGA
#define STBI_ONLY_JPEG
#define STBI_NO_SIMD
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_NO_THREAD_LOCALS
#define STBI_MAX_DIMENSIONS kMaxSide
// Zeroed, so that what a broken file leaves unset (a table it never defines) reads the same on
// every machine, not as whatever the heap held.
#define STBI_MALLOC(size) calloc(1, size)
#define STBI_REALLOC(pointer, size) realloc(pointer, size)
#define STBI_FREE(pointer) free(pointer)
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

#include "pngrows.h"

namespace {

constexpr uint64_t kMaxFile = uint64_t{1} << 28; /* 256 MiB: a 2048 x 2048 image sixteen times over */

constexpr uint8_t kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr size_t kChunkFrame = 12; /* length, type, CRC */
constexpr uint32_t kIhdrSize = 13;
constexpr uint8_t kPngIndexed = 3;

constexpr size_t kBmpFileHeader = 14;
constexpr size_t kBmpCoreHeader = 12, kBmpInfoHeader = 40;
constexpr uint32_t kBmpUncompressed = 0;

constexpr uint8_t kJpegMarker = 0xFF, kJpegStart = 0xD8, kJpegEnd = 0xD9, kJpegScan = 0xDA;
constexpr uint8_t kJpegHuffman = 0xC4, kJpegRestart = 0xD0, kJpegLastRestart = 0xD7;
constexpr uint8_t kJpegQuantization = 0xDB, kJpegFrame = 0xC0, kJpegLastFrame = 0xC2;
constexpr size_t kHuffmanCounts = 16, kHuffmanSymbols = 256;

constexpr size_t kTgaHeader = 18;

constexpr size_t kPcxHeader = 128, kPcxPaletteBlock = 769;
constexpr uint8_t kPcxMaker = 0x0A, kPcxRle = 1, kPcxPaletteMarker = 0x0C;
constexpr unsigned kPcxRunFlag = 0xC0, kPcxRunMask = 0x3F;

struct FileCloser {
  void operator()(FILE* fp) const { fclose(fp); }
};

uint32_t Big32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
uint32_t Little16(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8;
}
uint32_t Little32(const uint8_t* p) {
  return Little16(p) | Little16(p + 2) << 16;
}
// Walks the chunks, checking each one's length and CRC. Of an indexed image, keeps its palette
// and builds in `indexed` the same image with the palette that makes each pixel's red its index.
std::string WalkPng(IMAGE* image, std::vector<uint8_t>* indexed) {
  const std::vector<uint8_t>& file = image->file;
  if (file.size() < sizeof kPngSignature ||
      memcmp(file.data(), kPngSignature, sizeof kPngSignature) != 0) {
    return "not a PNG file";
  }
  uint8_t colourType = 0;
  bool ended = false, rowsBegun = false, rowsEnded = false;
  std::vector<uint8_t> idat;
  for (size_t at = sizeof kPngSignature, first = at; !ended; first = 0) {
    if (file.size() - at < kChunkFrame) return "truncated";
    const uint32_t length = Big32(&file[at]);
    if (length > file.size() - at - kChunkFrame) return "truncated";
    const uint8_t* type = &file[at + 4];
    const uint8_t* data = type + 4;
    if (Crc32(type, size_t{length} + 4) != Big32(data + length)) {
      return "a chunk's checksum is wrong";
    }
    const std::string_view name(reinterpret_cast<const char*>(type), 4);
    if ((first != 0) != (name == "IHDR")) return "not a PNG file: IHDR is not its first chunk";
    // The rows' chunks one after another, the palette before them, as libpng insists.
    if (name == "IDAT") {
      if (rowsEnded) return "its chunks are out of order";
      rowsBegun = true;
    } else if (rowsBegun) {
      rowsEnded = true;
      if (name == "PLTE") return "its chunks are out of order";
    }
    if (name == "IHDR") {
      if (length != kIhdrSize) return "a corrupt IHDR chunk";
      image->width = Big32(data);
      image->height = Big32(data + 4);
      colourType = data[9];
      if (indexed != nullptr) indexed->assign(file.begin(), file.begin() + long(at + 25));
    } else if (name == "PLTE" && colourType == kPngIndexed) {
      memcpy(image->palette, data, std::min<size_t>(length, kPaletteBytes));
    } else if (name == "tRNS" && colourType == kPngIndexed) {
      image->alpha = std::any_of(data, data + length, [](uint8_t a) { return a != 0xFF; });
    } else if (name == "IDAT" && indexed != nullptr) {
      idat.insert(idat.end(), type - 4, data + length + 4);
    } else if (name == "IEND") {
      ended = true;
    }
    at += kChunkFrame + length;
  }
  image->indexed = colourType == kPngIndexed;
  if (image->indexed && indexed != nullptr) {
    uint8_t ramp[kPaletteBytes] = {};
    for (unsigned i = 0; i < kPaletteEntries; ++i) ramp[3 * i] = static_cast<uint8_t>(i);
    AppendChunk(*indexed, "PLTE", ramp, sizeof ramp);
    indexed->insert(indexed->end(), idat.begin(), idat.end());
    AppendChunk(*indexed, "IEND", nullptr, 0);
  }
  return {};
}

uint32_t Big16(const uint8_t* p) {
  return uint32_t{p[0]} << 8 | p[1];
}

// Walks a JPEG's segments up to its end, checking each Huffman table's count of symbols, and that
// every table a scan uses was defined before it.
std::string WalkJpeg(const std::vector<uint8_t>& file) {
  if (file.size() < 2 || file[0] != kJpegMarker || file[1] != kJpegStart) return "not a JPEG file";
  unsigned huffman = 0, quantization = 0, used = 0;  // a bit for each table defined or used
  for (size_t at = 2; at + 1 < file.size();) {
    if (file[at] != kJpegMarker) return "a corrupt JPEG marker";
    const uint8_t marker = file[at + 1];
    at += 2;
    if (marker == kJpegEnd) break;
    if (marker == kJpegMarker || (marker >= kJpegRestart && marker <= kJpegLastRestart)) {
      at -= marker == kJpegMarker ? 1 : 0;  // a fill byte, or a restart: no length
      continue;
    }
    if (file.size() - at < 2) return "truncated";
    const size_t length = Big16(&file[at]), end = at + length;
    if (length < 2 || end > file.size()) return "truncated";
    const uint8_t* const segment = &file[at + 2];
    const size_t size = length - 2;
    if (marker == kJpegHuffman) {
      for (size_t table = 0; table < size;) {
        if (size - table < 1 + kHuffmanCounts) return "a corrupt Huffman table";
        size_t symbols = 0;
        for (size_t i = 1; i <= kHuffmanCounts; ++i) symbols += segment[table + i];
        if (symbols > kHuffmanSymbols || size - table - 1 - kHuffmanCounts < symbols) {
          return "a corrupt Huffman table";
        }
        huffman |= 1u << ((segment[table] >> 4 & 1) * 4 + (segment[table] & 3));
        table += 1 + kHuffmanCounts + symbols;
      }
    } else if (marker == kJpegQuantization) {
      for (size_t table = 0; table < size;) {
        const size_t bytes = 1 + ((segment[table] >> 4) != 0 ? 128 : 64);
        if (size - table < bytes) return "a corrupt quantization table";
        quantization |= 1u << (segment[table] & 3);
        table += bytes;
      }
    } else if (marker >= kJpegFrame && marker <= kJpegLastFrame) {
      if (size < 6 || size < 6 + 3 * size_t{segment[5]}) return "a corrupt frame header";
      for (size_t c = 0; c < segment[5]; ++c) used |= 1u << (segment[6 + 3 * c + 2] & 3);
    } else if (marker == kJpegScan) {
      if (size < 1 || size < 1 + 2 * size_t{segment[0]} + 3) return "a corrupt scan header";
      const uint8_t first = segment[1 + 2 * segment[0]], last = segment[2 + 2 * segment[0]];
      unsigned needed = 0;
      for (size_t c = 0; c < segment[0]; ++c) {
        const uint8_t tables = segment[2 + 2 * c];
        if (first == 0) needed |= 1u << (tables >> 4 & 3);       // DC
        if (last != 0) needed |= 1u << (4 + (tables & 3));        // AC
      }
      if ((needed & ~huffman) != 0) return "a scan uses a Huffman table it never defined";
      if ((used & ~quantization) != 0) return "a frame uses a quantization table it never defined";
    }
    at = end;
    if (marker == kJpegScan) {  // the compressed data: to a marker that is no stuffed 0xFF 00
      while (at + 1 < file.size() &&
             !(file[at] == kJpegMarker && file[at + 1] != 0 &&
               (file[at + 1] < kJpegRestart || file[at + 1] > kJpegLastRestart))) {
        ++at;
      }
    }
  }
  return {};
}

// Where a BMP keeps its palette and rows, for one of at most 8 bits a pixel.
struct BMPLAYOUT {
  uint32_t bits = 0;
  bool topDown = false;
  size_t palette = 0, entrySize = 0, entries = 0, rows = 0;
};

// The layout of a BMP of at most 8 bits a pixel, or one with bits 0 for any other, which
// stb_image reads.
std::string BmpLayout(IMAGE* image, BMPLAYOUT* layout) {
  const std::vector<uint8_t>& file = image->file;
  if (file.size() < kBmpFileHeader + kBmpCoreHeader || file[0] != 'B' || file[1] != 'M') {
    return "not a BMP file";
  }
  const uint8_t* info = &file[kBmpFileHeader];
  const uint32_t rows = Little32(&file[10]), size = Little32(info);
  if (size == kBmpCoreHeader) {
    image->width = Little16(info + 4);
    image->height = Little16(info + 6);
    layout->bits = Little16(info + 10);
    layout->entrySize = 3;
  } else {
    if (size < kBmpInfoHeader || file.size() < kBmpFileHeader + kBmpInfoHeader) return "truncated";
    const auto height = static_cast<int32_t>(Little32(info + 8));
    image->width = Little32(info + 4);
    layout->topDown = height < 0;
    image->height = layout->topDown ? 0u - static_cast<uint32_t>(height) : uint32_t(height);
    layout->bits = Little16(info + 14);
    layout->entrySize = 4;
    if (layout->bits <= 8 && Little32(info + 16) != kBmpUncompressed) {
      return "a compressed BMP of 8 bits or fewer, which is not read";
    }
  }
  if (layout->bits > 8) {
    layout->bits = 0;
    return {};
  }
  if (layout->bits != 1 && layout->bits != 4 && layout->bits != 8) return "a corrupt BMP header";
  layout->palette = kBmpFileHeader + size;
  layout->rows = rows;
  if (rows < layout->palette || rows > file.size()) return "truncated";
  layout->entries = std::min<size_t>((rows - layout->palette) / layout->entrySize,
                                     size_t{1} << layout->bits);
  image->indexed = true;
  return {};
}

// The indices of a BMP of 1, 4 or 8 bits, and its palette.
std::string DecodeBmp(IMAGE* image, const BMPLAYOUT& layout) {
  const std::vector<uint8_t>& file = image->file;
  for (size_t i = 0; i < layout.entries; ++i) {
    const uint8_t* entry = &file[layout.palette + i * layout.entrySize];
    image->palette[3 * i] = entry[2];
    image->palette[3 * i + 1] = entry[1];
    image->palette[3 * i + 2] = entry[0];
  }
  const uint64_t rowBytes = (uint64_t{image->width} * layout.bits + 31) / 32 * 4;
  if (rowBytes * image->height > file.size() - layout.rows) return "truncated";
  const auto stride = static_cast<size_t>(rowBytes);  // the rows lie in the file: a size_t holds them
  image->pixels.resize(size_t{image->width} * image->height);
  if (image->pixels.empty()) return {};  // a side of 0: no row to read, and the caller says so
  const unsigned perByte = 8 / layout.bits, mask = (1u << layout.bits) - 1;
  for (uint32_t y = 0; y < image->height; ++y) {
    const uint8_t* row = &file[layout.rows + size_t{layout.topDown ? y : image->height - 1 - y} * stride];
    uint8_t* out = &image->pixels[size_t{y} * image->width];
    for (uint32_t x = 0; x < image->width; ++x) {
      const unsigned shift = 8 - layout.bits * (x % perByte + 1);
      out[x] = static_cast<uint8_t>(uint32_t{row[x / perByte]} >> shift & mask);
    }
  }
  return {};
}

// The size of an 8-bit, one-plane PCX with a 256-colour palette, and that palette.
std::string PcxLayout(IMAGE* image) {
  const std::vector<uint8_t>& file = image->file;
  if (file.size() < kPcxHeader || file[0] != kPcxMaker) return "not a PCX file";
  const uint8_t* head = file.data();
  const uint32_t left = Little16(head + 4), top = Little16(head + 6);
  const uint32_t right = Little16(head + 8), bottom = Little16(head + 10);
  if (head[2] != kPcxRle || head[3] != 8 || head[65] != 1 ||
      file.size() < kPcxHeader + kPcxPaletteBlock ||
      file[file.size() - kPcxPaletteBlock] != kPcxPaletteMarker) {
    return "not a PCX file of 8 bits in one plane with a 256-colour palette";
  }
  if (right < left || bottom < top || Little16(head + 66) < right - left + 1) {
    return "a corrupt PCX header";
  }
  image->width = right - left + 1;
  image->height = bottom - top + 1;
  image->indexed = true;
  memcpy(image->palette, &file[file.size() - kPaletteBytes], kPaletteBytes);
  return {};
}

// Whether the run-length codes of a PCX hold all its rows' bytes before its palette, told without
// decoding them.
bool PcxComplete(const IMAGE& image) {
  const std::vector<uint8_t>& file = image.file;
  const uint8_t* at = file.data() + kPcxHeader;
  const uint8_t* const end = file.data() + file.size() - kPcxPaletteBlock;
  const size_t total = size_t{Little16(&file[66])} * image.height;
  size_t made = 0;
  while (made < total && at < end) {
    const bool counted = (*at & kPcxRunFlag) == kPcxRunFlag;
    made += counted ? *at & kPcxRunMask : 1;
    at += counted ? 2 : 1;
  }
  return made >= total && at <= end;
}

// The rows of a PCX, each its header's bytes per row long, of which the image keeps its width.
// A run may go on into the next row, as some writers let it.
std::string DecodePcx(IMAGE* image) {
  const std::vector<uint8_t>& file = image->file;
  const uint8_t* at = file.data() + kPcxHeader;
  const uint8_t* const end = file.data() + file.size() - kPcxPaletteBlock;
  const size_t stride = Little16(&file[66]), width = image->width;
  image->pixels.resize(width * image->height);
  size_t run = 0;
  uint8_t value = 0;
  for (uint32_t y = 0; y < image->height; ++y) {
    uint8_t* const row = &image->pixels[y * width];
    for (size_t x = 0; x < stride;) {
      if (run == 0) {
        if (at >= end) return "truncated";
        value = *at++;
        run = 1;
        if ((value & kPcxRunFlag) == kPcxRunFlag) {
          if (at >= end) return "truncated";
          run = value & kPcxRunMask;
          value = *at++;
        }
      }
      const size_t n = std::min(run, stride - x);
      if (n == 1) {  // most of a texture's bytes: no call of memset for them
        if (x < width) row[x] = value;
      } else if (x < width) {
        memset(row + x, value, std::min(n, width - x));
      }
      x += n;
      run -= n;
    }
  }
  return {};
}

// What stb_image's reason for a failure means.
std::string StbFailure() {
  const std::string reason = stbi_failure_reason() != nullptr ? stbi_failure_reason() : "";
  if (reason == "outofmem" || reason.empty()) return "too large for the memory at hand";
  if (reason.find("sig") != std::string::npos || reason == "unknown image type") {
    return "not an image of its kind";
  }
  return "corrupt (" + reason + ")";
}

}  // namespace

IMAGEKIND ImageKind(std::string_view name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return kNoImage;
  std::string ending(name.substr(dot + 1));
  for (char& c : ending) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  if (ending == "png") return kPng;
  if (ending == "bmp") return kBmp;
  if (ending == "tga") return kTga;
  if (ending == "jpg" || ending == "jpeg") return kJpeg;
  if (ending == "pcx") return kPcx;
  return kNoImage;
}

std::string OpenImage(const char* path, IMAGEKIND kind, IMAGE* image) {
  *image = IMAGE{};
  image->kind = kind;
  const std::unique_ptr<FILE, FileCloser> file(fopen(path, "rb"));
  if (!file) return "cannot be opened";
  struct stat status;
  if (fstat(fileno(file.get()), &status) != 0) return "cannot be read";
  const auto size = static_cast<uint64_t>(status.st_size);
  if (size > kMaxFile) return "larger than 256 MiB";
  image->file.resize(static_cast<size_t>(size));
  if (fread(image->file.data(), 1, image->file.size(), file.get()) != image->file.size() ||
      ferror(file.get()) != 0) {
    return "cannot be read";
  }
  std::string problem;
  BMPLAYOUT layout;
  switch (kind) {
    case kPng:
      problem = WalkPng(image, nullptr);
      break;
    case kJpeg:
      problem = WalkJpeg(image->file);
      break;
    case kTga:  // no magic: its colour-map type, 0 or 1, tells it from the others stb_image reads
      if (image->file.size() < kTgaHeader || image->file[1] > 1) problem = "not a TGA file";
      break;
    case kPcx:
      problem = PcxLayout(image);
      if (problem.empty() && !PcxComplete(*image)) problem = "truncated";
      return problem;
    case kBmp:
      problem = BmpLayout(image, &layout);
      if (!problem.empty() || image->indexed) return problem;
      break;
    default:
      break;
  }
  if (!problem.empty()) return problem;
  int width, height, channels;
  if (image->file.size() > INT32_MAX ||
      stbi_info_from_memory(image->file.data(), static_cast<int>(image->file.size()), &width,
                            &height, &channels) == 0) {
    return StbFailure();
  }
  image->width = static_cast<uint32_t>(width);
  image->height = static_cast<uint32_t>(height);
  return {};
}

std::string DecodeImage(IMAGE* image) {
  std::string problem;
  if (image->width > kMaxSide || image->height > kMaxSide) return "too large";
  const size_t pixels = size_t{image->width} * image->height;
  if (image->kind == kPcx) {
    problem = DecodePcx(image);
  } else if (image->kind == kBmp && image->indexed) {
    BMPLAYOUT layout;
    problem = BmpLayout(image, &layout);
    if (problem.empty()) problem = DecodeBmp(image, layout);
  } else {
    std::vector<uint8_t> indexed;
    if (image->kind == kPng && image->indexed) problem = WalkPng(image, &indexed);
    const std::vector<uint8_t>& source = indexed.empty() ? image->file : indexed;
    int width, height, channels;
    const int wanted = image->indexed ? 3 : static_cast<int>(kChannels);
    // A reason left from an earlier call (stbi_info's tests of other kinds) is none of this one's:
    // stb_image runs out of memory in places that leave no reason of their own.
    stbi__g_failure_reason = nullptr;
    stbi_uc* decoded =
        problem.empty() ? stbi_load_from_memory(source.data(), static_cast<int>(source.size()),
                                                &width, &height, &channels, wanted)
                        : nullptr;
    if (problem.empty() && decoded == nullptr) problem = StbFailure();
    if (decoded != nullptr) {
      const std::unique_ptr<stbi_uc, void (*)(void*)> owned(decoded, stbi_image_free);
      if (uint32_t(width) != image->width || uint32_t(height) != image->height) {
        problem = "a corrupt header";
      } else if (image->indexed) {
        image->pixels.resize(pixels);
        for (size_t i = 0; i < pixels; ++i) image->pixels[i] = decoded[3 * i];
      } else {
        image->pixels.assign(decoded, decoded + pixels * kChannels);
        for (size_t i = 0; i < pixels && !image->alpha; ++i) {
          image->alpha = decoded[kChannels * i + 3] != 0xFF;
        }
      }
    }
  }
  image->file = {};
  return problem;
}
