// wad3 --make end to end: images, packages and maps built here, made into a package, and the
// package read back field by field.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "harness.h"
#include "imagepack.h"
#include "sha256.h"

namespace {

using namespace harness;
using imagepack::Png;

// A package as --make wrote it: each texture's header fields, its four levels and its palette.
struct Made {
  std::string name;  // up to its first zero byte
  uint32_t width = 0, height = 0;
  Bytes levels[4];
  Bytes palette;
};

Bytes Slice(const Bytes& b, size_t from, size_t count) {
  return Bytes(b.data() + from, b.data() + from + count);
}

std::vector<Made> ReadMade(const Bytes& b) {
  std::vector<Made> made;
  if (b.size() < 12) return made;
  const uint32_t count = wadpack::Get32(b, 4), directory = wadpack::Get32(b, 8);
  for (uint32_t k = 0; k < count; ++k) {
    const uint32_t entry = directory + 32 * k, at = wadpack::Get32(b, entry);
    Made m;
    const Bytes name = Slice(b, at, 16);
    m.name.assign(name.begin(), std::find(name.begin(), name.end(), 0));
    m.width = wadpack::Get32(b, at + 16);
    m.height = wadpack::Get32(b, at + 20);
    const uint32_t p = m.width * m.height;
    for (uint32_t l = 0; l < 4; ++l) {
      const uint32_t from = at + wadpack::Get32(b, at + 24 + 4 * l);
      m.levels[l] = Slice(b, from, p >> (2 * l));
    }
    const uint32_t palette = at + 40 + p + p / 4 + p / 16 + p / 64;
    m.palette = Slice(b, palette + 2, 3 * wadpack::Get16(b, palette));
    made.push_back(m);
  }
  return made;
}

// Pixels that differ from every other one made here: red, green, blue, alpha.
Bytes Colours(uint32_t width, uint32_t height, unsigned distinct, uint8_t alpha = 255) {
  Bytes rgba;
  for (uint32_t i = 0; i < width * height; ++i) {
    const uint32_t c = (i * 2654435761u >> 8) % distinct;
    rgba.insert(rgba.end(), {uint8_t(c * 37), uint8_t(c / 7 * 13 + 5), uint8_t(c / 61 * 29), alpha});
  }
  return rgba;
}

Png Rgba(uint32_t width, uint32_t height, const Bytes& rgba) {
  return {width, height, 8, 6, rgba, {}, {}};
}

Png Rgb(uint32_t width, uint32_t height, const Bytes& rgba) {
  Png png = {width, height, 8, 2, {}, {}, {}};
  for (size_t i = 0; i < rgba.size(); i += 4) png.samples.insert(png.samples.end(), &rgba[i], &rgba[i + 3]);
  return png;
}

class MakeRun : public Run {
 protected:
  // Writes each file beside the work folder, runs --make into ../out.wad with `args` after it.
  Result Make(const std::vector<std::pair<std::string, Bytes>>& files,
              const std::vector<std::string>& args, const std::string& package = "out.wad") {
    for (const auto& [name, bytes] : files) {
      fs::create_directories((root_ / name).parent_path());
      WriteFile(root_ / name, bytes);
    }
    std::vector<std::string> argv = {"--make", "../" + package};
    argv.insert(argv.end(), args.begin(), args.end());
    return Wad3(argv);
  }
  Bytes Package(const std::string& name = "out.wad") { return ReadFile(root_ / name); }
};

// Each texture of a package goes back as it came, by way of the PCX files the extraction
// writes of it: an indexed image keeps its indices and palette, repeated entries and all.
TEST_F(MakeRun, TakesBackWhatTheExtractionWrote) {
  Texture wall = harness::Make("wall", 64, 32), fence = harness::Make("{fence", 16, 16),
          water = harness::Make("!water", 32, 32), sky = harness::Make("SKY", 16, 48, 16);
  std::fill(wall.palette.begin(), wall.palette.begin() + 30, 0);  // black ten times
  const Bytes package = wadpack::Package({wall, fence, water, sky});
  WriteFile(root_ / "in.wad", package);
  ASSERT_EQ(Wad3({"../in.wad"}).status, 0);
  fs::rename(work_, root_ / "pcx");
  fs::create_directory(work_);
  Result r = Wad3({"--make", "../out.wad", "../pcx"});
  EXPECT_EQ(r.out, "!water (32x32)\nSKY (16x48)\nwall (64x32)\n{fence (16x16)\n"
                   "4 textures written to ../out.wad\n");
  EXPECT_EQ(r.status, 0);
  r = Wad3({"../out.wad"});
  ASSERT_EQ(r.status, 0);
  for (const auto& [file, bytes] : r.files) {
    EXPECT_TRUE(bytes == ReadFile(root_ / "pcx" / file)) << file;
  }
  EXPECT_EQ(r.files.size(), 4u);

  // Laid out as the game's tools read it: lumps from 12 at multiples of 4, the header's offsets
  // behind each other, 256 entries, the directory's lengths with their padding.
  const Bytes out = Package();
  ASSERT_EQ(wadpack::Get32(out, 4), 4u);
  const uint32_t directory = wadpack::Get32(out, 8);
  EXPECT_EQ(directory % 4, 0u);
  uint32_t expected = 12;
  for (uint32_t k = 0; k < 4; ++k) {
    const uint32_t entry = directory + 32 * k, at = wadpack::Get32(out, entry);
    const uint32_t p = wadpack::Get32(out, at + 16) * wadpack::Get32(out, at + 20);
    EXPECT_EQ(at, expected);
    const uint32_t length = 40 + p + p / 4 + p / 16 + p / 64 + 2 + 768;
    EXPECT_EQ(wadpack::Get32(out, entry + 4), (length + 3) / 4 * 4);
    EXPECT_EQ(wadpack::Get32(out, entry + 8), (length + 3) / 4 * 4);
    EXPECT_EQ(Slice(out, entry + 12, 4), Bytes({'C', 0, 0, 0}));
    EXPECT_EQ(Slice(out, entry + 16, 16), Slice(out, at, 16));
    for (uint32_t l = 0, offset = 40; l < 4; offset += p >> (2 * l), ++l) {
      EXPECT_EQ(wadpack::Get32(out, at + 24 + 4 * l), offset);
    }
    EXPECT_EQ(wadpack::Get16(out, at + length - 770), 256u);
    expected += (length + 3) / 4 * 4;
  }
  EXPECT_EQ(directory, expected);
  EXPECT_EQ(out.size(), directory + 4 * 32u);
}

// Every real package beside the checkout goes back as it came: extracted, made again from its
// PCX files, extracted again, each file the same bytes.
TEST_F(MakeRun, TakesBackEveryRealPackage) {
  const fs::path samples = fs::path(WAD3_SHARED) / "wad3-samples";
  if (!fs::is_directory(samples)) GTEST_SKIP() << "needs the real packages in ../shared";
  std::vector<fs::path> packages;
  for (const auto& entry : fs::directory_iterator(samples)) {
    if (entry.path().extension() == ".wad") packages.push_back(entry.path());
  }
  std::sort(packages.begin(), packages.end());
  readers_ = false;  // the extraction's files are compared with each other
  unsigned textures = 0;
  for (const fs::path& package : packages) {
    const std::string name = package.stem().string();
    fs::remove_all(work_);
    fs::create_directory(work_);
    const Result first = Wad3({fs::absolute(package).string()});
    ASSERT_EQ(first.status, 0) << name;
    if (first.files.empty()) continue;  // nothing to make a package of
    fs::remove_all(root_ / "pcx");
    fs::rename(work_, root_ / "pcx");
    fs::create_directory(work_);
    const Result made = Wad3({"--make", "../back.wad", "../pcx"});
    ASSERT_EQ(made.status, 0) << name << "\n" << made.out;
    const Result again = Wad3({"../back.wad"});
    EXPECT_EQ(again.files, first.files) << name;
    textures += unsigned(first.files.size());
  }
  EXPECT_GT(textures, 0u);
}

// PNG of colour type 3 at any depth and BMP of 8 bits or fewer keep their indices; a palette of
// fewer entries is padded with black.
TEST_F(MakeRun, KeepsTheIndicesOfImagesWithAPalette) {
  Bytes indices8, indices4, palette(3 * 20, 7);  // entries repeated
  for (unsigned i = 0; i < 16 * 16; ++i) {
    indices8.push_back(uint8_t(i * 7 % 20));
    indices4.push_back(uint8_t(i * 5 % 16));
  }
  palette[3] = 200;
  Png eight = {16, 16, 8, 3, indices8, palette, {}};
  Png four = {16, 16, 4, 3, {}, Bytes(palette.begin(), palette.begin() + 48), {}};
  for (unsigned i = 0; i < indices4.size(); i += 2) {
    four.samples.push_back(uint8_t(indices4[i] << 4 | indices4[i + 1]));
  }
  const Result r =
      Make({{"a.png", imagepack::Encode(eight)},
            {"b.png", imagepack::Encode(four)},
            {"c.bmp", imagepack::Bmp(16, 16, 8, palette, indices8)},
            {"d.BMP", imagepack::Bmp(16, 16, 4, Bytes(palette.begin(), palette.begin() + 48),
                                     indices4, true)}},
           {"../a.png", "../b.png", "../c.bmp", "../d.BMP"});
  EXPECT_EQ(r.status, 0) << r.out;
  const std::vector<Made> made = ReadMade(Package());
  ASSERT_EQ(made.size(), 4u);
  Bytes padded = palette, padded16(palette.begin(), palette.begin() + 48);
  padded.resize(768);
  padded16.resize(768);
  EXPECT_EQ(made[0].levels[0], indices8);
  EXPECT_EQ(made[0].palette, padded);
  EXPECT_EQ(made[1].levels[0], indices4);
  EXPECT_EQ(made[1].palette, padded16);
  EXPECT_EQ(made[2].levels[0], indices8);
  EXPECT_EQ(made[2].palette, padded);
  EXPECT_EQ(made[3].levels[0], indices4);
  EXPECT_EQ(made[3].name, "d");
}

// A picture of at most 256 colours keeps them exactly, in whatever form it comes; one of more is
// given the 256 that serve it best.
TEST_F(MakeRun, QuantizesImagesWithoutAPalette) {
  const Bytes few = Colours(32, 16, 200);
  Bytes many;  // a smooth picture of 4096 colours
  for (uint32_t y = 0; y < 64; ++y) {
    for (uint32_t x = 0; x < 64; ++x) many.insert(many.end(), {uint8_t(x * 4), uint8_t(y * 4), uint8_t(x * y / 16), 255});
  }
  Png grey = {16, 16, 8, 0, {}, {}, {}}, wide = {16, 16, 16, 2, {}, {}, {}};
  for (unsigned i = 0; i < 256; ++i) {
    grey.samples.push_back(uint8_t(i));
    for (unsigned k = 0; k < 3; ++k) wide.samples.insert(wide.samples.end(), {uint8_t(i + k), 0x5A});
  }
  const Result r = Make({{"few.png", imagepack::Encode(Rgb(32, 16, few))},
                         {"grey.png", imagepack::Encode(grey)},
                         {"wide.png", imagepack::Encode(wide)},
                         {"few.tga", imagepack::Tga(32, 16, few, false)},
                         {"many.png", imagepack::Encode(Rgb(64, 64, many))}},
                        {"../few.png", "../grey.png", "../wide.png", "../many.png"});
  ASSERT_EQ(r.status, 0) << r.out;
  std::vector<Made> made = ReadMade(Package());
  ASSERT_EQ(made.size(), 4u);
  auto colour = [](const Made& m, size_t i) {
    return Bytes(m.palette.begin() + 3 * m.levels[0][i], m.palette.begin() + 3 * m.levels[0][i] + 3);
  };
  for (size_t i = 0; i < 32 * 16; ++i) {
    EXPECT_EQ(colour(made[0], i), Bytes(few.begin() + long(4 * i), few.begin() + long(4 * i + 3)));
  }
  for (size_t i = 0; i < 256; ++i) {
    EXPECT_EQ(colour(made[1], i), Bytes(3, uint8_t(i)));
    EXPECT_EQ(colour(made[2], i), Bytes({uint8_t(i), uint8_t(i + 1), uint8_t(i + 2)}));  // high bytes
  }
  double error = 0;
  for (size_t i = 0; i < 64 * 64; ++i) {
    for (unsigned k = 0; k < 3; ++k) {
      error += std::pow(double(colour(made[3], i)[k]) - many[4 * i + k], 2);
    }
  }
  EXPECT_GT(10 * std::log10(255.0 * 255 * 3 * 64 * 64 / error), 30.0);

  // TGA, and dithered: the same colours where there are few, other indices where there are many.
  const Result again = Make({}, {"--dither", "../few.tga", "../many.png"}, "dither.wad");
  ASSERT_EQ(again.status, 0) << again.out;
  const std::vector<Made> dithered = ReadMade(Package("dither.wad"));
  EXPECT_EQ(dithered[0].levels[0], made[0].levels[0]);
  EXPECT_EQ(dithered[0].palette, made[0].palette);
  EXPECT_NE(dithered[1].levels[0], made[3].levels[0]) << again.out;
}

// `{` textures: alpha below 128, or pure blue without alpha, becomes entry 255, 0 0 255, and a
// mip pixel is 255 where more than half its block is. Alpha elsewhere is said to be unused.
TEST_F(MakeRun, MakesEntry255TransparentInMaskedTextures) {
  Bytes rgba = Colours(16, 16, 30), blue = rgba;
  for (uint32_t y = 0; y < 16; ++y) {
    for (uint32_t x = 0; x < 16; ++x) {
      const size_t i = 4 * (y * 16 + x);
      if (x < 8) rgba[i + 3] = uint8_t(y < 2 ? 127 : 0);  // the left half transparent
      if (x == 15 && y < 4) rgba[i + 3] = 128;            // opaque enough
      if (x < 8) blue[i] = blue[i + 1] = 0, blue[i + 2] = 255;
    }
  }
  const Result r = Make({{"{a.png", imagepack::Encode(Rgba(16, 16, rgba))},
                         {"{b.png", imagepack::Encode(Rgb(16, 16, blue))},
                         {"c.png", imagepack::Encode(Rgba(16, 16, rgba))}},
                        {"../{a.png", "../{b.png", "../c.png"});
  EXPECT_EQ(r.out, "../c.png : its alpha is not drawn: only a name beginning with { is drawn "
                   "transparent\n{a (16x16)\n{b (16x16)\nc (16x16)\n3 textures written to ../out.wad\n");
  const std::vector<Made> made = ReadMade(Package());
  ASSERT_EQ(made.size(), 3u);
  for (unsigned t = 0; t < 2; ++t) {
    EXPECT_EQ(Bytes(made[t].palette.end() - 3, made[t].palette.end()), Bytes({0, 0, 255}));
    for (uint32_t i = 0; i < 256; ++i) EXPECT_EQ(made[t].levels[0][i] == 255, i % 16 < 8) << i;
    for (unsigned l = 1; l < 4; ++l) {
      const uint32_t side = 16 >> l;
      for (uint32_t i = 0; i < side * side; ++i) {
        EXPECT_EQ(made[t].levels[l][i] == 255, i % side < side / 2) << t << " " << l << " " << i;
      }
    }
  }
  EXPECT_EQ(std::count(made[2].levels[0].begin(), made[2].levels[0].end(), 255), 0);
}

// In decals.wad each index is an opacity: 255 - alpha, or the grey level of an image without
// alpha; entries 0 to 254 grey, 255 the colour of the opaque part. Mips are the mean index.
TEST_F(MakeRun, MakesDecalsOfOpacities) {
  Bytes rgba, grey;
  for (uint32_t i = 0; i < 256; ++i) {
    rgba.insert(rgba.end(), {200, 100, 50, uint8_t(i)});
    grey.insert(grey.end(), {uint8_t(i), uint8_t(i), uint8_t(i), 255});
  }
  const Result r = Make({{"a.png", imagepack::Encode(Rgba(16, 16, rgba))},
                         {"b.png", imagepack::Encode(Rgb(16, 16, grey))}},
                        {"../a.png", "../b.png"}, "DECALS.wad");
  ASSERT_EQ(r.status, 0) << r.out;
  const std::vector<Made> made = ReadMade(Package("DECALS.wad"));
  ASSERT_EQ(made.size(), 2u);
  for (uint32_t i = 0; i < 256; ++i) {
    EXPECT_EQ(made[0].levels[0][i], 255 - i);
    EXPECT_EQ(made[1].levels[0][i], i);
  }
  for (uint32_t i = 0; i < 255; ++i) EXPECT_EQ(Bytes(&made[0].palette[3 * i], &made[0].palette[3 * i + 3]), Bytes(3, uint8_t(i)));
  EXPECT_EQ(Bytes(made[0].palette.end() - 3, made[0].palette.end()), Bytes({200, 100, 50}));
  // The 2 x 2 block at 0, 0: indices 255, 254, 239, 238.
  EXPECT_EQ(made[0].levels[1][0], (255 + 254 + 239 + 238 + 2) / 4);
}

// Water: entry 3 is the picture's mean colour, entry 4 the fog's density, red 64.
TEST_F(MakeRun, GivesWaterItsFog) {
  const Bytes rgba = Colours(32, 32, 1000);
  const Result r = Make({{"!lake.png", imagepack::Encode(Rgb(32, 32, rgba))}}, {"../!lake.png"});
  ASSERT_EQ(r.status, 0) << r.out;
  const std::vector<Made> made = ReadMade(Package());
  ASSERT_EQ(made.size(), 1u);
  uint64_t sums[3] = {};
  for (size_t i = 0; i < rgba.size(); i += 4) for (unsigned k = 0; k < 3; ++k) sums[k] += rgba[i + k];
  for (unsigned k = 0; k < 3; ++k) EXPECT_EQ(made[0].palette[9 + k], (sums[k] + 512) / 1024);
  EXPECT_EQ(Bytes(&made[0].palette[12], &made[0].palette[15]), Bytes(3, 64));
}

// Every input is checked before anything is written: each problem is a line naming its file,
// and the package that was there stays as it was, with no part file beside it.
TEST_F(MakeRun, ListsEveryProblemAndWritesNothing) {
  const Bytes good = imagepack::Encode(Rgb(16, 16, Colours(16, 16, 9)));
  Bytes badCrc = good, cut(good.begin(), good.end() - 20);
  badCrc[40] ^= 1;
  // PCX files the reader refuses: three planes, 4 bits, not run-length coded, no palette
  // marker, no maker byte, rows that end before the palette.
  const Bytes pcx = imagepack::Pcx(16, 16, Bytes(256, 0xC7), Bytes(768, 9));
  auto patchedPcx = [&](size_t at, uint8_t value) {
    Bytes b = pcx;
    b[at] = value;
    return b;
  };
  const std::string notPcx8 = "not a PCX file of 8 bits in one plane with a 256-colour palette";
  // The good PNG's chunks, its rows' data cut in two, put together in other orders: the rows'
  // chunks one after another, the palette before them, as libpng and Pillow insist.
  std::vector<std::pair<std::string, Bytes>> chunks;
  for (size_t at = 8; at + 12 <= good.size();) {
    const size_t length = size_t{good[at]} << 24 | size_t{good[at + 1]} << 16 |
                          size_t{good[at + 2]} << 8 | good[at + 3];
    chunks.emplace_back(std::string(good.begin() + long(at + 4), good.begin() + long(at + 8)),
                        Slice(good, at + 8, length));
    at += 12 + length;
  }
  ASSERT_EQ(chunks.size(), 3u);  // IHDR, IDAT, IEND
  const Bytes& rows = chunks[1].second;
  const Bytes half1(rows.begin(), rows.begin() + long(rows.size() / 2)),
      half2(rows.begin() + long(rows.size() / 2), rows.end());
  auto joined = [&](const std::vector<std::pair<std::string, Bytes>>& parts) {
    Bytes out(good.begin(), good.begin() + 8);
    for (const auto& [type, data] : parts) imagepack::Chunk(out, type, data);
    return out;
  };
  const Bytes halves = joined({chunks[0], {"IDAT", half1}, {"IDAT", half2}, chunks[2]}),
              apart = joined({chunks[0], {"IDAT", half1}, {"tEXt", {'a', 0, 'b'}}, {"IDAT", half2}, chunks[2]}),
              latePalette = joined({chunks[0], chunks[1], {"PLTE", {1, 2, 3}}, chunks[2]});
  Bytes map = wadpack::Map({});
  wadpack::Set32(map, wadpack::kTextureLumpField + 4, 0x10000);
  struct Case {
    std::string file;
    Bytes bytes;
    std::string line;
  };
  const Case cases[] = {
      {"sixteen-letters1.png", good, "its name is no texture name: 1 to 15 characters from ! to ~"},
      {"a b.png", good, "its name is no texture name: 1 to 15 characters from ! to ~"},
      {"odd.png", imagepack::Encode(Rgb(70, 8, Colours(70, 8, 3))),
       "70x8, sides must be multiples of 16: 64x16 or 80x16"},
      {"crc.png", badCrc, "a chunk's checksum is wrong"},
      {"cut.png", cut, "truncated"},
      {"text.png", Bytes(100, 'x'), "not a PNG file"},
      {"apart.png", apart, "its chunks are out of order"},
      {"late.png", latePalette, "its chunks are out of order"},
      {"planes.pcx", patchedPcx(65, 3), notPcx8},
      {"bits.pcx", patchedPcx(3, 4), notPcx8},
      {"raw.pcx", patchedPcx(2, 0), notPcx8},
      {"marker.pcx", patchedPcx(pcx.size() - 769, 0x0B), notPcx8},
      {"maker.pcx", patchedPcx(0, 0x0B), "not a PCX file"},
      {"rows.pcx", patchedPcx(10, 16), "truncated"},  // 17 rows of the 16 there are
      {"notes.txt", good, "not an image (.png, .bmp, .tga, .jpg, .jpeg, .pcx), package or map"},
      {"x.wad", Bytes(11, 0), "WAD3 file is malformed."},
      {"m.bsp", map, "BSP file is malformed."},
      {"q.bsp", Bytes(200, 29), "Invalid WAD3 header id."},
  };
  std::vector<std::pair<std::string, Bytes>> files = {
      {"out.wad", {'o', 'l', 'd'}}, {"ok.png", good}, {"halves.png", halves}};
  std::vector<std::string> args = {"../ok.png", "../halves.png"};
  std::string lines;
  for (const Case& c : cases) {
    files.emplace_back(c.file, c.bytes);
    args.push_back("../" + c.file);
    lines += "../" + c.file + " : " + c.line + "\n";
  }
  args.push_back("../missing.png");
  lines += "File not found : ../missing.png\nNothing written : ../out.wad (" +
           std::to_string(std::size(cases) + 1) + " problems)\n";
  const Result r = Make(files, args);
  EXPECT_EQ(r.out, lines);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Package(), Bytes({'o', 'l', 'd'}));
  EXPECT_FALSE(fs::exists(root_ / "out.wad.part"));

  // No input, or a map whose textures are all in packages, writes nothing either.
  for (const auto& words : {std::vector<std::string>{"--make"}, {"--make", "a.wad"}}) {
    const Result usage = Wad3(words);
    EXPECT_EQ(usage.out, "USAGE:  WAD3 --make [--dither] package.wad input...\n");
    EXPECT_EQ(usage.status, 1);
  }
  Texture named = harness::Make("named", 16, 16);
  named.named = true;
  const Result none = Make({{"n.bsp", wadpack::Map({&named})}}, {"../n.bsp"});
  EXPECT_EQ(none.out, "No texture to write : ../out.wad\n");
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(Package(), Bytes({'o', 'l', 'd'}));
}

// Folders are walked in the byte order of their paths, other files counted; a name given again,
// in any case, replaces the earlier texture in its place; other lumps are counted; a package
// may be one of its own inputs.
TEST_F(MakeRun, ReplacesNamesGivenAgainInTheirPlace) {
  Texture a = harness::Make("Alpha", 16, 16), b = harness::Make("beta", 16, 16),
          font = harness::Make("font", 16, 16), c = harness::Make("gamma", 32, 16);
  font.type = 0x46;
  const Bytes rgb = imagepack::Encode(Rgb(16, 32, Colours(16, 32, 50)));
  Result r = Make({{"old.wad", wadpack::Package({a, font, b})},
                   {"map.bsp", wadpack::Map({&c})},
                   {"new/z/ALPHA.png", rgb},
                   {"new/B/readme.txt", {}},
                   {"new/B/delta.png", rgb},
                   {"new/Z.png", rgb}},
                  {"../old.wad", "../map.bsp", "../new"}, "old.wad");
  EXPECT_EQ(r.out,
            "../old.wad : 1 lump that is no texture skipped\n"
            "Replaced : Alpha from ../old.wad by ALPHA from ../new/z/ALPHA.png\n"
            "1 file that is no image, package or map skipped\n"
            "ALPHA (16x32)\nbeta (16x16)\ngamma (32x16)\ndelta (16x32)\nZ (16x32)\n"
            "5 textures written to ../old.wad\n");
  ASSERT_EQ(r.status, 0);
  const std::vector<Made> made = ReadMade(Package("old.wad"));
  ASSERT_EQ(made.size(), 5u);
  EXPECT_EQ(made[1].levels[0], b.pixels);
  EXPECT_EQ(made[1].palette, b.palette);
  EXPECT_EQ(made[2].levels[0], c.pixels);
  // The levels a package carries are copied too, not made anew.
  // Made into a folder it reads, the package is no input of its own when it is met there.
  const Result first = Make({}, {"../new"}, "new/made.wad");
  ASSERT_EQ(first.status, 0);
  const Bytes made1 = Package("new/made.wad");
  const Result again = Make({}, {"../new"}, "new/made.wad");
  EXPECT_EQ(again.out, "../new/made.wad : the package being made, skipped\n" + first.out);
  EXPECT_EQ(Package("new/made.wad"), made1);
  const std::vector<wadpack::Found> found = wadpack::Read(wadpack::Map({&c}));
  const Bytes source = wadpack::Map({&c});
  const uint32_t level1 = uint32_t(found[0].mip) + wadpack::Get32(source, found[0].mip + 28);
  EXPECT_EQ(made[2].levels[1], Slice(source, level1, 128));
}

// Out of memory while the package is made: a line names it, the old package is kept whole.
TEST_F(MakeRun, SaysWhenMemoryRunsOut) {
  if (harness::kWindows) GTEST_SKIP() << "Windows has no address-space limit to set on one process";
  if (harness::kWasi) GTEST_SKIP() << "wad3.wasm stops where its memory ends";
#if defined(WAD3_SANITIZE) || defined(WAD3_EMULATOR)
  GTEST_SKIP() << "the sanitizer's shadow memory or the emulator needs more address space";
#endif
  memoryLimit_ = 64 << 20;  // the largest image's file and colours fit, but not its quantizing
  const Result r = Make({{"out.wad", {'o', 'l', 'd'}},
                         {"big.png", imagepack::Encode(Rgb(2048, 2048, Colours(2048, 2048, 4000)))}},
                        {"../big.png"});
  EXPECT_TRUE(r.out.ends_with("Out of memory : ../out.wad\n")) << r.out;
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Package(), Bytes({'o', 'l', 'd'}));
  EXPECT_FALSE(fs::exists(root_ / "out.wad.part"));
}

// A texture larger than the game loads is written, with a line that says so.
TEST_F(MakeRun, SaysWhereTheGameLoadsNoLarger) {
  const Result r = Make({{"big.png", imagepack::Encode(Rgb(528, 16, Colours(528, 16, 4)))}},
                        {"../big.png"});
  EXPECT_EQ(r.out, "../big.png : 528x16, the game loads at most 512x512\nbig (528x16)\n"
                   "1 texture written to ../out.wad\n");
  EXPECT_EQ(r.status, 0);
}

// Each lump's position and length in a map's directory, the 15 of its header and, after an
// XASH header, 12 more.
std::vector<std::pair<uint32_t, uint32_t>> Lumps(const Bytes& map, unsigned count = 15) {
  std::vector<std::pair<uint32_t, uint32_t>> lumps;
  for (unsigned k = 0; k < count; ++k) {
    const size_t entry = k < 15 ? 4 + 8 * k : 132 + 8 * (k - 15);
    lumps.emplace_back(wadpack::Get32(map, entry), wadpack::Get32(map, entry + 4));
  }
  return lumps;
}

Bytes LumpOf(const Bytes& map, std::pair<uint32_t, uint32_t> lump) {
  return Slice(map, lump.first, lump.second);
}

// The map with an XASH header behind its directory: version 7, and 12 more lumps, two of them
// holding bytes after the map's.
Bytes Xash(const Bytes& map) {
  Bytes out(map.begin(), map.begin() + 124);
  wadpack::Put32(out, 0x48534158);
  wadpack::Put32(out, 7);
  out.resize(out.size() + 96);
  out.insert(out.end(), map.begin() + 124, map.end());
  for (unsigned k = 0; k < 15; ++k) wadpack::Set32(out, 4 + 8 * k, wadpack::Get32(map, 4 + 8 * k) + 104);
  for (const auto& [k, text] : {std::pair<unsigned, std::string>{1, "extra1"}, {4, "extra lump 4"}}) {
    wadpack::Set32(out, 132 + 8 * k, uint32_t(out.size()));
    wadpack::Set32(out, 136 + 8 * k, uint32_t(text.size()));
    out.insert(out.end(), text.begin(), text.end());
  }
  return out;
}

// Written again, a map keeps its lumps, its XASH lumps too, byte for byte, in the order they
// lay, each at a multiple of 4 with nothing between them but the padding to it.
void ExpectLumpsKept(const Bytes& map, const Bytes& out, unsigned count) {
  const auto before = Lumps(map, count), after = Lumps(out, count);
  std::vector<unsigned> order(count);
  for (unsigned k = 0; k < count; ++k) order[k] = k;
  std::stable_sort(order.begin(), order.end(),
                   [&](unsigned a, unsigned b) { return before[a].first < before[b].first; });
  uint32_t at = count > 15 ? 228 : 124;
  for (const unsigned k : order) {
    at = (at + 3) / 4 * 4;
    EXPECT_EQ(after[k].first, at) << k;
    if (k != 0 && k != 2) {
      EXPECT_EQ(LumpOf(out, after[k]), LumpOf(map, before[k])) << k;
    }
    at += after[k].second;
  }
  EXPECT_EQ(out.size(), (at + 3) / 4 * 4);
}

// A map written again: a slot named by an input is filled with its texture, laid as a package
// lays it under the name as the map spells it; a slot no input gives keeps its bytes; -1 stays;
// the packages put inside leave the first entity's wad key; every other lump is kept.
TEST_F(MakeRun, PutsTexturesInsideAMapInTheirSlots) {
  Texture wall = harness::Make(std::string("WALL\0old", 8), 16, 16),
          fence = harness::Make("{fence", 16, 16),
          keep = harness::Make(std::string("keep\0xy", 7), 32, 16),
          left = harness::Make("left", 16, 16);
  wall.named = left.named = true;
  const std::string entities =
      "{\n\"wad\" \"\\half-life\\valve\\halflife.wad;C:\\maps\\Pack.WAD;/maps/pack.wad.old;\"\n"
      "\"message\" \"a wad\"\n}\n{\n\"wad\" \"pack.wad\"\n}\n";
  const Bytes map = wadpack::Map({&wall, nullptr, &fence, &keep, &left}, 0, entities);
  const Texture given = harness::Make("wall", 16, 16, 200), other = harness::Make("other", 16, 16);
  Bytes rgba = Colours(16, 16, 40);
  for (size_t i = 0; i < 256; ++i) rgba[4 * i + 3] = i % 16 < 8 ? 0 : 255;
  const std::vector<std::pair<std::string, Bytes>> files = {
      {"de_x.bsp", map}, {"pack.wad", wadpack::Package({other, given})},
      {"{FENCE.png", imagepack::Encode(Rgba(16, 16, rgba))},
      {"unused.png", imagepack::Encode(Rgb(16, 16, rgba))}};
  const std::vector<std::string> args = {"../de_x.bsp", "../pack.wad", "../{FENCE.png", "../unused.png"};
  const Result r = Make(files, args, "out.bsp");
  EXPECT_EQ(r.out, "../unused.png : the map names no texture unused, left out\n"
                   "WALL (16x16)\n{fence (16x16)\nleft : left to packages\n"
                   "2 textures written to ../out.bsp, 1 left to packages\n");
  ASSERT_EQ(r.status, 0);
  const Bytes out = Package("out.bsp");
  ExpectLumpsKept(map, out, 15);
  std::string edited = entities;
  edited.erase(edited.find("C:\\maps"), 17);
  edited.push_back('\0');
  EXPECT_EQ(LumpOf(out, Lumps(out)[0]), Bytes(edited.begin(), edited.end()));

  const uint32_t before = Lumps(map)[2].first, lump = Lumps(out)[2].first;
  ASSERT_EQ(wadpack::Get32(out, lump), 5u);
  auto header = [](const Bytes& b, uint32_t at, unsigned slot) {
    return at + wadpack::Get32(b, at + 4 + 4 * slot);
  };
  EXPECT_EQ(wadpack::Get32(out, lump + 8), wadpack::kNoTexture);
  for (const unsigned slot : {0u, 2u, 3u, 4u}) EXPECT_EQ(header(out, lump, slot) % 4, 0u) << slot;
  const std::vector<wadpack::Found> found = wadpack::Read(out);
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(Slice(out, found[0].mip, 16), Bytes({'W', 'A', 'L', 'L', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(found[0].texture.pixels, given.pixels);
  EXPECT_EQ(found[0].texture.palette, given.palette);
  EXPECT_EQ(found[1].texture.name, "{fence");
  for (size_t i = 0; i < 256; ++i) EXPECT_EQ(found[1].texture.pixels[i] == 255, i % 16 < 8) << i;
  const size_t kept = 40 + 512 + 128 + 32 + 8 + 2 + 768;
  EXPECT_EQ(Slice(out, header(out, lump, 3), kept), Slice(map, header(map, before, 3), kept));
  EXPECT_EQ(Slice(out, header(out, lump, 4), 40), Slice(map, header(map, before, 4), 40));

  // Behind an XASH header, its 12 lumps kept and pointed to like the others.
  const Bytes xash = Xash(map);
  ASSERT_EQ(Make({{"xash.bsp", xash}}, {"../xash.bsp", "../pack.wad"}, "xash-out.bsp").status, 0);
  const Bytes xashOut = Package("xash-out.bsp");
  EXPECT_EQ(Slice(xashOut, 124, 8), Slice(xash, 124, 8));
  ExpectLumpsKept(xash, xashOut, 27);
  EXPECT_EQ(LumpOf(xashOut, Lumps(xashOut, 27)[19]), Bytes({'e', 'x', 't', 'r', 'a', ' ', 'l', 'u', 'm', 'p', ' ', '4'}));
}

// The map with only the names of its textures, as a map whose textures lie in packages: its
// texture lump laid anew at its end, of headers whose level offsets are 0, the old one zeroed.
Bytes Stripped(Bytes map) {
  const auto [at, length] = Lumps(map)[2];
  const uint32_t count = wadpack::Get32(map, at);
  Bytes lump(4 + 4 * size_t{count});
  wadpack::Set32(lump, 0, count);
  for (uint32_t k = 0; k < count; ++k) {
    const uint32_t offset = wadpack::Get32(map, at + 4 + 4 * k);
    wadpack::Set32(lump, 4 + 4 * k, offset == wadpack::kNoTexture ? offset : uint32_t(lump.size()));
    if (offset == wadpack::kNoTexture) continue;
    const Bytes head = Slice(map, at + offset, 24);
    lump.insert(lump.end(), head.begin(), head.end());
    lump.resize(lump.size() + 16);
  }
  std::fill(map.begin() + long(at), map.begin() + long(at + length), 0);
  map.resize((map.size() + 3) / 4 * 4);
  wadpack::Set32(map, 20, uint32_t(map.size()));
  wadpack::Set32(map, 24, uint32_t(lump.size()));
  map.insert(map.end(), lump.begin(), lump.end());
  return map;
}

// Every real map beside the checkout that carries textures, given them back from a package of
// them, stripped of them or not, is the same map: each slot's texture and every other lump byte
// for byte, and the extraction writes the same files.
TEST_F(MakeRun, GivesEveryRealMapBackItsTextures) {
  const fs::path samples = fs::path(WAD3_SHARED) / "map-samples";
  if (!fs::is_directory(samples)) GTEST_SKIP() << "needs the real maps in ../shared";
  readers_ = false;  // the extraction's files are compared with each other
  unsigned maps = 0;
  for (const auto& item : fs::directory_iterator(samples)) {
    const Bytes map = ReadFile(item.path());
    if (item.path().extension() != ".bsp" || wadpack::Get32(map, 0) != 30) continue;
    const std::vector<wadpack::Found> textures = wadpack::Read(map);
    if (textures.empty()) continue;
    const std::string path = fs::absolute(item.path()).string(), name = item.path().filename().string();
    fs::remove_all(work_);
    fs::create_directory(work_);
    const Result first = Wad3({path});
    ASSERT_EQ(first.status, 0) << name;
    ASSERT_EQ(Wad3({"--make", "../textures.wad", path}).status, 0) << name;
    WriteFile(root_ / "stripped.bsp", Stripped(map));
    for (const std::string& source : {std::string("../stripped.bsp"), path}) {
      const Result made = Wad3({"--make", "../back.bsp", source, "../textures.wad"});
      ASSERT_EQ(made.status, 0) << name << "\n" << made.out;
      const Bytes back = Package("back.bsp");
      for (unsigned k = 0; k < 15; ++k) {
        if (k == 2) continue;
        EXPECT_EQ(LumpOf(back, Lumps(back)[k]), LumpOf(map, Lumps(map)[k])) << name << " " << k;
      }
      const std::vector<wadpack::Found> again = wadpack::Read(back);
      ASSERT_EQ(again.size(), textures.size()) << name;
      for (size_t t = 0; t < textures.size(); ++t) {
        const wadpack::Found &a = textures[t], &b = again[t];
        EXPECT_EQ(b.texture.name, a.texture.name) << name;
        EXPECT_EQ(Slice(back, b.mip + 16, 8), Slice(map, a.mip + 16, 8)) << name;
        const size_t p = size_t{a.texture.width} * a.texture.height;
        for (unsigned l = 0; l < 4; ++l) {
          EXPECT_EQ(Slice(back, b.mip + wadpack::Get32(back, b.mip + 24 + 4 * l), p >> (2 * l)),
                    Slice(map, a.mip + wadpack::Get32(map, a.mip + 24 + 4 * l), p >> (2 * l)))
              << name << " " << a.texture.name << " " << l;
        }
        EXPECT_EQ(b.texture.palette, a.texture.palette) << name;
      }
      fs::remove_all(work_);
      fs::create_directory(work_);
      EXPECT_EQ(Wad3({"../back.bsp"}).files, first.files) << name;
    }
    ++maps;
  }
  EXPECT_GT(maps, 0u);
}

// Every problem of the map or an input is a line naming its file, and nothing is written.
TEST_F(MakeRun, RefusesAMapItCannotWriteWhole) {
  Texture wall = harness::Make("wall", 16, 16), slash = harness::Make("a/b", 16, 16);
  wall.named = true;
  const Bytes map = wadpack::Map({&wall}), pack = wadpack::Package({harness::Make("wall", 16, 16)});
  const uint32_t lump = Lumps(map)[2].first, length = Lumps(map)[2].second;
  auto patched = [&](size_t at, uint32_t value) {
    Bytes b = map;
    wadpack::Set32(b, at, value);
    return b;
  };
  Bytes stale = map, padded = map;
  stale.insert(stale.end(), {0, 0, 0, 0, 0, 0, 0, 7});
  padded.resize(map.size() + 64);  // zero bytes hold nothing to lose
  struct Case {
    std::string name;
    Bytes map;  // none: no such file
    std::string input;
    std::string line;
  };
  const Case cases[] = {
      {"none.bsp", {}, "pack.wad", "File not found : ../none.bsp"},
      {"p.wad", pack, "pack.wad", "../p.wad : not a map (BSP version 30)"},
      {"q.bsp", patched(0, 29), "pack.wad", "../q.bsp : a map of BSP version 29, not 30 as Half-Life's"},
      {"cut.bsp", patched(4 + 8 * 3 + 4, 6), "pack.wad", "../cut.bsp : BSP file is malformed."},
      {"slot.bsp", patched(lump + 4, length - 39), "pack.wad", "../slot.bsp : BSP file is malformed."},
      {"stale.bsp", stale, "pack.wad",
       "../stale.bsp : 8 bytes at " + std::to_string(map.size()) + " lie in no lump, and would be lost"},
      {"slash.bsp", wadpack::Map({&wall, &slash}), "pack.wad",
       "../slash.bsp : Invalid mip entry; name is malformed."},
      {"m.bsp", map, "big.wad",
       "../big.wad : wall is 32x16, the map's is 16x16: its faces are aligned to that size"},
      {"m.bsp", map, "bad.png", "../bad.png : not a PNG file"},
  };
  for (const Case& c : cases) {
    fs::remove(root_ / c.name);
    std::vector<std::pair<std::string, Bytes>> files = {
        {"out.bsp", {'o', 'l', 'd'}}, {"pack.wad", pack}, {"bad.png", Bytes(20, 'x')},
        {"big.wad", wadpack::Package({harness::Make("wall", 32, 16)})}};
    if (!c.map.empty()) files.emplace_back(c.name, c.map);
    const Result r = Make(files, {"../" + c.name, "../" + c.input}, "out.bsp");
    EXPECT_EQ(r.out, c.line + "\nNothing written : ../out.bsp (1 problem)\n") << c.name;
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Package("out.bsp"), Bytes({'o', 'l', 'd'}));
    EXPECT_FALSE(fs::exists(root_ / "out.bsp.part"));
  }
  const Result none = Make({{"other.wad", wadpack::Package({harness::Make("other", 16, 16)})}},
                           {"../m.bsp", "../other.wad"}, "out.bsp");
  EXPECT_EQ(none.out, "No texture to write : ../out.bsp\n");
  EXPECT_EQ(none.status, 1);
  for (const auto& words : {std::vector<std::string>{"--make", "a.bsp", "m.bsp"},
                            {"--make", "a.BSP", "-x", "m.bsp", "t.wad"}}) {
    const Result usage = Wad3(words);
    EXPECT_EQ(usage.out, "USAGE:  WAD3 --make [--dither] out.bsp map.bsp input...\n");
    EXPECT_EQ(usage.status, 1);
  }
  // Zero bytes after the last lump are padding, dropped; the map may be written over itself.
  const Result over = Make({{"padded.bsp", padded}}, {"../padded.bsp", "../pack.wad"}, "padded.bsp");
  EXPECT_EQ(over.out, "wall (16x16)\n1 texture written to ../padded.bsp, 0 left to packages\n");
  ExpectLumpsKept(padded, Package("padded.bsp"), 15);
}

// A sprite read back: its header's words after the version, its palette, and each picture with
// its origin, groups taken apart; `end` where the last picture ends.
struct SpriteRead {
  uint32_t words[8] = {};  // type, format, radius, max width, max height, frames, beam, sync
  Bytes palette;
  std::vector<Texture> pictures;
  std::vector<std::pair<uint32_t, uint32_t>> origins;
  size_t end = 0;
};

SpriteRead ReadSprite(const Bytes& b) {
  SpriteRead sprite;
  if (b.size() < 42 || wadpack::Get32(b, 4) != 2) return sprite;
  for (unsigned k = 0; k < 8; ++k) sprite.words[k] = wadpack::Get32(b, 8 + 4 * k);
  size_t at = 42 + 3 * size_t{wadpack::Get16(b, 40)};
  sprite.palette = Slice(b, 42, at - 42);
  for (uint32_t f = 0; f < sprite.words[5] && at + 4 <= b.size(); ++f) {
    const uint32_t group = wadpack::Get32(b, at), count = group ? wadpack::Get32(b, at + 4) : 1;
    at += group ? 8 + 4 * size_t{count} : 4;
    for (uint32_t k = 0; k < count && at + 16 <= b.size(); ++k) {
      Texture t;
      t.width = wadpack::Get32(b, at + 8);
      t.height = wadpack::Get32(b, at + 12);
      sprite.origins.emplace_back(wadpack::Get32(b, at), wadpack::Get32(b, at + 4));
      t.pixels = Slice(b, at + 16, size_t{t.width} * t.height);
      sprite.pictures.push_back(t);
      at += 16 + t.pixels.size();
    }
  }
  sprite.end = at;
  return sprite;
}

uint32_t FloatBits(float value) {
  uint32_t bits;
  memcpy(&bits, &value, sizeof bits);
  return bits;
}

// Frames drawn with alpha become a sprite of each format as the game draws it: one palette for
// every frame, the header's sizes the largest frame's, each frame centred, nothing after.
TEST_F(MakeRun, MakesSpritesOfEachFormatFromFrames) {
  // Three frames of few colours, at most 256 premultiplied: each half transparent by rows.
  const std::pair<uint32_t, uint32_t> sizes[] = {{33, 17}, {1, 1}, {20, 40}};
  std::vector<Bytes> frames;
  std::vector<std::pair<std::string, Bytes>> files;
  std::vector<std::string> args;
  for (size_t f = 0; f < 3; ++f) {
    const auto [w, h] = sizes[f];
    Bytes rgba = Colours(w, h, 20);
    for (uint32_t i = 0; i < w * h; ++i) rgba[4 * i + 3] = uint8_t(i / w < h / 2 ? 0 : 64 * (i % 4) + 63);
    frames.push_back(rgba);
    files.emplace_back("f" + std::to_string(f) + ".png", imagepack::Encode(Rgba(w, h, rgba)));
    args.push_back("../f" + std::to_string(f) + ".png");
  }
  const std::string formats[] = {"normal", "additive", "indexalpha", "alphatest"};
  for (uint32_t format = 0; format < 4; ++format) {
    std::vector<std::string> words = {"--format", formats[format], "--type", "oriented"};
    words.insert(words.end(), args.begin(), args.end());
    const Result r = Make(format == 0 ? files : std::vector<std::pair<std::string, Bytes>>{}, words, "out.spr");
    ASSERT_EQ(r.status, 0) << r.out;
    if (format == 0) {
      std::string lines;
      for (const std::string& arg : args) {
        lines += arg + " : its alpha is not drawn: only the formats alphatest, indexalpha and additive draw it\n";
      }
      EXPECT_EQ(r.out, lines + "f0 (33x17)\nf1 (1x1)\nf2 (20x40)\n3 frames written to ../out.spr\n");
    }
    const Bytes out = Package("out.spr");
    const SpriteRead sprite = ReadSprite(out);
    EXPECT_EQ(Slice(out, 0, 4), Bytes({'I', 'D', 'S', 'P'}));
    const uint32_t header[8] = {3, format, FloatBits(float(std::sqrt(33.0 * 33 + 40 * 40) / 2)), 33, 40, 3, 0, 1};
    EXPECT_TRUE(std::equal(header, header + 8, sprite.words)) << format;
    EXPECT_EQ(wadpack::Get16(out, 40), 256u);
    EXPECT_EQ(sprite.end, out.size());
    ASSERT_EQ(sprite.pictures.size(), 3u);
    const Bytes& palette = sprite.palette;
    for (size_t f = 0; f < 3; ++f) {
      const auto [w, h] = sizes[f];
      EXPECT_EQ(sprite.origins[f], std::make_pair(uint32_t(-int32_t(w / 2)), h / 2));
      for (uint32_t i = 0; i < w * h; ++i) {
        const uint8_t* p = &frames[f][4 * i];
        const uint8_t index = sprite.pictures[f].pixels[i];
        const Bytes colour = Slice(palette, 3 * size_t{index}, 3);
        if (format == 2) {
          EXPECT_EQ(index, p[3]);
        } else if (format == 3 && p[3] < 128) {
          EXPECT_EQ(index, 255);
        } else if (format == 1) {
          EXPECT_EQ(colour, Bytes({uint8_t((p[0] * p[3] + 127) / 255), uint8_t((p[1] * p[3] + 127) / 255),
                                   uint8_t((p[2] * p[3] + 127) / 255)})) << f << " " << i;
        } else {
          EXPECT_EQ(colour, Bytes(p, p + 3)) << format << " " << f << " " << i;
          EXPECT_TRUE(format == 0 || index != 255);
        }
      }
    }
    if (format == 2) {
      for (unsigned i = 0; i < 255; ++i) EXPECT_EQ(Bytes(&palette[3 * i], &palette[3 * i + 3]), Bytes(3, uint8_t(i)));
    }
    if (format == 3) {
      EXPECT_EQ(Slice(palette, 765, 3), Bytes({0, 0, 255}));
    }
  }
}

// Frames indexed with one palette keep their indices and palette exactly; frames of other
// palettes share one chosen for all of them.
TEST_F(MakeRun, KeepsTheOnePaletteOfAllFrames) {
  Bytes palette(768), other(768);
  for (size_t i = 0; i < 768; ++i) palette[i] = uint8_t(i * 7), other[i] = uint8_t(i * 11);
  Bytes a(16 * 8), b(6 * 4);
  for (size_t i = 0; i < a.size(); ++i) a[i] = uint8_t(i * 3);
  for (size_t i = 0; i < b.size(); ++i) b[i] = uint8_t(255 - i);
  Result r = Make({{"a.pcx", imagepack::Pcx(16, 8, a, palette)}, {"b.pcx", imagepack::Pcx(6, 4, b, palette)},
                   {"c.pcx", imagepack::Pcx(6, 4, b, other)}},
                  {"--format", "alphatest", "../a.pcx", "../b.pcx"}, "kept.spr");
  ASSERT_EQ(r.status, 0) << r.out;
  SpriteRead sprite = ReadSprite(Package("kept.spr"));
  EXPECT_EQ(sprite.palette, palette);
  ASSERT_EQ(sprite.pictures.size(), 2u);
  EXPECT_EQ(sprite.pictures[0].pixels, a);
  EXPECT_EQ(sprite.pictures[1].pixels, b);
  r = Make({}, {"../b.pcx", "../c.pcx"}, "mixed.spr");
  ASSERT_EQ(r.status, 0) << r.out;
  sprite = ReadSprite(Package("mixed.spr"));
  for (size_t i = 0; i < b.size(); ++i) {
    EXPECT_EQ(Slice(sprite.palette, 3 * sprite.pictures[0].pixels[i], 3), Slice(palette, 3 * b[i], 3));
    EXPECT_EQ(Slice(sprite.palette, 3 * sprite.pictures[1].pixels[i], 3), Slice(other, 3 * b[i], 3));
  }
}

// Every real sprite beside the checkout goes out as PCX files and back, given its type and
// format, with the same pictures, palette, type and format.
TEST_F(MakeRun, TakesBackEveryRealSprite) {
  const fs::path samples = fs::path(WAD3_SHARED) / "model-samples";
  if (!fs::is_directory(samples)) GTEST_SKIP() << "needs the real sprites in ../shared";
  const std::string types[] = {"parallel-upright", "facing-upright", "parallel", "oriented", "parallel-oriented"};
  const std::string formats[] = {"normal", "additive", "indexalpha", "alphatest"};
  unsigned sprites = 0;
  for (const auto& item : fs::directory_iterator(samples)) {
    if (item.path().extension() != ".spr") continue;
    const Bytes original = ReadFile(item.path());
    const SpriteRead before = ReadSprite(original);
    const std::string name = item.path().stem().string();
    fs::remove_all(work_);
    fs::create_directory(work_);
    const Result out = Wad3({fs::absolute(item.path()).string()});
    ASSERT_EQ(out.status, 0) << name;
    std::vector<std::string> args = {"--type", types[before.words[0]], "--format", formats[before.words[1]]};
    for (size_t k = 0; k < before.pictures.size(); ++k) args.push_back(name + "_" + std::to_string(k) + ".pcx");
    args.insert(args.begin(), {"--make", "../back.spr"});
    const Result back = Wad3(args);
    ASSERT_EQ(back.status, 0) << name << "\n" << back.out;
    const SpriteRead after = ReadSprite(Package("back.spr"));
    EXPECT_EQ(after.words[0], before.words[0]) << name;
    EXPECT_EQ(after.words[1], before.words[1]) << name;
    Bytes palette = before.palette;
    palette.resize(768);
    EXPECT_EQ(after.palette, palette) << name;
    ASSERT_EQ(after.pictures.size(), before.pictures.size()) << name;
    for (size_t k = 0; k < before.pictures.size(); ++k) {
      EXPECT_EQ(after.pictures[k].pixels, before.pictures[k].pixels) << name << " " << k;
      EXPECT_EQ(after.pictures[k].width, before.pictures[k].width) << name << " " << k;
    }
    ++sprites;
  }
  EXPECT_GT(sprites, 0u);
}

// A model's skins replaced by images of their names, any case, without ".bmp": an indexed
// image keeps its indices and palette, any other is quantized, a masked skin's transparent
// pixels 255; every other byte of the model kept.
TEST_F(MakeRun, ReplacesAModelsSkins) {
  Texture base = harness::Make("DM_Base.bmp", 16, 8), mask = harness::Make("chain.BMP", 8, 8),
          kept = harness::Make("kept.bmp", 4, 4);
  mask.flags = 0x40;
  const Bytes model = wadpack::Model({base, mask, kept}, 12);
  Bytes indices(16 * 8), palette(3 * 40, 9);
  for (size_t i = 0; i < indices.size(); ++i) indices[i] = uint8_t(i % 40);
  palette[5] = 99;
  Bytes rgba = Colours(8, 8, 30);
  for (size_t i = 0; i < 64; ++i) rgba[4 * i + 3] = i % 8 < 3 ? 0 : 255;
  const Result r = Make({{"m.mdl", model}, {"skins/dm_base.pcx", imagepack::Pcx(16, 8, indices, palette)},
                         {"skins/CHAIN.png", imagepack::Encode(Rgba(8, 8, rgba))},
                         {"skins/readme.txt", {}}},
                        {"../m.mdl", "../skins"}, "m.mdl");
  EXPECT_EQ(r.out, "1 file that is no image skipped\nDM_Base.bmp (16x8)\nchain.BMP (8x8)\n"
                   "2 skins replaced in ../m.mdl\n");
  ASSERT_EQ(r.status, 0);
  const Bytes out = Package("m.mdl");
  ASSERT_EQ(out.size(), model.size());
  const size_t first = wadpack::Get32(model, 244 + 12 + 76), second = wadpack::Get32(model, 244 + 12 + 80 + 76);
  EXPECT_EQ(Slice(out, 0, first), Slice(model, 0, first));
  EXPECT_EQ(Slice(out, first, 128), indices);
  palette.resize(768);
  EXPECT_EQ(Slice(out, first + 128, 768), palette);
  for (size_t i = 0; i < 64; ++i) {
    const uint8_t index = out[second + i];
    EXPECT_EQ(index == 255, i % 8 < 3) << i;
    if (index != 255) {
      EXPECT_EQ(Slice(out, second + 64 + 3 * size_t{index}, 3), Slice(rgba, 4 * i, 3)) << i;
    }
  }
  EXPECT_EQ(Slice(out, second + 64 + 765, 3), Bytes({0, 0, 255}));
  EXPECT_EQ(Slice(out, second + 64 + 768, out.size() - second - 64 - 768),
            Slice(model, second + 64 + 768, out.size() - second - 64 - 768));
}

// Every real model with skins beside the checkout takes a skin repainted as a truecolour image
// back: the skin's pixels show the new colours, every other byte is kept.
TEST_F(MakeRun, TakesARepaintedSkinIntoEveryRealModel) {
  const fs::path samples = fs::path(WAD3_SHARED) / "model-samples";
  if (!fs::is_directory(samples)) GTEST_SKIP() << "needs the real models in ../shared";
  readers_ = false;
  unsigned models = 0;
  for (const auto& item : fs::directory_iterator(samples)) {
    const Bytes model = ReadFile(item.path());
    if (item.path().extension() != ".mdl" || wadpack::Get32(model, 180) == 0) continue;
    const std::string name = item.path().filename().string();
    fs::remove_all(work_);
    fs::create_directory(work_);
    const Result out = Wad3({fs::absolute(item.path()).string()});
    ASSERT_EQ(out.status, 0) << name;
    const auto& [file, pcx] = *out.files.begin();  // the skin first in the order of names
    const Image skin = Decode(pcx);
    Bytes rgba;
    for (const uint8_t index : skin.pixels) {
      for (unsigned k = 0; k < 3; ++k) rgba.push_back(uint8_t(255 - skin.palette[3 * index + k]));
      rgba.push_back(255);
    }
    const std::string png = fs::path(file).stem().string() + ".png";
    WriteFile(root_ / png, imagepack::Encode(Rgb(skin.width, skin.height, rgba)));
    const Result made = Wad3({"--make", "../back.mdl", fs::absolute(item.path()).string(), "../" + png});
    ASSERT_EQ(made.status, 0) << name << "\n" << made.out;
    const Bytes back = Package("back.mdl");
    ASSERT_EQ(back.size(), model.size()) << name;
    size_t differ = 0, from = back.size(), to = 0;
    for (size_t i = 0; i < back.size(); ++i) {
      if (back[i] == model[i]) continue;
      ++differ, from = std::min(from, i), to = i + 1;
    }
    EXPECT_GT(differ, 0u) << name;
    EXPECT_LE(to - from, size_t{skin.width} * skin.height + 768) << name;
    fs::remove_all(work_);
    fs::create_directory(work_);
    const Image again = Decode(Wad3({"../back.mdl"}).files.at(file));
    for (size_t i = 0; i < again.pixels.size(); ++i) {
      EXPECT_EQ(Slice(again.palette, 3 * again.pixels[i], 3), Slice(rgba, 4 * i, 3)) << name << " " << i;
    }
    ++models;
  }
  EXPECT_GT(models, 0u);
}

// Every problem of a sprite's or a model's inputs is a line naming its file, and nothing is
// written; a wrong option is the form's usage line.
TEST_F(MakeRun, RefusesSpritesAndModelsWithProblems) {
  const Texture skin = harness::Make("skin.bmp", 16, 16);
  const Bytes model = wadpack::Model({skin}), png = imagepack::Encode(Rgb(16, 16, Colours(16, 16, 9)));
  Bytes nine = model, cut = model;
  wadpack::Set32(nine, 4, 9);
  wadpack::Set32(cut, 184, uint32_t(model.size()));
  struct Case {
    std::string out;
    std::vector<std::string> args;
    std::string line;
  };
  const Case cases[] = {
      {"out.spr", {"../p.wad"}, "../p.wad : not an image (.png, .bmp, .tga, .jpg, .jpeg, .pcx)"},
      {"out.spr", {"../bad.png"}, "../bad.png : not a PNG file"},
      {"out.spr", {"../empty.bmp"}, "../empty.bmp : it has no pixels"},
      {"out.mdl", {"../m.mdl", "../other.png"}, "../other.png : the model has no skin other"},
      {"out.mdl", {"../m.mdl", "../big/SKIN.png"}, "../big/SKIN.png : 32x16, the skin skin.bmp is 16x16"},
      {"out.mdl", {"../heart.mdl", "../skin.png"}, "../heart.mdl : its skins lie in heartt.mdl: give that one"},
      {"out.mdl", {"../p.wad", "../skin.png"}, "../p.wad : not a model (IDST, version 10)"},
      {"out.mdl", {"../nine.mdl", "../skin.png"}, "../nine.mdl : a model of version 9, not 10 as Half-Life's"},
      {"out.mdl", {"../cut.mdl", "../skin.png"}, "../cut.mdl : MDL file is malformed."},
      {"out.mdl", {"../none.mdl", "../skin.png"}, "File not found : ../none.mdl"},
  };
  const std::vector<std::pair<std::string, Bytes>> files = {
      {"out.spr", {'o', 'l', 'd'}}, {"out.mdl", {'o', 'l', 'd'}}, {"p.wad", wadpack::Package({skin})},
      {"bad.png", Bytes(30, 'x')}, {"empty.bmp", imagepack::Bmp(0, 5, 8, {1, 2, 3}, {})}, {"m.mdl", model}, {"other.png", png}, {"skin.png", png},
      {"big/SKIN.png", imagepack::Encode(Rgb(32, 16, Colours(32, 16, 9)))},
      {"heart.mdl", wadpack::Model({})}, {"nine.mdl", nine}, {"cut.mdl", cut}};
  for (const Case& c : cases) {
    const Result r = Make(files, c.args, c.out);
    EXPECT_EQ(r.out, c.line + "\nNothing written : ../" + c.out + " (1 problem)\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Package(c.out), Bytes({'o', 'l', 'd'})) << c.line;
    EXPECT_FALSE(fs::exists(root_ / (c.out + ".part")));
  }
  const std::string sprite = "USAGE:  WAD3 --make [--type TYPE] [--format FORMAT] [--dither] out.spr image...\n",
                    model_ = "USAGE:  WAD3 --make [--dither] out.mdl model.mdl image...\n";
  const std::pair<std::vector<std::string>, std::string> usages[] = {
      {{"--make", "a.spr", "--format", "glow", "f.png"}, sprite},
      {{"--make", "a.spr", "--type"}, sprite},
      {{"--make", "a.SPR"}, sprite},
      {{"--make", "a.mdl", "m.mdl"}, model_},
      {{"--make", "a.mdl", "--type", "oriented", "m.mdl", "s.png"}, model_},
  };
  for (const auto& [words, usage] : usages) {
    const Result r = Wad3(words);
    EXPECT_EQ(r.out, usage);
    EXPECT_EQ(r.status, 1);
  }
}

// Every call on the part file and the path of a package, a map, a sprite or a model (for a map
// or a model written over itself, the file it reads) failed in turn from outside by strace: the run fails with a line
// that says so, and the file that was there stays whole, with no part file beside it.
TEST_F(MakeRun, LeavesWhatWasThereWholeWhenAnyCallFails) {
  if (const std::string why = WithoutStrace(); !why.empty()) GTEST_SKIP() << why;
  readers_ = false;
  WriteFile(root_ / "a.png", imagepack::Encode(Rgb(256, 256, Colours(256, 256, 5000))));
  WriteFile(root_ / "b.png", imagepack::Encode(Rgb(16, 16, Colours(16, 16, 7))));
  Texture a = harness::Make("A", 256, 256), kept = harness::Make("kept", 64, 64);
  a.named = true;
  const fs::path root = fs::weakly_canonical(root_);
  const std::string images[] = {(root / "a.png").string(), (root / "b.png").string()};
  struct Case {
    std::string file;  // written, and for a map read too
    Bytes old;
    std::vector<std::string> inputs;
    bool reads;
  };
  const Case cases[] = {
      {"out.wad", {'o', 'l', 'd'}, {images[0], images[1]}, false},
      {"de_x.bsp", wadpack::Map({&kept, &a}), {images[0]}, true},
      {"out.spr", {'o', 'l', 'd'}, {images[0], images[1]}, false},
      {"m.mdl", wadpack::Model({harness::Make("b.bmp", 16, 16)}), {images[1]}, true},
  };
  const std::vector<std::string> strace = StraceCommand();
  for (const Case& c : cases) {
    const std::string path = (root / c.file).string();
    std::vector<std::string> traced = {"-P", path, "-P", path + ".part"};
    std::vector<std::string> args = {"--make", path};
    if (c.reads) args.push_back(path);
    args.insert(args.end(), c.inputs.begin(), c.inputs.end());
    WriteFile(root_ / c.file, c.old);
    tracer_ = strace;
    tracer_.insert(tracer_.end(), {"-o", (root / "trace").string()});
    tracer_.insert(tracer_.end(), traced.begin(), traced.end());
    const Result clean = Wad3(args);
    if (clean.err.find("ptrace") != std::string::npos && !ToolsRequired())
      GTEST_SKIP() << "strace may not trace here: " << clean.err;
    ASSERT_EQ(clean.status, 0) << clean.out << clean.err;
    const Bytes made = Package(c.file);
    std::map<std::string, unsigned> counts;
    std::ifstream trace(root / "trace");
    for (std::string line; std::getline(trace, line);) ++counts[line.substr(0, line.find('('))];
    // Each kind of call by the names it goes by (aarch64 has no rename, only renameat), and its
    // fault.
    std::vector<std::pair<std::vector<std::string>, std::string>> faults = {
        {{"openat"}, "EACCES"}, {{"write", "writev"}, "ENOSPC"},
        {{"lseek"}, "EIO"},     {{"fsync", "fdatasync"}, "EIO"},
        {{"close"}, "EIO"},     {{"rename", "renameat", "renameat2"}, "EXDEV"},
    };
    if (c.reads) faults.push_back({{"read"}, "EIO"});
    const std::string endings[] = {"Could not write : " + path + "\n",
                                   "Could not create : " + path + ".part\n",
                                   "Nothing written : " + path + " (1 problem)\n",
                                   "Nothing written : " + path + "\n"};
    for (const auto& [names, error] : faults) {
      unsigned runs = 0;
      for (const std::string& call : names) {
        for (unsigned n = 1; n <= counts[call]; ++n, ++runs) {
          const std::string what = call + ":error=" + error + ":when=" + std::to_string(n);
          WriteFile(root_ / c.file, c.old);
          tracer_ = strace;
          tracer_.insert(tracer_.end(), {"-o", "/dev/null", "-e", "inject=" + what});
          tracer_.insert(tracer_.end(), traced.begin(), traced.end());
          const Result r = Wad3(args);
          EXPECT_FALSE(fs::exists(path + ".part")) << what;
          if (r.status == 0) {  // a call whose failure does not matter, such as a close of nothing
            EXPECT_EQ(r.out, clean.out) << what;
            EXPECT_EQ(Package(c.file), made) << what;
            continue;
          }
          EXPECT_EQ(r.status, 1) << what;
          EXPECT_TRUE(std::any_of(std::begin(endings), std::end(endings) - (c.reads ? 0 : 2),
                                  [&](const std::string& e) { return r.out.ends_with(e); }))
              << what << ":\n" << r.out;
          EXPECT_EQ(Package(c.file), c.old) << what;
        }
      }
      // A sprite alone is written front to back, with no seek.
      EXPECT_TRUE(runs > 0 || (names[0] == "lseek" && c.file == "out.spr")) << c.file << " " << names[0];
    }
  }
}

// The same bytes on every machine, compiler and in wad3.wasm: quantized, dithered, masked,
// water and decals, each package pinned by its SHA-256.
TEST_F(MakeRun, WritesTheSameBytesEverywhere) {
  Bytes rgba = Colours(64, 64, 3000);
  for (size_t i = 0; i < rgba.size(); i += 4) rgba[i + 3] = uint8_t(i / 4 % 64 * 4);
  const std::vector<std::pair<std::string, Bytes>> files = {
      {"plain.png", imagepack::Encode(Rgb(64, 64, rgba))},
      {"{mask.png", imagepack::Encode(Rgba(64, 64, rgba))},
      {"!water.tga", imagepack::Tga(64, 64, rgba, false)}};
  const std::vector<std::string> args = {"../plain.png", "../{mask.png", "../!water.tga"};
  ASSERT_EQ(Make(files, args).status, 0);
  std::vector<std::string> dither = args;
  dither.insert(dither.begin(), "--dither");
  ASSERT_EQ(Make({}, dither, "dither.wad").status, 0);
  ASSERT_EQ(Make({}, args, "decals.wad").status, 0);
  // A map: two slots filled from images, one from a package, one kept, one left, its wad key cut.
  Texture plain = harness::Make("PLAIN", 64, 64), mask = harness::Make("{mask", 64, 64),
          kept = harness::Make("kept", 16, 16), left = harness::Make("left", 16, 16),
          wall = harness::Make("wall", 32, 32);
  plain.named = mask.named = left.named = wall.named = true;
  const Bytes map = wadpack::Map({&plain, &kept, nullptr, &mask, &left, &wall}, 0,
                                 "{\n\"wad\" \"a.wad;\\tex\\walls.wad;b.wad\"\n}\n");
  ASSERT_EQ(Make({{"map.bsp", map}, {"walls.wad", wadpack::Package({harness::Make("WALL", 32, 32)})}},
                 {"../map.bsp", "../plain.png", "../{mask.png", "../walls.wad"}, "out.bsp")
                .status,
            0);
  // A sprite of each format from frames with alpha, and a model's masked skin.
  for (const std::string format : {"normal", "additive", "indexalpha", "alphatest"}) {
    ASSERT_EQ(Make({}, {"--format", format, "--dither", "../{mask.png", "../!water.tga"}, format + ".spr").status, 0);
  }
  Texture skin = harness::Make("Mask.bmp", 64, 64);
  skin.flags = 0x40;
  ASSERT_EQ(Make({{"m.mdl", wadpack::Model({skin})}, {"mask.png", imagepack::Encode(Rgba(64, 64, rgba))}},
                 {"../m.mdl", "../mask.png"}, "m.mdl")
                .status,
            0);
  const std::map<std::string, std::string> pinned = {
      {"normal.spr", "4f172af0c7297754e888b7fc193b2818e1a76e32571b61606d1263901c57db91"},
      {"additive.spr", "fa76d9287f9bf2deb2e894ef9c9436ac0917525d3ea6b247ea5c6125679911f2"},
      {"indexalpha.spr", "c07c8a063df8e9d8898a8ff5561ad8a3cb93cf3c2ab9853850667161b242589a"},
      {"alphatest.spr", "69c2dfa311dcab74f7116aa2222019cc45bea08dc1e031caf467067298a1852e"},
      {"m.mdl", "4e490e36d456267ee7a990296a6edfdf4cd0b998c4f7929f6359f22d0afd68ee"},
      {"decals.wad", "01c4686b793770a56b37d7fef7436f4aa8941b1680b2709ce8656c898ef31d98"},
      {"dither.wad", "80157138b744b15e902e9db830d2c2b634c512655aa2262544d51f2cd564241c"},
      {"out.bsp", "f205cc25d36f81f638296728c9e20fc20117cd315879b6ed1d06debb27990363"},
      {"out.wad", "bc01337b399b449336a963c73d3b71f30bd1337675c2b1d4ab6b4ab835d36a10"},
  };
  std::map<std::string, std::string> made;
  for (const auto& [name, hash] : pinned) made[name] = sha256::Hex(Package(name));
  EXPECT_EQ(made, pinned);
}

}  // namespace
