// wad3 --png end to end: every kind of file, each picture's PNG file laid out as PNG readers
// insist, read back by ImageMagick as the colours the game draws, and pinned by its SHA-256.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "harness.h"
#include "sha256.h"

namespace {

using namespace harness;

enum class Look { kOpaque, kMasked, kDecal, kIndexAlpha };

// Red, green, blue and opacity of each pixel as the game draws the picture.
Bytes Drawn(const Texture& t, Bytes palette, Look look) {
  palette.resize(kPaletteBytes);  // the entries a palette lacks are black
  const uint8_t* last = &palette[3 * 255];
  if (look == Look::kDecal && last[0] == 0 && last[1] == 0 && last[2] == 255) look = Look::kMasked;
  Bytes rgba;
  for (const uint8_t index : t.pixels) {
    const bool tinted = look == Look::kDecal || look == Look::kIndexAlpha;
    const uint8_t* colour = tinted ? last : &palette[3 * index];
    const uint8_t alpha = look == Look::kDecal        ? uint8_t(255 - index)
                          : look == Look::kIndexAlpha ? index
                          : look == Look::kMasked && index == 255 ? 0
                                                                  : 255;
    rgba.insert(rgba.end(), {colour[0], colour[1], colour[2], alpha});
  }
  return rgba;
}

// The types of a PNG file's chunks in order, each CRC and length checked; IHDR's colour type.
std::vector<std::string> Chunks(const Bytes& png, int* colourType) {
  std::vector<std::string> types;
  for (size_t at = 8; at + 12 <= png.size();) {
    const uint32_t length = uint32_t(png[at]) << 24 | uint32_t(png[at + 1]) << 16 |
                            uint32_t(png[at + 2]) << 8 | png[at + 3];
    types.emplace_back(png.begin() + long(at + 4), png.begin() + long(at + 8));
    if (types.back() == "IHDR") *colourType = png[at + 8 + 9];
    at += 12 + size_t{length};
    if (types.back() == "IEND" && at != png.size()) types.emplace_back("(bytes after IEND)");
  }
  return types;
}

struct Picture {
  std::string file;  // as written: NAME.png, or NAME.pcx for a picture without pixels
  const Texture* texture;
  Bytes palette;  // the entries it is drawn with
  Look look;
  int colourType;  // 3 palette, 0 grey; -1 for a PCX file
};

// Every kind of file and every look: {textures masked, decals (blue or not), skins flagged masked,
// the four formats of sprites, a grey ramp written as grey, a short palette padded with black, a
// picture without pixels kept as PCX. The files the same bytes on every machine, pinned.
TEST_F(Run, WritesPngFilesDrawnAsTheGameDrawsThem) {
  Texture fence = Make("{fence", 16, 8), plain = Make("plain", 5, 3, 16), flat = Make("flat", 0, 4),
          grey = Make("grey", 9, 7), blood = Make("blood", 8, 8), blue = Make("blue", 4, 4),
          skin = Make("skin.bmp", 7, 5), face = Make("face", 3, 3), a = Make("a", 3, 2);
  for (size_t k = 0; k < grey.palette.size(); ++k) grey.palette[k] = uint8_t(k / 3);
  for (size_t k = 765; k < 768; ++k) blue.palette[k] = k == 767 ? 255 : 0;
  for (Texture* t : {&fence, &blood, &skin, &a}) t->pixels.back() = 255;  // the transparent entry
  skin.flags = 0x40;
  const Bytes spritePalette = Make("", 0, 0, 200).palette;
  struct Case {
    std::string name;
    Bytes bytes;
    std::vector<Picture> pictures;
  };
  std::vector<Case> cases = {
      {"p.wad",
       Package({fence, plain, flat, grey}),
       {{"{fence.png", &fence, fence.palette, Look::kMasked, 3},
        {"plain.png", &plain, plain.palette, Look::kOpaque, 3},
        {"flat.pcx", &flat, {}, Look::kOpaque, -1},
        {"grey.png", &grey, grey.palette, Look::kOpaque, 0}}},
      {"Decals.WAD",
       Package({blood, blue, grey}),
       {{"blood.png", &blood, blood.palette, Look::kDecal, 3},
        {"blue.png", &blue, blue.palette, Look::kDecal, 3},
        {"grey.png", &grey, grey.palette, Look::kDecal, 3}}},
      {"m.bsp", wadpack::Map({&fence, nullptr, &plain}),
       {{"{fence.png", &fence, fence.palette, Look::kMasked, 3},
        {"plain.png", &plain, plain.palette, Look::kOpaque, 3}}},
      {"m.mdl", wadpack::Model({skin, face}),
       {{"skin.png", &skin, skin.palette, Look::kMasked, 3},
        {"face.png", &face, face.palette, Look::kOpaque, 3}}},
  };
  const Look formats[] = {Look::kOpaque, Look::kOpaque, Look::kIndexAlpha, Look::kMasked};
  for (uint32_t format = 0; format < 4; ++format) {
    const std::string stem = "s" + std::to_string(format);
    cases.push_back({stem + ".spr",
                     wadpack::Sprite({{{a}}, {{a, fence}, true}}, spritePalette, format),
                     {{stem + "_0.png", &a, spritePalette, formats[format], 3},
                      {stem + "_1.png", &a, spritePalette, formats[format], 3},
                      {stem + "_2.png", &fence, spritePalette, formats[format], 3}}});
  }
  // SHA-256 of each file's pictures, one after another in the order written.
  std::map<std::string, std::string> hashes, pinned = {
      {"Decals.WAD", "7ddae10bcfdbe69fc6d997149e5ee292615956bd917082e58c46e7b450b875a3"},
      {"m.bsp", "698c8ab9e8dc2c85cbef6eba70e59543669432724b02b96bd827603c05af7e4b"},
      {"m.mdl", "0a3b0b7838c003ea5f7cf510817def4f3a99d2ce477be78ed61f7b06797fac05"},
      {"p.wad", "388d47eb4f71ad35075056c1fb2454c5e837d0a4d90e61b9c53ac1078c0c7306"},
      {"s0.spr", "48c7a43f72f8785c67d0ad00908c402e880454f07ba0669bf17eec529712708c"},
      {"s1.spr", "48c7a43f72f8785c67d0ad00908c402e880454f07ba0669bf17eec529712708c"},
      {"s2.spr", "c32da4e0303275994b8413c0a4ee32d673f0f169c7a93d71d4aa6b62b95989b3"},
      {"s3.spr", "ae0d89d10e73061506579c27dbc81f8cdf713c70e64f30b279bf5c4b82ca295f"}};
  for (const Case& c : cases) {
    fs::remove_all(work_);
    fs::create_directory(work_);
    WriteFile(root_ / c.name, c.bytes);
    const Result r = Wad3({"--png", "../" + c.name});
    std::string lines = SizeLine(c.bytes), all;
    for (const Picture& p : c.pictures) {
      lines += "./" + p.file + " (" + std::to_string(p.texture->width) + "x" +
               std::to_string(p.texture->height) + ")\n";
    }
    EXPECT_EQ(r.out, lines + "\n") << c.name;
    EXPECT_EQ(r.status, 0) << c.name;
    EXPECT_EQ(r.files.size(), c.pictures.size()) << c.name;
    for (const Picture& p : c.pictures) {
      const std::string what = c.name + ": " + p.file;
      if (!r.files.contains(p.file)) {
        ADD_FAILURE() << what << " not written";
        continue;
      }
      const Bytes& file = r.files.at(p.file);
      all.append(file.begin(), file.end());
      if (p.colourType < 0) {
        EXPECT_EQ(Decode(file), Expected(*p.texture)) << what;
        continue;
      }
      // IHDR first, the palette before the rows, IDAT once, IEND last; tRNS only where an entry
      // is not opaque.
      int colourType = -1;
      std::vector<std::string> want = {"IHDR", "PLTE", "tRNS", "IDAT", "IEND"};
      if (p.look == Look::kOpaque) want.erase(want.begin() + 2);
      if (p.colourType == 0) want.erase(want.begin() + 1);
      EXPECT_EQ(Chunks(file, &colourType), want) << what;
      EXPECT_EQ(colourType, p.colourType) << what;
      if (!ReadersPresent()) {
        if (ToolsRequired()) ADD_FAILURE() << "ImageMagick is needed under CI";
        continue;
      }
      WriteFile(root_ / "read.png", file);
      const Result magick = Exec({kImageMagick, "png:-", "-depth", "8", "rgba:-"}, "/",
                                 root_ / "read.png", root_);
      EXPECT_EQ(magick.status, 0) << what << magick.err;
      Bytes read(magick.out.begin(), magick.out.end()), drawn = Drawn(*p.texture, p.palette, p.look);
      // A pixel not drawn at all has no colour to compare.
      for (size_t i = 0; i + 3 < read.size() && i + 3 < drawn.size(); i += 4) {
        if (drawn[i + 3] == 0 && read[i + 3] == 0) std::fill_n(&read[i], 3, 0), std::fill_n(&drawn[i], 3, 0);
      }
      EXPECT_TRUE(read == drawn) << what;
    }
    hashes[c.name] = sha256::Hex(Bytes(all.begin(), all.end()));
  }
  EXPECT_EQ(hashes, pinned);
}

}  // namespace
