// What Windows does differently, all in one place.
#pragma once

#include <cstddef>
#include <string>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>  // the C++ library has set NOMINMAX

// Its C runtime names the unlocked byte calls its own way. 64-bit seeks and file sizes come
// from _FILE_OFFSET_BITS=64 there as here (mingw-w64 maps them to fseeko64 and _fstat64).
#define getc_unlocked _getc_nolock
#define putc_unlocked _putc_nolock

// Its file names give a folder to '\\', a stream to ':' and a device to CON, NUL, COM1 and
// the like, so such texture names are refused there.
constexpr bool kWindowsNames = true;

// The characters Windows makes of a file name given in bytes: it reads them in the ANSI code
// page, as it does for every program that opens files by narrow names.
inline std::wstring AnsiCharacters(const char* bytes, size_t length) {
  const int count = static_cast<int>(length);  // a texture name: 16 bytes at most
  std::wstring characters(length, L'\0');      // never more characters than bytes
  const int made = MultiByteToWideChar(CP_ACP, 0, bytes, count, characters.data(), count);
  characters.resize(static_cast<size_t>(made));
  return characters;
}
#else
constexpr bool kWindowsNames = false;

// Elsewhere a file name is its bytes: one character each.
inline std::wstring AnsiCharacters(const char* bytes, size_t length) {
  return std::wstring(bytes, bytes + length);
}
#endif
