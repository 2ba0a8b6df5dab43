/* wad3: the program entry and the extraction run.
 *
 * The file's first word tells its kind: a package's magic; 30, a map's version (its walk is in
 * bsp.cpp, and hands each texture it carries to ExtractTexture, as a package's walk does); or a
 * model's or a sprite's magic, followed by its version (mdl.cpp, spr.cpp). Every picture, of
 * whatever kind of file, is written by WritePicture.
 *
 * A WAD3 package; integers little-endian, positions in bytes from the start of the file.
 *
 * Header, 12 bytes at offset 0:
 *    0  u32   identification   "WAD3", read as 0x33444157
 *    4  u32   numlumps         number of directory entries
 *    8  u32   infotableofs     position of the directory
 * Directory: numlumps entries of 32 bytes, entry k at infotableofs + 32 k:
 *    0  u32   filepos          position of the lump
 *    4  u32   disksize         not used
 *    8  u32   size             not used
 *   12  u8    type             'C' (0x43) for a texture; other lumps are skipped
 *   13  u8    compression, pad1, pad2: not used
 *   16  16    name             not used: the texture header names the output
 * Texture header, 40 bytes at filepos:
 *    0  16    name             up to the first zero byte, 16 bytes at most
 *   16  u32   width
 *   20  u32   height
 *   24  u32   offsets[4]       mip levels, relative to filepos; only [0], full size, is used
 * Full-size pixels: P = width * height palette indices at filepos + offsets[0],
 * rows top to bottom.
 * Palette: behind the header and four mip levels of P, P/4, P/16 and P/64 bytes, at
 * filepos + 40 + P + P/4 + P/16 + P/64: a u16 count n, then n entries of red, green, blue.
 *
 * Sizes from the file are checked in 64-bit arithmetic, so no sum or product wraps
 * past a check. Past the end of the file, get4 reads 0xFEFEFEFF and get2 0xFEFF, sizes
 * the checks refuse, and a name or palette byte reads as 0xFF; pixels that would run
 * past the end are refused before they are read. A read or seek that fails, or a stream
 * that ends before the size measured at the start, ends the run before the texture it
 * was reading gets a file: those bytes are not in hand, and no 0xFF may stand for them.
 */
#include "wad3.h"

#include <sys/stat.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "bsp.h"
#include "mdl.h"
#include "pcx.h"
#include "spr.h"
#include "tools.h"
#include "win32.h"

namespace {

constexpr uint32_t kMagic = 0x33444157; /* "WAD3" little-endian */
constexpr char kTextureType = 'C';      /* 0x43 */
constexpr uint64_t kHeadSize = 12;
constexpr uint64_t kLumpSize = 32;
constexpr uint64_t kMipHeadSize = 40;
constexpr uint64_t kPaletteCountSize = 2; /* u16 */
constexpr char kPathSeparator = '/';
constexpr char kWindowsSeparator = '\\';
constexpr char kWindowsStream = ':'; /* file:stream */
constexpr char kSuffix[] = ".pcx";
constexpr size_t kPackageBuffer = 1 << 16; /* fewer, larger reads; textures run to 512 KiB */
// Names Windows keeps for devices, beside COM1 and LPT1 and the like; CONIN$ and CONOUT$ are
// the console's input and output.
constexpr std::wstring_view kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
constexpr wchar_t kSuperscriptOne = L'\u00B9', kSuperscriptTwo = L'\u00B2',
                  kSuperscriptThree = L'\u00B3'; /* digits in COM and LPT device names */

struct FileCloser {
  void operator()(FILE* fp) const { fclose(fp); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// count elements from the heap, or null where there is not that much memory.
template <typename T>
std::unique_ptr<T[]> Allocate(uint64_t count) {
  if (count > SIZE_MAX / sizeof(T)) return nullptr;
  return std::unique_ptr<T[]>(new (std::nothrow) T[static_cast<size_t>(count)]);
}

WAD3HEAD ReadHead(FILE* fp) {
  WAD3HEAD head;
  head.identification = get4(fp);
  head.numlumps = get4(fp);
  head.infotableofs = get4(fp);
  return head;
}

WAD3LUMP ReadLump(FILE* fp) {
  WAD3LUMP lump;
  lump.filepos = get4(fp);
  lump.disksize = get4(fp);
  lump.size = get4(fp);
  ReadBytes(fp, &lump.type, 1);
  ReadBytes(fp, &lump.compression, 1);
  ReadBytes(fp, &lump.pad1, 1);
  ReadBytes(fp, &lump.pad2, 1);
  ReadBytes(fp, lump.name, kWad3NameSize);
  return lump;
}

WAD3MIP ReadMip(FILE* fp) {
  WAD3MIP mip;
  ReadBytes(fp, mip.name, kWad3NameSize);
  mip.width = get4(fp);
  mip.height = get4(fp);
  for (uint32_t& offset : mip.offsets) offset = get4(fp);
  return mip;
}

// Whether Windows takes the file name stem.pcx for a device, judged in the characters it reads
// the name as: the stem up to its first dot, trailing spaces dropped, in any case, is one of
// kDevices, or COM or LPT and a digit, where Windows counts superscript one to three as digits.
bool IsWindowsDevice(const char* name, size_t length) {
  std::wstring stem = AnsiCharacters(name, length);
  stem.resize(std::min(stem.find(L'.'), stem.size()));
  while (stem.ends_with(L' ')) stem.pop_back();
  for (wchar_t& c : stem) c = c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
  if (std::find(std::begin(kDevices), std::end(kDevices), stem) != std::end(kDevices)) return true;
  if (stem.size() != 4 || !(stem.starts_with(L"COM") || stem.starts_with(L"LPT"))) return false;
  return (stem[3] >= L'1' && stem[3] <= L'9') || stem[3] == kSuperscriptOne ||
         stem[3] == kSuperscriptTwo || stem[3] == kSuperscriptThree;
}

// A name that would place its file outside the output folder, or not in a file of its own.
bool IsMalformedName(const char* name, size_t length) {
  if (memchr(name, kPathSeparator, length) != nullptr) return true;
  return kWindowsNames &&
         (memchr(name, kWindowsSeparator, length) != nullptr ||
          memchr(name, kWindowsStream, length) != nullptr || IsWindowsDevice(name, length));
}

// Walks the package's directory, writing each texture it lists.
int EnumeratePackage(const RUN& run, const WAD3HEAD& head) {
  if (uint64_t{head.numlumps} * kLumpSize + head.infotableofs > run.size) {
    return Fail("WAD3 file is malformed.\n");
  }
  for (uint64_t fpos = head.infotableofs, k = 0; k < head.numlumps; ++k, fpos += kLumpSize) {
    if (!SeekTo(run.fp, fpos, run.size)) return CannotRead(run);
    const WAD3LUMP lump = ReadLump(run.fp);
    if (ReadFailed(run.fp, fpos + kLumpSize)) return CannotRead(run);
    if (lump.type != kTextureType) continue;
    if (ExtractTexture(run, lump.filepos, false) != 0) return 1;
  }
  return 0;
}

}  // namespace

size_t WithoutEnding(std::string_view name, std::string_view ending) {
  if (name.size() < ending.size()) return name.size();
  const char* const tail = name.data() + name.size() - ending.size();
  for (size_t i = 0; i < ending.size(); ++i) {
    const char c = tail[i];
    if ((c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) != ending[i]) return name.size();
  }
  return name.size() - ending.size();
}

int Fail(const char* message) {
  fputs(message, stdout);
  return 1;
}

int CannotRead(const RUN& run) {
  printf("Could not read : %s\n", run.FileName);
  return 1;
}

int ExtractTexture(const RUN& run, uint64_t mippos, bool inMap) {
  if (mippos >= run.size) return Fail("Invalid lump entry; filepos (MIP) is malformed.\n");
  if (!SeekTo(run.fp, mippos, run.size)) return CannotRead(run);
  const WAD3MIP mip = ReadMip(run.fp);
  if (ReadFailed(run.fp, std::min(mippos + kMipHeadSize, run.size))) return CannotRead(run);
  if (inMap && mip.offsets[0] == 0) return 0;  // named by the map, held by a package

  // The palette lies behind the texture header and the four mip levels.
  const uint64_t pixels = uint64_t{mip.width} * mip.height;
  const uint64_t mipChain = AddClamped(AddClamped(pixels, pixels / 4), pixels / 16 + pixels / 64);
  // The name ends at its first zero byte or with its field.
  const PICTURE picture = {
      mip.name,       strnlen(mip.name, kWad3NameSize), mip.width,
      mip.height,     mippos + mip.offsets[0],          AddClamped(mippos + kMipHeadSize, mipChain),
      kCountedPalette};
  return WritePicture(run, picture);
}

int WritePicture(const RUN& run, const PICTURE& picture) {
  FILE* const fp = run.fp;
  const uint64_t size = run.size;
  // A name never leaves the output folder.
  if (IsMalformedName(picture.name, picture.nameLength)) {
    return Fail("Invalid mip entry; name is malformed.\n");
  }
  const size_t pathSize = strlen(run.OutputFolder) + picture.nameLength + sizeof kSuffix;
  const auto FileName = Allocate<char>(pathSize);
  if (!FileName) return Fail("Out of memory (FileName).\n");
  snprintf(FileName.get(), pathSize, "%s%.*s%s", run.OutputFolder,
           static_cast<int>(picture.nameLength), picture.name, kSuffix);

  if (!SeekTo(fp, picture.palette, size)) return CannotRead(run);
  const bool counted = picture.paletteSize == kCountedPalette;
  const uint32_t paletteSize = counted ? get2(fp) : picture.paletteSize;
  const uint64_t paletteBytes = uint64_t{paletteSize} * kPaletteEntryBytes;
  const auto Palette = Allocate<uint8_t>(paletteBytes);
  if (!Palette) return Fail("Out of memory (Palette).\n");
  ReadBytes(fp, Palette.get(), paletteBytes);
  const uint64_t paletteEnd =
      AddClamped(picture.palette, (counted ? kPaletteCountSize : 0) + paletteBytes);
  if (ReadFailed(fp, std::min(paletteEnd, size))) return CannotRead(run);

  const uint64_t pixels = uint64_t{picture.width} * picture.height;
  if (AddClamped(picture.pixels, pixels) > size) {
    return Fail("Invalid mip entry; offsets[0] is malformed.\n");
  }
  if (!SeekTo(fp, picture.pixels, size)) return CannotRead(run);
  const auto ImageData = Allocate<uint8_t>(pixels);
  if (!ImageData) return Fail("Out of memory (ImageData).\n");
  ReadBytes(fp, ImageData.get(), pixels);
  if (ReadFailed(fp, picture.pixels + pixels)) return CannotRead(run);

  const PCXENCODE pcxEncode = {FileName.get(), ImageData.get(), picture.width,
                               picture.height, Palette.get(),   paletteSize};
  if (EncodePCX(&pcxEncode) == 0) return Fail("Something went wrong...\n");
  return 0;
}

int EnumerateImages(const char* FileName, const char* OutputFolder) {
  char buffer[kPackageBuffer];  // outlives the stream, which is closed first
  const File file(fopen(FileName, "rb"));
  if (!file) {
    printf("File not found : %s\n", FileName);
    return 1;
  }
  FILE* fp = file.get();
  setvbuf(fp, buffer, _IOFBF, kPackageBuffer);
  struct stat status;
  if (fstat(fileno(fp), &status) != 0) {
    printf("Could not stat file : %s\n", FileName);
    return 1;
  }
  printf("Filesize : %jd\n", static_cast<intmax_t>(status.st_size));
  const RUN run = {fp, static_cast<uint64_t>(status.st_size), FileName, OutputFolder};
  if (run.size < kHeadSize) return Fail("WAD3 file is malformed.\n");

  // The first word tells the kind of file: a package's magic, a map's version, or a model's or
  // sprite's magic, which the second word, their version, must follow.
  const WAD3HEAD head = ReadHead(fp);
  if (ReadFailed(fp, kHeadSize)) return CannotRead(run);
  int walked;
  if (head.identification == kMagic) {
    walked = EnumeratePackage(run, head);
  } else if (head.identification == kMapVersion) {
    walked = EnumerateMap(run);
  } else if (head.identification == kModelMagic && head.numlumps == kModelVersion) {
    walked = EnumerateModel(run);
  } else if (head.identification == kSpriteMagic && head.numlumps == kSpriteVersion) {
    walked = EnumerateSprite(run);
  } else {
    return Fail("Invalid WAD3 header id.\n");
  }
  if (walked != 0) return walked;
  printf("\n");
  return 0;
}

#ifndef WAD3_NO_MAIN  // the fuzz harnesses call EnumerateImages themselves
int main(int argc, char** argv) {
  const int status =
      argc == 2 ? EnumerateImages(argv[1], "./") : Fail("USAGE:  WAD3 filename.wad\n");
  // A log that could not be written (a full disk) fails the run, though no line can say so.
  return fflush(stdout) == 0 && ferror(stdout) == 0 ? status : 1;
}
#endif
