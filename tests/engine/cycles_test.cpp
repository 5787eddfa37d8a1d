// Numbered cycles, the cycle ring, the status and the last error of CChannelSampler. The counting
// board puts its frame number in every word, so a row that mixes cycles shows as unequal channels.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <ostream>
#include <thread>
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

    CChannelSampler::Platform noEvent, noThreadLeft;
    noEvent.createEvent = &testsupport::NoEventLeft;
    noThreadLeft.createThread = &NoThreadLeft;
    CChannelSampler noStopEvent(noEvent);
    CChannelSampler noThread(noThreadLeft);
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

// Counts the news it hears.
struct CountingObserver : engine::SamplerObserver {
    void OnSamplerNews() noexcept override { ++news; }
    std::atomic<long> news{0};
};

// The status changes the sampler logged, oldest first.
std::vector<engine::StatusChange> LoggedChanges(const CChannelSampler& s) {
    std::vector<engine::StatusChange> changes(engine::StatusLog::kCapacity);
    changes.resize(s.StatusChanges().Peek(changes.data(), changes.size()));
    return changes;
}

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
    CountingObserver observer;
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

    // The log holds the run's changes in order, each with the error of its moment and the cycle it
    // followed; the observer heard of them.
    const auto changes = LoggedChanges(s);
    ASSERT_GE(changes.size(), 3u);
    EXPECT_EQ(SamplerStatus::kWaitingForFirstCycle, changes.front().status);
    EXPECT_EQ(c.status, changes[1].status);
    EXPECT_HR(c.error, changes[1].error);
    EXPECT_EQ(SamplerStatus::kStopped, changes.back().status);
    for (size_t i = 1; i < changes.size(); ++i) {
        EXPECT_NE(changes[i - 1].status, changes[i].status) << "not a change";
        EXPECT_LT(changes[i - 1].sequence, changes[i].sequence);
        EXPECT_LE(changes[i - 1].cycle, changes[i].cycle);
        EXPECT_EQ(s.Run(), changes[i].run);
    }
    EXPECT_GE(observer.news, static_cast<long>(changes.size()));
    s.ForgetStatusChanges(changes[1].sequence);
    EXPECT_EQ(changes.size() - 2, LoggedChanges(s).size()) << "forgotten up to the second";
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

// --- the ring and the logs alone -----------------------------------------------------------------

namespace {

// A cycle whose every field says its number, so that a copy mixing two cycles shows.
engine::Cycle Numbered(uint64_t number) {
    engine::Cycle c;
    c.number = number;
    c.time = number * 7;
    c.channels = 8;
    for (int k = 0; k < 8; ++k) c.values[k] = static_cast<int16_t>(number + k);
    return c;
}

bool Consistent(const engine::Cycle& c) {
    if (c.time != c.number * 7 || c.channels != 8) return false;
    for (int k = 0; k < 8; ++k) {
        if (c.values[k] != static_cast<int16_t>(c.number + k)) return false;
    }
    return true;
}

}  // namespace

// A writer publishing as fast as it can into a ring of one or two cycles while the reader reads the
// newest and drains: every copy is one cycle whole, every batch runs without a gap from where the
// losses it reports end, and what was drained and lost adds up to what was published.
TEST(CycleRing, ReaderRacingAWriterGetsWholeCyclesAndPlacesEveryLoss) {
    for (size_t capacity : {1u, 2u}) {
        engine::CycleRing ring;
        ASSERT_HR(S_OK, ring.Resize(capacity));
        ring.Settle();
        std::atomic<bool> done{false};
        std::thread writer([&] {
            for (uint64_t n = 1; !done; ++n) ring.Publish(Numbered(n));
        });
        std::string fault;
        uint64_t next = 1, drained = 0, lost = 0;
        const ULONGLONG until = ::GetTickCount64() + 1000;
        while (::GetTickCount64() < until && fault.empty()) {
            engine::Cycle newest, out[4];
            if (ring.ReadNewest(newest) && !Consistent(newest))
                fault = "torn newest " + std::to_string(newest.number);
            uint64_t lostNow = 0;
            const size_t n = ring.Drain(out, 4, lostNow);
            lost += lostNow;
            next += lostNow;
            for (size_t i = 0; i < n && fault.empty(); ++i, ++next) {
                if (!Consistent(out[i])) fault = "torn row " + std::to_string(out[i].number);
                if (out[i].number != next)
                    fault = "row " + std::to_string(out[i].number) + " where " + std::to_string(next) +
                            " was due";
            }
            drained += n;
        }
        done = true;
        writer.join();
        uint64_t lostNow = 0;
        engine::Cycle out[4];
        while (size_t n = ring.Drain(out, 4, lostNow)) drained += n, lost += lostNow;
        lost += lostNow;
        EXPECT_EQ("", fault) << "capacity " << capacity;
        EXPECT_GT(drained, 0u);
        EXPECT_EQ(ring.Newest(), drained + lost) << "capacity " << capacity;
        EXPECT_EQ(lost, ring.Lost());
        EXPECT_EQ(drained, ring.Delivered());
    }
}

// What the ring overwrote counts as lost before any drain reports it; a peek that is not taken
// leaves every cycle unread and reports nothing.
TEST(CycleRing, LossesCountBeforeADrainAndAnUntakenPeekTakesNothing) {
    engine::CycleRing ring;
    ASSERT_HR(S_OK, ring.Resize(4));
    ring.Settle();
    for (uint64_t n = 1; n <= 10; ++n) ring.Publish(Numbered(n));
    EXPECT_EQ(6u, ring.Lost());
    engine::Cycle out[8];
    const engine::ReadBatch batch = ring.Peek(out, 8);
    EXPECT_EQ(4u, batch.count);
    EXPECT_EQ(6u, batch.lost);
    EXPECT_EQ(7u, out[0].number);
    EXPECT_EQ(4u, ring.Unread()) << "peeked, not taken";
    EXPECT_EQ(0u, ring.Delivered());
    ring.Take(batch);
    EXPECT_EQ(0u, ring.Unread());
    EXPECT_EQ(4u, ring.Delivered());
    EXPECT_EQ(6u, ring.Lost());
}

// In order; a repeat of the newest waiting status only brings it up to date; a full log keeps the
// newest; forgetting goes by sequence, so an entry dropped meanwhile cannot take an untold one along.
TEST(StatusLog, KeepsTheNewestChangesInOrderAndForgetsBySequence) {
    using S = SamplerStatus;
    engine::StatusLog log;
    log.Push({S::kWaitingForFirstCycle, S_OK, 1, 0, 0});
    log.Push({S::kBoardNotReady, engine::kErrorBoardNotReady, 1, 0, 0});
    log.Push({S::kBoardNotReady, engine::kErrorCycleIncomplete, 1, 3, 0});
    engine::StatusChange out[engine::StatusLog::kCapacity + 1];
    ASSERT_EQ(2u, log.Peek(out, std::size(out)));
    EXPECT_EQ(engine::kErrorCycleIncomplete, out[1].error);
    EXPECT_EQ(3u, out[1].cycle);
    const uint64_t told = out[0].sequence;

    for (int i = 0; i < 20; ++i) log.Push({i % 2 ? S::kSampling : S::kCycleIncomplete, S_OK, 1, 10u + i, 0});
    ASSERT_EQ(engine::StatusLog::kCapacity, log.Peek(out, std::size(out)));
    EXPECT_EQ(29u, out[engine::StatusLog::kCapacity - 1].cycle) << "the newest stay";
    log.Forget(told);  // long gone: forgets nothing it still holds
    EXPECT_EQ(engine::StatusLog::kCapacity, log.Peek(out, std::size(out)));
    log.Forget(out[2].sequence);
    EXPECT_EQ(engine::StatusLog::kCapacity - 3, log.Peek(out, std::size(out)));
}

// The rate over the last 100 cycles and the longest gap, from counter readings of 1000 counts a second.
TEST(RunHealth, RateOverTheLastHundredCyclesAndTheLongestGap) {
    engine::RunHealth health;
    health.Reset(1000);
    health.NoteCycle(5000);
    EXPECT_EQ(0.0, health.Rate()) << "one cycle has no rate";
    int64_t counter = 5000;
    for (int i = 0; i < 150; ++i) health.NoteCycle(counter += 10);  // 100 a second
    EXPECT_DOUBLE_EQ(100.0, health.Rate());
    EXPECT_EQ(10u, health.LongestGapMs());
    health.NoteCycle(counter += 510);
    EXPECT_EQ(510u, health.LongestGapMs());
    EXPECT_DOUBLE_EQ(100.0 / 1.5, health.Rate()) << "99 gaps of 10 ms and one of 510 ms";
    for (int i = 0; i < 100; ++i) health.NoteCycle(counter += 20);
    EXPECT_DOUBLE_EQ(50.0, health.Rate()) << "the slow gap has left the window";
    EXPECT_EQ(510u, health.LongestGapMs()) << "the run's longest stays";
    health.NoteFailure();
    EXPECT_EQ(1u, health.FailedAttempts());
    health.Reset(1000);
    EXPECT_EQ(0u, health.LongestGapMs() + health.FailedAttempts());
}

// The gap that 99 of 100 of the last thousand stay within, in ms with the counter's fraction; the
// first cycle of a run has no gap, and a new run forgets the gaps of the one before.
TEST(RunHealth, GapPercentileOfTheRunsLastThousandGaps) {
    engine::RunHealth health;
    health.Reset(10'000'000);
    EXPECT_EQ(0.0, health.GapPercentile99Ms());
    int64_t counter = 777;
    health.NoteCycle(counter);
    EXPECT_EQ(0.0, health.GapPercentile99Ms()) << "one cycle has no gap";
    for (int i = 0; i < 11; ++i) health.NoteCycle(counter += 150'000);  // 15 ms
    for (int i = 0; i < 989; ++i) health.NoteCycle(counter += 10'030);  // 1.003 ms
    EXPECT_DOUBLE_EQ(15.0, health.GapPercentile99Ms());
    health.NoteCycle(counter += 10'030);
    EXPECT_DOUBLE_EQ(1.003, health.GapPercentile99Ms())
        << "the oldest long gap has left the window: ten are the one per cent";
    health.Reset(1000);
    health.NoteCycle(5);
    health.NoteCycle(7);
    EXPECT_DOUBLE_EQ(2.0, health.GapPercentile99Ms()) << "the gaps of the run before are gone";
}

namespace {

// What a host reads after a run's first cycles, all the same gap apart: the rate counts the gaps,
// not the cycles, also before the hundredth; a gap is rounded to the nearest ms, half up.
struct EvenRun {
    const char* name;
    int64_t frequency;  // counts a second
    int cycles;
    int64_t gapCounts;
    double rate;
    uint32_t longestGapMs;
};
void PrintTo(const EvenRun& r, std::ostream* os) { *os << r.name; }

}  // namespace

class RunHealthEven : public testing::TestWithParam<EvenRun> {};
TEST_P(RunHealthEven, RateAndLongestGapAsAHostReadsThem) {
    const EvenRun& r = GetParam();
    engine::RunHealth health;
    health.Reset(r.frequency);
    int64_t counter = 123'456'789;
    for (int i = 0; i < r.cycles; ++i) health.NoteCycle(counter += r.gapCounts);
    EXPECT_DOUBLE_EQ(r.rate, health.Rate());
    EXPECT_EQ(r.longestGapMs, health.LongestGapMs());
}
INSTANTIATE_TEST_SUITE_P(
    Engine, RunHealthEven,
    testing::Values(EvenRun{"two_cycles_half_a_ms_apart", 10'000'000, 2, 5'000, 2000.0, 1},
                    EvenRun{"ten_cycles_1_25_ms_apart", 10'000'000, 10, 12'500, 800.0, 1},
                    EvenRun{"ten_cycles_1_6_ms_apart", 10'000'000, 10, 16'000, 625.0, 2},
                    EvenRun{"ten_cycles_2_ms_apart", 10'000'000, 10, 20'000, 500.0, 2},
                    EvenRun{"ten_cycles_2_5_ms_apart", 10'000'000, 10, 25'000, 400.0, 3},
                    EvenRun{"a_hundred_cycles_4_ms_apart", 1000, 100, 4, 250.0, 4},
                    EvenRun{"a_hundred_and_one_cycles_4_ms_apart", 1000, 101, 4, 250.0, 4}));

// A writer ahead of the recorder drops cycles and says where: a gap rides with the next cycle of its
// run, a run's end carries its last number (so that a run the reader never saw a cycle of is still
// numbered as its own), ends past the room kept for them are added up apart from any run's gap, and
// what no entry carried is left for the reader's close.
TEST(CycleQueue, DropsAreToldWithTheirRunsNumbers) {
    engine::CycleQueue queue(2);
    ASSERT_TRUE(queue.Valid());
    for (uint64_t n = 1; n <= 4; ++n) queue.Push(Numbered(n));  // 3 and 4 find it full
    queue.EndRun();                                             // in the room for ends
    for (int run = 0; run < 10; ++run) {                        // runs whose every cycle is dropped
        queue.Push(Numbered(1));
        queue.Push(Numbered(2));
        queue.EndRun();  // 7 fit beside the cycles and the first end, 3 do not
    }
    struct Told {
        uint64_t number, lostBefore, runLast, endsLost, ends;
        bool operator==(const Told& o) const {
            return number == o.number && lostBefore == o.lostBefore && runLast == o.runLast &&
                   endsLost == o.endsLost && ends == o.ends;
        }
    };
    std::vector<Told> told;
    engine::QueuedCycle out;
    while (queue.Pop(out))
        told.push_back({out.cycle.number, out.lostBefore, out.runLast, out.endsLost, out.ends});
    queue.Push(Numbered(1));
    queue.Push(Numbered(2));
    queue.Push(Numbered(3));
    queue.Push(Numbered(4));  // dropped, and left to the close
    while (queue.Pop(out))
        told.push_back({out.cycle.number, out.lostBefore, out.runLast, out.endsLost, out.ends});
    std::vector<Told> expected = {{1, 0, 0, 0, 0}, {2, 0, 0, 0, 0}, {0, 2, 4, 0, 0}};
    for (int run = 0; run < 7; ++run) expected.push_back({0, 2, 2, 0, 0});
    expected.push_back({1, 0, 0, 6, 3});
    expected.push_back({2, 0, 0, 0, 0});
    ASSERT_EQ(expected.size(), told.size());
    for (size_t i = 0; i < told.size(); ++i) EXPECT_TRUE(expected[i] == told[i]) << "entry " << i;
    const engine::QueueRemainder left = queue.Remainder();
    EXPECT_EQ(2u, left.runLost) << "3 and 4";
    EXPECT_EQ(4u, left.runLast);
    EXPECT_EQ(0u, left.ends);
    EXPECT_EQ(2u + 20u + 2u, queue.Dropped());
}

// The reader is woken once a quarter of the queue waits, not only by its own period: a queue of a
// few cycles at Interval 1 would fill long before.
TEST(CycleQueue, WakesItsReaderWhenAQuarterWaits) {
    base::UniqueEvent wake(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    engine::CycleQueue queue(16, wake.get());
    for (uint64_t n = 1; n <= 3; ++n) queue.Push(Numbered(n));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(wake.get(), 0));
    EXPECT_FALSE(queue.Due());
    queue.Push(Numbered(4));
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(wake.get(), 0));
    EXPECT_TRUE(queue.Due());
}
