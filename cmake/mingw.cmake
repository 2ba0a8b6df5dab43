# Builds the 64-bit Windows program with Debian's mingw-w64, and runs what it builds under
# wine64 (a 64-bit wine needs no 32-bit support from the kernel) in a prefix of the build's
# own: cmake --toolchain cmake/mingw.cmake ...
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)  # std::mutex, which GoogleTest uses
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR
    /usr/bin/env WINEPREFIX=${CMAKE_BINARY_DIR}/wine WINEDEBUG=-all /usr/lib/wine/wine64)
