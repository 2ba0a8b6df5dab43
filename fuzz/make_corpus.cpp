// Writes the seed corpus: packages, maps, models and sprites for the run harness (sound ones,
// and one for every way a run can end), images for the encoder harness, and image files for the
// --make harness, each after the byte that picks its ending and name. (images/jpeg.bin, a JPEG
// of 16 x 16 of our own, was written by Pillow.)
//   build/fuzz/make-corpus fuzz/corpus
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "imagepack.h"
#include "wadpack.h"

namespace {

using wadpack::Bytes;
using wadpack::Package;
using wadpack::Set32;
using wadpack::Texture;

Texture Make(const std::string& name, uint32_t width, uint32_t height, uint32_t entries = 256) {
  Texture t;
  t.name = name;
  t.width = width;
  t.height = height;
  for (uint32_t i = 0; i < width * height; ++i) t.pixels.push_back(uint8_t(i / 5 % 3 * 0x61));
  for (uint32_t i = 0; i < entries * 3; ++i) t.palette.push_back(uint8_t(i));
  return t;
}

void Write(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fputs("usage: make-corpus FOLDER\n", stderr);
    return 2;
  }
  const std::filesystem::path run = std::filesystem::path(argv[1]) / "run";
  const std::filesystem::path pcx = std::filesystem::path(argv[1]) / "pcx";
  std::filesystem::create_directories(run);
  std::filesystem::create_directories(pcx);
  const std::filesystem::path files = std::filesystem::path(argv[1]) / "images";
  std::filesystem::create_directories(files);

  Texture lump = Make("qpic", 4, 2);
  lump.type = 0x42;
  const Bytes good = Package({Make("brick", 8, 8), lump, Make("{fence", 13, 5, 16)});
  const size_t dir = good.size() - 96, mip = 12;  // the first texture's header
  auto patchedAt = [](Bytes b, size_t at, uint32_t value) {
    Set32(b, at, value);
    return b;
  };
  auto patched = [&](size_t at, uint32_t value) { return patchedAt(good, at, value); };
  const std::vector<std::pair<const char*, Bytes>> seeds = {
      {"good", good},
      {"directory-first", Package({Make("a", 3, 3), Make("ABCDEFGHIJKLMNOP", 2, 1, 300)}, true)},
      {"empty", Package({})},
      {"no-size", Package({Make("flat", 0, 4), Make("thin", 4, 0)})},
      {"short", Bytes(good.begin(), good.begin() + 11)},
      {"magic", patched(0, 0x34444157)},
      {"directory-cut", Bytes(good.begin(), good.end() - 1)},
      {"lumps-wrap", patched(4, 0x08000000)},
      {"filepos-at-end", patched(dir, uint32_t(good.size()))},
      {"header-at-end", patched(dir, uint32_t(good.size() - 1))},
      {"pixels-past-end", patched(mip + 24, uint32_t(good.size()))},
      {"offset-wraps", patched(mip + 24, uint32_t(-mip))},
      {"size-wraps", patched(mip + 20, 0x20000000)},
      {"too-wide", patched(mip + 16, 0xFFFFFFFF)},
      {"slash", patched(mip, 0x2F2E2E)},  // "../"
  };
  for (const auto& [name, bytes] : seeds) Write(run / (std::string(name) + ".wad"), bytes);

  Texture named = Make("named", 16, 16), wall = Make("wall", 8, 4), pixelless = Make("", 0, 3);
  named.named = true;
  const Bytes map = wadpack::Map({&wall, nullptr, &named, &pixelless});
  const uint32_t textures = wadpack::Get32(map, wadpack::kTextureLumpField);
  auto patchedMap = [&](size_t at, uint32_t value) { return patchedAt(map, at, value); };
  const std::vector<std::pair<const char*, Bytes>> maps = {
      {"map", map},
      {"map-short", Bytes(map.begin(), map.begin() + wadpack::kMapHeadSize - 1)},
      {"map-lump-wraps", patchedMap(wadpack::kTextureLumpField, 0u - textures)},
      {"map-count-wraps", patchedMap(textures, 0x40000001)},
      {"map-slot-wraps", patchedMap(textures + 4, 0u - textures)},
  };
  for (const auto& [name, bytes] : maps) Write(run / (std::string(name) + ".bsp"), bytes);

  const Bytes model = wadpack::Model({Make("skin.BMP", 6, 4), Make("a.bmp", 0, 2, 16)});
  Bytes sprite = wadpack::Sprite({{{Make("", 4, 4)}}, {{Make("", 2, 3), Make("", 1, 1)}, true}},
                                 Make("", 0, 0, 300).palette, 2);
  const size_t group = wadpack::kSpriteHeadSize + 900 + 4 + 16 + 16;  // the second frame
  const std::vector<std::pair<const char*, Bytes>> others = {
      {"model.mdl", model},
      {"model-none.mdl", wadpack::Model({})},
      {"model-table-wraps.mdl", patchedAt(model, wadpack::kModelTexturesField + 4, 0u - 160)},
      {"model-pixels-past-end.mdl",
       patchedAt(model, wadpack::kModelHeadSize + wadpack::kSkinIndexField,
                 uint32_t(model.size()))},
      {"sprite.spr", sprite},
      {"sprite-flag.spr", patchedAt(sprite, group, 2)},
      {"sprite-group-wraps.spr", patchedAt(sprite, group + 4, 0x40000000)},
      {"sprite-short.spr", Bytes(sprite.begin(), sprite.begin() + wadpack::kSpriteHeadSize - 1)},
  };
  for (const auto& [name, bytes] : others) Write(run / name, bytes);

  const std::vector<std::pair<const char*, Bytes>> images = {
      {"runs", {127, 2, 16, 0, 0x10}},          {"mixed", {4, 1, 0, 1, 5, 5, 5, 7}},
      {"high", {3, 3, 0, 1, 0xBF, 0xC0, 0xFF}}, {"no-rows", {5, 0, 1, 0, 1}},
      {"no-columns", {0, 3, 1, 0, 1}},
  };
  for (const auto& [name, bytes] : images) Write(pcx / (std::string(name) + ".bin"), bytes);

  // The harness's first byte b: the ending b % 5 (.png .bmp .tga .jpg .pcx), the name b / 5 % 3
  // ({in, in, !in), dithered where b is even, in decals.wad from 128 on.
  Bytes rgba, indices, palette;
  for (uint32_t i = 0; i < 16 * 16; ++i) {
    rgba.insert(rgba.end(), {uint8_t(i * 7), uint8_t(i / 3), uint8_t(i % 16 * 16), uint8_t(i)});
    indices.push_back(uint8_t(i % 13));
  }
  for (uint32_t i = 0; i < 13 * 3; ++i) palette.push_back(uint8_t(i * 6));
  Bytes rgb, packed;
  for (size_t i = 0; i < rgba.size(); i += 4) rgb.insert(rgb.end(), &rgba[i], &rgba[i + 3]);
  for (size_t i = 0; i < indices.size(); i += 2) packed.push_back(uint8_t(indices[i] << 4 | indices[i + 1]));
  auto tagged = [](uint8_t tag, Bytes bytes) {
    bytes.insert(bytes.begin(), tag);
    return bytes;
  };
  const std::vector<std::pair<const char*, Bytes>> made = {
      {"png-indexed", tagged(0, imagepack::Encode({16, 16, 4, 3, packed, palette, {}}))},
      {"png-rgb", tagged(5, imagepack::Encode({16, 16, 8, 2, rgb, {}, {}}))},
      {"png-rgba", tagged(10, imagepack::Encode({16, 16, 8, 6, rgba, {}, {}}))},
      {"png-decal", tagged(130, imagepack::Encode({16, 16, 8, 6, rgba, {}, {}}))},
      {"bmp-8", tagged(1, imagepack::Bmp(16, 16, 8, palette, indices))},
      {"bmp-4", tagged(6, imagepack::Bmp(16, 16, 4, palette, indices, true))},
      {"tga-rgba", tagged(2, imagepack::Tga(16, 16, rgba, true))},
      {"tga-rgb", tagged(7, imagepack::Tga(16, 16, rgba, false))},
      {"pcx", tagged(4, imagepack::Pcx(16, 16, indices, palette))},
      {"pcx-water", tagged(14, imagepack::Pcx(16, 32, Bytes(512, 0xC9), palette))},
  };
  for (const auto& [name, bytes] : made) Write(files / (std::string(name) + ".bin"), bytes);
  // Maps to write again, after their tag: textures named as the harness gives them, lumps in
  // the map's order and behind an XASH header.
  Texture fence = Make("{fence", 16, 16);
  fence.named = true;
  Bytes xash = tagged(1, wadpack::Map({&wall, &fence, nullptr, &named}, 5));
  xash.insert(xash.begin() + 1 + 124, 104, 0);
  for (unsigned k = 0; k < 15; ++k) Set32(xash, 1 + 4 + 8 * k, wadpack::Get32(xash, 1 + 4 + 8 * k) + 104);
  Set32(xash, 1 + 124, 0x48534158);  // "XASH"
  Set32(xash, 1 + 132, uint32_t(xash.size() - 1));
  Set32(xash, 1 + 136, 8);
  xash.insert(xash.end(), {0, 1, 2, 3, 4, 5, 6, 7});
  Write(files / "map.bin", tagged(0, map));
  // A model whose skin the harness's image replaces.
  Write(files / "model.bin", tagged(0, model));
  Write(files / "map-xash.bin", xash);
  return 0;
}
