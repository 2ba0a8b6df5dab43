// The program end to end: packages built here, run in a fresh folder, every output checked.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "harness.h"
#include "sha256.h"

namespace {

using namespace harness;

TEST_F(Run, ConvertsEveryTextureAndSkipsOtherLumps) {
  Texture brick = Make("brick", 64, 64), sky = Make("sky", 256, 128), odd = Make("Odd", 5, 3, 16);
  Texture pic = Make("qpic", 4, 4), font = Make("font", 4, 4);
  pic.type = 0x42;
  font.type = 0x46;
  sky.entryName = "not-the-name";
  const Bytes package = Package({brick, pic, sky, font, odd});
  const Result r = Convert(package);
  EXPECT_EQ(r.out,
            SizeLine(package) + "./brick.pcx (64x64)\n./sky.pcx (256x128)\n./Odd.pcx (5x3)\n\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  ASSERT_EQ(r.files.size(), 3u);
  EXPECT_EQ(Decode(r.files.at("brick.pcx")), Expected(brick));
  EXPECT_EQ(Decode(r.files.at("sky.pcx")), Expected(sky));
  EXPECT_EQ(Decode(r.files.at("Odd.pcx")), Expected(odd));

  // The walk stops after numlumps entries, though a further one follows in the file.
  Bytes fewer = package;
  wadpack::Set32(fewer, wadpack::kCountField, 4);
  EXPECT_EQ(Convert(fewer).out, SizeLine(fewer) + "./brick.pcx (64x64)\n./sky.pcx (256x128)\n\n");
}

TEST_F(Run, KeepsEveryNameByteButSlash) {
  const std::vector<std::string> names = {
      "{fence", "!water", "+0button",         "-0rock", "MiXeD", "caf\xE9",
      "..",     "",       "ABCDEFGHIJKLMNOP", "dup",    "dup"};
  std::vector<Texture> textures;
  std::string lines;
  for (const std::string& name : names) {
    textures.push_back(Make(name, 3, 2 + static_cast<uint32_t>(textures.size())));
    lines += "./" + name + ".pcx (3x" + std::to_string(textures.back().height) + ")\n";
  }
  Bytes package = Package(textures);
  // The 16-byte name is followed by the width, not a zero: the name stops at its field.
  const Result r = Convert(package);
  EXPECT_EQ(r.out, SizeLine(package) + lines + "\n");
  EXPECT_EQ(r.status, 0);
  std::map<std::string, Texture> last;  // of two textures of one name, the file holds the last
  for (const Texture& t : textures) last[t.name] = t;
  EXPECT_EQ(r.files.size(), last.size());
  for (const auto& [name, t] : last)
    EXPECT_EQ(Decode(r.files.at(name + ".pcx")), Expected(t)) << name;
}

TEST_F(Run, ReadsPastTheEndAsBytesFF) {
  // Directory first, so that cutting the tail cuts the last texture.
  const Texture t = Make("tail", 8, 4, 16);
  const Bytes whole = Package({t}, true);
  const uint64_t pixelsEnd = wadpack::Read(whole).at(0).pixels + t.pixels.size();

  const Bytes shortPalette(whole.begin(), whole.end() - 5);
  Result r = Convert(shortPalette);
  EXPECT_EQ(r.out, SizeLine(shortPalette) + "./tail.pcx (8x4)\n\n");
  Bytes palette = t.palette;
  std::fill(palette.end() - 5, palette.end(), 0xFF);
  EXPECT_EQ(Decode(r.files.at("tail.pcx")), Expected(t, palette));

  // The count itself past the end reads as 65279 entries, and 256 of them are written.
  const Bytes noPalette(whole.begin(), whole.begin() + static_cast<long>(pixelsEnd));
  r = Convert(noPalette);
  EXPECT_EQ(r.out, SizeLine(noPalette) + "./tail.pcx (8x4)\n\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Decode(r.files.at("tail.pcx")), Expected(t, Bytes(kPaletteBytes, 0xFF)));
}

TEST_F(Run, WritesImagesWithoutRowsOrColumns) {
  const Texture flat = Make("flat", 0, 3), thin = Make("thin", 5, 0);
  const Bytes package = Package({flat, thin});
  const Result r = Convert(package);
  EXPECT_EQ(r.out, SizeLine(package) + "./flat.pcx (0x3)\n./thin.pcx (5x0)\n\n");
  EXPECT_EQ(Decode(r.files.at("flat.pcx")), Expected(flat));
  EXPECT_EQ(Decode(r.files.at("thin.pcx")), Expected(thin));

  const Bytes empty = Package({});
  EXPECT_EQ(Convert(empty).out, "Filesize : 12\n\n");
}

// A map writes the textures it carries, in slot order: not its empty slots, nor those it only
// names, which a package holds. Neither leaves nothing to write a fault.
TEST_F(Run, ConvertsTheTexturesAMapCarries) {
  Texture wall = Make("wall", 16, 8), named = Make("named", 64, 64), sky = Make("{sky", 5, 3, 16);
  named.named = true;
  const Bytes map = wadpack::Map({&wall, nullptr, &named, &sky});
  Result r = Convert(map, "p.bsp");
  EXPECT_EQ(r.out, SizeLine(map) + "./wall.pcx (16x8)\n./{sky.pcx (5x3)\n\n");
  EXPECT_EQ(r.status, 0);
  ASSERT_EQ(r.files.size(), 2u);
  EXPECT_EQ(Decode(r.files.at("wall.pcx")), Expected(wall));
  EXPECT_EQ(Decode(r.files.at("{sky.pcx")), Expected(sky));

  Bytes bare = wadpack::Map({});
  wadpack::Set32(bare, wadpack::kTextureLumpField + 4, 3);           // too short to hold a count
  Bytes header(bare.begin(), bare.begin() + wadpack::kMapHeadSize);  // an empty lump at its end
  wadpack::Set32(header, wadpack::kTextureLumpField, wadpack::kMapHeadSize);
  wadpack::Set32(header, wadpack::kTextureLumpField + 4, 0);
  for (const Bytes& nothing : {wadpack::Map({&named, nullptr}), bare, header}) {
    fs::remove_all(work_);
    fs::create_directory(work_);
    r = Convert(nothing, "p.bsp");
    EXPECT_EQ(r.out, SizeLine(nothing) + "\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.files.empty());
  }
}

// A model writes its skins in the order of its texture table, each named without a final ".bmp";
// one whose skins lie in a model of their own writes nothing, and that is no fault.
TEST_F(Run, ConvertsTheSkinsOfAModel) {
  const Texture base = Make("DM_Base.bmp", 5, 3), chrome = Make("Chrome.BMP", 8, 2, 16),
                plain = Make("plain", 2, 2), twice = Make("x.bmp.bmp", 3, 1);
  const Bytes model = wadpack::Model({base, chrome, plain, twice});
  Result r = Convert(model, "m.mdl");
  EXPECT_EQ(
      r.out,
      SizeLine(model) +
          "./DM_Base.pcx (5x3)\n./Chrome.pcx (8x2)\n./plain.pcx (2x2)\n./x.bmp.pcx (3x1)\n\n");
  EXPECT_EQ(r.status, 0);
  ASSERT_EQ(r.files.size(), 4u);
  EXPECT_EQ(Decode(r.files.at("DM_Base.pcx")), Expected(base));
  EXPECT_EQ(Decode(r.files.at("Chrome.pcx")), Expected(chrome));

  fs::remove_all(work_);
  fs::create_directory(work_);
  const Bytes bare = wadpack::Model({});
  r = Convert(bare, "mT.mdl");
  EXPECT_EQ(r.out, SizeLine(bare) + "\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.files.empty());
}

// A sprite writes every picture, alone or in a group, named after its file and the picture's
// number, each with the sprite's palette: its first 256 entries, zero-filled to 256.
TEST_F(Run, ConvertsThePicturesOfASprite) {
  const Texture a = Make("a", 4, 4), b = Make("b", 3, 5), c = Make("c", 2, 1), d = Make("d", 6, 2);
  const Bytes small = Make("", 0, 0, 16).palette, large = Make("", 0, 0, 300).palette;
  const Bytes sprite = wadpack::Sprite({{{a}}, {{b, c}, true}, {{}, true}, {{d}}}, small, 2);
  Result r = Convert(sprite, "muzzle.SPR");
  EXPECT_EQ(r.out, SizeLine(sprite) +
                       "./muzzle_0.pcx (4x4)\n./muzzle_1.pcx (3x5)\n./muzzle_2.pcx (2x1)\n"
                       "./muzzle_3.pcx (6x2)\n\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Decode(r.files.at("muzzle_1.pcx")), Expected(b, small));
  EXPECT_EQ(Decode(r.files.at("muzzle_3.pcx")), Expected(d, small));

  fs::remove_all(work_);
  fs::create_directory(work_);
  const Bytes many = wadpack::Sprite({{{a}}}, large);
  fs::create_directory(root_ / "sprites");
  WriteFile(root_ / "sprites" / "x.spr.spr", many);
  // Named after the path's last component alone, which on Windows '\\' ends too.
  r = Wad3({kWindows ? "..\\sprites\\x.spr.spr" : "../sprites/x.spr.spr"});
  EXPECT_EQ(r.out, SizeLine(many) + "./x.spr_0.pcx (4x4)\n\n");
  EXPECT_EQ(Decode(r.files.at("x.spr_0.pcx")),
            Expected(a, Bytes(large.begin(), large.begin() + kPaletteBytes)));
}

TEST_F(Run, ReportsATextureLargerThanMemory) {
  if (kWindows) GTEST_SKIP() << "Windows has no address-space limit to set on one process";
  // A 32-bit program cannot hold 2^32 pixels at all; a 64-bit one gets an address-space limit.
  const uint64_t side = sizeof(size_t) < 8 ? 65536 : 8192;
  if (side == 8192) {
#if defined(WAD3_SANITIZE) || defined(WAD3_EMULATOR)
    GTEST_SKIP() << "the sanitizer's shadow memory or the emulator needs more address space";
#endif
    memoryLimit_ = 32 << 20;
  }
  // The texture's pixels are really in the file, as a sparse tail.
  Bytes package = Package({Make("huge", 1, 1)}, true);
  const wadpack::Found huge = wadpack::Read(package).at(0);
  wadpack::Set32(package, huge.mip + wadpack::kWidthField, uint32_t(side));
  wadpack::Set32(package, huge.mip + wadpack::kHeightField, uint32_t(side));
  WriteFile(root_ / "p.wad", package);
  const uint64_t size = huge.pixels + side * side;
  fs::resize_file(root_ / "p.wad", size);
  const Result r = Wad3({"../p.wad"});
  EXPECT_EQ(r.out, "Filesize : " + std::to_string(size) + "\nOut of memory (ImageData).\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.files.empty());
}

// A picture whose pixels fit, but not its PNG file's rows besides: the file is not left behind.
TEST_F(Run, ReportsAPngFileLargerThanMemory) {
  if (kWindows) GTEST_SKIP() << "Windows has no address-space limit to set on one process";
  if (kWasi) GTEST_SKIP() << "wad3.wasm stops where its memory ends";
#if defined(WAD3_SANITIZE) || defined(WAD3_EMULATOR)
  GTEST_SKIP() << "the sanitizer's shadow memory or the emulator needs more address space";
#endif
  const uint32_t side = 4096;  // 16 MiB of pixels, and as much again for each copy of the rows
  memoryLimit_ = 48 << 20;
  Bytes package = Package({Make("first", 4, 4), Make("huge", 1, 1)}, true);
  const wadpack::Found huge = wadpack::Read(package).at(1);
  wadpack::Set32(package, huge.mip + wadpack::kWidthField, side);
  wadpack::Set32(package, huge.mip + wadpack::kHeightField, side);
  WriteFile(root_ / "p.wad", package);
  const uint64_t size = huge.pixels + uint64_t{side} * side;
  fs::resize_file(root_ / "p.wad", size);  // the pixels a sparse tail
  const Result r = Wad3({"--png", "../p.wad"});
  EXPECT_EQ(r.out, "Filesize : " + std::to_string(size) +
                       "\n./first.png (4x4)\n./huge.png (4096x4096)\nOut of memory : ./huge.png\n"
                       "Something went wrong...\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.files.size(), 1u);
  EXPECT_TRUE(r.files.contains("first.png"));
}

// A texture stored 3 GiB into its package: the size and every position need 64 bits, on
// 32-bit systems and on Windows too. The gap before it is sparse.
TEST_F(Run, ReadsTexturesPast2GiB) {
  const Texture t = Make("far", 5, 3);
  Bytes package = Package({t}, true);
  const wadpack::Found found = wadpack::Read(package).at(0);  // the texture follows the directory
  const uint64_t at = uint64_t{3} << 30, size = at + package.size() - found.mip;
  wadpack::Set32(package, found.entry, uint32_t(at));
  WriteFile(root_ / "p.wad", Bytes(package.begin(), package.begin() + long(found.mip)));
  fs::resize_file(root_ / "p.wad", at);
  std::ofstream(root_ / "p.wad", std::ios::binary | std::ios::app)
      .write(reinterpret_cast<const char*>(package.data()) + found.mip,
             static_cast<std::streamsize>(package.size() - found.mip));
  ASSERT_EQ(fs::file_size(root_ / "p.wad"), size);
  Result r = Wad3({"../p.wad"});
  EXPECT_EQ(r.out, "Filesize : " + std::to_string(size) + "\n./far.pcx (5x3)\n\n");
  EXPECT_EQ(Decode(r.files["far.pcx"]), Expected(t));
}

// Shapes that readers trip over: odd widths, single pixels, runs at the 63 limit, values
// that look like run counts, short palettes, and a large noisy image.
TEST_F(Run, WritesImagesThatOtherReadersDecodeExactly) {
  if (!ReadersPresent() && !ToolsRequired()) GTEST_SKIP() << "needs ImageMagick and netpbm";
  std::vector<Texture> textures = {Make("one", 1, 1), Make("odd", 45, 7, 16),
                                   Make("short", 9, 5, 3)};
  Texture runs = Make("runs", 127, 3), high = Make("high", 33, 9),
          noise = Make("noise", 1024, 1024);
  std::fill(runs.pixels.begin(), runs.pixels.begin() + 127 + 64, 0xC7);
  for (size_t i = 0; i < high.pixels.size(); ++i) high.pixels[i] = uint8_t(0xBE + i % 66);
  unsigned seed = 7;
  for (uint8_t& p : noise.pixels) p = uint8_t((seed = seed * 1103515245u + 12345u) >> 16);
  textures.insert(textures.end(), {runs, high, noise});
  const Result r = Convert(Package(textures));
  EXPECT_EQ(r.status, 0);
  for (const Texture& t : textures) EXPECT_EQ(Decode(r.files.at(t.name + ".pcx")), Expected(t));
}

// The same bytes on every machine and compiler: each file pinned by its SHA-256.
TEST_F(Run, ConvertsTheBundledSample) {
  const Result r = Wad3({fs::absolute(WAD3_SAMPLE).string()});
  EXPECT_EQ(r.status, 0);
  const std::map<std::string, std::string> pinned = {
      {"!water.pcx", "8b941028639ca496cc001e67527eec7b88b7d0bd883336307376a5ca7cc95df7"},
      {"bricks.pcx", "ea12d0f3de5fec55a3c970a26a34251aa483c393c4907eb0c4912770a9209b97"},
      {"checker.pcx", "41cade1374bdb61fc6cd738e103cd79278956ed8c0bbaad0bb36f095b6131be1"},
      {"sky.pcx", "2755b22ae0d3c7c263f67932f83864a68e950dcf6f930d577845d5fcd6da6e4a"},
      {"{fence.pcx", "f15cabb62a50aabbbcb463f3747601063e133c60eac72895aad0de1fcd06b138"},
  };
  std::map<std::string, std::string> made;
  for (const auto& [name, bytes] : r.files) made[name] = sha256::Hex(bytes);
  EXPECT_EQ(made, pinned);
}

TEST_F(Run, ReportsPackagesThatCannotBeRead) {
  fs::create_directory(root_ / "dir.wad");
  Result r = Wad3({"../dir.wad"});  // opens, but every read fails; Windows opens no folder
  if (kWindows) {
    EXPECT_EQ(r.out, "File not found : ../dir.wad\n");
  } else {
    EXPECT_TRUE(r.out.starts_with("Filesize : ")) << r.out;
    EXPECT_TRUE(r.out.ends_with("\nCould not read : ../dir.wad\n")) << r.out;
  }
  EXPECT_EQ(r.status, 1);
  r = Wad3({""});
  if (kWasi) {  // WASI's C library opens the current folder for an empty path, as for "."
    EXPECT_TRUE(r.out.ends_with("\nCould not read : \n")) << r.out;
  } else {
    EXPECT_EQ(r.out, "File not found : \n");
  }
  EXPECT_EQ(r.status, 1);
}

// The usage line of the form used, for any other count of words or a word that is no option
// of it (a file of such a name is ./-NAME); --help and --version answer.
TEST_F(Run, PrintsUsageForAnyOtherArgumentCount) {
  const std::string usage = "USAGE:  WAD3 filename.wad\n", png = "USAGE:  WAD3 --png filename.wad\n",
                    make = "USAGE:  WAD3 --make [--dither] package.wad input...\n";
  WriteFile(root_ / "-x", Package({Make("t", 2, 2)}));
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{}, usage},
      {{"a.wad", "b.wad"}, usage},
      {{"-x"}, usage},
      {{"--versions"}, usage},
      {{"--help", "a.wad"}, usage},
      {{"--png"}, png},
      {{"--png", "-h"}, png},
      {{"--png", "a.wad", "b.wad"}, png},
      {{"--make", "--png", "out.wad", "../-x"}, make},
      {{"--make", "out.wad", "-x"}, make},
  };
  for (const auto& [args, line] : cases) {
    const Result r = Wad3(args);
    EXPECT_EQ(r.out, line) << args.size();
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.files.empty());
  }
  for (const std::string help : {"--help", "-h"}) {
    const Result r = Wad3({help});
    EXPECT_TRUE(r.out.starts_with(usage + "        WAD3 --png filename.wad\n")) << r.out;
    for (const char* option : {"--png", "--make", "--dither", "--help", "--version"})
      EXPECT_NE(r.out.find("\n  " + std::string(option)), std::string::npos) << option;
    EXPECT_EQ(r.status, 0);
  }
  const Result version = Wad3({"--version"});
  EXPECT_EQ(version.out, "wad3 " WAD3_VERSION "\n");
  EXPECT_EQ(version.status, 0);
  const Result named = Wad3({"../-x"});
  EXPECT_EQ(named.out, SizeLine(Package({Make("t", 2, 2)})) + "./t.pcx (2x2)\n\n");
}

// Windows reads some names as a folder, a stream or a device: there they end the run before
// anything is made, and names it cannot hold fail as any file that cannot be made. Everywhere
// else they are plain names.
TEST_F(Run, RefusesNamesThatAreNoPlainFileOnWindows) {
  enum Outcome { kWritten, kRefused, kUncreatable };
  const std::pair<std::string, Outcome> cases[] = {
      // clang-format off
      {"..\\x", kRefused},    {"a\\b", kRefused},     {"c:stream", kRefused},
      {"CON", kRefused},      {"nul", kRefused},      {"lpt1.tex", kRefused},
      {"Aux  ", kRefused},    {"com9", kRefused},     {"PRN.a.b", kRefused},
      {"COM10", kWritten},    {"CONSOLE", kWritten},  {"nul_floor", kWritten},
      {"LPT0", kWritten},     {"AUX_", kWritten},     {"a?b", kUncreatable},
      {"a*b", kUncreatable},  {"a<b>", kUncreatable}, {"a|b", kUncreatable},
      {"a\"b", kUncreatable}, {"a\tb", kUncreatable},
      // Superscript one to three count as digits there; wine reads names in code page 1252.
      {"COM\xB9", kRefused},  {"lpt\xB3.wall", kRefused}, {"CONIN$", kRefused},
      {"conout$.x", kRefused}, {"aux", kRefused},        {"COM\xB4", kWritten},
      {"LPT\xB9\xB9", kWritten}, {"CONIN", kWritten},     {"CONOUT$$", kWritten},
      {"xCOM\xB2", kWritten},
      // clang-format on
  };
  for (const auto& [name, onWindows] : cases) {
    fs::remove_all(work_);
    fs::create_directory(work_);
    const Texture t = Make(name, 3, 2);
    const Bytes package = Package({t});
    Result r = Convert(package);
    const std::string path = "./" + name + ".pcx";
    switch (kWindows ? onWindows : kWritten) {
      case kWritten:
        EXPECT_EQ(r.out, SizeLine(package) + path + " (3x2)\n\n") << name;
        EXPECT_EQ(Decode(r.files[name + ".pcx"]), Expected(t)) << name;
        break;
      case kRefused:
        EXPECT_EQ(r.out, SizeLine(package) + "Invalid mip entry; name is malformed.\n") << name;
        break;
      case kUncreatable:
        EXPECT_EQ(r.out,
                  SizeLine(package) + "Could not create : " + path + "\nSomething went wrong...\n")
            << name;
        break;
    }
    EXPECT_EQ(r.status, kWindows && onWindows != kWritten ? 1 : 0) << name;
    EXPECT_EQ(r.files.size(), kWindows && onWindows != kWritten ? 0u : 1u) << name;
  }
}

// A run that ends at a problem: its package, what to place in the work folder first, the
// lines after the size line, and the files it leaves; a first texture is always written.
struct Ending {
  const char* what;
  Bytes package;
  std::string setup, lines;
  std::vector<std::string> left;
  std::string name = "p.wad";  // the file's, which names a sprite's pictures
};

void ExpectEnding(const Ending& c, const Result& r, const Texture& first) {
  EXPECT_EQ(r.out, SizeLine(c.package) + c.lines) << c.what;
  EXPECT_EQ(r.err, "") << c.what;
  EXPECT_EQ(r.status, 1) << c.what;
  std::vector<std::string> left;
  for (const auto& [name, bytes] : r.files) left.push_back(name);
  EXPECT_EQ(left, c.left) << c.what;
  if (r.files.contains("first.pcx")) {
    EXPECT_EQ(Decode(r.files.at("first.pcx")), Expected(first)) << c.what;
  }
}

const std::string kDone = "./first.pcx (4x4)\n", kWrong = "Something went wrong...\n";

// The same ending where the pictures are written as PNG files.
Ending AsPng(Ending c) {
  const auto png = [](std::string text) {
    for (size_t at = text.find(".pcx"); at != std::string::npos; at = text.find(".pcx", at))
      text.replace(at, 4, ".png");
    return text;
  };
  c.lines = png(c.lines);
  for (std::string& file : c.left) file = png(file);
  return c;
}

TEST_F(Run, EndsAtTheFirstProblemAndKeepsEarlierFiles) {
  const Texture first = Make("first", 4, 4), second = Make("second", 8, 8);
  const Bytes good = Package({first, second});
  const size_t dir = wadpack::Get32(good, wadpack::kDirectoryField);
  const wadpack::Found at = wadpack::Read(good).at(1);
  // The same with the directory first: the second texture is the end of the file.
  const Bytes early = Package({first, second}, true);
  const wadpack::Found earlyAt = wadpack::Read(early).at(1);
  auto patched = [&](size_t where, uint32_t value) {
    Bytes b = good;
    wadpack::Set32(b, where, value);
    return b;
  };
  auto named = [&](const std::string& name) {
    Bytes b = good;
    std::copy(name.begin(), name.end(), b.begin() + static_cast<long>(at.mip));
    return b;
  };
  auto cut = [](const Bytes& b, size_t size) {
    return Bytes(b.begin(), b.begin() + static_cast<long>(size));
  };
  const auto end = uint32_t(good.size());
  const auto pastEnd = uint32_t(end + 1 - second.pixels.size() - at.mip);  // pixels end a byte late
  const std::string pixels = "Invalid mip entry; offsets[0] is malformed.\n";
  // The same two textures in a map, and its texture lump: where it lies, how long it is.
  const Bytes map = wadpack::Map({&first, &second});
  const wadpack::Found inMap = wadpack::Read(map).at(1);
  const uint32_t lump = wadpack::Get32(map, wadpack::kTextureLumpField),
                 length = wadpack::Get32(map, wadpack::kTextureLumpField + 4);
  auto patchedMap = [&](size_t where, uint32_t value) {
    Bytes b = map;
    wadpack::Set32(b, where, value);
    return b;
  };
  const size_t lumpField = wadpack::kTextureLumpField;
  const auto pastMap = uint32_t(map.size() + 1 - second.pixels.size() - inMap.mip);
  // A copy of `b` with `name`'s bytes at `where`.
  auto renamed = [](Bytes b, size_t where, const std::string& name) {
    std::copy(name.begin(), name.end(), b.begin() + static_cast<long>(where));
    return b;
  };
  const std::string bsp = "BSP file is malformed.\n";
  // The two as a model's skins, and where the second's record is.
  const Bytes model = wadpack::Model({first, second});
  const size_t skin = wadpack::kModelHeadSize + wadpack::kModelRecordSize;
  auto patchedModel = [&](size_t where, uint32_t value) {
    Bytes b = model;
    wadpack::Set32(b, where, value);
    return b;
  };
  const size_t texturesField = wadpack::kModelTexturesField;
  const auto skins = uint32_t(model.size() - wadpack::kModelHeadSize) / 80;  // as many as fit
  const auto pastModel = uint32_t(model.size() + 1 - 768 - second.pixels.size());
  const std::string mdl = "MDL file is malformed.\n";
  // The two as a sprite's pictures, and where the second frame is.
  const Bytes palette = first.palette, sprite = wadpack::Sprite({{{first}}, {{second}}}, palette);
  const size_t frame = wadpack::kSpriteHeadSize + palette.size() + 4 + 16 + first.pixels.size();
  auto patchedSprite = [&](const std::vector<std::pair<size_t, uint32_t>>& fields) {
    Bytes b = sprite;
    for (const auto& [where, value] : fields) wadpack::Set32(b, where, value);
    return b;
  };
  const std::string spr = "SPR file is malformed.\n", spriteDone = "./p_0.pcx (4x4)\n";
  const Ending cases[] = {
      // clang-format off
      {"short", cut(good, 11), "", "WAD3 file is malformed.\n", {}},
      {"short, no magic", Bytes(11, 'x'), "", "WAD3 file is malformed.\n", {}},  // size first
      {"magic", patched(0, 0x34444157), "", "Invalid WAD3 header id.\n", {}},
      {"ends in directory", cut(good, end - 1), "", "WAD3 file is malformed.\n", {}},
      {"ends in palette", cut(good, dir - 9), "", "WAD3 file is malformed.\n", {}},
      {"lumps wrap", patched(wadpack::kCountField, 0x08000000), "", "WAD3 file is malformed.\n", {}},
      {"filepos", patched(at.entry, end), "",
       kDone + "Invalid lump entry; filepos (MIP) is malformed.\n", {"first.pcx"}},
      {"header at end", patched(at.entry, end - 1), "", kDone + pixels, {"first.pcx"}},
      {"ends in header", cut(early, earlyAt.mip + wadpack::kHeightField), "", kDone + pixels,
       {"first.pcx"}},
      {"pixels", patched(at.mip + wadpack::kPixelsField, pastEnd), "", kDone + pixels, {"first.pcx"}},
      {"offset wraps", patched(at.mip + wadpack::kPixelsField, uint32_t(-at.mip)), "", kDone + pixels,
       {"first.pcx"}},
      {"size wraps", patched(at.mip + wadpack::kHeightField, 0x20000000), "", kDone + pixels,
       {"first.pcx"}},
      {"slash", named("../x"), "", kDone + "Invalid mip entry; name is malformed.\n", {"first.pcx"}},
      {"too large", Package({first, Make("wide", 70000, 1)}), "",
       kDone + "Image too large : ./wide.pcx (70000x1)\n" + kWrong, {"first.pcx"}},
      {"create", good, "dir", kDone + "Could not create : ./second.pcx\n" + kWrong,
       {"first.pcx", "second.pcx"}},
      {"map header short", cut(map, wadpack::kMapHeadSize - 1), "", bsp, {}},
      {"quake map", patchedMap(0, 29), "", "Invalid WAD3 header id.\n", {}},
      {"map lump past end", patchedMap(lumpField + 4, uint32_t(map.size()) - lump + 1), "", bsp,
       {}},
      {"map lump wraps", patchedMap(lumpField, uint32_t(-length)), "", bsp, {}},
      {"map slots past lump", patchedMap(lump, (length - 4) / 4 + 1), "", bsp, {}},
      {"map count wraps", patchedMap(lump, 0x40000001), "", bsp, {}},
      {"map slot at end", patchedMap(inMap.entry, uint32_t(map.size()) - lump), "",
       kDone + "Invalid lump entry; filepos (MIP) is malformed.\n", {"first.pcx"}},
      {"map slot wraps", patchedMap(inMap.entry, 0u - lump), "",
       kDone + "Invalid lump entry; filepos (MIP) is malformed.\n", {"first.pcx"}},
      {"map pixels", patchedMap(inMap.mip + wadpack::kPixelsField, pastMap), "", kDone + pixels,
       {"first.pcx"}},
      {"map slash", renamed(map, inMap.mip, "a/b"), "",
       kDone + "Invalid mip entry; name is malformed.\n", {"first.pcx"}},
      {"model header short", cut(model, wadpack::kModelHeadSize - 1), "", mdl, {}},
      {"model table past end", patchedModel(texturesField, skins + 1), "", mdl, {}},
      {"model table wraps", patchedModel(texturesField + 4, 0u - 2 * 80), "", mdl, {}},
      {"model count wraps", patchedModel(texturesField, 0x03333334), "", mdl, {}},  // 80 n wraps
      {"model pixels past end", patchedModel(skin + wadpack::kSkinIndexField, pastModel), "",
       kDone + mdl, {"first.pcx"}},
      {"model size wraps", patchedModel(skin + wadpack::kSkinWidthField + 4, 0x20000000), "",
       kDone + mdl, {"first.pcx"}},
      {"model slash", renamed(model, skin, "a/b.bmp"), "",
       kDone + "Invalid mip entry; name is malformed.\n", {"first.pcx"}},
      {"model of sequences", renamed(model, 0, "IDSQ"), "", "Invalid WAD3 header id.\n", {}},
      {"model version", patchedModel(4, 11), "", "Invalid WAD3 header id.\n", {}},
      {"sprite header short", cut(sprite, wadpack::kSpriteHeadSize - 1), "", spr, {}, "p.spr"},
      {"sprite palette past end", patchedSprite({{wadpack::kSpritePaletteField, 0xFFFF}}), "", spr,
       {}, "p.spr"},
      {"sprite frames past end", patchedSprite({{wadpack::kSpriteFramesField, 3}}), "",
       spriteDone + "./p_1.pcx (8x8)\n" + spr, {"p_0.pcx", "p_1.pcx"}, "p.spr"},
      {"sprite flag", patchedSprite({{frame, 2}}), "", spriteDone + spr, {"p_0.pcx"}, "p.spr"},
      {"sprite group past end", patchedSprite({{frame, 1}, {frame + 4, 0x40000000}}), "",
       spriteDone + spr, {"p_0.pcx"}, "p.spr"},
      {"sprite picture past end", patchedSprite({{frame + 4 + 12, 9}}), "", spriteDone + spr,
       {"p_0.pcx"}, "p.spr"},
      {"sprite size wraps", patchedSprite({{frame + 4 + 8, 0x10000}, {frame + 4 + 12, 0x10000}}),
       "", spriteDone + spr, {"p_0.pcx"}, "p.spr"},
      // clang-format on
  };
  for (const Ending& c : cases) {
    fs::remove_all(work_);
    fs::create_directory(work_);
    if (c.setup == "dir") fs::create_directory(work_ / "second.pcx");
    ExpectEnding(c, Convert(c.package, c.name), first);
    // The same ending as PNG files, every line naming the .png file.
    fs::remove_all(work_);
    fs::create_directory(work_);
    if (c.setup == "dir") fs::create_directory(work_ / "second.png");
    WriteFile(root_ / c.name, c.package);
    ExpectEnding(AsPng(c), Wad3({"--png", "../" + c.name}), first);
  }
  const Result missing = Wad3({"../missing.wad"});
  EXPECT_EQ(missing.out, "File not found : ../missing.wad\n");
  EXPECT_EQ(missing.status, 1);
}

// A full disk shows only when the buffer is flushed, at the end or mid-file.
TEST_F(Run, RemovesAFileTheDiskHadNoRoomFor) {
  if (kWindows) GTEST_SKIP() << "Windows has no /dev/full to fill up";
  if (kWasi) GTEST_SKIP() << "WASI follows no link out of the program's folders, as to /dev/full";
  const Texture first = Make("first", 4, 4);
  const Ending cases[] = {
      {"disk full",
       Package({first, Make("second", 8, 8)}),
       "full",
       kDone + "./second.pcx (8x8)\nCould not write : ./second.pcx\n" + kWrong,
       {"first.pcx"}},
      {"disk full mid-file",
       Package({first, Make("second", 256, 256)}),
       "full",
       kDone + "./second.pcx (256x256)\nCould not write : ./second.pcx\n" + kWrong,
       {"first.pcx"}},
  };
  for (const Ending& c : cases) {
    fs::remove_all(work_);
    fs::create_directory(work_);
    fs::create_symlink("/dev/full", work_ / "second.pcx");
    ExpectEnding(c, Convert(c.package), first);
    fs::remove_all(work_);
    fs::create_directory(work_);
    fs::create_symlink("/dev/full", work_ / "second.png");
    ExpectEnding(AsPng(c), Wad3({"--png", "../p.wad"}), first);
  }
}

// One call the program made, as strace showed it, and the file it was on: "package", "stdout"
// or the image's path as the program named it.
struct Call {
  std::string name, target;
};

// The calls of a trace, with each file descriptor followed from the open that gave it.
std::vector<Call> Calls(const fs::path& trace) {
  std::vector<Call> calls;
  std::map<std::string, std::string> files = {{"1", "stdout"}};
  std::ifstream in(trace);
  for (std::string line; std::getline(in, line);) {
    const size_t open = line.find('(');
    if (open == std::string::npos || line.starts_with("+++")) continue;
    Call call{line.substr(0, open), ""};
    if (call.name == "openat") {  // openat(AT_FDCWD, "PATH", FLAGS) = FD
      const size_t from = line.find('"') + 1, to = line.find('"', from);
      // An image as the program names it: under an emulator the open may give the full path.
      const std::string path = line.substr(from, to - from);
      const bool input = path.ends_with(".wad") || path.ends_with(".bsp") ||
                         path.ends_with(".mdl") || path.ends_with(".spr");
      call.target = input ? "package" : "./" + path.substr(path.rfind('/') + 1);
      files[line.substr(line.rfind("= ") + 2)] = call.target;
    } else {  // NAME(FD, ...
      call.target = files[line.substr(open + 1, line.find_first_of(",)", open) - open - 1)];
    }
    calls.push_back(call);
  }
  return calls;
}

// One run with a failed call against the clean run: the same, or stopped with the problem's
// line last, leaving exactly the images whose lines came before it, each exact.
void ExpectNothingLost(const Result& clean, const Result& r, const Call& call,
                       const std::string& package, const std::string& what) {
  EXPECT_EQ(r.err, "") << what;
  for (const auto& [file, bytes] : r.files) {
    EXPECT_TRUE(clean.files.contains(file) && clean.files.at(file) == bytes)
        << what << ": " << file;
  }
  if (r.status == 0) {
    EXPECT_EQ(r.out, clean.out) << what;
    EXPECT_EQ(r.files.size(), clean.files.size()) << what;
    return;
  }
  EXPECT_EQ(r.status, 1) << what;
  if (call.target == "stdout") return;  // the log itself failed: no line can say so
  const bool opening = call.name == "openat";
  const std::string ending =
      call.target != "package"
          ? (opening ? "Could not create : " : "Could not write : ") + call.target + "\n" + kWrong
          : (opening ? "File not found : " : "Could not read : ") + package + "\n";
  if (!r.out.ends_with(ending)) {
    ADD_FAILURE() << what << ":\n" << r.out;
    return;
  }
  const std::string before = r.out.substr(0, r.out.size() - ending.size());
  EXPECT_TRUE(clean.out.starts_with(before)) << what << ":\n" << r.out;
  std::set<std::string> printed, left;  // but an image whose writing failed
  for (size_t at = before.find("\n./"); at != std::string::npos; at = before.find("\n./", at + 1)) {
    const std::string image = before.substr(at + 1, before.find(" (", at) - at - 1);
    if (image != call.target) printed.insert(image.substr(2));
  }
  for (const auto& [file, bytes] : r.files) left.insert(file);
  EXPECT_EQ(left, printed) << what;
}

// Every read, seek, write, close and open the program makes on the package, its images and its
// log, failed in turn from outside by strace. Each run either goes exactly as without the fault,
// or ends with exit status 1 and a line naming the problem last, leaving earlier images exact
// and no partial one. A read that returns nothing is what a package that shrank after its size
// was taken gives: in the package header, a palette or the pixels.
TEST_F(Run, FailsEveryCallInTurnAndLosesNothing) {
  if (const std::string why = WithoutStrace(); !why.empty()) GTEST_SKIP() << why;
  // Against the stream's 64 KiB buffer: the first palette and the big pixels each cross a
  // buffer's end, so that a read fails in their middle; the big image takes two writes; the
  // package's last palette runs past the end of the file, which is no fault. A map holds the
  // same three, and slots that hold none or only a name; a model has them as skins, and a
  // sprite as pictures, the last two in a group. A map's slot, a model's record and a sprite's
  // picture header cross a buffer's end too.
  constexpr uint32_t kBuffer = 64 << 10;
  const Texture first = Make("first", 256, 191), big = Make("big", 256, 256),
                last = Make("last", 8, 4), lead = Make("lead", 120, 539);
  Texture named = Make("named", 16, 16);
  named.named = true;
  const Bytes whole = Package({first, big, last}, true);
  // Where each crosses the end of the first buffer: slot 2 and the second picture's width by 2
  // bytes, record 1 by 8.
  const auto slots = uint32_t(kBuffer - 2 - wadpack::kMapHeadSize - 4 - 2 * 4);
  const auto records = uint32_t(kBuffer - 8 - wadpack::kModelHeadSize - wadpack::kModelRecordSize);
  static_assert(wadpack::kSpriteHeadSize + 768 + 4 + 16 + 120 * 539 + 4 + 4 + 8 + 8 == kBuffer - 2);
  struct Input {
    std::string name;
    Bytes bytes;
    std::vector<std::pair<std::string, const Texture*>> images;  // each file it gives, and its size
  };
  const Input files[] = {
      {"p.wad",
       Bytes(whole.begin(), whole.end() - 5),
       {{"first", &first}, {"big", &big}, {"last", &last}}},
      {"p.bsp",
       wadpack::Map({&first, nullptr, &big, &named, &last}, slots),
       {{"first", &first}, {"big", &big}, {"last", &last}}},
      {"p.mdl",
       wadpack::Model({first, big, last}, records),
       {{"first", &first}, {"big", &big}, {"last", &last}}},
      {"p.spr",
       wadpack::Sprite({{{lead}}, {{big, last}, true}}, first.palette),
       {{"p_0", &lead}, {"p_1", &big}, {"p_2", &last}}},
  };
  const std::vector<std::string> strace = StraceCommand();
  readers_ = false;  // the files are compared with the clean run's, which the readers checked
  for (const auto& [name, bytes, images] : files) {
   for (const std::string ending : {".pcx", ".png"}) {
    // As PCX files, then as PNG files: those of a package, as every walk reads alike.
    if (ending == ".png" && name != "p.wad") continue;
    const std::vector<std::string> options = ending == ".png" ? std::vector<std::string>{"--png"}
                                                                : std::vector<std::string>{};
    WriteFile(root_ / name, bytes);
    const fs::path root = fs::weakly_canonical(root_), work = fs::weakly_canonical(work_);
    const std::string path = (root / name).string();  // as strace names it: no "../"
    std::vector<std::string> traced = {"-P", path, "-P", (root / "out").string()};
    std::string lines;
    for (const auto& [image, t] : images) {
      traced.insert(traced.end(),
                    {"-P", "./" + image + ending, "-P", (work / image).string() + ending});
      lines += "./" + image + ending + " (" + std::to_string(t->width) + "x" +
               std::to_string(t->height) + ")\n";
    }
    fs::remove_all(work_);
    fs::create_directory(work_);
    tracer_ = strace;
    tracer_.insert(tracer_.end(), {"-o", (root / "trace").string()});
    tracer_.insert(tracer_.end(), traced.begin(), traced.end());
    readers_ = true;
    std::vector<std::string> args = options;
    args.push_back(path);
    const Result clean = Wad3(args);
    readers_ = false;
    if (clean.err.find("ptrace") != std::string::npos && !ToolsRequired())
      GTEST_SKIP() << "strace may not trace here: " << clean.err;
    ASSERT_EQ(clean.out, SizeLine(bytes) + lines + "\n");
    ASSERT_EQ(clean.status, 0) << clean.err;
    const std::vector<Call> calls = Calls(root / "trace");

    // Each kind of call by the names it goes by (Node's WASI writes with writev), and its fault.
    const std::pair<std::vector<std::string>, std::string> faults[] = {
        {{"read", "readv"}, "error=EIO"}, {{"read", "readv"}, "retval=0"},
        {{"lseek"}, "error=EIO"},         {{"write", "writev"}, "error=ENOSPC"},
        {{"close"}, "error=EIO"},         {{"openat"}, "error=EACCES"},
    };
    for (const auto& [names, fault] : faults) {
      unsigned runs = 0;
      for (const std::string& call : names) {
        unsigned n = 0;
        for (const Call& made : calls) {
          if (made.name != call) continue;
          const std::string when = call + ":" + fault + ":when=" + std::to_string(++n);
          fs::remove_all(work_);
          fs::create_directory(work_);
          tracer_ = strace;
          tracer_.insert(tracer_.end(), {"-o", "/dev/null", "-e", "inject=" + when});
          tracer_.insert(tracer_.end(), traced.begin(), traced.end());
          ExpectNothingLost(clean, Wad3(args), made, path,
                            name + " " + when + " on " + made.target);
          ++runs;
        }
      }
      EXPECT_GT(runs, 0u) << name << " " << names[0];
    }
   }
  }
}

}  // namespace
