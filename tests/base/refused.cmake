# cmake -DCOMPILER=... -DSOURCE_DIR=... -DCASES=n -P refused.cmake
# Compiles tests/base/hresult_refused.cpp once per case: case 0 must compile, cases 1..CASES must
# fail with the message of base/hresult.h's type check (another error would hide a lost check).
foreach(case RANGE ${CASES})
  execute_process(
    COMMAND ${COMPILER} -std=c++17 -fsyntax-only -DUNICODE -D_UNICODE -DREFUSED_CASE=${case}
      -I${SOURCE_DIR} ${SOURCE_DIR}/tests/base/hresult_refused.cpp
    RESULT_VARIABLE result ERROR_VARIABLE errors OUTPUT_QUIET)
  if(case EQUAL 0 AND NOT result EQUAL 0)
    message(FATAL_ERROR "the accepted uses do not compile:\n${errors}")
  elseif(case GREATER 0 AND (result EQUAL 0 OR NOT errors MATCHES "is expected here"))
    message(FATAL_ERROR "case ${case} is not refused by the type check:\n${errors}")
  endif()
endforeach()
message(STATUS "every case refused, the accepted uses compile")
