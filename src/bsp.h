// The textures a map carries. The map layout is drawn in bsp.cpp.
#pragma once

#include <cstdint>

#include "picture.h"

constexpr uint32_t kMapVersion = 30; /* a map's first word: the BSP version of Half-Life's */

// One entry of a map's lump table.
struct BSPLUMP {
  uint32_t fileofs;  // position of the lump
  uint32_t filelen;  // its length in bytes
};

// Writes every texture the map carries, walking its texture lump once. Returns 0 after the
// whole lump was walked, 1 after printing why the run ends.
int EnumerateMap(const RUN& run);
