// The pace's rules: the percentile of the gaps, and the margin a precise pause learns. The window's
// forgetting is RunHealth's test (cycles_test.cpp).
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "engine/pace_rules.h"

namespace {

// Gaps 1..n in a scrambled order, then the percentile asked.
struct PercentileCase {
    const char* name;
    std::vector<int64_t> gaps;
    unsigned per100;
    int64_t expected;
};

std::vector<int64_t> Scrambled(int64_t n) {
    std::vector<int64_t> gaps;
    for (int64_t i = 0; i < n; ++i) gaps.push_back((i * 7919) % n + 1);
    return gaps;
}

class GapPercentile : public testing::TestWithParam<PercentileCase> {};
TEST_P(GapPercentile, IsTheNearestRank) {
    engine::GapWindow window;
    for (int64_t gap : GetParam().gaps) window.Add(gap);
    EXPECT_EQ(GetParam().expected, window.Percentile(GetParam().per100));
}
INSTANTIATE_TEST_SUITE_P(
    Engine, GapPercentile,
    testing::Values(PercentileCase{"Empty", {}, 99, 0}, PercentileCase{"One", {5}, 99, 5},
                    // Under 100 gaps the 99th percentile is the longest.
                    PercentileCase{"FewerThanAHundred", Scrambled(50), 99, 50},
                    PercentileCase{"AHundred", Scrambled(100), 99, 99},
                    PercentileCase{"AHundredAndOne", Scrambled(101), 99, 100},
                    PercentileCase{"Thousand", Scrambled(1000), 99, 990},
                    // Ten long gaps among a thousand stay above the 99th percentile, eleven reach it.
                    PercentileCase{"TenSpikes",
                                   [] {
                                       std::vector<int64_t> g(990, 10);
                                       g.insert(g.end(), 10, 500);
                                       return g;
                                   }(),
                                   99, 10},
                    PercentileCase{"ElevenSpikes",
                                   [] {
                                       std::vector<int64_t> g(989, 10);
                                       g.insert(g.end(), 11, 500);
                                       return g;
                                   }(),
                                   99, 500}),
    [](const auto& test) { return std::string(test.param.name); });

// Waits as (asked, took) in microseconds, on a counter of 1000 counts a millisecond, and the margin
// after them; -1 for a pause spun whole.
struct OvershootCase {
    const char* name;
    std::vector<std::pair<int64_t, int64_t>> waits;
    int64_t margin;
};
class Overshoot : public testing::TestWithParam<OvershootCase> {};
TEST_P(Overshoot, MarginFollowsTheLateness) {
    engine::OvershootEstimate estimate(1000);
    for (const auto& [asked, took] : GetParam().waits) {
        if (asked < 0) {
            estimate.NoteSpunWhole();
        } else {
            estimate.NoteWait(asked, took);
        }
    }
    EXPECT_EQ(GetParam().margin, estimate.Margin());
}
INSTANTIATE_TEST_SUITE_P(
    Engine, Overshoot,
    testing::Values(
        // Half a millisecond and a spare tenth before the first wait.
        OvershootCase{"Untried", {}, 600},
        // Later than the estimate: taken at once.
        OvershootCase{"LateRaisesAtOnce", {{1000, 2000}}, 1100},
        // Earlier: an eighth of the way down at each wait.
        OvershootCase{"EarlyLowersByAnEighth", {{1000, 1100}}, 450 + 100},
        // Settles within eight counts of the lateness (under a microsecond on any counter).
        OvershootCase{"ManyEarlyWaitsSettle", std::vector<std::pair<int64_t, int64_t>>(100, {1000, 1050}),
                      57 + 100},
        // A wait that ends before its time is no later than on time.
        OvershootCase{"EarlyWakeIsNoLateness", std::vector<std::pair<int64_t, int64_t>>(100, {1000, 900}),
                      7 + 100},
        // A thread preempted for 15 ms: the margin stops at 2 ms.
        OvershootCase{"PreemptionIsCapped", {{1000, 16000}}, 2000 + 100},
        // Spun whole: forgets 1/256 of the estimate each time, and learns again from the next wait.
        OvershootCase{"SpunWholeForgetsSlowly", {{1000, 2000}, {-1, 0}}, 1000 - 3 + 100},
        OvershootCase{"SpunWholeThenLate", {{1000, 2000}, {-1, 0}, {-1, 0}, {500, 1500}}, 1100}),
    [](const auto& test) { return std::string(test.param.name); });

}  // namespace
