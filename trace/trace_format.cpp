#include "trace/trace_format.h"

namespace trace {
namespace {

bool OnlyPlainInts(const char* format) noexcept {
    for (const char* p = format; *p; ++p) {
        if (*p != '%') continue;
        ++p;
        if (*p != '%' && *p != 'd' && *p != 'i') return false;
    }
    return true;
}

}  // namespace

int FormatPlainInts(char* text, size_t size, const char* format, va_list args) noexcept {
    // Checked first, so that no argument is taken for a format that vsnprintf will have to do.
    if (!OnlyPlainInts(format)) return -1;
    size_t length = 0;
    const auto put = [&](char c) {
        if (length + 1 < size) text[length] = c;
        ++length;
    };
    for (const char* p = format; *p; ++p) {
        if (*p != '%') {
            put(*p);
            continue;
        }
        ++p;
        if (*p == '%') {
            put('%');
            continue;
        }
        const int value = va_arg(args, int);
        // Digits from the magnitude as unsigned, so that INT_MIN needs no special case.
        unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
        char digits[12];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        if (value < 0) put('-');
        while (n > 0) put(digits[--n]);
    }
    if (size > 0) text[length < size ? length : size - 1] = '\0';
    return length > 0x7FFFFFFF ? -1 : static_cast<int>(length);
}

}  // namespace trace
