// The way back: a package made from images, packages and maps.
#pragma once

// wad3 --make [--dither] PACKAGE.wad INPUT...: `args` are the words after --make. Returns the
// exit status: 0 once the package is written, 1 where anything kept it from being written.
int MakePackage(int count, char** args);
