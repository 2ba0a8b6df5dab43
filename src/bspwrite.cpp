/* bspwrite: a map written again by --make, textures put inside it (the map as the extraction
 * reads it is drawn in bsp.cpp).
 *
 * Header, written anew with where each lump now lies:
 *    0  u32   version          30
 *    4  15 lumps of           u32 fileofs, u32 filelen
 *  124  only where the map has it: u32 "XASH", u32 its version, 12 more lumps of the same form
 * Then every lump in the order it lay in the map, each at a multiple of 4 with zero bytes
 * before it, the last padded to a multiple of 4 too; an empty one lies where its turn comes:
 *   entities (lump 0)   the map's text and its zero byte; the packages put inside gone from
 *                       the first entity's "wad" key, a list of paths between semicolons
 *   textures (lump 2)   u32 count, count u32 offsets as the map has them (-1 stays -1), then
 *                       each slot's texture in slot order, at a multiple of 4: one put in laid
 *                       as a package lays it (wadwrite.cpp) under the name as the map spells
 *                       it; one kept, as the map holds it, its header and, where it carries
 *                       its texture, everything to the end of its levels and palette
 *   any other           copied as it is, in blocks, never the whole map in memory
 * Bytes of the map's texture lump that no slot reaches are not carried over. Bytes outside
 * every lump are dropped where they are padding: zero bytes, or fewer than 4. Any others, or a
 * lump or texture that does not lie whole where it should, refuse the map: what cannot be
 * kept whole is not written.
 */
#include "bspwrite.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <string_view>

#include "picture.h"
#include "tools.h"

namespace {

constexpr unsigned kMapLumps = 15, kXashLumps = 12;
constexpr unsigned kEntitiesLump = 0, kTexturesLump = 2;
constexpr uint64_t kVersionSize = 4, kLumpEntrySize = 8;
constexpr uint64_t kMapHeadSize = kVersionSize + kMapLumps * kLumpEntrySize;
constexpr uint32_t kXashMagic = 0x48534158; /* "XASH" little-endian */
constexpr uint64_t kXashHeadSize = kMapHeadSize + 8 + kXashLumps * kLumpEntrySize;
constexpr uint64_t kCountSize = 4, kOffsetSize = 4;
constexpr uint32_t kNoTexture = 0xFFFFFFFF;
constexpr uint64_t kAlignment = 4;
constexpr uint64_t kMaxMap = UINT32_MAX; /* positions and lengths are 32 bits */
constexpr size_t kBlock = 1 << 20;
constexpr uint32_t kHighestVersion = 255; /* above it, a first word is no BSP version */
constexpr char kMalformed[] = "BSP file is malformed.";
constexpr std::string_view kWadKey = "wad";
constexpr char kListSeparator = ';';

uint64_t Padded(uint64_t length) {
  return (length + kAlignment - 1) / kAlignment * kAlignment;
}

uint32_t Load4(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// Reads `count` bytes at `at`; false where they are not all there.
bool ReadAt(FILE* fp, uint64_t size, uint64_t at, void* out, size_t count) {
  return count == 0 ||
         (at + count <= size && SeekTo(fp, at, size) && fread(out, 1, count, fp) == count);
}

// The slot whose offset is `offset`, its bytes checked to lie in the texture lump.
bool ReadSlot(const std::vector<uint8_t>& lump, uint32_t offset, MAPSLOT* slot) {
  *slot = {};
  if (offset == kNoTexture) {
    slot->empty = true;
    return true;
  }
  const uint64_t size = lump.size();
  if (uint64_t{offset} + kMipHeadSize > size) return false;
  const uint8_t* const header = lump.data() + offset;
  memcpy(slot->name, header, kWad3NameSize);
  slot->width = Load4(header + kWad3NameSize);
  slot->height = Load4(header + kWad3NameSize + 4);
  slot->at = offset;
  slot->length = kMipHeadSize;
  uint32_t levels[kMipLevels];
  for (unsigned k = 0; k < kMipLevels; ++k) levels[k] = Load4(header + kWad3NameSize + 8 + 4 * k);
  slot->carried = levels[0] != 0;  // as the extraction tells them
  if (!slot->carried) return true;
  const uint64_t pixels = uint64_t{slot->width} * slot->height;
  if (pixels > size) return false;
  for (unsigned k = 0; k < kMipLevels; ++k) {
    slot->length = std::max(slot->length, uint64_t{levels[k]} + (pixels >> (2 * k)));
  }
  const uint64_t palette = PaletteOffset(pixels);
  if (offset + palette + kPaletteCountSize > size) return false;
  const uint8_t* const count = header + palette;
  const uint64_t entries = uint64_t{count[0]} | uint64_t{count[1]} << 8;
  slot->length = std::max(slot->length, palette + kPaletteCountSize + 3 * entries);
  return offset + slot->length <= size;
}

// Bytes outside every lump and the header: an empty text where each run of them is padding.
std::string Uncovered(const MAPFILE& map, uint64_t head) {
  std::vector<std::pair<uint64_t, uint64_t>> lumps;  // where each begins and ends
  for (const BSPLUMP& lump : map.lumps) {
    if (lump.filelen != 0) lumps.emplace_back(lump.fileofs, uint64_t{lump.fileofs} + lump.filelen);
  }
  lumps.emplace_back(map.size, map.size);
  std::sort(lumps.begin(), lumps.end());
  std::vector<uint8_t> block;
  uint64_t covered = head;
  for (const auto& [begin, end] : lumps) {
    if (begin > covered && begin - covered >= kAlignment) {
      block.resize(static_cast<size_t>(std::min<uint64_t>(begin - covered, kBlock)));
      for (uint64_t at = covered; at < begin; at += block.size()) {
        const auto count = static_cast<size_t>(std::min<uint64_t>(block.size(), begin - at));
        if (!ReadAt(map.fp, map.size, at, block.data(), count)) return "cannot be read";
        if (std::any_of(block.begin(), block.begin() + long(count), [](uint8_t b) { return b != 0; })) {
          return std::to_string(begin - covered) + " bytes at " + std::to_string(covered) +
                 " lie in no lump, and would be lost";
        }
      }
    }
    covered = std::max(covered, end);
  }
  return {};
}

// Where the bytes of a quoted text begin and end, from `at`; false where there is none.
bool Quoted(std::string_view text, size_t* at, size_t* begin, size_t* end) {
  while (*at < text.size() && (text[*at] == ' ' || text[*at] == '\t' || text[*at] == '\r' ||
                               text[*at] == '\n')) {
    ++*at;
  }
  if (*at >= text.size() || text[*at] != '"') return false;
  *begin = *at + 1;
  *end = text.find('"', *begin);
  if (*end == std::string_view::npos) return false;
  *at = *end + 1;
  return true;
}

// Each item of a "wad" key's list, but those of the packages.
std::string Kept(std::string_view list, const std::vector<std::string>& packages) {
  std::string kept;
  bool first = true;
  for (size_t from = 0; from <= list.size();) {
    const size_t to = std::min(list.find(kListSeparator, from), list.size());
    const std::string_view item = list.substr(from, to - from);
    const size_t slash = item.find_last_of("/\\");  // paths of any system
    const std::string name = Lower(slash == std::string_view::npos ? item : item.substr(slash + 1));
    if (item.empty() || std::find(packages.begin(), packages.end(), name) == packages.end()) {
      if (!first) kept += kListSeparator;
      kept += item;
      first = false;
    }
    from = to + 1;
  }
  return kept;
}

void Pad(MAPWRITE* out, uint64_t to) {
  for (; out->at < to; ++out->at) putc(0, out->file.fp);
}

void WriteTable(MAPWRITE* out) {
  const std::vector<MAPSLOT>& slots = out->map->slots;
  FILE* const fp = out->file.fp;
  put4(static_cast<uint32_t>(slots.size()), fp);
  uint64_t at = kCountSize + kOffsetSize * slots.size();
  for (size_t k = 0; k < slots.size(); ++k) {
    put4(slots[k].empty ? kNoTexture : static_cast<uint32_t>(at), fp);
    at += out->laid[k];
  }
  out->at += kCountSize + kOffsetSize * slots.size();
}

}  // namespace

std::string ReadMap(FILE* fp, MAPFILE* map) {
  struct stat status;
  if (fstat(fileno(fp), &status) != 0) return "cannot be read";
  map->fp = fp;
  map->size = static_cast<uint64_t>(status.st_size);
  uint8_t head[kXashHeadSize] = {};
  if (!ReadAt(fp, map->size, 0, head, static_cast<size_t>(std::min(kXashHeadSize, map->size)))) {
    return "cannot be read";
  }
  const uint32_t version = Load4(head);
  if (map->size >= kVersionSize && version != kMapVersion) {
    return version <= kHighestVersion
               ? "a map of BSP version " + std::to_string(version) + ", not 30 as Half-Life's"
               : "not a map (BSP version 30)";
  }
  if (map->size < kMapHeadSize) return kMalformed;
  uint64_t firstLump = map->size;
  for (unsigned k = 0; k < kMapLumps; ++k) {
    const uint8_t* entry = head + kVersionSize + k * kLumpEntrySize;
    map->lumps.push_back({Load4(entry), Load4(entry + 4)});
    if (map->lumps.back().filelen != 0) firstLump = std::min<uint64_t>(firstLump, Load4(entry));
  }
  uint64_t headSize = kMapHeadSize;
  if (map->size >= kXashHeadSize && firstLump >= kXashHeadSize &&
      Load4(head + kMapHeadSize) == kXashMagic) {
    map->xashVersion = Load4(head + kMapHeadSize + 4);
    for (unsigned k = 0; k < kXashLumps; ++k) {
      const uint8_t* entry = head + kMapHeadSize + 8 + k * kLumpEntrySize;
      map->lumps.push_back({Load4(entry), Load4(entry + 4)});
    }
    headSize = kXashHeadSize;
  }
  for (const BSPLUMP& lump : map->lumps) {
    if (uint64_t{lump.fileofs} + lump.filelen > map->size) return kMalformed;
  }
  const BSPLUMP textures = map->lumps[kTexturesLump], entities = map->lumps[kEntitiesLump];
  map->textures.resize(textures.filelen);
  map->entities.resize(entities.filelen);
  if (!ReadAt(fp, map->size, textures.fileofs, map->textures.data(), textures.filelen) ||
      !ReadAt(fp, map->size, entities.fileofs, map->entities.data(), entities.filelen)) {
    return "cannot be read";
  }
  if (map->textures.size() >= kCountSize) {  // room for no count: no textures
    const uint64_t count = Load4(map->textures.data());
    if (kCountSize + count * kOffsetSize > map->textures.size()) return kMalformed;
    map->slots.resize(static_cast<size_t>(count));
    for (size_t k = 0; k < map->slots.size(); ++k) {
      const uint32_t offset = Load4(map->textures.data() + kCountSize + kOffsetSize * k);
      if (!ReadSlot(map->textures, offset, &map->slots[k])) return kMalformed;
    }
  }
  return Uncovered(*map, headSize);
}

std::vector<uint8_t> WithoutPackages(const std::vector<uint8_t>& entities,
                                     const std::vector<std::string>& packages) {
  const std::string_view text(reinterpret_cast<const char*>(entities.data()), entities.size());
  size_t at = text.find('{');
  if (at == std::string_view::npos || packages.empty()) return entities;
  ++at;
  // The first entity's keys and values, quoted, up to its closing brace.
  size_t key, keyEnd, value, valueEnd;
  while (Quoted(text, &at, &key, &keyEnd) && Quoted(text, &at, &value, &valueEnd)) {
    if (text.substr(key, keyEnd - key) != kWadKey) continue;
    const std::string kept = Kept(text.substr(value, valueEnd - value), packages);
    std::vector<uint8_t> edited(entities.begin(), entities.begin() + long(value));
    edited.insert(edited.end(), kept.begin(), kept.end());
    edited.insert(edited.end(), entities.begin() + long(valueEnd), entities.end());
    return edited;
  }
  return entities;
}

bool PlanMap(MAPWRITE* out, const MAPFILE& map, const std::vector<uint64_t>& laid,
             std::vector<uint8_t> entities) {
  out->map = &map;
  out->entities = std::move(entities);
  out->laid.assign(map.slots.size(), 0);
  uint64_t textures = kCountSize + kOffsetSize * map.slots.size();
  for (size_t k = 0; k < map.slots.size(); ++k) {
    if (!map.slots[k].empty) out->laid[k] = laid[k] != 0 ? laid[k] : Padded(map.slots[k].length);
    textures += out->laid[k];
  }
  out->order.resize(map.lumps.size());
  std::iota(out->order.begin(), out->order.end(), 0u);
  std::stable_sort(out->order.begin(), out->order.end(), [&](unsigned a, unsigned b) {
    return map.lumps[a].fileofs < map.lumps[b].fileofs;
  });
  out->lumps.resize(map.lumps.size());
  uint64_t at = map.lumps.size() > kMapLumps ? kXashHeadSize : kMapHeadSize;
  for (const unsigned k : out->order) {
    const uint64_t length = k == kTexturesLump   ? textures
                            : k == kEntitiesLump ? out->entities.size()
                                                 : map.lumps[k].filelen;
    at = Padded(at);
    if (at + length > kMaxMap) return false;
    out->lumps[k] = {static_cast<uint32_t>(at), static_cast<uint32_t>(length)};
    at += length;
  }
  out->end = Padded(at);
  return out->end <= kMaxMap;
}

bool BeginMap(MAPWRITE* out, const char* path) {
  if (!BeginPart(&out->file, path)) return false;
  FILE* const fp = out->file.fp;
  put4(kMapVersion, fp);
  for (size_t k = 0; k < out->lumps.size(); ++k) {
    if (k == kMapLumps) {
      put4(kXashMagic, fp);
      put4(out->map->xashVersion, fp);
    }
    put4(out->lumps[k].fileofs, fp);
    put4(out->lumps[k].filelen, fp);
  }
  out->at = out->lumps.size() > kMapLumps ? kXashHeadSize : kMapHeadSize;
  return true;
}

bool CopyLumps(MAPWRITE* out) {
  for (; out->next < out->order.size(); ++out->next) {
    const unsigned k = out->order[out->next];
    if (k == kTexturesLump && out->tabled) continue;  // its slots are written
    Pad(out, out->lumps[k].fileofs);
    if (k == kTexturesLump) {
      WriteTable(out);
      out->tabled = true;
      return true;
    }
    if (k == kEntitiesLump) {
      if (!out->entities.empty()) fwrite(out->entities.data(), 1, out->entities.size(), out->file.fp);
      out->at += out->entities.size();
    } else {
      const BSPLUMP& lump = out->map->lumps[k];
      if (!CopyBytes(out->map->fp, lump.fileofs, out->map->size, lump.filelen, out->file.fp)) {
        return false;
      }
      out->at += lump.filelen;
    }
  }
  Pad(out, out->end);
  return true;
}

void AddSlot(MAPWRITE* out, const TEXTURE* texture) {
  const MAPSLOT& slot = out->map->slots[out->slot];
  const uint64_t end = out->at + out->laid[out->slot];
  ++out->slot;
  if (slot.empty) return;
  if (texture != nullptr) {
    LayTexture(*texture, out->file.fp);
    out->at = end;
    return;
  }
  fwrite(out->map->textures.data() + slot.at, 1, static_cast<size_t>(slot.length), out->file.fp);
  out->at += slot.length;
  Pad(out, end);
}

bool FinishMap(MAPWRITE* out) {
  return CommitPart(&out->file);
}

void AbandonMap(MAPWRITE* out) {
  AbandonPart(&out->file);
}
