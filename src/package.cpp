/* package: the textures a WAD3 package holds, walked in directory order (the layout is drawn in
 * wadfile.cpp). Entries of other types than a texture are skipped; each texture is handed to
 * ExtractTexture.
 */
#include "package.h"

#include "tools.h"

int EnumeratePackage(const RUN& run, const WAD3HEAD& head) {
  if (uint64_t{head.numlumps} * kLumpSize + head.infotableofs > run.size) {
    return Fail(run, "WAD3 file is malformed.\n");
  }
  for (uint64_t fpos = head.infotableofs, k = 0; k < head.numlumps; ++k, fpos += kLumpSize) {
    if (!SeekTo(run.fp, fpos, run.size)) return CannotRead(run);
    const WAD3LUMP lump = ReadLump(run.fp);
    if (ReadFailed(run.fp, fpos + kLumpSize)) return CannotRead(run);
    if (lump.type != kTextureType) {
      if (run.gathered != nullptr) ++run.gathered->otherLumps;
      continue;
    }
    if (ExtractTexture(run, lump.filepos, false) != 0) return 1;
  }
  return 0;
}
