// Tick arithmetic, the staleness limit and the decoding of raw words.
#include <gtest/gtest.h>

#include <climits>

#include "engine/sample_math.h"

namespace {

struct TickCase {
    uint32_t earlier, now, expected;
};
class TickDifference : public testing::TestWithParam<TickCase> {};
TEST_P(TickDifference, FollowsTheWrapRule) {
    EXPECT_EQ(GetParam().expected, engine::TickDiff(GetParam().earlier, GetParam().now));
}
INSTANTIATE_TEST_SUITE_P(Engine, TickDifference,
                         testing::Values(TickCase{0, 0, 0}, TickCase{5, 10, 5},
                                         TickCase{0, 0xFFFFFFFF, 0xFFFFFFFF},
                                         TickCase{0xFFFFFF00, 0x10, 0xFF + 0x10},  // 271
                                         TickCase{0xFFFFFFFF, 0, 0},               // one less than modular
                                         TickCase{1, 0, 0xFFFFFFFE}));

TEST(StalenessLimit, ThirtyIntervalsAndFiftyWrappingUnsigned) {
    EXPECT_EQ(64850u, engine::StalenessLimit(2160));
    EXPECT_EQ(50u, engine::StalenessLimit(0));
    EXPECT_EQ(20u, engine::StalenessLimit(0xFFFFFFFF));  // -30 + 50 modulo 2^32
    EXPECT_EQ(0x7FFFFFFFu * 30u + 50u, engine::StalenessLimit(0x7FFFFFFF));
}

struct DecodeCase {
    uint16_t raw;
    int16_t value;
};
class Decoding : public testing::TestWithParam<DecodeCase> {};
TEST_P(Decoding, SignAndMagnitude) { EXPECT_EQ(GetParam().value, engine::DecodeChannelWord(GetParam().raw)); }
INSTANTIATE_TEST_SUITE_P(Engine, Decoding,
                         testing::Values(DecodeCase{0x0000, 0}, DecodeCase{0x7FFE, 32766},
                                         DecodeCase{0x7FFF, 32767}, DecodeCase{0x8000, 0},
                                         DecodeCase{0x8001, -1}, DecodeCase{0xFFFF, -32767},
                                         DecodeCase{0x1234, 0x1234}, DecodeCase{0x9234, -0x1234}));

TEST(PortArithmetic, DataPortWrapsInsteadOfOverflowing) {
    EXPECT_EQ(358, engine::DataPort(356));
    EXPECT_EQ(INT_MIN + 1, engine::DataPort(INT_MAX));
    EXPECT_EQ(1, engine::DataPort(-1));
    EXPECT_EQ(0x1234, engine::RawWord(0x34, 0x12));
}

}  // namespace
