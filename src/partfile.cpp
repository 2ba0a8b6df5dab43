/* partfile: what --make writes goes to PATH.part first, and is renamed over PATH only once
 * flushed, synced and closed without a fault, so that a full disk or a crash never leaves half
 * a file where a whole one was.
 */
#include "partfile.h"

#include "tools.h"
#include "win32.h"

namespace {

constexpr char kPartEnding[] = ".part";

// Replaces the file at `to` with the one at `from`, in one step where the system allows.
bool Replace(const char* from, const char* to) {
#ifdef _WIN32
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
  return rename(from, to) == 0;
#endif
}

}  // namespace

bool BeginPart(PARTFILE* file, const char* path) {
  file->path = path;
  file->part = file->path + kPartEnding;
  file->fp = fopen(file->part.c_str(), "wb");
  return file->fp != nullptr;
}

bool CommitPart(PARTFILE* file) {
  // A full disk shows only when the buffer is flushed: check the stream, the flush and the close.
  const bool written = fflush(file->fp) == 0 && ferror(file->fp) == 0 && SyncFile(file->fp);
  const bool closed = fclose(file->fp) == 0;
  file->fp = nullptr;
  if (!written || !closed || !Replace(file->part.c_str(), file->path.c_str())) {
    remove(file->part.c_str());
    return false;
  }
  return true;
}

void AbandonPart(PARTFILE* file) {
  if (file->fp != nullptr) fclose(file->fp);
  file->fp = nullptr;
  remove(file->part.c_str());
}
