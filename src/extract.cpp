/* extract: the extraction run. The file's first word tells its kind: a package's magic (its walk
 * in package.cpp); 30, a map's version (bsp.cpp); or a model's or a sprite's magic, followed by
 * its version (mdl.cpp, spr.cpp). Every picture, of whatever kind of file, is written by
 * WritePicture (picture.cpp).
 */
#include "extract.h"

#include <sys/stat.h>

#include <cinttypes>
#include <cstdio>
#include <memory>

#include "bsp.h"
#include "mdl.h"
#include "package.h"
#include "spr.h"
#include "tools.h"
#include "wadfile.h"

namespace {

constexpr size_t kPackageBuffer = 1 << 16; /* fewer, larger reads; textures run to 512 KiB */

struct FileCloser {
  void operator()(FILE* fp) const { fclose(fp); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// The kind of file its first two words tell: a model's and a sprite's magic must be followed by
// their version.
KIND KindOf(const WAD3HEAD& head) {
  if (head.identification == kMagic) return kPackageKind;
  if (head.identification == kMapVersion) return kMapKind;
  if (head.identification == kModelMagic && head.numlumps == kModelVersion) return kModelKind;
  if (head.identification == kSpriteMagic && head.numlumps == kSpriteVersion) return kSpriteKind;
  return kNoKind;
}

}  // namespace

int EnumerateFile(const char* FileName, const char* OutputFolder, GATHERED* gathered,
                  unsigned kinds, bool png) {
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
  if (gathered == nullptr) printf("Filesize : %jd\n", static_cast<intmax_t>(status.st_size));
  const RUN run = {fp,       static_cast<uint64_t>(status.st_size), FileName, OutputFolder,
                   gathered, png,                                  IsDecals(FileName)};
  if (run.size < kHeadSize) return Fail(run, "WAD3 file is malformed.\n");

  const WAD3HEAD head = ReadHead(fp);
  if (ReadFailed(fp, kHeadSize)) return CannotRead(run);
  const KIND kind = KindOf(head);
  if ((kinds & 1u << kind) == 0) return Fail(run, "Invalid WAD3 header id.\n");
  switch (kind) {
    case kPackageKind:
      return EnumeratePackage(run, head);
    case kMapKind:
      return EnumerateMap(run);
    case kModelKind:
      return EnumerateModel(run);
    case kSpriteKind:
      return EnumerateSprite(run);
    case kNoKind:
      break;
  }
  return Fail(run, "Invalid WAD3 header id.\n");
}

int EnumerateImages(const char* FileName, const char* OutputFolder, bool png) {
  const int walked = EnumerateFile(FileName, OutputFolder, nullptr, kEveryKind, png);
  if (walked != 0) return walked;
  printf("\n");
  return 0;
}
