// The textures a package holds. The package layout is drawn in wadfile.cpp.
#pragma once

#include "picture.h"
#include "wadfile.h"

// Writes every texture the package's directory lists, walking it once from the first entry to
// the last. Returns 0 after the whole directory was walked, 1 after printing why the run ends.
int EnumeratePackage(const RUN& run, const WAD3HEAD& head);
