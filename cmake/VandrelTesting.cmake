# GoogleTest from Debian's source package, built with the cross toolchain, and CTest under Wine.
set(VANDREL_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${VANDREL_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# Quietly, and like the tests for a quick build (tests/CMakeLists.txt).
foreach(t gtest gtest_main gmock gmock_main)
  if(TARGET ${t})
    target_compile_options(${t} PRIVATE -w -O1)
  endif()
endforeach()

enable_testing()

# Both presets' test programs run under Wine: win64 in a 64-bit prefix; the shipped i686 build in
# a 32-bit prefix (win32) and in a 64-bit one (wow64). scripts/wine-run picks the prefix and the
# loader of the configuration that scripts/test names; run by hand, ctest uses the preset's default.
if(VANDREL_X64)
  set(VANDREL_DEFAULT_CONFIG win64)
else()
  set(VANDREL_DEFAULT_CONFIG wow64)
endif()
set(VANDREL_WINE_RUN ${CMAKE_SOURCE_DIR}/scripts/wine-run)

# vandrel_add_test(<target> [LOCKS lock...] [TIMEOUT s])
# One CTest test per test program. LOCKS names machine-wide state that the program touches
# (the port lock event, files in C:\, the registry) so that ctest -j serialises those programs.
# TIMEOUT is about twice the program's normal run on a busy machine, so that a hang shows soon;
# the 300 s fallback is for programs that have not measured theirs.
function(vandrel_add_test target)
  cmake_parse_arguments(ARG "" "TIMEOUT" "LOCKS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_test(NAME ${target} COMMAND ${VANDREL_WINE_RUN} ${VANDREL_DEFAULT_CONFIG} $<TARGET_FILE:${target}>)
  set_tests_properties(${target} PROPERTIES TIMEOUT ${ARG_TIMEOUT})
  if(ARG_LOCKS)
    set_tests_properties(${target} PROPERTIES RESOURCE_LOCK "${ARG_LOCKS}")
  endif()
endfunction()
