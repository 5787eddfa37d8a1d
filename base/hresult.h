// HRESULT plumbing: errors flow up as return values through these few macros, which take only an
// HRESULT (checked when compiled). A macro that returns a failure, and LOG_IF_FAILED for one that is
// gone past, first reports where it came from (the HRESULT, the expression's text, the file and
// line) to the failure-origin hook, when one is registered: a debug build sends it to the debugger.
// The hook is one per module (each module links its own copy of this header's state), may be set
// from any thread, and is called on the thread that fails.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <new>
#include <type_traits>

namespace base {

// Called with every failure a macro below returns. It must not throw and should leave the thread's
// last error as it found it.
using FailureOriginHook = void (*)(HRESULT hr, const char* expression, const char* file, int line) noexcept;

namespace detail {
inline std::atomic<FailureOriginHook> g_failureOriginHook{nullptr};
}  // namespace detail

// Registers hook (null removes it) and returns the one it replaces.
inline FailureOriginHook SetFailureOriginHook(FailureOriginHook hook) noexcept {
    return detail::g_failureOriginHook.exchange(hook);
}

// hr, after telling the hook where it came from when it is a failure. With no hook registered the
// cost is one relaxed load.
inline HRESULT ReportFailureOrigin(HRESULT hr, const char* expression, const char* file, int line) noexcept {
    if (FAILED(hr)) {
        if (const FailureOriginHook hook = detail::g_failureOriginHook.load(std::memory_order_relaxed)) {
            hook(hr, expression, file, line);
        }
    }
    return hr;
}

// One line for a failure's origin, "file(line): hr 0x80004005 from expression\n", the form a
// debugger's output window lets one jump from; cut to fit capacity, and always terminated and
// ended by the newline. Returns the characters written. The narrow texts are taken as ASCII, as
// source text and file names are here.
inline size_t FormatFailureOrigin(wchar_t* out, size_t capacity, HRESULT hr, const char* expression,
                                  const char* file, int line) noexcept {
    if (!out || capacity < 2) {
        if (out && capacity) *out = L'\0';
        return 0;
    }
    size_t n = 0;
    const size_t room = capacity - 2;  // the newline and the terminator are always kept
    auto put = [&](wchar_t c) {
        if (n < room) out[n++] = c;
    };
    auto text = [&](const char* s) {
        for (s = s ? s : "?"; *s; ++s) put(static_cast<wchar_t>(static_cast<unsigned char>(*s)));
    };
    text(file);
    put(L'(');
    char digits[12];
    int d = 0;
    unsigned long value = line < 0 ? 0ul : static_cast<unsigned long>(line);
    do {
        digits[d++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value);
    while (d) put(static_cast<wchar_t>(digits[--d]));
    text("): hr 0x");
    const unsigned long code = static_cast<unsigned long>(hr);
    for (int shift = 28; shift >= 0; shift -= 4) put(L"0123456789ABCDEF"[(code >> shift) & 0xF]);
    text(" from ");
    text(expression);
    out[n++] = L'\n';
    out[n] = L'\0';
    return n;
}

// A hook that writes the origin to the debugger's output, keeping the thread's last error.
inline void DebugOutputFailureOrigin(HRESULT hr, const char* expression, const char* file,
                                     int line) noexcept {
    const DWORD lastError = ::GetLastError();
    wchar_t text[512];
    FormatFailureOrigin(text, sizeof text / sizeof *text, hr, expression, file, line);
    ::OutputDebugStringW(text);
    ::SetLastError(lastError);
}

// The calling thread's last Win32 error as an HRESULT; E_FAIL when the API set none.
[[nodiscard]] inline HRESULT HResultFromLastError() noexcept {
    const DWORD err = ::GetLastError();
    return err == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(err);
}

// The HRESULT for the exception being handled: E_OUTOFMEMORY for std::bad_alloc, E_UNEXPECTED for
// anything else. Call it only inside a catch block; CATCH_RETURN is the usual way.
[[nodiscard]] inline HRESULT HResultFromCaughtException() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

namespace detail {

// What the macros take, checked when they are compiled. HRESULT and the registry's LONG are one type
// to the compiler, so a LONG passed as an HRESULT gets through; a BOOL, int, DWORD or bool does not.
template <typename T>
[[nodiscard]] constexpr HRESULT VerifyHResult(T hr) noexcept {
    static_assert(std::is_same_v<T, HRESULT>,
                  "an HRESULT is expected here (a BOOL, int or DWORD is not one)");
    return hr;
}

template <typename T>
constexpr LONG VerifyWin32Error(T error) noexcept {
    static_assert(std::is_same_v<T, LONG> || std::is_same_v<T, DWORD>,
                  "a Win32 error code (LONG or DWORD) is expected here");
    return static_cast<LONG>(error);
}

}  // namespace detail

}  // namespace base

#define VANDREL_FAILURE_ORIGIN_(hr, text) ::base::ReportFailureOrigin((hr), (text), __FILE__, __LINE__)

// Ends a function-try-block at a COM boundary, so that no exception leaves it:
//   STDMETHODIMP X::M(T* out) noexcept try { ...; return S_OK; } CATCH_RETURN()
#define CATCH_RETURN()                                                                     \
    catch (...) {                                                                          \
        return VANDREL_FAILURE_ORIGIN_(::base::HResultFromCaughtException(), "exception"); \
    }

#define RETURN_IF_FAILED(expr)                                                   \
    do {                                                                         \
        const HRESULT hr_macro_ = ::base::detail::VerifyHResult(expr);           \
        if (FAILED(hr_macro_)) return VANDREL_FAILURE_ORIGIN_(hr_macro_, #expr); \
    } while (0)

#define RETURN_HR_IF(hr, cond)                                                              \
    do {                                                                                    \
        if (cond) return VANDREL_FAILURE_ORIGIN_(::base::detail::VerifyHResult(hr), #cond); \
    } while (0)

#define RETURN_HR_IF_NULL(hr, ptr)                                                              \
    do {                                                                                        \
        if ((ptr) == nullptr)                                                                   \
            return VANDREL_FAILURE_ORIGIN_(::base::detail::VerifyHResult(hr), #ptr " is null"); \
    } while (0)

#define RETURN_LAST_ERROR_IF(cond)                                                       \
    do {                                                                                 \
        if (cond) return VANDREL_FAILURE_ORIGIN_(::base::HResultFromLastError(), #cond); \
    } while (0)

// A Win32 error code (LONG or DWORD, as the registry functions return them) as an HRESULT.
#define RETURN_IF_WIN32_ERROR(expr)                                                \
    do {                                                                           \
        const LONG err_macro_ = ::base::detail::VerifyWin32Error(expr);            \
        if (err_macro_ != ERROR_SUCCESS)                                           \
            return VANDREL_FAILURE_ORIGIN_(HRESULT_FROM_WIN32(err_macro_), #expr); \
    } while (0)

// A failure that the caller goes on past (a clean-up, a notification nobody can act on): reported
// to the hook like a returned one, so that it is not lost without a word. Evaluates to the HRESULT.
#define LOG_IF_FAILED(expr) VANDREL_FAILURE_ORIGIN_(::base::detail::VerifyHResult(expr), #expr)
