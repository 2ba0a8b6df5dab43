// The WAD3 package records and the extraction run. The package layout is drawn in wad3.cpp.
#pragma once

#include <cstdint>

constexpr unsigned kWad3NameSize = 16;

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
  uint32_t offsets[4];  // mip levels, relative to the texture header; [0] is full size
};

// Writes every texture of the package FileName as OutputFolder + name + ".pcx".
// Returns the exit status: 0 after the whole directory was walked, 1 on the first failure.
int EnumerateImages(const char* FileName, const char* OutputFolder);
