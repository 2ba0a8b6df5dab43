// What Windows does differently, all in one place.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>

// A file's identity on its disk, whatever path names it.
struct FILEID {
  uint64_t volume;
  uint64_t index;
};

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

// Its stat gives every file the index 0: the identity comes from the file's handle.
inline bool IdentifyFile(const char* path, FILEID* id) {
  const HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION information;
  const bool got = GetFileInformationByHandle(file, &information) != 0;
  CloseHandle(file);
  if (!got) return false;
  id->volume = information.dwVolumeSerialNumber;
  id->index = uint64_t{information.nFileIndexHigh} << 32 | information.nFileIndexLow;
  return true;
}
#else
constexpr bool kWindowsNames = false;

// Elsewhere a file name is its bytes: one character each.
inline std::wstring AnsiCharacters(const char* bytes, size_t length) {
  return std::wstring(bytes, bytes + length);
}

inline bool IdentifyFile(const char* path, FILEID* id) {
  struct stat status;
  if (stat(path, &status) != 0) return false;
  id->volume = static_cast<uint64_t>(status.st_dev);
  id->index = static_cast<uint64_t>(status.st_ino);
  return true;
}
#endif

// Whether `path` names the file of `id`.
inline bool SameFile(const char* path, const FILEID& id) {
  FILEID other;
  return IdentifyFile(path, &other) && other.volume == id.volume && other.index == id.index;
}
