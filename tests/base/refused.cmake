# cmake -DCOMPILER=... -DSOURCE_DIR=... -DCASES=n [-DSOURCE=... -DEXPECTED=... -DFLAGS=...] -P refused.cmake
# Compiles SOURCE (tests/base/hresult_refused.cpp) once per case, with FLAGS: case 0 must compile,
# cases 1..CASES must fail with an error matching EXPECTED (the message of base/hresult.h's type
# check); another error would hide a lost check.
if(NOT DEFINED SOURCE)
  set(SOURCE tests/base/hresult_refused.cpp)
  set(EXPECTED "is expected here")
endif()
separate_arguments(extra_flags UNIX_COMMAND "${FLAGS}")
foreach(case RANGE ${CASES})
  execute_process(
    COMMAND ${COMPILER} -std=c++17 -fsyntax-only -DUNICODE -D_UNICODE -DREFUSED_CASE=${case} ${extra_flags}
      -I${SOURCE_DIR} ${SOURCE_DIR}/${SOURCE}
    RESULT_VARIABLE result ERROR_VARIABLE errors OUTPUT_QUIET)
  if(case EQUAL 0 AND NOT result EQUAL 0)
    message(FATAL_ERROR "the accepted uses do not compile:\n${errors}")
  elseif(case GREATER 0 AND (result EQUAL 0 OR NOT errors MATCHES "${EXPECTED}"))
    message(FATAL_ERROR "case ${case} is not refused by the check:\n${errors}")
  endif()
endforeach()
message(STATUS "every case refused, the accepted uses compile")
