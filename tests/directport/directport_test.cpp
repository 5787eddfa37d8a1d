// The simulated boards behind DP_InpB: configuration, the port answers, frames and the access log.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <thread>

#include "base/module_file.h"
#include "directport/directport.h"
#include "directport/sim_config.h"
#include "harness/access_log.h"
#include "harness/child_process.h"
#include "harness/run_process.h"
#include "tests/support/sim_helpers.h"

using testsupport::SimBoards;

namespace {

constexpr int kStatus = 356;
constexpr int kData = 358;
constexpr char kWords[] = "356:words=0x0201/0x0403/0x0605/0x0807/0x0A09/0x0C0B/0x0E0D/0x100F";

int Read(int port) { return DP_InpB(port) & 0xFF; }

}  // namespace

// --- configuration -------------------------------------------------------------------------------

class ConfigAccepted : public testing::TestWithParam<const char*> {};
TEST_P(ConfigAccepted, Parses) {
    SimBoards sim("356:wave");
    EXPECT_EQ(1, DPSIM_Configure(GetParam()));
}
INSTANTIATE_TEST_SUITE_P(DirectPort, ConfigAccepted,
                         testing::Values("356:wave", "0x164:busy", "", " 356 : wave ; 370:busy ",
                                         "370:words=1/2/3/4/5/6/7/0xFFFF,stall=3",
                                         "0x10:wave,stall=0;0x20:busy"));

class ConfigRefused : public testing::TestWithParam<const char*> {};
TEST_P(ConfigRefused, LeavesBoardsAsTheyWere) {
    SimBoards sim("356:busy");
    EXPECT_EQ(0, DPSIM_Configure(GetParam()));
    EXPECT_EQ(0x01, Read(kStatus)) << "the busy board is still there";
}
INSTANTIATE_TEST_SUITE_P(DirectPort, ConfigRefused,
                         testing::Values("356", "356:", "abc:wave", "356:words=1/2/3", "356:wave,stall",
                                         "356:wave,speed=3", "0x:wave", "356:words=1/2/3/4/5/6/7/70000",
                                         "356:wave;;370:wave", "356:sine", "-5:wave"));

TEST(DirectPortConfig, ParsesFieldsOfEachBoard) {
    const auto boards = directport::ParseConfig("0x172:words=1/0x8001/3/4/5/6/7/8,stall=5;356:busy");
    ASSERT_TRUE(boards);
    ASSERT_EQ(2u, boards->size());
    EXPECT_EQ(370u, (*boards)[0].address);
    EXPECT_EQ(directport::BoardMode::kWords, (*boards)[0].mode);
    EXPECT_EQ(0x8001, (*boards)[0].words[1]);
    EXPECT_EQ(5, (*boards)[0].stall);
    EXPECT_EQ(directport::BoardMode::kBusy, (*boards)[1].mode);
    EXPECT_EQ(-1, (*boards)[1].stall);
}

// Every channel of a wave board changes, swings through both signs, and no two channels agree.
TEST(DirectPortConfig, WaveChannelsCoverBothSignsAndDiffer) {
    std::set<uint16_t> seen[8];
    bool negative[8] = {}, positive[8] = {};
    for (uint64_t ms = 0; ms < 24000; ms += 50) {
        for (int k = 0; k < 8; ++k) {
            const uint16_t w = directport::WaveWord(k, ms);
            seen[k].insert(w);
            (w & 0x8000 ? negative : positive)[k] |= (w & 0x7FFF) > 16000;
        }
    }
    for (int k = 0; k < 8; ++k) {
        EXPECT_GT(seen[k].size(), 30u) << "channel " << k;
        EXPECT_TRUE(negative[k] && positive[k]) << "channel " << k;
        for (int j = 0; j < k; ++j) EXPECT_NE(seen[j], seen[k]) << j << " vs " << k;
    }
}

TEST(DirectPortConfig, SignMagnitudeEncoding) {
    EXPECT_EQ(0x0000, directport::EncodeSignMagnitude(0));
    EXPECT_EQ(0x7FFF, directport::EncodeSignMagnitude(32767));
    EXPECT_EQ(0x8001, directport::EncodeSignMagnitude(-1));
    EXPECT_EQ(0xFFFF, directport::EncodeSignMagnitude(-32767));
    EXPECT_EQ(0xFFFF, directport::EncodeSignMagnitude(-40000));
}

// --- port answers --------------------------------------------------------------------------------

TEST(DirectPortPorts, NoBoardFloatsHigh) {
    SimBoards sim("356:wave");
    for (int port : {0, 357, 359, 0x300, -1, 0x7FFFFFFF}) EXPECT_EQ(0xFF, Read(port)) << port;
}

TEST(DirectPortPorts, StatusOfEachMode) {
    SimBoards sim("356:wave;370:busy");
    EXPECT_EQ(0xFE, Read(356));
    EXPECT_EQ(0x01, Read(370));
    EXPECT_EQ(0x01, Read(370));
}

TEST(DirectPortPorts, FrameIsSixteenBytesLowByteFirstThenStartsOver) {
    SimBoards sim(kWords);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(i + 1, Read(kData)) << "byte " << i;
    EXPECT_EQ(1, Read(kData)) << "a 17th read begins a new frame";
}

TEST(DirectPortPorts, PauseOfTenMsStartsNewFrame) {
    SimBoards sim(kWords);
    for (int i = 0; i < 3; ++i) Read(kData);
    EXPECT_EQ(4, Read(kData));
    ::Sleep(25);
    EXPECT_EQ(1, Read(kData));
}

TEST(DirectPortPorts, AnotherThreadStartsNewFrame) {
    SimBoards sim(kWords);
    for (int i = 0; i < 3; ++i) Read(kData);
    int other = -1;
    std::thread([&] { other = Read(kData); }).join();
    EXPECT_EQ(1, other);
    EXPECT_EQ(1, Read(kData)) << "and back on this thread, another new frame";
}

TEST(DirectPortPorts, StallMakesBoardBusyAfterNBytesOfAFrame) {
    SimBoards sim("356:words=1/2/3/4/5/6/7/8,stall=3");
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(0xFE, Read(kStatus));
        Read(kData);
    }
    EXPECT_EQ(0x01, Read(kStatus));
    ::Sleep(25);
    EXPECT_EQ(0xFE, Read(kStatus)) << "a new cycle starts a new frame";
}

TEST(DirectPortPorts, CountBoardPutsTheFrameNumberInEveryWord) {
    SimBoards sim("0x164:count");
    for (int frame = 1; frame <= 3; ++frame) {
        for (int i = 0; i < 16; ++i) EXPECT_EQ(i % 2 ? 0 : frame, Read(kData)) << "frame " << frame;
    }
    EXPECT_EQ(0x7FFF, directport::CountWord(32767));
    EXPECT_EQ(0x0000, directport::CountWord(32768)) << "wraps before the sign bit";
}

TEST(DirectPortPorts, ScriptedStatusComesFirstThenTheMode) {
    SimBoards sim("356:busy");
    const BYTE script[] = {0x00, 0x01, 0x00, 0x00};
    ASSERT_EQ(1, DPSIM_ScriptStatus(kStatus, script, 4));
    for (BYTE b : script) EXPECT_EQ(b, Read(kStatus));
    EXPECT_EQ(0x01, Read(kStatus));
    EXPECT_EQ(0, DPSIM_ScriptStatus(999, script, 4)) << "no board at 999";
}

TEST(DirectPortLog, RecordsReadsUpToCapacityAndCountsAll) {
    SimBoards sim(kWords, 10);
    const LONGLONG before = DPSIM_ReadCount();
    for (int i = 0; i < 12; ++i) Read(i % 2 ? kData : kStatus);
    EXPECT_EQ(before + 12, DPSIM_ReadCount());
    const auto log = harness::ReadAccessLog();
    ASSERT_EQ(10u, log.size());
    EXPECT_EQ(kStatus, log[0].port);
    EXPECT_EQ(0xFE, log[0].value);
    EXPECT_EQ(kData, log[1].port);
    EXPECT_EQ(1, log[1].value);
    for (size_t i = 1; i < log.size(); ++i) {
        EXPECT_EQ(::GetCurrentThreadId(), log[i].threadId);
        EXPECT_LE(log[i - 1].timeUs, log[i].timeUs);
    }
}

// --- configuration from the environment, read when the library loads ------------------------------

TEST(DirectPortEnvironment, BoardsComeFromTheVariable) {
    const auto child = harness::RunSelf("--child-read", "DIRECTPORT_SIM", "0x200:busy");
    ASSERT_EQ(0u, child.exitCode) << child.out;
    EXPECT_NE(std::string::npos, child.out.find("356=255 370=255 512=1")) << child.out;
}

TEST(DirectPortEnvironment, MalformedValueIsReportedOnceAndDefaultsApply) {
    const auto child = harness::RunSelf("--child-read", "DIRECTPORT_SIM", "356:sine");
    ASSERT_EQ(0u, child.exitCode) << child.out;
    EXPECT_NE(std::string::npos, child.out.find("356=254 370=254 512=255")) << child.out;
    const size_t first = child.out.find("malformed DIRECTPORT_SIM");
    ASSERT_NE(std::string::npos, first) << child.out;
    EXPECT_EQ(std::string::npos, child.out.find("malformed", first + 1)) << child.out;
}

// The value is quoted in the report as printable ASCII: a line break in it would forge a report of
// its own, and a character of the ANSI code page would show as another one on the console.
TEST(DirectPortEnvironment, MalformedValueIsQuotedInOnePrintableLine) {
    const harness::ProcessResult child =
        harness::RunProcess(L"\"" + base::ModuleFileName(nullptr) + L"\" --child-read", 60000,
                            {{L"DIRECTPORT_SIM", L"356:sine\r\nDirectPort: forged \u00E9"}});
    ASSERT_EQ(0u, child.exitCode) << child.out << child.err;
    const std::string out = child.out + child.err;
    const size_t first = out.find("DirectPort: malformed DIRECTPORT_SIM");
    ASSERT_NE(std::string::npos, first) << out;
    std::string line = out.substr(first, out.find('\n', first) - first);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    EXPECT_NE(std::string::npos, line.find("\"356:sine??DirectPort: forged ?\"")) << line;
    for (const char c : line) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << static_cast<int>(c);
    EXPECT_EQ(std::string::npos, out.find("\nDirectPort: forged")) << out;
}

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--child-read") == 0) {
        DPSIM_Reset();  // the boards of the environment, once more: nothing may be reported again
        std::printf("356=%d 370=%d 512=%d\n", Read(356), Read(370), Read(512));
        return 0;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
