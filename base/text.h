// Text every layer makes the same way: a GUID in its registry form, a module's string resource, the
// system's message for an error, wide text narrowed for a file or a console, printf-style text, and
// whole numbers as people type them in options and configuration texts. Any thread. The ones that
// return a string throw std::bad_alloc.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

// Format counts on the C library's printf family of mingw-w64 (which libstdc++ selects): it answers a
// text that does not fit with the length the whole text needs, the wide forms too, and takes the
// formats the compiler checks (gnu_printf). The C library of another toolchain answers a wide text
// that does not fit with -1.
#if !defined(__USE_MINGW_ANSI_STDIO) || !__USE_MINGW_ANSI_STDIO
#error "base::Format needs mingw-w64's own printf family (__USE_MINGW_ANSI_STDIO)"
#endif

#include "base/unique_handle.h"

namespace base {

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", 38 characters; empty only if the platform refuses.
inline std::wstring GuidText(REFGUID guid) {
    constexpr int kChars = 39;  // the braces, the 36 of the GUID and the terminator
    wchar_t text[kChars];
    return ::StringFromGUID2(guid, text, kChars) == kChars ? std::wstring(text, kChars - 1) : std::wstring();
}

// String resource id of module; empty when it is missing (or empty).
inline std::wstring StringResource(HMODULE module, UINT id) {
    // With a zero buffer size LoadString hands out a pointer into the resource itself.
    const wchar_t* text = nullptr;
    const int n = ::LoadStringW(module, id, reinterpret_cast<LPWSTR>(&text), 0);
    return n > 0 && text ? std::wstring(text, static_cast<size_t>(n)) : std::wstring();
}

// The system's message for a Win32 error or another system HRESULT, without its closing line break;
// empty when the system has none.
inline std::wstring SystemMessage(HRESULT hr) {
    const DWORD id = HRESULT_FACILITY(hr) == FACILITY_WIN32 ? HRESULT_CODE(hr) : static_cast<DWORD>(hr);
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        id, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    const UniqueLocal owner(text);
    std::wstring message = n > 0 && text ? std::wstring(text, n) : std::wstring();
    while (!message.empty() &&
           (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ')) {
        message.pop_back();
    }
    return message;
}

// text in the narrow code page codePage (CP_UTF8, CP_ACP, ...); a character the code page lacks
// becomes its default character.
inline std::string Narrow(std::wstring_view text, UINT codePage) {
    if (text.empty()) return {};
    const int wide = static_cast<int>(text.size());
    const int n = ::WideCharToMultiByte(codePage, 0, text.data(), wide, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) ::WideCharToMultiByte(codePage, 0, text.data(), wide, out.data(), n, nullptr, nullptr);
    return out;
}

// text as UTF-8, for files.
inline std::string Utf8(std::wstring_view text) { return Narrow(text, CP_UTF8); }

namespace detail {

template <typename Char>
std::string PrintableAscii(std::basic_string_view<Char> text) {
    std::string out(text.size(), '?');
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<std::make_unsigned_t<Char>>(text[i]);
        if (c >= 0x20 && c < 0x7F) out[i] = static_cast<char>(c);
    }
    return out;
}

inline int Print(char* buffer, size_t size, const char* format, va_list args) noexcept {
    return std::vsnprintf(buffer, size, format, args);
}

inline int Print(wchar_t* buffer, size_t size, const wchar_t* format, va_list args) noexcept {
    return std::vswprintf(buffer, size, format, args);
}

// The whole text, however long: a text longer than the first buffer is printed again into one of its
// length. Empty when the format fails (a character the conversion cannot encode).
template <typename Char>
std::basic_string<Char> FormatList(const Char* format, va_list args) {
    Char first[256];
    va_list again;
    va_copy(again, args);
    const int n = Print(first, std::size(first), format, args);
    std::basic_string<Char> text;
    if (n >= 0 && static_cast<size_t>(n) < std::size(first)) {
        text.assign(first, static_cast<size_t>(n));
    } else if (n > 0) {
        try {
            text.resize(static_cast<size_t>(n));
        } catch (...) {
            va_end(again);
            throw;
        }
        // Writes the terminator over the string's own, which is allowed: it writes a zero there.
        Print(text.data(), text.size() + 1, format, again);
    }
    va_end(again);
    return text;
}

}  // namespace detail

// text as printable ASCII, every other character (every byte of narrow text outside it) '?': one
// line of a console message, whatever the console's code page and whatever the text holds (a line
// break would start a line of its own).
inline std::string PrintableAscii(std::wstring_view text) { return detail::PrintableAscii(text); }
inline std::string PrintableAscii(std::string_view text) { return detail::PrintableAscii(text); }

// printf-style text, never cut short. The compiler checks the narrow form's arguments against its
// format; GCC has no such check for a wide format, so the wide form's arguments are on the reader.
// As in C, %s in a wide format takes narrow text and %ls wide text.
inline std::string Format(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
inline std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    try {
        std::string text = detail::FormatList(format, args);
        va_end(args);
        return text;
    } catch (...) {
        va_end(args);
        throw;
    }
}

inline std::wstring Format(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    try {
        std::wstring text = detail::FormatList(format, args);
        va_end(args);
        return text;
    } catch (...) {
        va_end(args);
        throw;
    }
}

// A whole number written in decimal, or in hexadecimal after "0x" or "0X", and nothing else (no
// sign, no blanks); nullopt when text is not one or the number is above max.
template <typename Char>
constexpr std::optional<uint32_t> ParseWholeNumber(std::basic_string_view<Char> text, uint32_t max) noexcept {
    uint32_t radix = 10;
    if (text.size() > 2 && text[0] == Char('0') && (text[1] == Char('x') || text[1] == Char('X'))) {
        radix = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return std::nullopt;
    uint64_t value = 0;
    for (const Char c : text) {
        uint32_t digit;
        if (c >= Char('0') && c <= Char('9')) {
            digit = static_cast<uint32_t>(c - Char('0'));
        } else if (radix == 16 && c >= Char('a') && c <= Char('f')) {
            digit = static_cast<uint32_t>(c - Char('a')) + 10;
        } else if (radix == 16 && c >= Char('A') && c <= Char('F')) {
            digit = static_cast<uint32_t>(c - Char('A')) + 10;
        } else {
            return std::nullopt;
        }
        value = value * radix + digit;  // cannot wrap: value stays at most max before each step
        if (value > max) return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}

}  // namespace base
