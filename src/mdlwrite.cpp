/* mdlwrite: a model with skins replaced (the model as the extraction reads it is drawn in
 * mdl.cpp). Every byte of the model is copied as it is, a block at a time, but each replaced
 * skin's width x height indices at its index and the 256 entries of red, green, blue right
 * after them: no position or size changes, so nothing else needs to.
 */
#include "mdlwrite.h"

#include <sys/stat.h>

#include <algorithm>

#include "tools.h"

namespace {

constexpr uint64_t kPaletteBytes = 256 * 3;
constexpr char kMalformed[] = "MDL file is malformed.";
constexpr uint32_t kHighestVersion = 255; /* above it, a second word is no version */

}  // namespace

std::string ReadModel(FILE* fp, MODELFILE* model) {
  struct stat status;
  if (fstat(fileno(fp), &status) != 0) return "cannot be read";
  model->fp = fp;
  model->size = static_cast<uint64_t>(status.st_size);
  const uint32_t magic = get4(fp), version = get4(fp);
  if (ReadFailed(fp, std::min<uint64_t>(8, model->size))) return "cannot be read";
  if (magic != kModelMagic || (version != kModelVersion && version > kHighestVersion)) {
    return "not a model (IDST, version 10)";
  }
  if (version != kModelVersion) {
    return "a model of version " + std::to_string(version) + ", not 10 as Half-Life's";
  }
  if (model->size < kModelHeadSize) return kMalformed;
  if (!SeekTo(fp, kModelTexturesField, model->size)) return "cannot be read";
  const uint32_t count = get4(fp), table = get4(fp);
  if (ReadFailed(fp, kModelTexturesField + 8)) return "cannot be read";
  if (table + uint64_t{count} * kModelRecordSize > model->size) return kMalformed;
  for (uint64_t k = 0; k < count; ++k) {
    if (!SeekTo(fp, table + k * kModelRecordSize, model->size)) return "cannot be read";
    const MDLTEXTURE skin = ReadModelTexture(fp);
    if (ReadFailed(fp, table + (k + 1) * kModelRecordSize)) return "cannot be read";
    if (skin.index + uint64_t{skin.width} * skin.height + kPaletteBytes > model->size) {
      return kMalformed;
    }
    model->skins.push_back(skin);
  }
  return {};
}

bool BeginModel(MDLWRITE* out, const MODELFILE& model, const char* path) {
  out->model = &model;
  out->at = 0;
  return BeginPart(&out->file, path);
}

bool PutSkin(MDLWRITE* out, const MDLTEXTURE& skin, const uint8_t* pixels, const uint8_t* palette) {
  const MODELFILE& model = *out->model;
  if (!CopyBytes(model.fp, out->at, model.size, skin.index - out->at, out->file.fp)) return false;
  const size_t count = size_t{skin.width} * skin.height;
  if (count != 0) fwrite(pixels, 1, count, out->file.fp);
  fwrite(palette, 1, kPaletteBytes, out->file.fp);
  out->at = skin.index + count + kPaletteBytes;
  return true;
}

bool CopyModel(MDLWRITE* out) {
  const MODELFILE& model = *out->model;
  if (!CopyBytes(model.fp, out->at, model.size, model.size - out->at, out->file.fp)) return false;
  out->at = model.size;
  return true;
}

bool FinishModel(MDLWRITE* out) {
  return CommitPart(&out->file);
}

void AbandonModel(MDLWRITE* out) {
  AbandonPart(&out->file);
}
