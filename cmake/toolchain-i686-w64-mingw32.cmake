# Cross-compiling for Windows with mingw-w64 (x86).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(VANDREL_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-w64.cmake)
