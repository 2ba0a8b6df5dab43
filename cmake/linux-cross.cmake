# Builds for another Debian architecture with Debian's cross compiler, and runs what it
# builds under qemu-user with that architecture's libraries:
#   cmake -DWAD3_ARCH=arm64 --toolchain cmake/linux-cross.cmake ...
# Per Debian architecture: the compiler's triplet, the multiarch folder of its libraries
# once installed beside ours (dpkg --add-architecture), qemu's name for the CPU, and where
# qemu finds the run-time libraries: the cross compiler's copies, except for i386, whose
# copies (2.36-8cross1) hang in fork under qemu-i386, so there the multiarch ones serve.
set(WAD3_CROSS_i386     i686-linux-gnu          i386-linux-gnu          i386     /)
set(WAD3_CROSS_arm64    aarch64-linux-gnu       aarch64-linux-gnu       aarch64  /usr/aarch64-linux-gnu)
set(WAD3_CROSS_armel    arm-linux-gnueabi       arm-linux-gnueabi       arm      /usr/arm-linux-gnueabi)
set(WAD3_CROSS_armhf    arm-linux-gnueabihf     arm-linux-gnueabihf     arm      /usr/arm-linux-gnueabihf)
set(WAD3_CROSS_mips64el mips64el-linux-gnuabi64 mips64el-linux-gnuabi64 mips64el /usr/mips64el-linux-gnuabi64)
set(WAD3_CROSS_ppc64el  powerpc64le-linux-gnu   powerpc64le-linux-gnu   ppc64le  /usr/powerpc64le-linux-gnu)
set(WAD3_CROSS_s390x    s390x-linux-gnu         s390x-linux-gnu         s390x    /usr/s390x-linux-gnu)

if(NOT DEFINED WAD3_CROSS_${WAD3_ARCH})
  message(FATAL_ERROR "WAD3_ARCH must name one of i386 arm64 armel armhf mips64el ppc64el s390x")
endif()
list(GET WAD3_CROSS_${WAD3_ARCH} 0 WAD3_TRIPLET)
list(GET WAD3_CROSS_${WAD3_ARCH} 1 WAD3_MULTIARCH)
list(GET WAD3_CROSS_${WAD3_ARCH} 2 cpu)
list(GET WAD3_CROSS_${WAD3_ARCH} 3 libraries)
# Checks that the compiler works are built with the same settings.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES WAD3_ARCH)

set(CMAKE_SYSTEM_NAME Linux)
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR ${WAD3_TRIPLET})
set(CMAKE_C_COMPILER ${WAD3_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${WAD3_TRIPLET}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${WAD3_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-${cpu} -L ${libraries})
