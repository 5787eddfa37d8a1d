// The entry conversion: how a number typed into one of the form's boxes becomes the 16-bit value
// the handlers pass on. Pure functions, no state; any thread.
#pragma once

#include <windows.h>

#include <string_view>

namespace mirelo {

// The value of the longest leading number in text after trimming blanks: optional sign, digits,
// optional decimal point and fraction, optional exponent ("1e3"). Text that does not begin with
// a number reads as 0. Throws only std::bad_alloc.
double ReadLeadingNumber(std::wstring_view text);

// ReadLeadingNumber rounded to the nearest integer, halves to the even neighbour. DISP_E_OVERFLOW
// (and *value untouched) when the result lies outside -32768..32767.
[[nodiscard]] HRESULT ConvertEntry(std::wstring_view text, SHORT* value);

}  // namespace mirelo
