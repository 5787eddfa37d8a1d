// Where a test helper was called from. A helper takes it as its last parameter, defaulted to
// CallSite::Here(), which the compiler fills in with the caller's file and line; a CallerTrace made
// from it names that line in every failure the helper reports.
#pragma once

#include <gtest/gtest.h>

namespace testsupport {

struct CallSite {
    const char* file;
    int line;

    static CallSite Here(const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
        return {file, line};
    }
};

class CallerTrace : public testing::ScopedTrace {
public:
    explicit CallerTrace(CallSite site) : testing::ScopedTrace(site.file, site.line, "called from here") {}
};

}  // namespace testsupport
