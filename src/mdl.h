// The skins a model carries. The model layout is drawn in mdl.cpp.
#pragma once

#include <cstdint>
#include <cstdio>

#include "picture.h"

constexpr uint32_t kModelMagic = 0x54534449; /* "IDST" little-endian */
constexpr uint32_t kModelVersion = 10;       /* the studio models of Half-Life */
constexpr unsigned kModelNameSize = 64;
constexpr uint64_t kModelHeadSize = 244;
constexpr uint64_t kModelTexturesField = 180; /* numtextures, then textureindex */
constexpr uint64_t kModelRecordSize = 80;     /* one record of the texture table */

// One record of a model's texture table.
struct MDLTEXTURE {
  char name[kModelNameSize];  // up to the first zero byte, or all 64 bytes
  uint32_t flags;             // 0x40: masked, entry 255 transparent (not used here)
  uint32_t width;
  uint32_t height;
  uint32_t index;  // position of the pixels; the palette follows them
};

// The texture-table record at fp's position, its fields as they are (the caller checks them
// and the read).
MDLTEXTURE ReadModelTexture(FILE* fp);

// Writes every skin of the model, in the order of its texture table. Returns 0 after the whole
// table was walked, 1 after printing why the run ends.
int EnumerateModel(const RUN& run);
