// Numbers as text with '.' for the decimal separator whatever the locale, written with the
// precision that reads back to the same double: the settings file and the property pages share
// them. Pure functions; any thread.
#pragma once

#include <charconv>
#include <cmath>
#include <string>
#include <string_view>
#include <system_error>

namespace base {

// The shortest of %.15g and %.17g that reads back to value.
inline std::wstring NumberText(double value) {
    char text[40];
    for (const int precision : {15, 17}) {
        const auto written =
            std::to_chars(text, text + sizeof text, value, std::chars_format::general, precision);
        double back = 0;
        std::from_chars(text, written.ptr, back);
        if (back == value || precision == 17) return std::wstring(text, written.ptr);
    }
    return std::wstring();
}

// A finite number written in full and nothing else ("1,5", "1x", "" and "nan" are not); an
// optional sign and exponent.
inline bool ParseNumber(std::wstring_view text, double* value) {
    std::string narrow;
    for (const wchar_t c : text) {
        if (c > 0x7F) return false;
        narrow += static_cast<char>(c);
    }
    const char* first = narrow.data();
    const char* const last = first + narrow.size();
    if (first != last && *first == '+' && last - first > 1 && first[1] != '-') ++first;
    const auto read = std::from_chars(first, last, *value);
    return read.ec == std::errc{} && read.ptr == last && first != last && std::isfinite(*value);
}

}  // namespace base
