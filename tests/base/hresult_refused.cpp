// Compiled once per REFUSED_CASE by tests/base/refused.cmake: case 0 must compile, every other case
// must be refused with the macros' own message, since it hands a macro something that is not an
// HRESULT (or, for RETURN_IF_WIN32_ERROR, not a Win32 error code).
#include <windows.h>

#include "base/hresult.h"

[[nodiscard]] HRESULT Refused(const int* pointer) {
#if REFUSED_CASE == 0
    RETURN_IF_FAILED(S_OK);
    RETURN_HR_IF(E_FAIL, pointer == nullptr);
    RETURN_HR_IF_NULL(E_POINTER, pointer);
    RETURN_IF_WIN32_ERROR(::GetLastError());
    RETURN_IF_WIN32_ERROR(ERROR_SUCCESS);
    return LOG_IF_FAILED(S_FALSE);
#elif REFUSED_CASE == 1
    RETURN_IF_FAILED(::IsWindow(nullptr));  // BOOL
#elif REFUSED_CASE == 2
    RETURN_HR_IF(1, pointer == nullptr);  // int
#elif REFUSED_CASE == 3
    RETURN_HR_IF_NULL(::GetLastError(), pointer);  // DWORD
#elif REFUSED_CASE == 4
    return LOG_IF_FAILED(pointer != nullptr);  // bool
#elif REFUSED_CASE == 5
    RETURN_IF_WIN32_ERROR(::IsWindow(nullptr));  // BOOL
#endif
    return S_OK;
}
