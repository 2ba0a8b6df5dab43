// The pictures a sprite holds. The sprite layout is drawn in spr.cpp.
#pragma once

#include <cstdint>

#include "picture.h"

constexpr uint32_t kSpriteMagic = 0x50534449; /* "IDSP" little-endian */
constexpr uint32_t kSpriteVersion = 2;        /* the sprites of Half-Life */

// The header after its magic and version, as the file holds it; the walk uses numframes and
// palette.
struct SPRHEAD {
  uint32_t type;            // how it faces the viewer
  uint32_t format;          // 0 normal, 1 additive, 2 index-alpha, 3 alpha-test
  uint32_t boundingradius;  // a float's bits
  uint32_t maxwidth;
  uint32_t maxheight;
  uint32_t numframes;   // frames: single pictures or groups of them
  uint32_t beamlength;  // a float's bits
  uint32_t synctype;
  uint16_t palette;  // palette entries, right after the header
};

// Writes every picture of the sprite, frame by frame, each named after the sprite's file and its
// number. Returns 0 after the last frame, 1 after printing why the run ends.
int EnumerateSprite(const RUN& run);
