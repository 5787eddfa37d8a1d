// Numbered cycles, the cycle ring, the status and the last error of CChannelSampler. The counting
// board puts its frame number in every word, so a row that mixes cycles shows as unequal channels.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "base/unique_handle.h"
#include "engine/channel_sampler.h"
#include "engine/cycle_clock.h"
#include "tests/support/fail_fast.h"
#include "tests/support/hresult_matchers.h"
#include "tests/support/sim_helpers.h"

using engine::SamplerStatus;
using testsupport::SimBoards;
using testsupport::WaitUntil;

namespace {

constexpr char kPortLockName[] = "Global\\TRUV.Vandrel.IOEvent";
constexpr uint64_t kUnitsPerMs = engine::CycleClock::kUnitsPerMs;

void StopSoon(CChannelSampler& s) {
    testsupport::WithinMs(testsupport::kStopLimitMs, "Stop", [&] { s.Stop(); });
}

uint64_t SystemTime() {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

HANDLE WINAPI NoThreadLeft(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

bool Whole(const engine::Cycle& c) {
    return c.channels == 8 &&
           std::all_of(c.values, c.values + 8, [&](int16_t v) { return v == c.values[0]; });
}

// Drains one run of the counting board and checks each row: whole, numbered one on from the last
// but for the cycles reported lost, its board frame later, its time within the run. Keeps the first
// fault.
struct RunChecker {
    const uint64_t startTime = SystemTime() / kUnitsPerMs * kUnitsPerMs;
    uint64_t next = 1, rows = 0, lost = 0, lastTime = 0;
    int lastFrame = -1;
    std::string fault;

    void Drain(CChannelSampler& s) {
        engine::Cycle out[64];
        uint64_t lostNow = 0;
        for (size_t n; (n = s.DrainCycles(out, 64, lostNow)) > 0 || lostNow > 0;) {
            lost += lostNow;
            next += lostNow;
            for (size_t i = 0; i < n; ++i, ++next, ++rows) {
                const engine::Cycle& c = out[i];
                const bool good = c.number == next && Whole(c) && c.values[0] > lastFrame &&
                                  c.time >= std::max(startTime, lastTime) &&
                                  c.time <= SystemTime() + engine::CycleClock::kSlackUnits;
                if (!good && fault.empty()) {
                    fault = "row " + std::to_string(next) + ": number " + std::to_string(c.number) +
                            ", frames " + std::to_string(c.values[0]) + ".." + std::to_string(c.values[7]) +
                            ", time " + std::to_string(c.time) + " from " + std::to_string(startTime);
                }
                lastFrame = c.values[0];
                lastTime = c.time;
            }
        }
    }
};

}  // namespace

// The test thread reads the newest cycle in bursts, racing the writer, and drains: first often
// enough for the ring, then slower than rings of 16, 64 and 4 set under the running sampler.
TEST(SamplerCycles, NoRowMixesCyclesAndEveryGapIsCountedLost) {
    SimBoards sim("356:count");
    CChannelSampler s;
    s.SetInterval(1);  // a cycle every 10 ms or so
    RunChecker run;
    ASSERT_TRUE(s.Start());
    const struct {
        LONG buffer;
        DWORD drainMs;
        uint64_t untilCycle;
    } kPhases[] = {{1000, 30, 2000}, {16, 250, 2100}, {64, 250, 2200}, {4, 250, 2250}};
    uint64_t lastNewest = 0;
    std::string newestFault;
    for (const auto& phase : kPhases) {
        ASSERT_HR(S_OK, s.SetBufferSize(phase.buffer));
        ULONGLONG nextDrain = ::GetTickCount64() + phase.drainMs;
        while (s.CycleCount() < phase.untilCycle) {
            engine::Cycle c;
            for (int i = 0; i < 1000 && s.ReadNewestCycle(c); ++i) {
                if ((!Whole(c) || c.number < lastNewest) && newestFault.empty())
                    newestFault = "at " + std::to_string(c.number);
                lastNewest = c.number;
            }
            ::Sleep(1);
            if (::GetTickCount64() >= nextDrain) {
                run.Drain(s);
                nextDrain = ::GetTickCount64() + phase.drainMs;
            }
        }
    }
    StopSoon(s);
    run.Drain(s);
    EXPECT_EQ("", newestFault) << "whole-cycle read";
    EXPECT_EQ("", run.fault);
    EXPECT_GT(run.lost, 0u) << "the slow drains lost cycles";
    EXPECT_EQ(s.CycleCount(), run.rows + run.lost) << "every cycle drained or counted lost";
    EXPECT_HR(E_INVALIDARG, s.SetBufferSize(0));
    EXPECT_HR(E_INVALIDARG, s.SetBufferSize(100001));
    EXPECT_EQ(4, s.GetBufferSize());
}

TEST(SamplerErrors, EachStartFailureHasItsOwnError) {
    SimBoards sim("356:count");
    CChannelSampler running;
    ASSERT_TRUE(running.Start());
    EXPECT_FALSE(running.Start());
    EXPECT_HR(engine::kErrorAlreadyRunning, running.LastError());
    EXPECT_NE(SamplerStatus::kStartFailed, running.Status()) << "the running sampler goes on";
    StopSoon(running);

    CChannelSampler noStopEvent(::GetTickCount, &testsupport::NoEventLeft);
    CChannelSampler noThread(::GetTickCount, ::CreateEventA, &NoThreadLeft);
    CChannelSampler noLock;  // another kind of object holds the lock's name
    const struct {
        CChannelSampler& sampler;
        bool squat;
        HRESULT error;
    } kCases[] = {{noStopEvent, false, engine::kErrorSetupFailed},
                  {noLock, true, HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE)},
                  {noThread, false, HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY)}};
    for (const auto& c : kCases) {
        base::UniqueEvent squatter(c.squat ? ::CreateMutexA(nullptr, FALSE, kPortLockName) : nullptr);
        EXPECT_FALSE(c.sampler.Start());
        EXPECT_HR(c.error, c.sampler.LastError());
        EXPECT_EQ(SamplerStatus::kStartFailed, c.sampler.Status());
    }
    ASSERT_TRUE(noLock.Start());
    EXPECT_HR(S_OK, noLock.LastError()) << "a successful Start clears the error";
    StopSoon(noLock);
}

namespace {

// Records the statuses, and whether each published cycle came in order and could be read already.
struct RecordingObserver : engine::SamplerObserver {
    explicit RecordingObserver(const CChannelSampler& s) : sampler(s) {}
    void OnCyclePublished(uint64_t number) noexcept override {
        std::lock_guard<std::mutex> hold(lock);
        inOrderAndReadable = inOrderAndReadable && number == ++published && sampler.CycleCount() >= number;
    }
    void OnStatusChanged(SamplerStatus status) noexcept override {
        std::lock_guard<std::mutex> hold(lock);
        statuses.push_back(status);
    }
    const CChannelSampler& sampler;
    std::mutex lock;
    std::vector<SamplerStatus> statuses;
    uint64_t published = 0;
    bool inOrderAndReadable = true;
};

struct StatusCase {
    const char* board;
    LONG address;
    bool lockHeld;
    SamplerStatus status;
    HRESULT error;
};
void PrintTo(const StatusCase& c, std::ostream* os) {
    *os << c.board << " at " << c.address << (c.lockHeld ? ", lock held" : "");
}

}  // namespace

class SamplerStatusOf : public testing::TestWithParam<StatusCase> {};

// Each board gives its status and error; then the good board comes back (at Address, lock free),
// and the sampler recovers to kSampling keeping the error.
TEST_P(SamplerStatusOf, Board) {
    const StatusCase& c = GetParam();
    SimBoards sim(c.board);
    base::UniqueEvent lock(::CreateEventA(nullptr, FALSE, TRUE, kPortLockName));
    ASSERT_TRUE(lock);
    if (c.lockHeld) {
        ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(lock.get(), 0));
    }
    CChannelSampler s;
    RecordingObserver observer(s);
    ASSERT_HR(S_OK, s.SetObserver(&observer));
    s.SetInterval(20);
    s.SetAddress(c.address);
    ASSERT_TRUE(s.Start());
    EXPECT_HR(HRESULT_FROM_WIN32(ERROR_INVALID_STATE), s.SetObserver(nullptr));
    EXPECT_TRUE(WaitUntil([&] { return s.Status() == c.status; })) << static_cast<int>(s.Status());
    EXPECT_HR(c.error, s.LastError());

    ASSERT_EQ(1, DPSIM_Configure("356:count"));
    s.SetAddress(356);
    if (c.lockHeld) ::SetEvent(lock.get());
    EXPECT_TRUE(WaitUntil([&] { return s.Status() == SamplerStatus::kSampling; }));
    EXPECT_HR(c.error, s.LastError());
    StopSoon(s);

    const auto& statuses = observer.statuses;  // the thread has ended
    ASSERT_GE(statuses.size(), 3u);
    EXPECT_EQ(SamplerStatus::kWaitingForFirstCycle, statuses.front());
    EXPECT_EQ(c.status, statuses[1]);
    EXPECT_EQ(SamplerStatus::kStopped, statuses.back());
    for (size_t i = 1; i < statuses.size(); ++i) EXPECT_NE(statuses[i - 1], statuses[i]) << "not a change";
    EXPECT_TRUE(observer.inOrderAndReadable);
}
INSTANTIATE_TEST_SUITE_P(
    Engine, SamplerStatusOf,
    testing::Values(
        StatusCase{"356:count", 356, false, SamplerStatus::kSampling, S_OK},
        StatusCase{"356:busy", 356, false, SamplerStatus::kBoardNotReady, engine::kErrorBoardNotReady},
        StatusCase{"356:count", 0x300, false, SamplerStatus::kBoardNotReady, engine::kErrorBoardNotReady},
        StatusCase{"356:count,stall=5", 356, false, SamplerStatus::kCycleIncomplete,
                   engine::kErrorCycleIncomplete},
        StatusCase{"356:busy", 356, true, SamplerStatus::kPortLockNotObtained,
                   engine::kErrorPortLockNotObtained}));

// Stamps in ms from a counter of 10 counts per ms, started at counter 0 with the system time at
// 1000 ms while truly 1010 ms had passed (a coarse clock's lag).
TEST(CycleClock, FollowsTheCounterWithinTheCoarseSystemTime) {
    const struct {
        int64_t counter;
        uint64_t systemMs;
        uint64_t stampMs;
    } kSteps[] = {
        {55, 1000, 1005},   // between coarse ticks the counter counts, cut to whole ms
        {200, 1025, 1025},  // behind the coarse time: pulled up to it
        {300, 1025, 1035},  // and on from there
        {400, 1020, 1045},  // a coarse time behind by less than the slack changes nothing
        {500, 5000, 5000},  // the clock set forward
        {600, 1000, 1000},  // the clock set back by more than a second
    };
    engine::CycleClock clock;
    clock.Start(0, 10000, 1000 * kUnitsPerMs);
    for (const auto& step : kSteps) {
        EXPECT_EQ(step.stampMs * kUnitsPerMs, clock.Stamp(step.counter, step.systemMs * kUnitsPerMs))
            << "counter " << step.counter;
    }
}
