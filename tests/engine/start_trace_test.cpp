// What Start writes to the diagnostic trace: which way it came by the port lock event and whether
// it succeeded. The trace cannot be closed once open, so the samplers run in a child process with
// the trace open; the parent reads C:\log.log after the child has ended and let go of it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>

#include "base/unique_handle.h"
#include "engine/channel_sampler.h"
#include "harness/child_process.h"
#include "tests/support/child_tests.h"
#include "tests/support/file_text.h"
#include "tests/support/sim_helpers.h"
#include "trace/trace.h"

namespace {

constexpr char kLog[] = "C:\\log.log";
constexpr char kPortLockName[] = "Global\\TRUV.Vandrel.IOEvent";

}  // namespace

// The first sampler creates the event, the second finds it, and a third meets a name that another
// kind of object holds. A busy board keeps the sampling threads from tracing any byte.
TEST(InChild, StartTracesHowItGotTheLock) {
    ASSERT_EQ(1, TraceOpen());
    testsupport::SimBoards sim("356:busy");
    {
        CChannelSampler first, second;
        EXPECT_TRUE(first.Start());
        EXPECT_TRUE(second.Start());
    }
    base::UniqueEvent squatter(::CreateMutexA(nullptr, FALSE, kPortLockName));
    ASSERT_TRUE(squatter);
    CChannelSampler third;
    EXPECT_FALSE(third.Start());
    ASSERT_EQ(1, TraceWaitDrained(60000));
}

TEST(StartTrace, SuccessAndFailureLines) {
    ::DeleteFileA(kLog);
    const harness::ChildResult r =
        harness::RunSelf("--child --gtest_filter=InChild.StartTracesHowItGotTheLock");
    EXPECT_EQ(0u, r.exitCode) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("[  PASSED  ] 1 test")) << r.out;
    const std::string log = testsupport::ReadFileText(kLog);
    ::DeleteFileA(kLog);
    // Between the starts and the failure only the line ends of the stopped cycles may appear.
    const std::regex expected(
        "TRUV Debug Out\\. \nTRUV Vandrel trace, version 1\\.0\\.0\n"
        "Build TRUV\\.Vandrel\\.IOEventsuccess\n"
        "Get TRUV\\.Vandrel\\.IOEventsuccess\n"
        "\n*"
        "Build TRUV\\.Vandrel\\.IOEventfailed\n");
    EXPECT_TRUE(std::regex_match(log, expected)) << log;
}

int main(int argc, char** argv) {
    testsupport::InitGoogleTestWithChildren(&argc, argv);
    return RUN_ALL_TESTS();
}
