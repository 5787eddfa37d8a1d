// Numbered cycles, the cycle ring, the status and the last error of CChannelSampler. The counting
// board puts its frame number in every word, so a row that mixes cycles shows as unequal channels.
#include <gtest/gtest.h>

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

// Follows the rows of one run from the counting board: each row whole, numbers consecutive but for
// the cycles reported lost, the board's frame numbers rising, times within the run. Keeps the first
// fault.
struct RunChecker {
    uint64_t startTime = SystemTime() - SystemTime() % engine::CycleClock::kUnitsPerMs;
    uint64_t next = 1;
    uint64_t rows = 0;
    uint64_t lost = 0;
    int lastFrame = -1;
    uint64_t lastTime = 0;
    std::string fault;

    void Take(const engine::Cycle* out, size_t count, uint64_t lostNow) {
        lost += lostNow;
        next += lostNow;
        const uint64_t latest = SystemTime() + engine::CycleClock::kSlackUnits;
        for (size_t i = 0; i < count && fault.empty(); ++i, ++next, ++rows) {
            const engine::Cycle& c = out[i];
            const std::string row = "row " + std::to_string(c.number) + ": ";
            if (c.number != next) fault = row + "expected number " + std::to_string(next);
            if (!Whole(c)) fault = row + "channels of different cycles";
            if (c.values[0] <= lastFrame)
                fault = row + "frame " + std::to_string(c.values[0]) + " not after the last";
            if (c.time < lastTime || c.time < startTime || c.time > latest)
                fault = row + "time outside the run";
            lastFrame = c.values[0];
            lastTime = c.time;
        }
    }
    static bool Whole(const engine::Cycle& c) {
        for (int k = 1; k < 8; ++k) {
            if (c.values[k] != c.values[0]) return false;
        }
        return c.channels == 8;
    }
    void Drain(CChannelSampler& s) {
        engine::Cycle rowsNow[64];
        uint64_t lostNow = 0;
        size_t n;
        while ((n = s.DrainCycles(rowsNow, 64, lostNow)) > 0 || lostNow > 0) Take(rowsNow, n, lostNow);
    }
};

}  // namespace

// The test thread reads the newest cycle in bursts, racing the writer, and drains every 30 ms.
TEST(SamplerCycles, NoWholeCycleReadAndNoDrainedRowMixesCycles) {
    SimBoards sim("356:count");
    CChannelSampler s;
    s.SetInterval(1);
    RunChecker run;
    ASSERT_TRUE(s.Start());
    uint64_t newestReads = 0;
    uint64_t lastNewest = 0;
    std::string newestFault;
    ULONGLONG nextDrain = 0;
    while (s.CycleCount() < 2000 && newestFault.empty()) {
        engine::Cycle c;
        for (int i = 0; i < 1000 && s.ReadNewestCycle(c); ++i) {
            ++newestReads;
            if (!RunChecker::Whole(c) || c.number < lastNewest)
                newestFault = "at " + std::to_string(c.number);
            lastNewest = c.number;
        }
        ::Sleep(1);
        if (::GetTickCount64() >= nextDrain) {
            run.Drain(s);
            nextDrain = ::GetTickCount64() + 30;
        }
    }
    StopSoon(s);
    run.Drain(s);
    EXPECT_EQ("", newestFault) << "whole-cycle read, " << newestReads << " reads";
    EXPECT_EQ("", run.fault);
    EXPECT_EQ(s.CycleCount(), run.rows + run.lost) << "every cycle drained or counted lost";
}

// Drained every 250 ms at about 100 cycles a second, a ring of 16 loses cycles, and the ring is
// resized under the running sampler; the lost counts must explain every gap in the numbers.
TEST(SamplerCycles, SlowReaderSeesTheLossTheNumbersShow) {
    SimBoards sim("356:count");
    CChannelSampler s;
    s.SetInterval(1);
    ASSERT_HR(S_OK, s.SetBufferSize(16));
    RunChecker run;
    ASSERT_TRUE(s.Start());
    for (LONG size : {16, 16, 64, 64, 4, 4}) {
        EXPECT_HR(S_OK, s.SetBufferSize(size));
        ::Sleep(250);
        run.Drain(s);
    }
    StopSoon(s);
    run.Drain(s);
    EXPECT_EQ("", run.fault);
    EXPECT_GT(run.lost, 0u);
    EXPECT_EQ(s.CycleCount(), run.rows + run.lost);
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

// Records the notifications, and at each published cycle whether it could already be read.
class RecordingObserver : public engine::SamplerObserver {
public:
    explicit RecordingObserver(const CChannelSampler& s) : sampler_(s) {}
    void OnCyclePublished(uint64_t number) noexcept override {
        std::lock_guard<std::mutex> hold(lock_);
        readable_ = readable_ && sampler_.CycleCount() >= number;
        consecutive_ = consecutive_ && number == ++published_;
    }
    void OnStatusChanged(SamplerStatus status) noexcept override {
        std::lock_guard<std::mutex> hold(lock_);
        statuses_.push_back(status);
    }
    std::vector<SamplerStatus> Statuses() {
        std::lock_guard<std::mutex> hold(lock_);
        return statuses_;
    }
    bool CyclesInOrderAndReadable() {
        std::lock_guard<std::mutex> hold(lock_);
        return readable_ && consecutive_;
    }

private:
    const CChannelSampler& sampler_;
    std::mutex lock_;
    std::vector<SamplerStatus> statuses_;
    uint64_t published_ = 0;
    bool readable_ = true;
    bool consecutive_ = true;
};

struct StatusCase {
    const char* board;
    LONG address;
    bool lockHeld;
    SamplerStatus status;
    HRESULT error;
};

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

    const auto statuses = observer.Statuses();
    ASSERT_GE(statuses.size(), 3u);
    EXPECT_EQ(SamplerStatus::kWaitingForFirstCycle, statuses.front());
    EXPECT_EQ(c.status, statuses[1]);
    EXPECT_EQ(SamplerStatus::kStopped, statuses.back());
    for (size_t i = 1; i < statuses.size(); ++i) EXPECT_NE(statuses[i - 1], statuses[i]) << "not a change";
    EXPECT_TRUE(observer.CyclesInOrderAndReadable());
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
        {600, 1000, 1000},  // the clock set back, or the counter fast by more than the slack
    };
    engine::CycleClock clock;
    clock.Start(0, 10000, 1000 * engine::CycleClock::kUnitsPerMs);
    for (const auto& step : kSteps) {
        EXPECT_EQ(step.stampMs * engine::CycleClock::kUnitsPerMs,
                  clock.Stamp(step.counter, step.systemMs * engine::CycleClock::kUnitsPerMs))
            << "counter " << step.counter;
    }
}
