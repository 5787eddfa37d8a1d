// CChannelSampler against the simulated board, through the real DP_InpB import.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "base/unique_handle.h"
#include "engine/channel_sampler.h"
#include "harness/access_log.h"
#include "harness/child_process.h"
#include "harness/process_usage.h"
#include "tests/support/sim_helpers.h"
#include "tests/support/fail_fast.h"
#include "tests/support/call_site.h"
#include "tests/support/hresult_matchers.h"

using testsupport::NoEventLeft;
using testsupport::SimBoards;
using testsupport::WaitUntil;

namespace {

constexpr char kPortLockName[] = "Global\\TRUV.Vandrel.IOEvent";
constexpr LONG kStatus = 356;
constexpr LONG kData = 358;
// Channel words 0..7 decode to 0, 32766, 32767, 0, -1, -32767, 4660, -4660.
constexpr char kWordsBoard[] = "356:words=0x0000/0x7FFE/0x7FFF/0x8000/0x8001/0xFFFF/0x1234/0x9234";
constexpr SHORT kWordsValues[8] = {0, 32766, 32767, 0, -1, -32767, 4660, -4660};
// Longer than any test here takes on a loaded machine; a test that runs longer is hung.
constexpr DWORD kTestLimitMs = 120000;

// A clock for the sampler: frozen at a chosen count, or running from a chosen count.
std::atomic<bool> g_frozen{false};
std::atomic<DWORD> g_tick{0};
std::atomic<DWORD> g_runningBase{0};
DWORD WINAPI TestTick() {
    return g_frozen ? g_tick.load() : g_tick.load() + (::GetTickCount() - g_runningBase.load());
}
void FreezeClock(DWORD at) {
    g_tick = at;
    g_frozen = true;
}
void RunClockFrom(DWORD at) {
    g_runningBase = ::GetTickCount();
    g_tick = at;
    g_frozen = false;
}

// The system's platform but for the tick counter.
CChannelSampler::Platform TickedBy(DWORD(WINAPI* tick)()) {
    CChannelSampler::Platform platform;
    platform.tick = tick;
    return platform;
}

using PauseWait = decltype(CChannelSampler::Platform::pauseWait);

// The same for the budget's clock, and the pause wait when one is given.
CChannelSampler::Platform ClockedBy(BOOL(WINAPI* counter)(LARGE_INTEGER*), PauseWait pause = nullptr) {
    CChannelSampler::Platform platform;
    platform.counter = counter;
    if (pause) platform.pauseWait = pause;
    return platform;
}

// Windows before 10 1803: no high-resolution timer.
HANDLE WINAPI NoHighResolutionTimer(LPSECURITY_ATTRIBUTES, LPCWSTR, DWORD, DWORD) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
}

// The timer's last due time, in ms, and the pause a wait stands for: its time-out on the stop event
// alone, the timer's due time with the timer.
std::atomic<DWORD> g_dueMs{0};
BOOL WINAPI NotingSetTimer(HANDLE timer, const LARGE_INTEGER* due, LONG period, PTIMERAPCROUTINE routine,
                           LPVOID arg, BOOL resume) {
    g_dueMs = static_cast<DWORD>(-due->QuadPart / 10000);
    return ::SetWaitableTimer(timer, due, period, routine, arg, resume);
}
DWORD PauseMs(DWORD count, DWORD ms) { return count == 2 ? g_dueMs.load() : ms; }

// One millisecond of the performance counter.
int64_t CountsPerMs() {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart / 1000;
}

// Stop under a watchdog: a stop request that never arrives ends the test program in seconds.
void StopSoon(CChannelSampler& s) {
    testsupport::WithinMs(testsupport::kStopLimitMs, "Stop", [&] { s.Stop(); });
}

bool PortLockExists() {
    base::UniqueEvent e(::OpenEventA(SYNCHRONIZE, FALSE, kPortLockName));
    return e.valid();
}

}  // namespace

// --- settings ------------------------------------------------------------------------------------

TEST(SamplerSettings, DefaultsAndIdle) {
    CChannelSampler s;
    EXPECT_EQ(2160, s.GetInterval());
    EXPECT_EQ(356, s.GetAddress());
    EXPECT_EQ(8, s.GetChannelNumber());
    EXPECT_FALSE(s.IsRunning());
    EXPECT_EQ(0u, s.GetThreadId());
}

TEST(SamplerSettings, IntervalAndAddressStoreAnyValue) {
    CChannelSampler s;
    for (LONG v : {0L, -1L, 0x7FFFFFFFL, -0x7FFFFFFFL - 1}) {
        s.SetInterval(v);
        s.SetAddress(v);
        EXPECT_EQ(v, s.GetInterval());
        EXPECT_EQ(v, s.GetAddress());
    }
}

class ChannelCount : public testing::TestWithParam<std::pair<LONG, LONG>> {};
TEST_P(ChannelCount, OnlyOneFourAndEightAreTaken) {
    CChannelSampler s;
    s.SetChannelNumber(4);
    s.SetChannelNumber(GetParam().first);
    EXPECT_EQ(GetParam().second, s.GetChannelNumber());
}
INSTANTIATE_TEST_SUITE_P(Engine, ChannelCount,
                         testing::Values(std::pair{1L, 1L}, std::pair{4L, 4L}, std::pair{8L, 8L},
                                         std::pair{2L, 4L}, std::pair{0L, 4L}, std::pair{16L, 4L},
                                         std::pair{-1L, 4L}, std::pair{3L, 4L}));

// --- read-out ------------------------------------------------------------------------------------

class SamplerReadOut : public testing::Test {
protected:
    void TearDown() override { RunClockFrom(::GetTickCount()); }

    // Starts s on the words board with the clock frozen at t and waits for a published set.
    void PublishAt(CChannelSampler& s, DWORD t,
                   testsupport::CallSite caller = testsupport::CallSite::Here()) {
        const testsupport::CallerTrace fromCaller(caller);
        FreezeClock(t);
        ASSERT_TRUE(s.Start());
        ASSERT_TRUE(WaitUntil([&] { return s.GetChnlValue(1) == 32766; }));
        StopSoon(s);
    }
    SimBoards sim_{kWordsBoard};
};

TEST_F(SamplerReadOut, BeforeTheFirstCycleThePresetSlotsReadWhileTheCounterIsSmall) {
    CChannelSampler s(TickedBy(TestTick));
    FreezeClock(0x10);
    for (LONG i = 0; i < 8; ++i) EXPECT_EQ(-32767, s.GetChnlValue(i)) << i;
    FreezeClock(64850);
    EXPECT_EQ(-32767, s.GetChnlValue(0));
    FreezeClock(64851);
    for (LONG i = 0; i < 8; ++i) EXPECT_EQ(32767, s.GetChnlValue(i)) << i;
}

TEST_F(SamplerReadOut, IndexOutsideTheChannelCountIsTheSentinel) {
    CChannelSampler s(TickedBy(TestTick));
    FreezeClock(0x10);
    EXPECT_EQ(-32767, s.GetChnlValue(7));
    EXPECT_EQ(32767, s.GetChnlValue(8));
    EXPECT_EQ(32767, s.GetChnlValue(-1));
    EXPECT_EQ(32767, s.GetChnlValue(0x7FFFFFFF));
    s.SetChannelNumber(1);
    EXPECT_EQ(-32767, s.GetChnlValue(0));
    EXPECT_EQ(32767, s.GetChnlValue(1));
}

TEST_F(SamplerReadOut, PublishedWordsAreDecoded) {
    CChannelSampler s(TickedBy(TestTick));
    PublishAt(s, 100000);
    for (LONG i = 0; i < 8; ++i) EXPECT_EQ(kWordsValues[i], s.GetChnlValue(i)) << i;
}

TEST_F(SamplerReadOut, StalenessBoundaryFollowsTheInterval) {
    CChannelSampler s(TickedBy(TestTick));
    PublishAt(s, 100000);
    FreezeClock(100000 + 64850);
    EXPECT_EQ(32766, s.GetChnlValue(1)) << "exactly at the limit is still fresh";
    FreezeClock(100000 + 64851);
    EXPECT_EQ(32767, s.GetChnlValue(1));
    s.SetInterval(0);
    FreezeClock(100000 + 50);
    EXPECT_EQ(32766, s.GetChnlValue(1));
    FreezeClock(100000 + 51);
    EXPECT_EQ(32767, s.GetChnlValue(1));
}

TEST_F(SamplerReadOut, AgeIsMeasuredAcrossTheCounterWrap) {
    CChannelSampler s(TickedBy(TestTick));
    PublishAt(s, 0xFFFFFF00);
    s.SetInterval(7);  // limit 260 ms, the age 271 ms
    FreezeClock(0x10);
    EXPECT_EQ(32767, s.GetChnlValue(1));
    s.SetInterval(8);  // limit 290 ms
    EXPECT_EQ(32766, s.GetChnlValue(1));
}

TEST_F(SamplerReadOut, ValuesOutliveStopAndRestartUntilTheNextCompleteCycle) {
    CChannelSampler s(TickedBy(TestTick));
    PublishAt(s, 100000);
    EXPECT_EQ(-4660, s.GetChnlValue(7)) << "readable after Stop";
    ASSERT_EQ(1, DPSIM_Configure("356:busy"));
    s.SetInterval(50);
    ASSERT_TRUE(s.Start());
    ::Sleep(200);
    EXPECT_EQ(-4660, s.GetChnlValue(7)) << "a new run publishes nothing it did not complete";
    StopSoon(s);
}

// --- the board protocol --------------------------------------------------------------------------

class SamplerProtocol : public testing::Test {
protected:
    void TearDown() override { RunClockFrom(::GetTickCount()); }
};

TEST_F(SamplerProtocol, FourChannelsReadEightBytesEachAfterTwoReadyPolls) {
    SimBoards sim(kWordsBoard, 4096);
    CChannelSampler s;
    s.SetChannelNumber(4);
    ASSERT_TRUE(s.Start());
    ASSERT_TRUE(WaitUntil([&] { return s.GetChnlValue(2) == 32767 && s.GetChnlValue(1) == 32766; }));
    StopSoon(s);
    const auto cycles = harness::SplitCycles(harness::ReadAccessLog(), 100000);
    ASSERT_FALSE(cycles.empty());
    const auto& reads = cycles[0].reads;
    ASSERT_EQ(24u, reads.size());
    for (size_t i = 0; i < reads.size(); ++i) {
        EXPECT_EQ(i % 3 == 2 ? kData : kStatus, reads[i].port) << "read " << i;
        EXPECT_EQ(s.GetThreadId(), reads[i].threadId);
    }
    EXPECT_EQ(32767, s.GetChnlValue(4)) << "only the first four channels are read out";
}

class StatusSequence : public testing::TestWithParam<std::vector<BYTE>> {};
TEST_P(StatusSequence, ByteIsTakenAfterTwoSuccessiveReadyReads) {
    SimBoards sim(kWordsBoard, 64);
    const auto& script = GetParam();
    ASSERT_EQ(1, DPSIM_ScriptStatus(kStatus, script.data(), static_cast<int>(script.size())));
    CChannelSampler s;
    s.SetChannelNumber(1);
    ASSERT_TRUE(s.Start());
    ASSERT_TRUE(WaitUntil([] { return harness::AccessLogSize() > 8; }));
    StopSoon(s);
    const auto log = harness::ReadAccessLog();
    for (size_t i = 0; i < script.size(); ++i) {
        EXPECT_EQ(kStatus, log[i].port) << "read " << i;
        EXPECT_EQ(script[i], log[i].value) << "read " << i;
    }
    EXPECT_EQ(kData, log[script.size()].port) << "the data read follows the second ready status";
}
INSTANTIATE_TEST_SUITE_P(Engine, StatusSequence,
                         testing::Values(std::vector<BYTE>{0x00, 0x01, 0x00, 0x00},
                                         std::vector<BYTE>{0xFE, 0xFE}, std::vector<BYTE>{0xFF, 0xFE, 0xFE},
                                         std::vector<BYTE>{0xFE, 0x01, 0xFF, 0xFE, 0xFE}));

TEST_F(SamplerProtocol, BoardThatNeverGetsReadySpendsTheBudgetAndPublishesNothing) {
    SimBoards sim("356:busy", 1 << 20);
    RunClockFrom(1000);
    CChannelSampler s(TickedBy(TestTick));
    s.SetInterval(100);
    ASSERT_TRUE(s.Start());
    ::Sleep(450);
    StopSoon(s);
    const auto cycles = harness::SplitCycles(harness::ReadAccessLog(), 30000);
    EXPECT_GE(cycles.size(), 2u);
    for (const auto& c : cycles) EXPECT_EQ(0, c.DataReads(kData));
    EXPECT_EQ(-32767, s.GetChnlValue(0)) << "still the preset slot: nothing was published";
}

TEST_F(SamplerProtocol, BoardStallingMidCycleIsReadButNotPublished) {
    SimBoards sim("356:words=1/2/3/4/5/6/7/8,stall=5", 1 << 20);
    RunClockFrom(1000);
    CChannelSampler s(TickedBy(TestTick));
    s.SetInterval(60);
    // The board re-arms when it is left alone for 10 ms, which a sampler preempted within its
    // cycle causes; such a cycle can even get all 16 bytes, so only the others are judged (the
    // scripted board of SamplerShortCycle has no such escape). Stop may cut the last cycle short,
    // and a sampler preempted before its first read may spend the budget before the fifth byte.
    // On a busy machine every cycle of a run may be one of these; then the sampler runs again.
    int exactlyFive = 0;
    bool someRearmed = false;
    for (int run = 0; run < 10 && exactlyFive == 0; ++run) {
        DPSIM_StartLog(1 << 20);
        ASSERT_TRUE(s.Start());
        ::Sleep(300);
        StopSoon(s);
        const auto cycles = harness::SplitCycles(harness::ReadAccessLog(), 20000);
        ASSERT_GE(cycles.size(), 2u);
        for (size_t k = 0; k + 1 < cycles.size(); ++k) {
            const auto& c = cycles[k];
            bool rearmed = false;
            for (size_t i = 1; i < c.reads.size(); ++i)
                rearmed |= c.reads[i].timeUs - c.reads[i - 1].timeUs >= 10000;
            someRearmed |= rearmed;
            if (rearmed) continue;
            EXPECT_LE(c.DataReads(kData), 5);
            exactlyFive += c.DataReads(kData) == 5;
        }
    }
    EXPECT_GE(exactlyFive, 1);
    if (!someRearmed) {
        EXPECT_EQ(-32767, s.GetChnlValue(0));
    }
}

TEST_F(SamplerProtocol, IntervalZeroSpendsTheBudgetBeforeTheFirstRead) {
    SimBoards sim(kWordsBoard, 1024);
    RunClockFrom(1000);
    CChannelSampler s(TickedBy(TestTick));
    s.SetInterval(0);
    ASSERT_TRUE(s.Start());
    ::Sleep(200);
    StopSoon(s);
    EXPECT_TRUE(harness::ReadAccessLog().empty());
    s.SetInterval(2160);  // at 0 the staleness limit is 50 ms
    EXPECT_EQ(-32767, s.GetChnlValue(0));
}

// A cycle is published only when every one of its bytes arrived: the board answers ready for all
// but the last byte (status 0 twice per byte, then busy for good) and the clock stands still, so the
// cycle polls for the missing byte until Stop.
struct ShortCycle {
    LONG channels;
    int readyBytes;
    bool published;
};
class SamplerShortCycle : public testing::TestWithParam<ShortCycle> {
protected:
    void TearDown() override { RunClockFrom(::GetTickCount()); }
};

TEST_P(SamplerShortCycle, OnlyACompleteCycleIsPublished) {
    const ShortCycle& c = GetParam();
    SimBoards sim("356:busy", 4096);
    const std::vector<BYTE> ready(2 * c.readyBytes, 0x00);
    ASSERT_EQ(1, DPSIM_ScriptStatus(kStatus, ready.data(), static_cast<int>(ready.size())));
    FreezeClock(100000);  // published values would be fresh; the preset slots are stale
    CChannelSampler s(TickedBy(TestTick));
    s.SetChannelNumber(c.channels);
    ASSERT_TRUE(s.Start());
    const auto dataReads = [] {
        const auto log = harness::ReadAccessLog();
        return std::count_if(log.begin(), log.end(), [](const DPSIM_ACCESS& r) { return r.port == kData; });
    };
    ASSERT_TRUE(WaitUntil([&] { return dataReads() >= c.readyBytes; }));
    ::Sleep(50);  // an incomplete cycle polls on meanwhile
    StopSoon(s);
    EXPECT_EQ(c.readyBytes, dataReads());
    for (LONG i = 0; i < c.channels; ++i) {
        EXPECT_EQ(c.published ? 0 : 32767, s.GetChnlValue(i)) << "channel " << i;
    }
}
INSTANTIATE_TEST_SUITE_P(Engine, SamplerShortCycle,
                         testing::Values(ShortCycle{8, 15, false}, ShortCycle{4, 7, false},
                                         ShortCycle{1, 1, false}, ShortCycle{8, 16, true},
                                         ShortCycle{4, 8, true}));

namespace {

// A budget's clock that counts its reads. A cycle reads it once at its start and once per status
// poll within its budget: at Interval 0, once per slot, every one given up at once.
std::atomic<long> g_clockReads{0};
BOOL WINAPI CountingCounter(LARGE_INTEGER* now) {
    ++g_clockReads;
    return ::QueryPerformanceCounter(now);
}

// A pause wait that notes the first pauses the thread asks for, with the clock's reads before each,
// then waits as the sampler's own does.
constexpr int kNotedPauses = 16;
std::atomic<int> g_pauseCount{0};
struct NotedPause {
    DWORD ms;
    long clockReads;
};
NotedPause g_pauses[kNotedPauses];
DWORD WINAPI NotingPauseWait(DWORD count, const HANDLE* handles, BOOL all, DWORD ms) {
    const int n = g_pauseCount.fetch_add(1);
    if (n < kNotedPauses) g_pauses[n] = {PauseMs(count, ms), g_clockReads.load()};
    return ::WaitForMultipleObjects(count, handles, all, ms);
}

// The pauses' platform with the timer's due times noted, or without the timer (Windows 7).
CChannelSampler::Platform Pausing(CChannelSampler::Platform platform, bool highResolution) {
    platform.setTimer = &NotingSetTimer;
    if (!highResolution) platform.createTimer = &NoHighResolutionTimer;
    return platform;
}

}  // namespace

// At Interval 0 a cycle reads nothing and ends at once; the thread still pauses after every cycle
// instead of spinning from one to the next.
TEST_F(SamplerProtocol, IntervalZeroPausesBetweenCycles) {
    SimBoards sim(kWordsBoard, 1024);
    g_clockReads = 0;
    g_pauseCount = 0;
    CChannelSampler s(Pausing(ClockedBy(&CountingCounter, &NotingPauseWait), true));
    s.SetInterval(0);
    ASSERT_TRUE(s.Start());
    ASSERT_TRUE(WaitUntil([] { return g_pauseCount >= kNotedPauses; }));
    StopSoon(s);
    EXPECT_TRUE(harness::ReadAccessLog().empty()) << "the budget is spent before the first read";
    for (int i = 1; i < kNotedPauses; ++i) {
        EXPECT_GT(g_pauses[i].ms, 0u) << "pause " << i;
        EXPECT_EQ(17, g_pauses[i].clockReads - g_pauses[i - 1].clockReads)
            << "one cycle of 8 channels between pauses " << i - 1 << " and " << i;
    }
}

// The pause after a cycle is its Interval, also below 10 ms and also after a cycle that polled a
// busy board until its budget ran out. A cycle that could not try a single slot (Interval 0) pauses
// 10 ms, as spinning from one empty cycle to the next would cost a good share of a core, and so
// does one that read part of a frame, so that the board starts the next cycle on a frame of its own.
// The first cycle does not pause; -1 is the platform's unlimited wait.
// The budget's clock is a seam: a whole cycle must not lose its last slot to a clock that moves
// during it. A still clock never spends a budget; a stepping one moves 1 ms at every read, so a
// budget of n ms tries n - 1 slots.
BOOL WINAPI StillCounter(LARGE_INTEGER* now) {
    now->QuadPart = 1000;
    return TRUE;
}
std::atomic<int64_t> g_steps{0};
BOOL WINAPI SteppingCounter(LARGE_INTEGER* now) {
    static const int64_t kMs = CountsPerMs();
    now->QuadPart = ++g_steps * kMs;
    return TRUE;
}
struct PauseCase {
    const char* board;
    LONG interval;
    DWORD pause;
    BOOL(WINAPI* counter)(LARGE_INTEGER*) = &SteppingCounter;
};
void PrintTo(const PauseCase& c, std::ostream* os) { *os << c.board << " at Interval " << c.interval; }
// Each with the high-resolution timer and without it.
class SamplerPause : public testing::TestWithParam<std::tuple<PauseCase, bool>> {};
TEST_P(SamplerPause, IsTheIntervalUnlessNothingOrPartOfAFrameWasRead) {
    const auto& [pause, highResolution] = GetParam();
    SimBoards sim(pause.board);
    g_pauseCount = 0;
    CChannelSampler s(Pausing(ClockedBy(pause.counter, &NotingPauseWait), highResolution));
    s.SetInterval(pause.interval);
    ASSERT_TRUE(s.Start());
    ASSERT_TRUE(WaitUntil([] { return g_pauseCount >= 2; }));
    StopSoon(s);
    EXPECT_EQ(0u, g_pauses[0].ms);
    for (int i = 1; i < std::min(g_pauseCount.load(), kNotedPauses); ++i)
        EXPECT_EQ(pause.pause, g_pauses[i].ms) << i;
}
INSTANTIATE_TEST_SUITE_P(
    Engine, SamplerPause,
    testing::Combine(testing::Values(PauseCase{kWordsBoard, 0, 10},
                                     PauseCase{kWordsBoard, 1, 1, &StillCounter},
                                     PauseCase{kWordsBoard, 9, 9, &StillCounter}, PauseCase{"356:busy", 2, 2},
                                     PauseCase{kWordsBoard, 11, 11, &StillCounter},
                                     PauseCase{"356:words=1/2/3/4/5/6/7/8,stall=3", 2, 10},
                                     PauseCase{"356:words=1/2/3/4/5/6/7/8,stall=3", 11, 11},
                                     PauseCase{kWordsBoard, -1, INFINITE}),
                     testing::Bool()));

// At Interval 1 a cycle's budget is 1 ms on the budget's clock, whatever the tick does: a tick that
// turns during every cycle (Windows' 15.6 ms tick turns within one cycle in sixteen) costs nothing,
// and a cycle that really takes longer than its budget is given up.
std::atomic<DWORD> g_turns{0};
DWORD WINAPI TurningTick() { return g_turns += 16; }
TEST_F(SamplerProtocol, TheBudgetIsIntervalOnItsOwnClockNotOnTheTick) {
    SimBoards sim(kWordsBoard);
    CChannelSampler::Platform platform = TickedBy(&TurningTick);
    {
        CChannelSampler s(platform);
        s.SetInterval(1);
        ASSERT_TRUE(s.Start());
        EXPECT_TRUE(WaitUntil([&] { return s.CycleCount() >= 20; }));
        StopSoon(s);
    }
    platform.counter = &SteppingCounter;
    CChannelSampler s(platform);
    s.SetInterval(1);
    ASSERT_TRUE(s.Start());
    ASSERT_TRUE(WaitUntil([&] { return s.Health().FailedAttempts() >= 5; }));
    StopSoon(s);
    EXPECT_EQ(0u, s.CycleCount());
}

TEST_F(SamplerProtocol, PortLockEventLivesWhileASamplerHoldsIt) {
    SimBoards sim(kWordsBoard);
    ASSERT_FALSE(PortLockExists());
    {
        CChannelSampler s;
        ASSERT_TRUE(s.Start());
        EXPECT_TRUE(PortLockExists());
        StopSoon(s);
        EXPECT_FALSE(PortLockExists()) << "Stop gives up the sampler's handle";
    }
}

TEST_F(SamplerProtocol, ReleasesTheLockAfterACycleThatCouldNotTakeIt) {
    SimBoards sim(kWordsBoard, 4096);
    base::UniqueEvent lock(::CreateEventA(nullptr, FALSE, TRUE, kPortLockName));
    ASSERT_TRUE(lock);
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(lock.get(), 0)) << "the test takes the lock";
    CChannelSampler s;  // Interval 2160: one cycle, then a long pause
    ASSERT_TRUE(s.Start());
    ASSERT_TRUE(WaitUntil([] { return harness::AccessLogSize() >= 48; }));
    ::Sleep(50);
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(lock.get(), 0))
        << "the sampler sampled without the lock and signalled it at the end of its cycle";
    StopSoon(s);
}

// The port lock held by another party from before the start: the first cycle only tries it.
TEST_F(SamplerProtocol, FirstCycleDoesNotWaitForAHeldLock) {
    SimBoards sim(kWordsBoard);
    base::UniqueEvent lock(::CreateEventA(nullptr, FALSE, TRUE, kPortLockName));
    ASSERT_TRUE(lock);
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(lock.get(), 0)) << "the test takes the lock";
    CChannelSampler s;
    s.SetInterval(600000);  // a first cycle that waited for the lock would wait ten minutes
    ASSERT_TRUE(s.Start());
    EXPECT_TRUE(WaitUntil([&] { return s.GetChnlValue(1) == 32766; }))
        << "no fresh reading: the first cycle waited for the lock";
    StopSoon(s);
}

// A stop request reaches a sampler that waits for a lock someone else holds: the wait ends with
// the request, before its time-out would start a cycle (whose first step reads the clock).
TEST_F(SamplerProtocol, StopEndsAWaitForAHeldLock) {
    SimBoards sim(kWordsBoard, 4096);
    base::UniqueEvent lock(::CreateEventA(nullptr, FALSE, TRUE, kPortLockName));
    ASSERT_TRUE(lock);
    CChannelSampler s(ClockedBy(&CountingCounter));
    s.SetInterval(1500);
    ASSERT_TRUE(s.Start());
    ASSERT_TRUE(WaitUntil([&] { return s.GetChnlValue(1) == 32766; }));
    // The first cycle has released the lock; the test takes it, and the sampler's next cycle (after
    // its 1500 ms pause) waits up to another 1500 ms for it.
    ASSERT_TRUE(WaitUntil([&] { return ::WaitForSingleObject(lock.get(), 0) == WAIT_OBJECT_0; }));
    const size_t reads = harness::AccessLogSize();
    ::Sleep(1800);
    ASSERT_EQ(reads, harness::AccessLogSize()) << "the sampler is still waiting for the lock";
    const long clockReads = g_clockReads;
    StopSoon(s);
    EXPECT_EQ(clockReads, g_clockReads) << "Stop waited out the lock wait, and a cycle began";
    EXPECT_EQ(reads, harness::AccessLogSize()) << "a stopped sampler does not read";
    EXPECT_EQ(WAIT_TIMEOUT, ::WaitForSingleObject(lock.get(), 0)) << "the lock stays with its holder";
}

// Stopped in the middle of a cycle (a busy board, a long budget), a sampler gives the lock back at
// once: another party takes it without a wait, not after a time-out of its own.
TEST_F(SamplerProtocol, StopInTheMiddleOfACycleReleasesTheLock) {
    SimBoards sim("356:busy", 64);
    base::UniqueEvent lock(::CreateEventA(nullptr, FALSE, TRUE, kPortLockName));
    ASSERT_TRUE(lock);
    CChannelSampler s;
    s.SetInterval(10000);
    ASSERT_TRUE(s.Start());
    ASSERT_TRUE(WaitUntil([] { return harness::AccessLogSize() > 0; }));
    ASSERT_EQ(WAIT_TIMEOUT, ::WaitForSingleObject(lock.get(), 0)) << "the sampler's cycle holds the lock";
    StopSoon(s);
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(lock.get(), 0))
        << "the lock is free as soon as Stop returns";
}

TEST_F(SamplerProtocol, StartFailsWhenThePortLockCannotBeOpened) {
    SimBoards sim(kWordsBoard);
    CChannelSampler s;
    {
        // Another kind of object under the lock's name makes CreateEvent fail.
        base::UniqueEvent squatter(::CreateMutexA(nullptr, FALSE, kPortLockName));
        ASSERT_TRUE(squatter);
        EXPECT_FALSE(s.Start());
        EXPECT_FALSE(s.IsRunning());
        StopSoon(s);
    }
    EXPECT_TRUE(s.Start());
    StopSoon(s);
}

// --- start, stop and lifetime ---------------------------------------------------------------------

TEST(SamplerLifecycle, WithoutAStopEventTheSetUpFailsAndNothingStarts) {
    SimBoards sim(kWordsBoard, 64);
    EXPECT_HR(S_OK, CChannelSampler().SetupResult());
    CChannelSampler::Platform noEvent;
    noEvent.createEvent = &NoEventLeft;
    CChannelSampler s(noEvent);
    EXPECT_HR(HRESULT_FROM_WIN32(ERROR_NO_SYSTEM_RESOURCES), s.SetupResult());
    EXPECT_FALSE(s.Start()) << "a thread without a stop event could be neither paused nor stopped";
    EXPECT_FALSE(s.IsRunning());
    EXPECT_FALSE(PortLockExists());
    ::Sleep(50);
    EXPECT_EQ(0u, harness::AccessLogSize());
    StopSoon(s);
}

TEST(SamplerLifecycle, SecondStartIsRefusedAndStopEndsTheThread) {
    SimBoards sim(kWordsBoard);
    CChannelSampler s;
    ASSERT_TRUE(s.Start());
    EXPECT_TRUE(s.IsRunning());
    const DWORD id = s.GetThreadId();
    EXPECT_NE(0u, id);
    base::UniqueThread thread(::OpenThread(SYNCHRONIZE, FALSE, id));
    ASSERT_TRUE(thread);
    EXPECT_FALSE(s.Start());
    EXPECT_EQ(id, s.GetThreadId());
    StopSoon(s);
    EXPECT_FALSE(s.IsRunning());
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thread.get(), 0));
    EXPECT_EQ(id, s.GetThreadId()) << "Stop keeps the last thread id";
    StopSoon(s);  // idle: nothing to do
    EXPECT_FALSE(s.IsRunning());
}

TEST(SamplerLifecycle, EveryRestartSamplesAgain) {
    SimBoards sim("356:words=1/0/0/0/0/0/0/0");
    CChannelSampler s;
    s.SetInterval(20);
    for (int round = 1; round <= 4; ++round) {
        const std::string config = "356:words=" + std::to_string(round) + "/0/0/0/0/0/0/0";
        ASSERT_EQ(1, DPSIM_Configure(config.c_str()));
        ASSERT_TRUE(s.Start()) << round;
        EXPECT_TRUE(WaitUntil([&] { return s.GetChnlValue(0) == round; })) << "round " << round;
        StopSoon(s);
    }
}

class StopWithoutHanging : public testing::TestWithParam<const char*> {};
TEST_P(StopWithoutHanging, UnlimitedIntervalStillStops) {
    SimBoards sim(GetParam());
    CChannelSampler s;
    s.SetInterval(-1);  // 0xFFFFFFFF: the platform's "wait forever"
    ASSERT_TRUE(s.Start());
    ::Sleep(100);
    StopSoon(s);
    EXPECT_FALSE(s.IsRunning());
    s.SetInterval(2160);
    ASSERT_TRUE(s.Start());
    StopSoon(s);
}
// A busy board: polled without end. A ready board: one cycle, then an unlimited pause.
INSTANTIATE_TEST_SUITE_P(Engine, StopWithoutHanging, testing::Values("356:busy", "356:wave"));

TEST(SamplerLifecycle, DestroyingARunningSamplerEndsItsThread) {
    SimBoards sim("356:busy");
    auto s = std::make_unique<CChannelSampler>();
    ASSERT_TRUE(s->Start());
    base::UniqueThread thread(::OpenThread(SYNCHRONIZE, FALSE, s->GetThreadId()));
    ASSERT_TRUE(thread);
    testsupport::WithinMs(testsupport::kStopLimitMs, "destroying a running sampler", [&] { s.reset(); });
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thread.get(), 0));
    EXPECT_FALSE(PortLockExists());
}

TEST(SamplerLifecycle, ThousandStartStopCyclesLeakNoHandles) {
    SimBoards sim("356:busy");
    CChannelSampler s;
    ASSERT_TRUE(s.Start());  // first use may allocate lasting things
    StopSoon(s);
    const DWORD before = harness::CountOpenHandles();
    ASSERT_GT(before, 0u);
    for (int i = 0; i < 1000; ++i) {
        ASSERT_TRUE(s.Start()) << i;
        StopSoon(s);
    }
    EXPECT_LE(harness::CountOpenHandles(), before + 2);
}

namespace {

// What the timer seams were asked: the 1 ms resolution begun and ended, the exemption from timer
// throttling asked and given back (and any other request), the pauses of 16 ms or more that came while
// either was held, and the spins' looks.
std::atomic<long> g_timerBegins{0}, g_timerEnds{0}, g_exemptions{0}, g_releases{0}, g_oddRequests{0};
std::atomic<long> g_fineLongPauses{0}, g_exemptLongPauses{0}, g_pausesSeen{0}, g_spins{0};
MMRESULT WINAPI CountTimerBegin(UINT period) {
    if (period == 1) ++g_timerBegins;
    return TIMERR_NOERROR;
}
MMRESULT WINAPI CountTimerEnd(UINT period) {
    if (period == 1) ++g_timerEnds;
    return TIMERR_NOERROR;
}
BOOL WINAPI CountThrottling(HANDLE process, PROCESS_INFORMATION_CLASS what, LPVOID information, DWORD size) {
    const auto* state = static_cast<const PROCESS_POWER_THROTTLING_STATE*>(information);
    const bool ours = process == ::GetCurrentProcess() && what == ProcessPowerThrottling &&
                      size == sizeof *state && state->Version == 1 && state->StateMask == 0;
    if (ours && state->ControlMask == PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION) {
        ++g_exemptions;
    } else if (ours && state->ControlMask == 0) {
        ++g_releases;
    } else {
        ++g_oddRequests;
    }
    return TRUE;
}
DWORD WINAPI PauseNotingHolds(DWORD count, const HANDLE* handles, BOOL all, DWORD ms) {
    if (PauseMs(count, ms) >= CChannelSampler::kFineTimerBelowMs) {
        if (g_timerBegins != g_timerEnds) ++g_fineLongPauses;
        if (g_exemptions != g_releases) ++g_exemptLongPauses;
    }
    ++g_pausesSeen;
    return ::WaitForMultipleObjects(count, handles, all, ms);
}
BOOL WINAPI CountSpin() {
    ++g_spins;
    return ::SwitchToThread();
}

CChannelSampler::Platform Recording(bool highResolution) {
    CChannelSampler::Platform platform = Pausing(CChannelSampler::Platform(), highResolution);
    platform.beginTimerPeriod = &CountTimerBegin;
    platform.endTimerPeriod = &CountTimerEnd;
    platform.setProcessInformation = &CountThrottling;
    platform.pauseWait = &PauseNotingHolds;
    platform.spinYield = &CountSpin;
    return platform;
}

bool PausesSoon() {
    const long from = g_pausesSeen;
    return WaitUntil([&] { return g_pausesSeen >= from + 2; });
}

}  // namespace

// Windows stretches short pauses to its clock tick unless asked for 1 ms resolution, where it has no
// high-resolution timer: a run below 16 ms asks, one at 16 or more does not, an Interval that grows
// gives it back. Precise timing asks the process's exemption from timer throttling while it applies
// (below 16 ms), once for all the samplers of a process. However a run ends (Stop, a restart,
// destruction) and whatever changes while it runs (Interval, PreciseTiming), nothing stays asked for.
TEST(SamplerTimer, ResolutionAndExemptionOnlyWhileWantedAndNeverLeft) {
    SimBoards sim(kWordsBoard);
    const CChannelSampler::Platform platforms[2] = {Recording(false), Recording(true)};
    std::unique_ptr<CChannelSampler> other;  // a second precise sampler in some rounds
    for (int round = 0; round < 1000; ++round) {
        // The first rounds never short, but precise every other round.
        const bool shortInterval = round >= 100 && round % 2 == 0;
        const bool precise = round % 4 >= 2;
        auto s = std::make_unique<CChannelSampler>(platforms[(round / 5) % 2]);
        s->SetInterval(shortInterval ? 5 : 16);
        s->SetPreciseTiming(precise);
        ASSERT_TRUE(s->Start()) << round;
        switch (round % 5) {
            case 0: StopSoon(*s); break;
            case 1:  // a change while running: either way, but never short in the first rounds
                s->SetInterval(round < 100 ? 30 : shortInterval ? 20 : 3);
                ASSERT_TRUE(PausesSoon()) << round;
                StopSoon(*s);
                break;
            case 2:
                s->SetPreciseTiming(!precise);
                ASSERT_TRUE(PausesSoon()) << round;
                break;
            case 3:
                if (round >= 100 && round % 20 == 18) {  // another sampler keeps the exemption past this one
                    other = std::make_unique<CChannelSampler>(platforms[1]);
                    other->SetInterval(2);
                    other->SetPreciseTiming(true);
                    ASSERT_TRUE(other->Start()) << round;
                    ASSERT_TRUE(WaitUntil([&] { return other->CycleCount() >= 2; })) << round;
                }
                s.reset();
                break;
            case 4:
                StopSoon(*s);
                ASSERT_TRUE(s->Start()) << round;
                break;
        }
        if (round == 99) {
            EXPECT_EQ(0, g_timerBegins) << "asked at Interval 16 or more";
            EXPECT_EQ(0, g_exemptions) << "asked at Interval 16 or more";
        }
        s.reset();
        if (other) {
            EXPECT_EQ(g_exemptions.load(), g_releases.load() + 1) << "given back while another needs it";
            other.reset();
        }
        ASSERT_EQ(g_timerBegins.load(), g_timerEnds.load()) << "left asked for after round " << round;
        ASSERT_EQ(g_exemptions.load(), g_releases.load()) << "left asked for after round " << round;
    }
    EXPECT_GT(g_timerBegins, 0);
    EXPECT_GT(g_exemptions, 0);
    EXPECT_EQ(0, g_oddRequests);
    EXPECT_EQ(0, g_fineLongPauses) << "held through a pause of 16 ms or more";
    EXPECT_EQ(0, g_exemptLongPauses) << "held through a pause of 16 ms or more";
}

// Precise timing applies only where it is kept to: not at Interval 0, whose pauses of 10 ms serve
// only to keep an idle control cheap, nor from 16 ms on. Where it does not, nothing spins and nothing
// is asked of the process's throttling; where it does, whether a pause spins depends on how late its
// wait ends (SamplerLateWaits).
struct PreciseCase {
    LONG interval;
    bool applies;
};
class SamplerPrecise : public testing::TestWithParam<PreciseCase> {};
TEST_P(SamplerPrecise, AppliesOnlyBelowSixteenAndAboveZero) {
    SimBoards sim(kWordsBoard);
    const long exemptions = g_exemptions, releases = g_releases, begins = g_timerBegins;
    CChannelSampler s(Recording(true));
    s.SetPreciseTiming(true);
    s.SetInterval(GetParam().interval);
    g_spins = 0;
    ASSERT_TRUE(s.Start());
    ASSERT_TRUE(PausesSoon());
    ASSERT_TRUE(PausesSoon());
    if (!GetParam().applies) {
        EXPECT_EQ(0, g_spins);
    }
    EXPECT_EQ(GetParam().applies ? 1 : 0, g_exemptions - exemptions);
    EXPECT_EQ(begins, g_timerBegins) << "1 ms resolution asked for beside the high-resolution timer";
    StopSoon(s);
    EXPECT_EQ(g_exemptions - exemptions, g_releases - releases);
}
INSTANTIATE_TEST_SUITE_P(Engine, SamplerPrecise,
                         testing::Values(PreciseCase{0, false}, PreciseCase{1, true}, PreciseCase{15, true},
                                         PreciseCase{16, false}, PreciseCase{100, false}));

namespace {

// A clock that only the pauses move: a wait ends a millisecond after its time, as Windows' waits do,
// and each look of a spin takes 10 us. A cycle takes no time on it.
std::atomic<int64_t> g_fakeNow{0}, g_fakeDue{0};
BOOL WINAPI FakeCounter(LARGE_INTEGER* now) {
    now->QuadPart = g_fakeNow;
    return TRUE;
}
BOOL WINAPI FakeSetTimer(HANDLE, const LARGE_INTEGER* due, LONG, PTIMERAPCROUTINE, LPVOID, BOOL) {
    g_fakeDue = -due->QuadPart * CountsPerMs() / 10000;
    return TRUE;
}
DWORD WINAPI LateWait(DWORD count, const HANDLE* handles, BOOL, DWORD ms) {
    if (::WaitForSingleObject(handles[0], 0) == WAIT_OBJECT_0) return WAIT_OBJECT_0;
    if (count == 2 || ms > 0)
        g_fakeNow += (count == 2 ? g_fakeDue.load() : ms * CountsPerMs()) + CountsPerMs();
    ::Sleep(1);  // real time, for the test's sake
    return count == 2 ? WAIT_OBJECT_0 + 1 : WAIT_TIMEOUT;
}
BOOL WINAPI FakeSpin() {
    g_fakeNow += CountsPerMs() / 100;
    return TRUE;
}

// The fake clock at each cycle's publication.
class CycleTimes final : public engine::SamplerObserver {
public:
    static constexpr int kCycles = 40;
    explicit CycleTimes(const CChannelSampler& s) : s_(s) {}
    void OnSamplerNews() noexcept override {
        const uint64_t n = s_.CycleCount();
        // Also told of the status after Stop, by then later.
        if (n >= 1 && n <= kCycles && !seen[n - 1]) {
            at[n - 1] = g_fakeNow;
            seen[n - 1] = true;
        }
    }
    int64_t at[kCycles] = {};
    bool seen[kCycles] = {};

private:
    const CChannelSampler& s_;
};

}  // namespace

// The waits of a precise pause end late, and it learns by how much: after its first pauses each one
// is Interval to within a look of its spin. Without precise timing every pause is as late as its wait.
struct LateCase {
    bool precise;
    bool highResolution;
    double pauseMs;
};
class SamplerLateWaits : public testing::TestWithParam<LateCase> {};
TEST_P(SamplerLateWaits, PrecisePausesKeepToTheInterval) {
    SimBoards sim(kWordsBoard);
    CChannelSampler::Platform platform;
    platform.counter = &FakeCounter;
    platform.pauseWait = &LateWait;
    platform.setTimer = &FakeSetTimer;
    platform.spinYield = &FakeSpin;
    platform.setProcessInformation = &CountThrottling;
    if (!GetParam().highResolution) platform.createTimer = &NoHighResolutionTimer;
    CChannelSampler s(platform);
    CycleTimes times(s);
    ASSERT_HR(S_OK, s.SetObserver(&times));
    s.SetInterval(2);
    s.SetPreciseTiming(GetParam().precise);
    ASSERT_TRUE(s.Start());
    ASSERT_TRUE(WaitUntil([&] { return s.CycleCount() >= CycleTimes::kCycles; }));
    StopSoon(s);
    for (int n = 4; n < CycleTimes::kCycles; ++n) {
        const double gapMs =
            static_cast<double>(times.at[n] - times.at[n - 1]) / static_cast<double>(CountsPerMs());
        EXPECT_GE(gapMs, GetParam().pauseMs) << "cycle " << n + 1;
        EXPECT_LE(gapMs, GetParam().pauseMs + 0.05) << "cycle " << n + 1;
    }
}
INSTANTIATE_TEST_SUITE_P(Engine, SamplerLateWaits,
                         testing::Values(LateCase{true, true, 2.0}, LateCase{true, false, 2.0},
                                         LateCase{false, true, 3.0}, LateCase{false, false, 3.0}));

// What a sampler asks by default is winmm's own pair, found on first use: the test above hands it
// fakes, so here the real ones. Catches the 1 ms asked for twice and never given back.
TEST(SamplerTimer, TheDefaultPairIsWinmmsBeginAndEnd) {
    const engine::TimerPeriodPair& found = engine::FoundTimerPeriod();
    const HMODULE winmm = ::GetModuleHandleW(L"winmm.dll");
    ASSERT_NE(nullptr, winmm) << "not loaded by the lookup";
    EXPECT_EQ(reinterpret_cast<void*>(::GetProcAddress(winmm, "timeBeginPeriod")),
              reinterpret_cast<void*>(found.begin));
    EXPECT_EQ(reinterpret_cast<void*>(::GetProcAddress(winmm, "timeEndPeriod")),
              reinterpret_cast<void*>(found.end));
    EXPECT_EQ(TIMERR_NOERROR, engine::BeginTimerPeriod(1));
    EXPECT_EQ(TIMERR_NOERROR, engine::EndTimerPeriod(1));
}

// --- several samplers at one board ---------------------------------------------------------------

namespace {

// Cycles of different threads must not overlap at the board. A thread's first cycle only tries the
// lock (it never waits for it), so it is left out.
void ExpectTurnsAtTheBoard(const std::vector<harness::BoardCycle>& cycles, size_t threads,
                           testsupport::CallSite caller = testsupport::CallSite::Here()) {
    const testsupport::CallerTrace fromCaller(caller);
    std::vector<const harness::BoardCycle*> checked;
    std::map<DWORD, int> perThread;
    for (const auto& c : cycles) {
        if (perThread[c.thread]++ > 0) checked.push_back(&c);
    }
    ASSERT_EQ(threads, perThread.size());
    for (const auto& [thread, n] : perThread) EXPECT_GE(n, 4) << "cycles of thread " << thread;
    for (size_t i = 0; i < checked.size(); ++i) {
        for (size_t j = i + 1; j < checked.size(); ++j) {
            const auto& a = *checked[i];
            const auto& b = *checked[j];
            if (a.thread == b.thread) continue;
            EXPECT_TRUE(a.lastUs < b.firstUs || b.lastUs < a.firstUs)
                << "threads " << a.thread << " and " << b.thread << " at the board together: [" << a.firstUs
                << ", " << a.lastUs << "] and [" << b.firstUs << ", " << b.lastUs << "]";
        }
    }
}

constexpr LONG kTurnInterval = 40;
constexpr LONGLONG kCycleGapUs = 15000;

}  // namespace

TEST(SamplerTurns, TwoSamplersInOneProcess) {
    SimBoards sim("356:wave", 1 << 20);
    CChannelSampler a, b;
    a.SetInterval(kTurnInterval);
    b.SetInterval(kTurnInterval);
    ASSERT_TRUE(a.Start());
    ASSERT_TRUE(b.Start());
    ::Sleep(1000);
    StopSoon(a);
    StopSoon(b);
    ExpectTurnsAtTheBoard(harness::SplitCycles(harness::ReadAccessLog(), kCycleGapUs), 2);
}

TEST(SamplerTurns, TwoProcesses) {
    harness::ChildResult child;
    std::thread other([&] { child = harness::RunSelf("--child-sample 1500"); });
    SimBoards sim("356:wave", 1 << 20);
    CChannelSampler s;
    s.SetInterval(kTurnInterval);
    ASSERT_TRUE(s.Start());
    ::Sleep(1500);
    StopSoon(s);
    other.join();
    ASSERT_EQ(0u, child.exitCode) << child.out;

    // Both processes' cycles on one time line: the child prints its own as
    // "cycle <thread> <first us> <last us>".
    auto cycles = harness::SplitCycles(harness::ReadAccessLog(), kCycleGapUs);
    std::istringstream lines(child.out);
    std::string word;
    while (lines >> word) {
        if (word != "cycle") continue;
        harness::BoardCycle c;
        lines >> c.thread >> c.firstUs >> c.lastUs;
        cycles.push_back(c);
    }
    ExpectTurnsAtTheBoard(cycles, 2);
}

namespace {

// The second process of SamplerTurns.TwoProcesses: samples for the given time and prints its cycles,
// one line each. Not its reads: a sampler that never sees the board ready polls without a pause and
// fills the log with a million of them, which took the parent a minute to collect.
int ChildSample(int ms) {
    SimBoards sim("356:wave", 1 << 20);
    CChannelSampler s;
    s.SetInterval(kTurnInterval);
    if (!s.Start()) return 2;
    ::Sleep(ms);
    StopSoon(s);
    for (const auto& c : harness::SplitCycles(harness::ReadAccessLog(), kCycleGapUs)) {
        std::printf("cycle %lu %lld %lld\n", c.thread, c.firstUs, c.lastUs);
    }
    return 0;
}

}  // namespace

// The second process of the recorder's kill test (recorder_test.cpp).
int ChildRecord(const char* path);

int main(int argc, char** argv) {
    if (argc > 2 && std::strcmp(argv[1], "--child-sample") == 0) return ChildSample(std::atoi(argv[2]));
    if (argc > 2 && std::strcmp(argv[1], "--child-record") == 0) return ChildRecord(argv[2]);
    testing::InitGoogleTest(&argc, argv);
    testsupport::WatchEveryTest(kTestLimitMs);
    return RUN_ALL_TESTS();
}
