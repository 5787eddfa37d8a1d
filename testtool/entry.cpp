#include "testtool/entry.h"

#include <cmath>
#include <cstdlib>
#include <string>

#include "base/hresult.h"
#include "base/text.h"

namespace mirelo {
namespace {

bool IsDigit(wchar_t c) noexcept { return c >= L'0' && c <= L'9'; }

// Only the space character counts as a blank, as in the boxes' own trimming.
std::wstring_view TrimSpaces(std::wstring_view text) noexcept {
    const size_t first = text.find_first_not_of(L' ');
    if (first == std::wstring_view::npos) return {};
    const size_t last = text.find_last_not_of(L' ');
    return text.substr(first, last - first + 1);
}

}  // namespace

double ReadLeadingNumber(std::wstring_view text) {
    text = TrimSpaces(text);
    size_t i = 0;
    const size_t n = text.size();
    if (i < n && (text[i] == L'+' || text[i] == L'-')) ++i;
    size_t digits = 0;
    while (i < n && IsDigit(text[i])) ++i, ++digits;
    if (i < n && text[i] == L'.') {
        ++i;
        while (i < n && IsDigit(text[i])) ++i, ++digits;
    }
    if (digits == 0) return 0.0;
    // An exponent counts only when digits follow it; "12e" is 12.
    if (i < n && (text[i] == L'e' || text[i] == L'E')) {
        size_t j = i + 1;
        if (j < n && (text[j] == L'+' || text[j] == L'-')) ++j;
        if (j < n && IsDigit(text[j])) {
            while (j < n && IsDigit(text[j])) ++j;
            i = j;
        }
    }
    // The accepted prefix is plain ASCII, so strtod reads exactly it (the C locale's '.').
    return std::strtod(base::PrintableAscii(text.substr(0, i)).c_str(), nullptr);
}

[[nodiscard]] HRESULT ConvertEntry(std::wstring_view text, SHORT* value) {
    RETURN_HR_IF_NULL(E_POINTER, value);
    // nearbyint under the default rounding mode rounds halves to even; an infinity from a huge
    // exponent fails the range check like any other large value.
    const double rounded = std::nearbyint(ReadLeadingNumber(text));
    if (!(rounded >= -32768.0 && rounded <= 32767.0)) return DISP_E_OVERFLOW;
    *value = static_cast<SHORT>(rounded);
    return S_OK;
}

}  // namespace mirelo
