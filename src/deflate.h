// zlib streams, for the PNG files of --png and of the page: deflated by lazy matching and
// Huffman codes made for each block, as zlib does at its default level.
#pragma once

#include <cstddef>
#include <cstdint>

// The most bytes the zlib stream of `size` bytes may take: every block stored, at worst.
size_t DeflateBound(size_t size);

// Writes the zlib stream of the `size` bytes at `data` to `out`, which has DeflateBound(size)
// bytes of room; returns its length. `filtered` data (PNG rows filtered) takes no short matches.
size_t Deflate(const uint8_t* data, size_t size, uint8_t* out, bool filtered = false);
