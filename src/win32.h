// What Windows does differently, all in one place.
#pragma once

#ifdef _WIN32
// Its C runtime names the unlocked byte calls its own way. 64-bit seeks and file sizes come
// from _FILE_OFFSET_BITS=64 there as here (mingw-w64 maps them to fseeko64 and _fstat64).
#define getc_unlocked _getc_nolock
#define putc_unlocked _putc_nolock

// Its file names give a folder to '\\', a stream to ':' and a device to CON, NUL and the
// like, so such texture names are refused there.
constexpr bool kWindowsNames = true;
#else
constexpr bool kWindowsNames = false;
#endif
