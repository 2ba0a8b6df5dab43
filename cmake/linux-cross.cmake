# Builds for a Debian architecture with Debian's cross compiler, and runs what it builds
# under qemu-user with that architecture's libraries; the machine's own architecture builds
# natively, so that one preset serves every architecture:
#   cmake -DWAD3_ARCH=arm64 --toolchain cmake/linux-cross.cmake ...
# Per Debian architecture: the compiler's triplet, the multiarch folder of its libraries
# once installed beside ours (dpkg --add-architecture), qemu's name for the CPU, and what
# uname -m prints on such a machine (which names the static program's tarball).
set(WAD3_CROSS_amd64    x86_64-linux-gnu        x86_64-linux-gnu        x86_64   x86_64)
set(WAD3_CROSS_i386     i686-linux-gnu          i386-linux-gnu          i386     i686)
set(WAD3_CROSS_arm64    aarch64-linux-gnu       aarch64-linux-gnu       aarch64  aarch64)
set(WAD3_CROSS_armel    arm-linux-gnueabi       arm-linux-gnueabi       arm      armv5tel)
set(WAD3_CROSS_armhf    arm-linux-gnueabihf     arm-linux-gnueabihf     arm      armv7l)
set(WAD3_CROSS_mips64el mips64el-linux-gnuabi64 mips64el-linux-gnuabi64 mips64el mips64)
set(WAD3_CROSS_ppc64el  powerpc64le-linux-gnu   powerpc64le-linux-gnu   ppc64le  ppc64le)
set(WAD3_CROSS_s390x    s390x-linux-gnu         s390x-linux-gnu         s390x    s390x)

if(NOT DEFINED WAD3_CROSS_${WAD3_ARCH})
  message(FATAL_ERROR "WAD3_ARCH must name one of amd64 i386 arm64 armel armhf mips64el ppc64el s390x, "
                      "for instance: WAD3_ARCH=arm64 cmake --workflow --preset cross")
endif()
list(GET WAD3_CROSS_${WAD3_ARCH} 0 WAD3_TRIPLET)
list(GET WAD3_CROSS_${WAD3_ARCH} 1 WAD3_MULTIARCH)
list(GET WAD3_CROSS_${WAD3_ARCH} 2 cpu)
list(GET WAD3_CROSS_${WAD3_ARCH} 3 WAD3_UNAME_MACHINE)
# Checks that the compiler works are built with the same settings.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES WAD3_ARCH)

string(REGEX REPLACE "-.*" "" processor ${WAD3_TRIPLET})
if(processor STREQUAL CMAKE_HOST_SYSTEM_PROCESSOR)
  return()  # this machine's own: the native compiler, and the programs run as they are
endif()

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${processor})
if(WAD3_ARCH MATCHES "^arm")  # no notes on a calling convention that changed in GCC 7.1
  string(APPEND CMAKE_CXX_FLAGS_INIT " -Wno-psabi")
endif()
set(CMAKE_C_COMPILER ${WAD3_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${WAD3_TRIPLET}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${WAD3_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The programs run with the cross compiler's own libraries. The library path keeps its loader
# from taking a library of the same architecture installed beside ours (as the packages
# need) through the system's library cache: mixed, the two C libraries crash in fork.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-${cpu} -L /usr/${WAD3_TRIPLET}
                                  -E LD_LIBRARY_PATH=/usr/${WAD3_TRIPLET}/lib)
