# Builds WebAssembly WASI commands (wad3.wasm) with Debian's clang, wasi-libc and libc++ for
# wasm32, and runs what it builds under Node's WASI: cmake --toolchain cmake/wasi.cmake ...
# The web preset builds with it as a sub-build; see web/CMakeLists.txt.
set(CMAKE_SYSTEM_NAME Generic)  # CMake 3.25 knows no WASI; nothing here needs it to
set(CMAKE_SYSTEM_PROCESSOR wasm32)
set(CMAKE_C_COMPILER clang)  # GoogleTest's project asks for C too
set(CMAKE_C_COMPILER_TARGET wasm32-wasi)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET wasm32-wasi)
set(CMAKE_SYSROOT /usr)  # /usr/include/wasm32-wasi, /usr/lib/wasm32-wasi
# Debian's libc++ for wasm32 is built without exceptions, and nothing of ours throws.
set(CMAKE_CXX_FLAGS_INIT -fno-exceptions)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_CROSSCOMPILING_EMULATOR node ${CMAKE_CURRENT_LIST_DIR}/../web/wasi-run.mjs)
