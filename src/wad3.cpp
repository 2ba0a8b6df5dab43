/* wad3: the program entry. One path extracts every picture of a file (extract.cpp), as PCX files
 * or, after --png, as PNG files; after --make, the way back builds a package (make.cpp).
 */
#include <cstdio>
#include <cstring>

#include "extract.h"
#include "make.h"

namespace {

constexpr char kUsage[] = "USAGE:  WAD3 filename.wad\n";
constexpr char kPngUsage[] = "USAGE:  WAD3 --png filename.wad\n";
constexpr char kHelp[] =
    "USAGE:  WAD3 filename.wad\n"
    "        WAD3 --png filename.wad\n"
    "        WAD3 --make [--dither] package.wad input...\n"
    "        WAD3 --make [--dither] out.bsp map.bsp input...\n"
    "        WAD3 --make [--type TYPE] [--format FORMAT] [--dither] out.spr image...\n"
    "        WAD3 --make [--dither] out.mdl model.mdl image...\n"
    "Writes every texture of a package, map, model or sprite into the current folder, as NAME.pcx.\n"
    "  --png        as NAME.png instead, drawn as the game draws it (transparency, decals)\n"
    "  --make       writes package.wad of images (.png .bmp .tga .jpg .jpeg .pcx), packages,\n"
    "               maps and folders of them; with out.bsp, writes map.bsp again with the\n"
    "               textures they give it put inside, as out.bsp; with out.spr, a sprite of\n"
    "               the images, a frame each; with out.mdl, model.mdl with the skins the\n"
    "               images name replaced\n"
    "  --dither     with --make, dithers the colours of images that have no palette\n"
    "  --type       a sprite's: parallel (the default), parallel-upright, facing-upright,\n"
    "               oriented or parallel-oriented\n"
    "  --format     a sprite's: normal (the default), additive, indexalpha or alphatest\n"
    "  --help, -h   prints this help\n"
    "  --version    prints the program's name and version\n";

bool Is(const char* arg, const char* option) {
  return strcmp(arg, option) == 0;
}

// An option of no form: a file of such a name is given as ./-NAME.
bool IsUnknownOption(const char* arg) {
  return arg[0] == '-';
}

int Run(int argc, char** argv) {
  if (argc == 2 && (Is(argv[1], "--help") || Is(argv[1], "-h"))) {
    fputs(kHelp, stdout);
    return 0;
  }
  if (argc == 2 && Is(argv[1], "--version")) {
    puts("wad3 " WAD3_VERSION);
    return 0;
  }
  if (argc >= 2 && Is(argv[1], "--make")) return MakePackage(argc - 2, argv + 2);
  if (argc >= 2 && Is(argv[1], "--png")) {
    if (argc != 3 || IsUnknownOption(argv[2])) {
      fputs(kPngUsage, stdout);
      return 1;
    }
    return EnumerateImages(argv[2], "./", true);
  }
  if (argc != 2 || IsUnknownOption(argv[1])) {
    fputs(kUsage, stdout);
    return 1;
  }
  return EnumerateImages(argv[1], "./");
}

}  // namespace

int main(int argc, char** argv) {
  const int status = Run(argc, argv);
  // A log that could not be written (a full disk) fails the run, though no line can say so.
  return fflush(stdout) == 0 && ferror(stdout) == 0 ? status : 1;
}
