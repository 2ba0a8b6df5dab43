#include "pcx.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "pcxdecode.h"
#include "scratch.h"

namespace {

using pcxdecode::Bytes;
using pcxdecode::Field16;
using pcxdecode::kHeader;
constexpr size_t kPaletteBlock = 1 + pcxdecode::kPaletteBytes;

struct Encoded {
  int result;
  std::string line;  // what EncodePCX printed
  Bytes file;        // empty when no file was left
};

// Encodes into a folder of its own, which is gone again afterwards.
Encoded Encode(uint32_t width, uint32_t height, const Bytes& pixels, const Bytes& palette = {}) {
  const std::filesystem::path folder = scratch::MakeFolder("wad3-pcx-test-");
  const std::string path = (folder / "image.pcx").string();
  const PCXENCODE image = {path.c_str(), pixels.data(),  width,
                           height,       palette.data(), static_cast<uint32_t>(palette.size() / 3)};
  testing::internal::CaptureStdout();
  const int result = EncodePCX(&image);
  std::string line = testing::internal::GetCapturedStdout();
  if (const size_t at = line.find(path); at != std::string::npos)
    line.replace(at, path.size(), "FILE");
  Bytes file;
  if (std::ifstream in(path, std::ios::binary); in)
    file.assign(std::istreambuf_iterator<char>(in), {});
  std::filesystem::remove_all(folder);
  return {result, line, file};
}

// The encoded rows: what lies between the header and the palette block.
Bytes Rows(const Encoded& e) {
  if (e.file.size() < kHeader + kPaletteBlock) return {0xEE};
  return Bytes(e.file.begin() + kHeader, e.file.end() - kPaletteBlock);
}

TEST(EncodePCX, EncodesEachRowInRunsOfAtMost63) {
  const struct {
    uint32_t width, height;
    Bytes pixels, rows;
  } cases[] = {
      {4, 1, {5, 5, 5, 7}, {0xC3, 5, 7}},
      {63, 1, Bytes(63, 0x10), {0xFF, 0x10}},
      {64, 1, Bytes(64, 0x10), {0xFF, 0x10, 0x10}},
      {126, 1, Bytes(126, 0x10), {0xFF, 0x10, 0xFF, 0x10}},
      {127, 1, Bytes(127, 0x10), {0xFF, 0x10, 0xFF, 0x10, 0x10}},
      {1, 1, {0xC5}, {0xC1, 0xC5}},
      {2, 1, {0xC5, 0x01}, {0xC1, 0xC5, 0x01}},
      {3, 1, {0xBF, 0xC0, 0xFF}, {0xBF, 0xC1, 0xC0, 0xC1, 0xFF}},
      {64, 1, Bytes(64, 0xC5), {0xFF, 0xC5, 0xC1, 0xC5}},
      {2, 2, Bytes(4, 0x41), {0xC2, 0x41, 0xC2, 0x41}},  // no run across rows
      {3, 2, {1, 2, 2, 2, 2, 3}, {1, 0xC2, 2, 0xC2, 2, 3}},
      {5, 0, {}, {}},
      {0, 3, {}, {}},  // rows of no pixels read nothing
  };
  for (const auto& c : cases) {
    const Encoded e = Encode(c.width, c.height, c.pixels);
    EXPECT_EQ(e.result, 1);
    EXPECT_EQ(Rows(e), c.rows) << c.width << "x" << c.height;
  }

  // Runs of every length from 1 to 70, so that they end at every place within a word the
  // run search compares at once; each length in a value below and one above 0xC0.
  Bytes pixels, rows;
  for (const auto& [odd, even] : {std::pair{0x21, 0xD3}, {0xD3, 0x21}}) {
    for (uint32_t length = 1; length <= 70; ++length) {
      const auto value = static_cast<uint8_t>(length % 2 ? odd : even);
      pixels.insert(pixels.end(), length, value);
      for (uint32_t left = length, piece; left > 0; left -= piece) {
        piece = std::min(left, 63u);
        if (piece > 1 || value >= 0xC0) rows.push_back(static_cast<uint8_t>(0xC0 + piece));
        rows.push_back(value);
      }
    }
  }
  EXPECT_EQ(Rows(Encode(70 * 71 / 2, 2, pixels)), rows);

  // A long row of lone bytes that each need a count byte stages far more than it sends.
  Bytes lone, loneRows;
  for (uint32_t x = 0; x < 2000; ++x) {
    lone.push_back(static_cast<uint8_t>(0xC0 + x % 61));
    loneRows.insert(loneRows.end(), {0xC1, lone.back()});
  }
  EXPECT_EQ(Rows(Encode(2000, 1, lone)), loneRows);

  // Long rows against the rule applied pixel by pixel: first lone pixels, nine in ten of
  // them needing a count byte, then lone pixels and runs up to 40, then up to 150, of random
  // values. The bytes staged for a row fill and empty many times over.
  constexpr uint32_t kWide = 6000, kHigh = 3;
  Bytes mixed, mixedRows;
  for (unsigned seed = 5; mixed.size() < kWide * kHigh;) {
    seed = seed * 1103515245u + 12345u;
    const size_t y = mixed.size() / kWide, left = kWide - mixed.size() % kWide;
    const size_t length = y == 0 || (seed >> 8) % 8 != 0 ? 1 : 1 + (seed >> 12) % (y * 110 - 70);
    const auto value =
        static_cast<uint8_t>(y == 0 && (seed >> 8) % 10 != 0 ? seed >> 24 | 0xC0 : seed >> 24);
    mixed.insert(mixed.end(), std::min<size_t>(length, left), value);
  }
  for (uint32_t y = 0; y < kHigh; ++y) {
    const uint8_t* row = mixed.data() + size_t{y} * kWide;
    for (uint32_t x = 0, count; x < kWide; x += count) {
      for (count = 1; x + count < kWide && count < 63 && row[x + count] == row[x];) ++count;
      if (count > 1 || row[x] >= 0xC0) mixedRows.push_back(static_cast<uint8_t>(0xC0 + count));
      mixedRows.push_back(row[x]);
    }
  }
  EXPECT_EQ(Rows(Encode(kWide, kHigh, mixed)), mixedRows);
}

TEST(EncodePCX, WritesTheHeaderAndPrintsThePathWithTheSize) {
  const Encoded e = Encode(256, 128, Bytes(256 * 128, 7));
  EXPECT_EQ(e.line, "FILE (256x128)\n");
  const Bytes start = {0x0A, 5, 1, 8, 0, 0, 0, 0, 0xFF, 0, 0x7F, 0, 92, 0, 92, 0};
  EXPECT_EQ(Bytes(e.file.begin(), e.file.begin() + 16), start);
  EXPECT_EQ(Bytes(e.file.begin() + 16, e.file.begin() + 64), Bytes(48, 0));
  const Bytes middle = {0, 1, 0, 1, 1, 0, 0, 0, 0, 0};  // reserved, planes, fields 66 to 73
  EXPECT_EQ(Bytes(e.file.begin() + 64, e.file.begin() + 74), middle);
  EXPECT_EQ(Bytes(e.file.begin() + 74, e.file.begin() + 128), Bytes(54, 0));

  const Encoded odd = Encode(5, 3, Bytes(15, 1));  // bytes per row stays odd
  EXPECT_EQ(Field16(odd.file, 66), 5u);
  const Encoded empty = Encode(7, 0, {});
  EXPECT_EQ(Field16(empty.file, 10), 0xFFFFu);
  EXPECT_EQ(empty.file.size(), kHeader + kPaletteBlock);
}

TEST(EncodePCX, EndsWithTheMarkerAnd256Entries) {
  Bytes entries(300 * 3);
  for (size_t i = 0; i < entries.size(); ++i) entries[i] = static_cast<uint8_t>(i * 7 + 1);
  for (const long count : {0, 16, 256, 300}) {
    const Bytes palette(entries.begin(), entries.begin() + count * 3);
    const Encoded e = Encode(1, 1, {0}, palette);
    Bytes block = {0x0C};
    block.insert(block.end(), palette.begin(), palette.begin() + std::min(768L, count * 3));
    block.resize(kPaletteBlock);
    ASSERT_EQ(e.file.size(), kHeader + 1 + kPaletteBlock) << count;
    EXPECT_EQ(Bytes(e.file.end() - kPaletteBlock, e.file.end()), block) << count;
  }
}

TEST(EncodePCX, RefusesSizesTheHeaderCannotHold) {
  EXPECT_EQ(Encode(65535, 1, Bytes(65535)).result, 1);
  EXPECT_EQ(Encode(1, 65536, Bytes(65536)).result, 1);
  for (const auto& [width, height] : {std::pair{65536u, 1u}, {1u, 65537u}, {0xFFFFFFFFu, 0u}}) {
    const Encoded e = Encode(width, height, {});
    EXPECT_EQ(e.result, 0);
    EXPECT_EQ(e.line, "Image too large : FILE (" + std::to_string(width) + "x" +
                          std::to_string(height) + ")\n");
    EXPECT_TRUE(e.file.empty());
  }
}

}  // namespace
