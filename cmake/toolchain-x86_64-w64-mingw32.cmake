# Cross-compiling for Windows with mingw-w64 (AMD64).
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(VANDREL_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-w64.cmake)
