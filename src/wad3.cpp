/* wad3: the program entry. One path extracts every picture of a file (extract.cpp); after
 * --make, the way back builds a package (make.cpp).
 */
#include <cstdio>
#include <cstring>

#include "extract.h"
#include "make.h"

int main(int argc, char** argv) {
  int status;
  if (argc >= 2 && strcmp(argv[1], "--make") == 0) {
    status = MakePackage(argc - 2, argv + 2);
  } else if (argc == 2) {
    status = EnumerateImages(argv[1], "./");
  } else {
    fputs("USAGE:  WAD3 filename.wad\n", stdout);
    status = 1;
  }
  // A log that could not be written (a full disk) fails the run, though no line can say so.
  return fflush(stdout) == 0 && ferror(stdout) == 0 ? status : 1;
}
