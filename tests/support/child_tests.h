// The main of a test program that runs some of its tests in copies of itself.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace testsupport {

// Initialises GoogleTest for a program whose InChild.* tests run only in the copies of itself that
// its other tests start with "--child".
inline void InitGoogleTestWithChildren(int* argc, char** argv) {
    const bool child = *argc > 1 && std::strcmp(argv[1], "--child") == 0;
    testing::InitGoogleTest(argc, argv);
    if (!child) {
        std::string filter = GTEST_FLAG_GET(filter);
        filter += filter.find('-') == std::string::npos ? "-InChild.*" : ":InChild.*";
        GTEST_FLAG_SET(filter, filter);
    }
}

}  // namespace testsupport
