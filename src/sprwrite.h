// The sprite --make writes: its header, one palette, and a single picture a frame, to a part
// file beside its path. The layout is drawn in sprwrite.cpp.
#pragma once

#include <cstdint>

#include "partfile.h"
#include "spr.h"

// A sprite being written.
struct SPRWRITE {
  PARTFILE file;
};

// The header of a sprite of `frames` frames, the largest `width` and `height`: its bounding
// radius that of the largest frame's corner, no beam, random sync, a palette of 256 entries.
SPRHEAD SpriteHead(uint32_t type, uint32_t format, uint32_t width, uint32_t height,
                   uint32_t frames);

// Creates the part file beside `path` and writes the header and the palette's 256 entries.
// False where it cannot be created.
bool BeginSprite(SPRWRITE* sprite, const char* path, const SPRHEAD& head, const uint8_t* palette);

// Writes one frame: a single picture, centred on the origin, of width x height indices.
void AddFrame(SPRWRITE* sprite, uint32_t width, uint32_t height, const uint8_t* indices);

// Flushes, closes and renames the part file over the path. False where any write failed.
bool FinishSprite(SPRWRITE* sprite);

// Closes and removes the part file.
void AbandonSprite(SPRWRITE* sprite);
