// Helpers that take a CallSite name the line of their caller in their failures.
#include <gtest/gtest.h>
#include <gtest/gtest-spi.h>

#include <string>

#include "tests/support/call_site.h"

namespace {

void ExpectPositive(int n, testsupport::CallSite caller = testsupport::CallSite::Here()) {
    const testsupport::CallerTrace fromCaller(caller);
    EXPECT_GT(n, 0);
}

}  // namespace

TEST(CallSite, AFailingHelperNamesTheLineItWasCalledFrom) {
    const std::string first =
        std::string(__FILE__) + ":" + std::to_string(__LINE__ + 1) + ": called from here";
    EXPECT_NONFATAL_FAILURE(ExpectPositive(-1), first);
    const std::string second =
        std::string(__FILE__) + ":" + std::to_string(__LINE__ + 1) + ": called from here";
    EXPECT_NONFATAL_FAILURE(ExpectPositive(0), second);
    ExpectPositive(1);
}
