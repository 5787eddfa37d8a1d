// printf-style formatting for the trace's posts, with a short path for the formats the sampling
// thread uses once per byte. Pure functions; any thread.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace trace {

// Formats like vsnprintf when the format holds nothing but plain characters, "%%" and "%d" or "%i"
// without flags, width or precision: the length of the full text (text is cut to size - 1
// characters and a zero, as vsnprintf does), or -1 for any other format, which the caller then
// hands to vsnprintf. args is only read when the result is not -1.
int FormatPlainInts(char* text, size_t size, const char* format, va_list args) noexcept;

}  // namespace trace
