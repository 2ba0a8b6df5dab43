// The map --make writes: a map's lumps copied, its texture lump laid anew with textures put
// inside, written to a part file beside its path. The layout is drawn in bspwrite.cpp.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bsp.h"
#include "partfile.h"
#include "wadwrite.h"

// One slot of a map's texture lump, as the map holds it.
struct MAPSLOT {
  bool empty;       // its offset is -1: no texture
  bool carried;     // its levels and palette lie in the map; otherwise it only names its texture
  uint64_t at;      // its texture header, from the texture lump's start
  uint64_t length;  // its bytes there: the header, and to the end of its levels and palette
  char name[kWad3NameSize];
  uint32_t width, height;
};

// A map read to be written again: its lumps' directory, its texture and entities lumps.
struct MAPFILE {
  FILE* fp = nullptr;  // the map, open: its other lumps are copied from it
  uint64_t size = 0;
  std::vector<BSPLUMP> lumps;  // 15, and 12 more behind an XASH header
  uint32_t xashVersion = 0;
  std::vector<uint8_t> textures;
  std::vector<MAPSLOT> slots;
  std::vector<uint8_t> entities;
};

// Reads the map's header and its texture and entities lumps from `fp`. Returns an empty text,
// or why the map is no map of version 30 or cannot be written again whole.
std::string ReadMap(FILE* fp, MAPFILE* map);

// The entities with every package named in `packages` (last components in lower case) gone
// from the list of the first entity's "wad" key; the same bytes where none is listed there.
std::vector<uint8_t> WithoutPackages(const std::vector<uint8_t>& entities,
                                     const std::vector<std::string>& packages);

// A map being written: where each lump goes, and how far the writing has come.
struct MAPWRITE {
  PARTFILE file;
  const MAPFILE* map = nullptr;
  std::vector<uint8_t> entities;  // the entities lump to write
  std::vector<uint64_t> laid;     // each slot's bytes in the new texture lump, padding included
  std::vector<BSPLUMP> lumps;     // where each lump goes
  std::vector<unsigned> order;    // the lumps in the order they lie in the map
  uint64_t end = 0;               // the map's length
  uint64_t at = 0;                // bytes written so far
  size_t next = 0;                // of `order`, the lump to write next
  size_t slot = 0;                // the slot to write next
  bool tabled = false;            // the texture lump's count and offsets are written
};

// Lays the map out: `laid[k]` is LaidLength of the texture put in slot k, or 0 where the slot
// keeps the map's bytes; `entities` the entities lump to write. False where the map would pass
// 4 GiB, beyond its 32-bit positions.
bool PlanMap(MAPWRITE* out, const MAPFILE& map, const std::vector<uint64_t>& laid,
             std::vector<uint8_t> entities);

// Creates the part file beside `path` and writes the header. False where it cannot be created.
bool BeginMap(MAPWRITE* out, const char* path);

// Writes the lumps that lie before the textures, and the texture lump's count and offsets; once
// every slot is written, the lumps after it. False where the map could not be read.
bool CopyLumps(MAPWRITE* out);

// Writes the next slot: `texture`, laid as a package lays it, or where null the map's bytes.
void AddSlot(MAPWRITE* out, const TEXTURE* texture);

// Flushes, closes and renames the part file over the path. False where any write failed.
bool FinishMap(MAPWRITE* out);

// Closes and removes the part file.
void AbandonMap(MAPWRITE* out);
