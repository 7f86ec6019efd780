# Cross-compile for 64-bit Windows with Debian's mingw-w64 (posix threads),
# and run the results under Wine in a prefix that belongs to this build tree.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(_tc x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   /usr/bin/${_tc}-gcc-posix)
set(CMAKE_CXX_COMPILER /usr/bin/${_tc}-g++-posix)
set(CMAKE_RC_COMPILER  /usr/bin/${_tc}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${_tc})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The programs must run on a bare Windows: no libgcc, libstdc++ or winpthread DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
if(NOT WINE_PREFIX_DIR)
  set(WINE_PREFIX_DIR "${CMAKE_BINARY_DIR}/wineprefix")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR
    "/usr/bin/env;WINEPREFIX=${WINE_PREFIX_DIR};${CMAKE_CURRENT_LIST_DIR}/wine-run.sh")
