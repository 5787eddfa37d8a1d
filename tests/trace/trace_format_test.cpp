// The posts' short formatting path against vsnprintf, which it stands in for.
#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "trace/trace_format.h"

namespace {

struct Formatted {
    int length;
    std::string text;
};

Formatted Plain(size_t size, const char* format, ...) {
    char text[64];
    std::memset(text, '#', sizeof text);
    va_list args;
    va_start(args, format);
    const int length = trace::FormatPlainInts(text, size, format, args);
    va_end(args);
    return {length, size > 0 && length >= 0 ? std::string(text) : std::string(text, 4)};
}

Formatted Reference(size_t size, const char* format, ...) {
    char text[64];
    std::memset(text, '#', sizeof text);
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(text, size, format, args);
    va_end(args);
    return {length, size > 0 ? std::string(text) : std::string(text, 4)};
}

}  // namespace

TEST(TraceFormat, PlainIntegerFormatsMatchVsnprintf) {
    const char* formats[] = {"%d ", "%dchnl over", "\n", "", "100%% %i|%d", "-%d-"};
    const int values[] = {0, 7, -1, 255, 32767, INT_MAX, INT_MIN};
    // Sizes that cut the text at every place, and ample room.
    const size_t sizes[] = {0, 1, 2, 3, 5, 12, 64};
    for (const char* format : formats) {
        for (const int v : values) {
            for (const size_t size : sizes) {
                const Formatted want = Reference(size, format, v, -v / 3);
                const Formatted got = Plain(size, format, v, -v / 3);
                EXPECT_EQ(want.length, got.length) << format << " " << v << " size " << size;
                EXPECT_EQ(want.text, got.text) << format << " " << v << " size " << size;
            }
        }
    }
}

TEST(TraceFormat, AnythingElseIsLeftToVsnprintf) {
    for (const char* format :
         {"%s", "%5d", "%ld", "%x", "%u", "%c", "%-d", "%.2d", "%f", "ends in %", "%d %s"}) {
        EXPECT_EQ(-1, Plain(64, format, 1, 2).length) << format;
    }
}
