/* picture: every picture the extraction finds, of whatever kind of file, goes to its PCX file
 * through WritePicture; a package's or a map's texture through ExtractTexture first, which reads
 * its header (the package layout is drawn in wadfile.cpp).
 *
 * Sizes from the file are checked in 64-bit arithmetic, so no sum or product wraps
 * past a check. Past the end of the file, get4 reads 0xFEFEFEFF and get2 0xFEFF, sizes
 * the checks refuse, and a name or palette byte reads as 0xFF; pixels that would run
 * past the end are refused before they are read. A read or seek that fails, or a stream
 * that ends before the size measured at the start, ends the run before the texture it
 * was reading gets a file: those bytes are not in hand, and no 0xFF may stand for them.
 */
#include "picture.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "pcx.h"
#include "png.h"
#include "tools.h"
#include "wadfile.h"
#include "win32.h"

namespace {

constexpr char kPathSeparator = '/';
constexpr char kWindowsSeparator = '\\';
constexpr char kWindowsStream = ':'; /* file:stream */
constexpr char kSuffix[] = ".pcx", kPngSuffix[] = ".png";
static_assert(sizeof kSuffix == sizeof kPngSuffix, "a path's room holds either");
constexpr char kMasked = '{'; /* a texture drawn with entry 255 transparent */
// Names Windows keeps for devices, beside COM1 and LPT1 and the like; CONIN$ and CONOUT$ are
// the console's input and output.
constexpr std::wstring_view kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
constexpr wchar_t kSuperscriptOne = L'\u00B9', kSuperscriptTwo = L'\u00B2',
                  kSuperscriptThree = L'\u00B3'; /* digits in COM and LPT device names */

// count elements from the heap, or null where there is not that much memory.
template <typename T>
std::unique_ptr<T[]> Allocate(uint64_t count) {
  if (count > SIZE_MAX / sizeof(T)) return nullptr;
  return std::unique_ptr<T[]>(new (std::nothrow) T[static_cast<size_t>(count)]);
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

}  // namespace

bool IsMalformedName(const char* name, size_t length) {
  if (memchr(name, kPathSeparator, length) != nullptr) return true;
  return kWindowsNames &&
         (memchr(name, kWindowsSeparator, length) != nullptr ||
          memchr(name, kWindowsStream, length) != nullptr || IsWindowsDevice(name, length));
}

std::string Lower(std::string_view name) {
  std::string lower(name);
  for (char& c : lower) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  return lower;
}

std::string_view LastComponent(std::string_view path) {
  const size_t slash = path.find_last_of(kWindowsNames ? "/\\" : "/");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool IsDecals(std::string_view path) {
  constexpr std::string_view kDecals = "decals.wad";
  const std::string_view file = LastComponent(path);
  return file.size() == kDecals.size() && WithoutEnding(file, kDecals) == 0;
}

size_t WithoutEnding(std::string_view name, std::string_view ending) {
  if (name.size() < ending.size()) return name.size();
  const char* const tail = name.data() + name.size() - ending.size();
  for (size_t i = 0; i < ending.size(); ++i) {
    const char c = tail[i];
    if ((c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) != ending[i]) return name.size();
  }
  return name.size() - ending.size();
}

int Fail(const RUN& run, const char* message) {
  if (run.gathered != nullptr) printf("%s : ", run.FileName);  // among --make's other inputs
  fputs(message, stdout);
  return 1;
}

int CannotRead(const RUN& run) {
  printf("Could not read : %s\n", run.FileName);
  return 1;
}

int ExtractTexture(const RUN& run, uint64_t mippos, bool inMap) {
  if (mippos >= run.size) return Fail(run, "Invalid lump entry; filepos (MIP) is malformed.\n");
  if (!SeekTo(run.fp, mippos, run.size)) return CannotRead(run);
  const WAD3MIP mip = ReadMip(run.fp);
  if (ReadFailed(run.fp, std::min(mippos + kMipHeadSize, run.size))) return CannotRead(run);
  if (inMap && mip.offsets[0] == 0) return 0;  // named by the map, held by a package

  // The palette lies behind the texture header and the four mip levels.
  const uint64_t pixels = uint64_t{mip.width} * mip.height;
  const uint64_t mipChain = AddClamped(AddClamped(pixels, pixels / 4), pixels / 16 + pixels / 64);
  // The name ends at its first zero byte or with its field.
  const LOOK look = run.decals ? kLookDecal : mip.name[0] == kMasked ? kLookMasked : kLookOpaque;
  const PICTURE picture = {
      mip.name,       strnlen(mip.name, kWad3NameSize), mip.width,
      mip.height,     mippos + mip.offsets[0],          AddClamped(mippos + kMipHeadSize, mipChain),
      kCountedPalette, look};
  const int written = WritePicture(run, picture);
  if (written == 0 && run.gathered != nullptr) run.gathered->textures.push_back(mippos);
  return written;
}

int WritePicture(const RUN& run, const PICTURE& picture) {
  FILE* const fp = run.fp;
  const uint64_t size = run.size;
  // A name never leaves the output folder.
  if (IsMalformedName(picture.name, picture.nameLength)) {
    return Fail(run, "Invalid mip entry; name is malformed.\n");
  }
  const size_t pathSize = strlen(run.OutputFolder) + picture.nameLength + sizeof kSuffix;
  const auto FileName = Allocate<char>(pathSize);
  if (!FileName) return Fail(run, "Out of memory (FileName).\n");
  const bool png = run.png && picture.width != 0 && picture.height != 0;
  snprintf(FileName.get(), pathSize, "%s%.*s%s", run.OutputFolder,
           static_cast<int>(picture.nameLength), picture.name, png ? kPngSuffix : kSuffix);

  if (!SeekTo(fp, picture.palette, size)) return CannotRead(run);
  const bool counted = picture.paletteSize == kCountedPalette;
  const uint32_t paletteSize = counted ? get2(fp) : picture.paletteSize;
  const uint64_t paletteBytes = uint64_t{paletteSize} * kPaletteEntryBytes;
  const auto Palette = Allocate<uint8_t>(paletteBytes);
  if (!Palette) return Fail(run, "Out of memory (Palette).\n");
  ReadBytes(fp, Palette.get(), paletteBytes);
  const uint64_t paletteEnd =
      AddClamped(picture.palette, (counted ? kPaletteCountSize : 0) + paletteBytes);
  if (ReadFailed(fp, std::min(paletteEnd, size))) return CannotRead(run);

  const uint64_t pixels = uint64_t{picture.width} * picture.height;
  if (AddClamped(picture.pixels, pixels) > size) {
    return Fail(run, "Invalid mip entry; offsets[0] is malformed.\n");
  }
  if (!SeekTo(fp, picture.pixels, size)) return CannotRead(run);
  const auto ImageData = Allocate<uint8_t>(pixels);
  if (!ImageData) return Fail(run, "Out of memory (ImageData).\n");
  ReadBytes(fp, ImageData.get(), pixels);
  if (ReadFailed(fp, picture.pixels + pixels)) return CannotRead(run);

  if (run.gathered != nullptr) return 0;  // checked, not written
  const PCXENCODE pcxEncode = {FileName.get(), ImageData.get(), picture.width,
                               picture.height, Palette.get(),   paletteSize};
  if ((png ? EncodePNG(&pcxEncode, picture.look) : EncodePCX(&pcxEncode)) == 0) {
    return Fail(run, "Something went wrong...\n");
  }
  return 0;
}

