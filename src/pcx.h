// The PCX encoder: one 8-bit palettised image in memory becomes one PCX file.
#pragma once

#include <cstdint>
#include <cstdio>

constexpr uint32_t kPaletteEntryBytes = 3; /* red, green, blue */
constexpr uint32_t kMaxPcxWidth = 0xFFFF;   /* bytes per row is a 16-bit field */
constexpr uint32_t kMaxPcxHeight = 0x10000; /* window bottom, Height - 1, is a 16-bit field */

// One image handed to the encoder. The caller owns the record and its buffers;
// the encoder only reads them.
struct PCXENCODE {
  const char* FileName;      // path of the PCX file to create
  const uint8_t* ImageData;  // Width x Height palette indices, rows top to bottom, no gaps
  uint32_t Width;            // pixels per row
  uint32_t Height;           // number of rows
  const uint8_t* Palette;    // PaletteSize entries of red, green, blue
  uint32_t PaletteSize;      // number of palette entries
};

// Checks that the image's size fits the PCX header (the bounds of every picture the extraction
// writes), creates Encode->FileName and prints its path and size. Null after a line says why not.
FILE* CreateImage(const PCXENCODE* Encode);

// Creates Encode->FileName, prints its path and size and writes the image.
// Returns 1 when the whole file was written, 0 when it was not (the line says why).
int EncodePCX(const PCXENCODE* Encode);
