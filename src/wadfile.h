// The WAD3 package's records and their fields, as the extraction reads them and --make writes
// them. The layout is drawn in wadfile.cpp.
#pragma once

#include <cstdint>
#include <cstdio>

constexpr unsigned kWad3NameSize = 16;
constexpr uint32_t kMagic = 0x33444157; /* "WAD3" little-endian */
constexpr char kTextureType = 'C';      /* 0x43: a mip texture */
constexpr uint64_t kHeadSize = 12;
constexpr uint64_t kLumpSize = 32;
constexpr uint64_t kMipHeadSize = 40;
constexpr unsigned kMipLevels = 4;         /* full size, then halved three times */
constexpr uint64_t kPaletteCountSize = 2; /* u16 */

// Package header.
struct WAD3HEAD {
  uint32_t identification;  // "WAD3"
  uint32_t numlumps;        // directory entries
  uint32_t infotableofs;    // position of the first directory entry
};

// Directory entry.
struct WAD3LUMP {
  uint32_t filepos;  // position of the lump: for a texture, of its WAD3MIP
  uint32_t disksize;
  uint32_t size;
  char type;  // 'C' for a texture
  char compression;
  char pad1;
  char pad2;
  char name[kWad3NameSize];
};

// Texture header, at its lump's filepos.
struct WAD3MIP {
  char name[kWad3NameSize];  // up to the first zero byte, or all 16 bytes
  uint32_t width;
  uint32_t height;
  uint32_t offsets[kMipLevels];  // mip levels, relative to the texture header; [0] is full size
};

// Each record read field by field from the stream's position, written the same way.
WAD3HEAD ReadHead(FILE* fp);
WAD3LUMP ReadLump(FILE* fp);
WAD3MIP ReadMip(FILE* fp);
void WriteHead(const WAD3HEAD& head, FILE* fp);
void WriteLump(const WAD3LUMP& lump, FILE* fp);
void WriteMip(const WAD3MIP& mip, FILE* fp);

// Where a texture's palette lies from its header, behind the header and four levels of
// pixels, pixels / 4, pixels / 16 and pixels / 64 bytes.
uint64_t PaletteOffset(uint64_t pixels);
