# The project's cross toolchain for the libraries' own CMake builds. Nothing runs at their build
# time, so no emulator (and no Wine prefix in the deps folder).
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/mingw-w64-x86_64.cmake)
unset(CMAKE_CROSSCOMPILING_EMULATOR)
