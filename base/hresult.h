// HRESULT plumbing: errors flow up as return values through these few macros.
#pragma once

#include <windows.h>

#include <new>

namespace base {

// The calling thread's last Win32 error as an HRESULT; E_FAIL when the API set none.
inline HRESULT HResultFromLastError() noexcept {
    const DWORD err = ::GetLastError();
    return err == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(err);
}

// The HRESULT for the exception being handled: E_OUTOFMEMORY for std::bad_alloc, E_UNEXPECTED for
// anything else. Call it only inside a catch block; CATCH_RETURN is the usual way.
inline HRESULT HResultFromCaughtException() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace base

// Ends a function-try-block at a COM boundary, so that no exception leaves it:
//   STDMETHODIMP X::M(T* out) noexcept try { ...; return S_OK; } CATCH_RETURN()
#define CATCH_RETURN()                               \
    catch (...) {                                    \
        return ::base::HResultFromCaughtException(); \
    }

#define RETURN_IF_FAILED(expr)                   \
    do {                                         \
        const HRESULT hr_macro_ = (expr);        \
        if (FAILED(hr_macro_)) return hr_macro_; \
    } while (0)

#define RETURN_HR_IF(hr, cond) \
    do {                       \
        if (cond) return (hr); \
    } while (0)

#define RETURN_HR_IF_NULL(hr, ptr)         \
    do {                                   \
        if ((ptr) == nullptr) return (hr); \
    } while (0)

#define RETURN_LAST_ERROR_IF(cond)                       \
    do {                                                 \
        if (cond) return ::base::HResultFromLastError(); \
    } while (0)

// A Win32 error code (LONG or DWORD, as the registry functions return them) as an HRESULT.
#define RETURN_IF_WIN32_ERROR(expr)                                             \
    do {                                                                        \
        const LONG err_macro_ = static_cast<LONG>(expr);                        \
        if (err_macro_ != ERROR_SUCCESS) return HRESULT_FROM_WIN32(err_macro_); \
    } while (0)
