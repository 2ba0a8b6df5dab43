// Little-endian integers moved between memory and an open buffered stream.
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
