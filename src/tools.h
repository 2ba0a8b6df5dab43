// Little-endian integers, runs of bytes and positions on an open buffered stream.
#pragma once

#include <cstdint>
#include <cstdio>

// Reads 4 bytes, least significant first; at end of file each missing byte counts as -1.
uint32_t get4(FILE* fp);
// Reads 2 bytes, least significant first; at end of file each missing byte counts as -1.
uint16_t get2(FILE* fp);
// Writes value's 4 bytes, least significant first.
void put4(uint32_t value, FILE* fp);
// Writes value's 2 bytes, least significant first.
void put2(uint16_t value, FILE* fp);

// Reads count bytes into out; each one past the end of the file reads as 0xFF.
void ReadBytes(FILE* fp, void* out, uint64_t count);
// Seeks to position, where a position at or past size (the file's) reads as end of file,
// however large. False when the seek failed.
bool SeekTo(FILE* fp, uint64_t position, uint64_t size);
// Whether the reads of a part of the file that ends at `end`, no further than the size measured
// at the start, failed or met an end of file before it: the file shrank.
bool ReadFailed(FILE* fp, uint64_t end);
// Copies `length` bytes from `at` in `from`, a file of `size` bytes, to `to`, a block at a time.
// False where they could not all be read.
bool CopyBytes(FILE* from, uint64_t at, uint64_t size, uint64_t length, FILE* to);
// Flushes what the system holds of the file to its disk, so that a rename after it never
// names a file whose bytes a crash could still lose. False where that failed.
bool SyncFile(FILE* fp);
