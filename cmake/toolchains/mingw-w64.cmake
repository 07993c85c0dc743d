# Cross-builds for 64-bit Windows with Debian's mingw-w64 (package
# g++-mingw-w64-x86-64-posix): the POSIX-threads compiler, since the core uses
# std::thread and std::mutex. The runtimes (libgcc, libstdc++, winpthread) are
# linked in, so a program runs by itself, under wine too.
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TARVEL_MINGW_TRIPLET x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${TARVEL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARVEL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TARVEL_MINGW_TRIPLET}-windres)

# Libraries and headers of the target only; programs of the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${TARVEL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Test programs run under wine, through a wrapper that keeps wine's output
# in a file (see cmake/wine-run).
find_program(TARVEL_WINE wine)
if(TARVEL_WINE AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../wine-run)
endif()
