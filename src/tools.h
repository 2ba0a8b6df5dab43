// Little-endian integers moved between memory and an open buffered stream.
#pragma once

#include <cstdint>
#include <cstdio>

// What Windows does differently, all in one place. Its C runtime names the unlocked byte
// calls its own way; 64-bit seeks and file sizes come from _FILE_OFFSET_BITS=64 there as
// here (fseeko64 and _fstat64). Its file names give a folder to '\\', a stream to ':' and
// a device to CON, NUL and the like, so those names are refused there.
#ifdef _WIN32
#define getc_unlocked _getc_nolock
#define putc_unlocked _putc_nolock
constexpr bool kWindowsNames = true;
#else
constexpr bool kWindowsNames = false;
#endif

// Reads 4 bytes, least significant first; at end of file each missing byte counts as -1.
uint32_t get4(FILE* fp);
// Reads 2 bytes, least significant first; at end of file each missing byte counts as -1.
uint16_t get2(FILE* fp);
// Writes value's 4 bytes, least significant first.
void put4(uint32_t value, FILE* fp);
// Writes value's 2 bytes, least significant first.
void put2(uint16_t value, FILE* fp);
