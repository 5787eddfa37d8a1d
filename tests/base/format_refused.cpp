// Compiled once per REFUSED_CASE by tests/base/refused.cmake with -Werror=format: case 0 must
// compile, every other case must be refused by the compiler's format check of the narrow
// base::Format, which a lost format attribute would let through to print garbage at run time.
#include <windows.h>

#include <string>

#include "base/text.h"

std::string Refused(const char* text, long number) {
#if REFUSED_CASE == 0
    return base::Format("%s %ld %lu %lld", text, number, 1ul, 2ll);
#elif REFUSED_CASE == 1
    return base::Format("%d", text);  // a string for a number
#elif REFUSED_CASE == 2
    return base::Format("%s", number);  // a number for a string
#elif REFUSED_CASE == 3
    return base::Format("%ld %ld", number);  // one argument short
#endif
}
