// PNG's parts: the rows filtered and deflated (the zlib stream of an IDAT), and the chunks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The zlib stream of the rows of `width` x `height` 8-bit pixels, each after its filter byte:
// palette indices unfiltered, grey levels (`grey`) each row with the filter that leaves least.
std::vector<uint8_t> PngRows(const uint8_t* pixels, uint32_t width, uint32_t height, bool grey);

constexpr size_t kPaletteSize = 256 * 3;

// Whether the 256 entries are the grey ramp: each entry the grey of its own index.
bool IsGreyRamp(const uint8_t* palette);

// The CRC-32 of `size` bytes, as PNG chunks and zip files have it.
uint32_t Crc32(const uint8_t* bytes, size_t size);

// Appends the PNG chunk of `type` (4 letters) and `size` bytes of `data`, framed by its length
// and CRC-32.
void AppendChunk(std::vector<uint8_t>& out, const char* type, const uint8_t* data, size_t size);

// The pixels of a PCX file as the program writes them (8 bits, one plane, 256-colour palette at
// its end), with its width and height; false for any other file.
bool PcxPixels(const uint8_t* file, size_t size, uint32_t* width, uint32_t* height, std::vector<uint8_t>* pixels);
