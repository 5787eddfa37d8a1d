// CycleClock driven by simulated clocks: a performance counter that drifts from a system time that
// moves every 15.625 ms, the clock set forward and back, a counter that goes back, long gaps. Times
// are in FILETIME units.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <string>

#include "engine/cycle_clock.h"

namespace {

using engine::CycleClock;
constexpr int64_t kMs = CycleClock::kUnitsPerMs;
constexpr int64_t kSlack = CycleClock::kSlackUnits;
constexpr int64_t kTickUnits = 156250;                // 64 Hz, Windows 7's default clock interrupt
constexpr int64_t kStartLagUnits = 11 * kMs;          // how far the coarse time at Start is behind
constexpr int64_t kCycleUnits = 10 * kMs;             // the shortest sampling interval
constexpr uint32_t kJitterUnits = 2 * kMs;            // how late in its cycle a stamp is taken
constexpr int kWindowCycles = 100;                    // about a second
constexpr int64_t kWindowErrorLimit = 2 * kMs;        // one for the cut to whole ms, one for the rest
constexpr uint64_t kEpoch = 133'801'632'000'000'000;  // 2025-01-01

// A machine whose counter runs ppm fast (slow when negative) against the true time, and whose
// clock is set by shiftMs after changeS seconds; a set-back under a second is caught up within
// catchUpMs. Stamps every 10 ms or so for seconds.
struct Machine {
    const char* name;
    int64_t frequency;
    int ppm;
    int64_t seconds;
    int64_t changeS;
    int64_t shiftMs;
    int64_t catchUpMs;
};
void PrintTo(const Machine& r, std::ostream* os) { *os << r.name; }

// The worst the stamps did. The band is judged from Start and from the end of a catch-up; the
// spacing from a second after either, once the stamps have settled on the clock's ticks.
struct Worst {
    int64_t stamps = 0, decreases = 0;
    int64_t minAbove = INT64_MAX, maxAbove = INT64_MIN;  // stamp - coarse time
    int64_t windowError = 0;                             // |stamped - true| duration of a window
    int64_t firstAfterChange = 0;                        // its stamp - coarse time
    bool stepBackAtChange = false;
};

Worst Simulate(const Machine& machine) {
    const double countsPerUnit = static_cast<double>(machine.frequency) * (1 + machine.ppm * 1e-6) / 1e7;
    const int64_t startCounter = 987'654'321;  // counted since boot
    const int64_t changeAt = machine.shiftMs == 0 ? INT64_MAX / 2 : machine.changeS * 1000 * kMs;
    const int64_t bandFrom = changeAt + machine.catchUpMs * kMs, spacingFrom = bandFrom + 1000 * kMs;
    const auto settled = [&](int64_t t) { return t >= 1000 * kMs && (t < changeAt || t >= spacingFrom); };
    uint64_t coarse = kEpoch - kStartLagUnits;
    int64_t nextTick = kTickUnits - kStartLagUnits, changeIndex = -1;
    CycleClock clock;
    clock.Start(startCounter, machine.frequency, coarse);
    struct {
        uint64_t stamp;
        int64_t t;
    } window[128] = {};
    uint64_t last = 0;
    uint32_t random = 1;
    Worst worst;
    worst.stamps = machine.seconds * 100;
    for (int64_t i = 0; i < worst.stamps; ++i) {
        random = random * 1664525u + 1013904223u;
        const int64_t t = (i + 1) * kCycleUnits + (random >> 8) % kJitterUnits;
        for (; t >= nextTick; nextTick += kTickUnits) coarse += kTickUnits;
        if (t >= changeAt && changeIndex < 0) {
            coarse += machine.shiftMs * kMs;
            changeIndex = i;
        }
        const uint64_t stamp =
            clock.Stamp(startCounter + static_cast<int64_t>(static_cast<double>(t) * countsPerUnit), coarse);
        const int64_t above = static_cast<int64_t>(stamp - coarse);
        if (i == changeIndex) {
            worst.firstAfterChange = above;
            worst.stepBackAtChange = stamp < last;
        } else if (stamp < last) {
            ++worst.decreases;
        }
        if (t < changeAt || t >= bandFrom) {
            worst.minAbove = std::min(worst.minAbove, above);
            worst.maxAbove = std::max(worst.maxAbove, above);
        }
        const auto& start = window[(i + 128 - kWindowCycles) & 127];
        if (i >= kWindowCycles && settled(start.t) && settled(t) &&
            (start.t >= changeAt) == (t >= changeAt)) {
            const int64_t error = static_cast<int64_t>(stamp - start.stamp) - (t - start.t);
            worst.windowError = std::max(worst.windowError, std::abs(error));
        }
        window[i & 127] = {stamp, t};
        last = stamp;
    }
    return worst;
}

void Record(const Worst& w) {
    testing::Test::RecordProperty("stamps", std::to_string(w.stamps));
    testing::Test::RecordProperty("aboveCoarseUnits",
                                  std::to_string(w.minAbove) + ".." + std::to_string(w.maxAbove));
    testing::Test::RecordProperty("windowErrorUnits", std::to_string(w.windowError));
}

}  // namespace

// A day at 10 ms: the counter's drift is shed without a step back, the stamps keep in the band,
// and a second of stamps is a second. Catches the drop back to the coarse time of a counter that
// runs ahead, a lead never shed, a slew hard enough to show in the spacing, and overflow of
// either counter's progress.
class ClockDrift : public testing::TestWithParam<Machine> {};
TEST_P(ClockDrift, NeverBackInTheBandAndTrueToTheSecond) {
    const Worst w = Simulate(GetParam());
    Record(w);
    EXPECT_EQ(0, w.decreases);
    EXPECT_GT(w.minAbove, -kMs) << "behind the coarse time cut to whole ms";
    EXPECT_LE(w.maxAbove, kSlack);
    EXPECT_LE(w.windowError, kWindowErrorLimit);
}
INSTANTIATE_TEST_SUITE_P(Engine, ClockDrift,
                         testing::Values(Machine{"counter_50ppm_fast_10MHz", 10'000'000, 50, 86400, 0, 0, 0},
                                         Machine{"counter_50ppm_slow_3_5GHz", 3'500'000'000, -50, 86400, 0, 0,
                                                 0}));

namespace {

struct ClockChange {
    int64_t shiftMs;
    bool followed;
};
void PrintTo(const ClockChange& c, std::ostream* os) { *os << "clock set by " << c.shiftMs << " ms"; }

}  // namespace

// The clock set after half a minute: set forward, or back by more than a second, the next stamp
// lands in the band (a step back only if set back); set back by less, the stamps go on rising and
// are in the band again after twice the set-back. Catches a change slewed away for hours, a
// set-back of under a second taken as a step back, and a catch-up that overshoots or never ends.
class ClockSet : public testing::TestWithParam<ClockChange> {};
TEST_P(ClockSet, FollowedForwardOrPastASecondBackElseCaughtUp) {
    const ClockChange& c = GetParam();
    const Worst w =
        Simulate(Machine{"", 10'000'000, 50, 60, 30, c.shiftMs, c.followed ? 0 : 2 * -c.shiftMs + 100});
    Record(w);
    EXPECT_EQ(c.followed && c.shiftMs < 0, w.stepBackAtChange);
    EXPECT_EQ(c.followed, w.firstAfterChange > -kMs && w.firstAfterChange <= kSlack) << w.firstAfterChange;
    EXPECT_EQ(0, w.decreases);
    EXPECT_GT(w.minAbove, -kMs);
    EXPECT_LE(w.maxAbove, kSlack);
    EXPECT_LE(w.windowError, kWindowErrorLimit);
}
INSTANTIATE_TEST_SUITE_P(Engine, ClockSet,
                         testing::Values(ClockChange{2000, true}, ClockChange{-2000, true},
                                         ClockChange{500, true}, ClockChange{-500, false},
                                         ClockChange{-900, false}));

// Stamps in ms from a counter of 10 counts per ms, started at counter 1000000 and 1000 ms. Catches
// a counter that goes back taken as a step back, or as a leap of centuries where its unsigned
// difference wraps.
TEST(CycleClock, CounterThatGoesBackHoldsTheStamp) {
    const struct {
        int64_t counter;
        uint64_t systemMs, stampMs;
    } kSteps[] = {
        {1'000'100, 1000, 1010}, {1'000'050, 1000, 1010},  // back 5 ms: held
        {1'000'150, 1016, 1020},                           // and on from there
        {0, 1031, 1031},                                   // back to zero: held, and behind the coarse time
        {100, 1031, 1041},
    };
    CycleClock clock;
    clock.Start(1'000'000, 10000, 1000 * kMs);
    for (const auto& step : kSteps) {
        EXPECT_EQ(step.stampMs * kMs, clock.Stamp(step.counter, step.systemMs * kMs))
            << "counter " << step.counter;
    }
}

// The first stamp a year after Start, with the system time read 10 ms behind it, and the next
// 1.5 ms later. Catches the counts times 10^7 overflowing 64 bits.
TEST(CycleClock, AYearOfProgressAtAnyCounterFrequency) {
    constexpr uint64_t kYear = 365ull * 86400 * 1000 * kMs;
    for (const int64_t frequency : {int64_t{3'579'545}, int64_t{10'000'000}, int64_t{3'500'000'000}}) {
        CycleClock clock;
        clock.Start(42, frequency, kEpoch);
        const int64_t counter = 42 + frequency * 365 * 86400;
        EXPECT_EQ(kEpoch + kYear, clock.Stamp(counter, kEpoch + kYear - 10 * kMs)) << frequency;
        EXPECT_EQ(kEpoch + kYear + kMs,
                  clock.Stamp(counter + frequency * 3 / 2000, kEpoch + kYear - 10 * kMs))
            << frequency;
    }
}

// A settled clock whose coarse time, read just after its ticks, trails the counter by a steady
// lead: up to 1 ms that is the ticks' phase and stays; over it, only the excess is shed. Stamps every
// 10 ms, 0.3 ms into the ms, for six seconds from a counter of 10 counts a ms: each is the counter's
// time cut to the ms. Catches the phase shed as drift, which pulls settled stamps to the coarse time.
TEST(CycleClock, ALeadWithinTheTicksPhaseStays) {
    for (const int64_t lead : {8 * kMs / 10, kMs, 12 * kMs / 10}) {
        CycleClock clock;
        clock.Start(5'000'000, 10'000, kEpoch);
        for (int64_t k = 1; k <= 600; ++k) {
            const int64_t t = k * 10 * kMs + 3 * kMs / 10;  // since Start
            const uint64_t stamp =
                clock.Stamp(5'000'000 + t / 1000, kEpoch + static_cast<uint64_t>(t - lead));
            ASSERT_EQ(kEpoch + static_cast<uint64_t>(k * 10 * kMs), stamp)
                << "lead " << lead << ", stamp " << k;
        }
    }
}
