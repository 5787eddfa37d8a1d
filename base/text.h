// Text every layer makes the same way: a GUID in its registry form, a module's string resource, the
// system's message for an error, wide text narrowed for a file or a console, and whole numbers as
// people type them in options and configuration texts. Any thread. The ones that return a string
// throw std::bad_alloc.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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

// text as UTF-8, for files.
inline std::string Utf8(std::wstring_view text) {
    if (text.empty()) return {};
    const int wide = static_cast<int>(text.size());
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) ::WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, out.data(), n, nullptr, nullptr);
    return out;
}

// text as printable ASCII, every other character '?': one line of a console message, whatever the
// console's code page and whatever the text holds (a line break would start a line of its own).
inline std::string PrintableAscii(std::wstring_view text) {
    std::string out(text.size(), '?');
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] >= 0x20 && text[i] < 0x7F) out[i] = static_cast<char>(text[i]);
    }
    return out;
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
