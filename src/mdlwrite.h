// The model --make writes: a model's bytes copied, the pixels and palettes of the skins given
// written in their places, to a part file beside its path. The layout is drawn in mdlwrite.cpp.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "mdl.h"
#include "partfile.h"

// A model read to have skins replaced: its texture table.
struct MODELFILE {
  FILE* fp = nullptr;  // the model, open: its bytes are copied from it
  uint64_t size = 0;
  std::vector<MDLTEXTURE> skins;  // none where they lie in the model's `t` file
};

// Reads the model's header and texture table from `fp`, every skin checked to lie in the file.
// Returns an empty text, or why it is no model of version 10 or is malformed.
std::string ReadModel(FILE* fp, MODELFILE* model);

// A model being written, copied up to `at`.
struct MDLWRITE {
  PARTFILE file;
  const MODELFILE* model = nullptr;
  uint64_t at = 0;
};

// Creates the part file beside `path`. False where it cannot be created.
bool BeginModel(MDLWRITE* out, const MODELFILE& model, const char* path);

// Copies the model up to the skin, then writes its width x height pixels and 256 palette
// entries in their place. Skins come in the order of their positions, none overlapping another.
// False where the model could not be read.
bool PutSkin(MDLWRITE* out, const MDLTEXTURE& skin, const uint8_t* pixels, const uint8_t* palette);

// Copies the rest of the model. False where it could not be read.
bool CopyModel(MDLWRITE* out);

// Flushes, closes and renames the part file over the path. False where any write failed.
bool FinishModel(MDLWRITE* out);

// Closes and removes the part file.
void AbandonModel(MDLWRITE* out);
