# What both toolchain files share: the posix thread-model compilers of VANDREL_TRIPLET (GoogleTest
# needs std::mutex) and a search confined to that target's root.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER   ${VANDREL_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VANDREL_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER  ${VANDREL_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VANDREL_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
