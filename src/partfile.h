// A file every writer of --make writes beside its path, renamed over the path once whole.
#pragma once

#include <cstdio>
#include <string>

struct PARTFILE {
  std::string path;  // where it goes once complete
  std::string part;  // the file written until then: the path and ".part"
  FILE* fp = nullptr;
};

// Creates the part file beside `path`. False where it cannot be.
bool BeginPart(PARTFILE* file, const char* path);

// Flushes, syncs and closes the part file, and renames it over the path. False where any write
// failed; the part file is then removed.
bool CommitPart(PARTFILE* file);

// Closes and removes the part file, leaving whatever was at the path as it was.
void AbandonPart(PARTFILE* file);
