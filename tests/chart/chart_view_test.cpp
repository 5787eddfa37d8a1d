// The chart's picture: the history's ring, the pure rules that place points, and Paint's pixels in
// a bitmap of the test's own.
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "base/unique_handle.h"
#include "chart/chart_view.h"

namespace {

using chart::Column;
using chart::Frame;
using chart::History;
using chart::Point;
using chart::Range;

Point At(double timeMs, float value0, float value1 = 0) {
    Point point;
    point.timeMs = timeMs;
    point.values[0] = value0;
    point.values[1] = value1;
    return point;
}

std::vector<double> Times(const History& history) {
    std::vector<double> times;
    for (size_t i = 0; i < history.Size(); ++i) times.push_back(history[i].timeMs);
    return times;
}

TEST(History, KeepsTheNewestInOrderThroughWrapAndCapacityChanges) {
    History history(3);
    for (int t = 1; t <= 5; ++t) history.Add(At(t, 0));
    EXPECT_EQ((std::vector<double>{3, 4, 5}), Times(history));
    EXPECT_EQ(0u, history.FirstAtOrAfter(0));
    EXPECT_EQ(1u, history.FirstAtOrAfter(3.5));
    EXPECT_EQ(3u, history.FirstAtOrAfter(6));

    history.SetCapacity(2);  // after a wrap: the newest two stay
    EXPECT_EQ((std::vector<double>{4, 5}), Times(history));
    history.SetCapacity(4);
    for (int t = 6; t <= 8; ++t) history.Add(At(t, 0));
    EXPECT_EQ((std::vector<double>{5, 6, 7, 8}), Times(history));

    History none;
    none.Add(At(1, 0));
    EXPECT_EQ(0u, none.Size());
}

// Times 0..9 in a ring that has wrapped, so that Columns reads it through the wrap.
History TenPoints() {
    History history(10);
    for (int t = -3; t < 0; ++t) history.Add(At(t, 1000));
    const float values[] = {5, 1, 7, 3, NAN, 2, 9, 0, 4, 6};
    for (int t = 0; t < 10; ++t) history.Add(At(t, values[t]));
    return history;
}

struct ColumnsCase {
    double startMs, msPerColumn;
    std::vector<Column> expected;
};
class ColumnExtremes : public testing::TestWithParam<ColumnsCase> {};
TEST_P(ColumnExtremes, TakeEachColumnsMinimumAndMaximumAndSkipNaN) {
    const ColumnsCase& c = GetParam();
    std::vector<Column> out(c.expected.size(), Column{-1, -1, true});
    chart::Columns(TenPoints(), 0, c.startMs, c.msPerColumn, out.data(), static_cast<int>(out.size()));
    for (size_t k = 0; k < out.size(); ++k) {
        EXPECT_EQ(c.expected[k].any, out[k].any) << "column " << k;
        if (!c.expected[k].any) continue;
        EXPECT_EQ(c.expected[k].min, out[k].min) << "column " << k;
        EXPECT_EQ(c.expected[k].max, out[k].max) << "column " << k;
    }
}
INSTANTIATE_TEST_SUITE_P(
    Chart, ColumnExtremes,
    testing::Values(ColumnsCase{0, 2.5, {{1, 7, true}, {3, 3, true}, {0, 9, true}, {4, 6, true}}},
                    ColumnsCase{2, 3, {{3, 7, true}, {0, 9, true}}},  // stops before time 8
                    ColumnsCase{4, 1, {{0, 0, false}}},               // only a NaN
                    ColumnsCase{-3, 2, {{0, 0, false}, {5, 5, true}, {1, 7, true}}}));

struct RangeCase {
    std::vector<float> values;  // channel 0, spread over the window
    double limit;               // channel 0's high limit
    bool autoRange;
    double low, high;
};
class YRanges : public testing::TestWithParam<RangeCase> {};
TEST_P(YRanges, RoundTheVisibleValuesAndLimits) {
    const RangeCase& c = GetParam();
    History history(100);
    history.Add(At(-1, 5000, 5000));  // before the window
    for (size_t i = 0; i < c.values.size(); ++i)
        history.Add(At(1000 + 100.0 * static_cast<double>(i), c.values[i], 3000));
    Frame frame;
    frame.channels = 2;
    frame.looks[1].visible = false;  // its 3000 counts for nothing
    frame.looks[0].limits[1] = c.limit;
    frame.endMs = 10000;
    frame.autoRange = c.autoRange;
    const Range range = chart::YRange(history, frame);
    EXPECT_DOUBLE_EQ(c.low, range.low);
    EXPECT_DOUBLE_EQ(c.high, range.high);
}
INSTANTIATE_TEST_SUITE_P(Chart, YRanges,
                         testing::Values(RangeCase{{3, 97}, NAN, true, 0, 100},
                                         RangeCase{{10, 20}, 45, true, 10, 50},
                                         RangeCase{{-0.13f, 0.02f}, NAN, true, -0.15, 0.05},
                                         RangeCase{{10, 10}, NAN, true, 9, 11},  // flat
                                         RangeCase{{0}, NAN, true, -1, 1}, RangeCase{{}, NAN, true, 0, 1},
                                         RangeCase{{3, 97}, 450, false, 0, 100}));  // fixed

TEST(RowOf, EndsOfTheRangeAreTheEdgeRowsAndBeyondIsOneOutside) {
    const RECT plot{10, 20, 110, 121};  // rows 20..120
    const Range range{0, 100};
    EXPECT_EQ(20, chart::RowOf(100, range, plot));
    EXPECT_EQ(120, chart::RowOf(0, range, plot));
    EXPECT_EQ(70, chart::RowOf(50, range, plot));
    EXPECT_EQ(19, chart::RowOf(100.001, range, plot));
    EXPECT_EQ(121, chart::RowOf(-0.001, range, plot));
    EXPECT_EQ(121, chart::RowOf(NAN, range, plot));
}

// Paints into a 32-bit top-down DIB section and reads its pixels.
class Painted : public testing::Test {
protected:
    static constexpr LONG kWidth = 600;
    static constexpr LONG kHeight = 400;

    Painted() : dc_(::CreateCompatibleDC(nullptr)), history(20000) {
        BITMAPINFO info{};
        info.bmiHeader = {sizeof info.bmiHeader, kWidth, -kHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        void* bits = nullptr;
        bitmap_.reset(::CreateDIBSection(dc_.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        bits_ = static_cast<const DWORD*>(bits);
        old_ = ::SelectObject(dc_.get(), bitmap_.get());
        frame.channels = 4;
        for (int c = 0; c < chart::kChannels; ++c) frame.looks[c].color = chart::DefaultColor(c);
        frame.autoRange = false;
        frame.yMin = -50;
        frame.yMax = 150;
        frame.endMs = 10000;
    }
    ~Painted() override { ::SelectObject(dc_.get(), old_); }

    // Every 10 ms of the window, channel c at values[c].
    void AddFlat(const std::vector<float>& values) {
        for (int t = 0; t <= 10000; t += 10) {
            Point point = At(t, 0);
            for (size_t c = 0; c < values.size(); ++c) point.values[c] = values[c];
            history.Add(point);
        }
    }
    RECT Paint() {
        const RECT bounds{0, 0, kWidth, kHeight};
        chart::Paint(dc_.get(), bounds, history, frame);
        ::GdiFlush();
        return chart::LayOut(bounds, frame).plot;
    }
    int Row(double value, const RECT& plot) const {
        return chart::RowOf(value, chart::YRange(history, frame), plot);
    }
    COLORREF Pixel(LONG x, LONG y) const {
        const DWORD pixel = bits_[y * kWidth + x];
        return RGB(pixel >> 16 & 0xFF, pixel >> 8 & 0xFF, pixel & 0xFF);
    }
    // How many pixels of row y from left to right are color.
    int CountInRow(LONG y, LONG left, LONG right, COLORREF color) const {
        int count = 0;
        for (LONG x = left; x < right; ++x) count += Pixel(x, y) == color;
        return count;
    }

    base::UniqueMemoryDc dc_;
    base::UniqueGdiObject bitmap_;
    const DWORD* bits_ = nullptr;
    HGDIOBJ old_ = nullptr;
    History history;
    Frame frame;
};

class PaintedAtDpi : public Painted, public testing::WithParamInterface<int> {};
TEST_P(PaintedAtDpi, EachChannelsLineSitsAtItsValuesRowInItsColour) {
    frame.dpi = GetParam();
    const std::vector<float> values{0, 37.5f, 100, -20};
    AddFlat(values);
    const RECT plot = Paint();
    const LONG x = (plot.left + plot.right) / 2;
    for (int c = 0; c < 4; ++c) {
        const COLORREF color = frame.looks[c].color;
        const int row = Row(values[c], plot);
        EXPECT_EQ(color, Pixel(x, row)) << "channel " << c;
        EXPECT_NE(color, Pixel(x, row - 3)) << "channel " << c;
        EXPECT_NE(color, Pixel(x, row + 3)) << "channel " << c;
    }
}
// Wider lines are where the clipping shows: a thin one out of range lies on the border.
TEST_P(PaintedAtDpi, FixedRangeClipsLinesAtThePlotsEdge) {
    frame.dpi = GetParam();
    for (int t = 0; t <= 10000; t += 10)
        history.Add(At(t, 50 + static_cast<float>(t) * 0.03f, 400));  // 50 .. 350
    frame.channels = 2;
    const RECT plot = Paint();
    for (LONG y = 0; y < plot.top; ++y) {
        EXPECT_EQ(0, CountInRow(y, 0, kWidth, frame.looks[0].color)) << "row " << y;
        EXPECT_EQ(0, CountInRow(y, 0, kWidth, frame.looks[1].color)) << "row " << y;
    }
    EXPECT_GT(CountInRow(plot.top, plot.left, plot.right, frame.looks[0].color), 0);
    for (LONG y = plot.top; y < plot.bottom; ++y) {
        EXPECT_EQ(0, CountInRow(y, plot.left, plot.right, frame.looks[1].color)) << "row " << y;
    }
}

INSTANTIATE_TEST_SUITE_P(Chart, PaintedAtDpi, testing::Values(96, 192));

TEST_F(Painted, LimitIsADashedLineAtItsRowInTheChannelsColour) {
    AddFlat({10});
    frame.channels = 1;
    frame.looks[0].limits[0] = 80;
    const RECT plot = Paint();
    const COLORREF color = frame.looks[0].color;
    const int row = Row(80, plot);
    const int width = plot.right - plot.left;
    const int dashes = CountInRow(row, plot.left, plot.right, color);
    EXPECT_GT(dashes, width / 2);
    EXPECT_LT(dashes, width);
    EXPECT_EQ(0, CountInRow(row - 2, plot.left, plot.right, color));
    EXPECT_EQ(0, CountInRow(row + 2, plot.left, plot.right, color));
}

TEST_F(Painted, OneCycleSpikeShowsInATenSecondWindowAtAThousandCycles) {
    for (int t = 1; t <= 10000; ++t) history.Add(At(t, t == 4321 ? 100.0f : 0.0f));
    frame.channels = 1;
    const RECT plot = Paint();
    ASSERT_LT(plot.right - plot.left, 10000);
    const int atTop = CountInRow(Row(100, plot), plot.left, plot.right, frame.looks[0].color);
    EXPECT_GE(atTop, 1);
    EXPECT_LE(atTop, 2);
}

// One point a second: the line runs in from the point before the window and ends at endMs.
TEST_F(Painted, SlowChannelsLineSpansThePlotFromEdgeToEdge) {
    for (int t = 0; t <= 10000; t += 1000) history.Add(At(t, 50));
    frame.channels = 1;
    const RECT plot = Paint();
    EXPECT_EQ(frame.looks[0].color, Pixel(plot.left, Row(50, plot)));
    EXPECT_EQ(frame.looks[0].color, Pixel(plot.right - 1, Row(50, plot)));
}

TEST_F(Painted, AlarmColumnsAreTintedAcrossThePlot) {
    for (int t = 0; t <= 10000; t += 10) {
        Point point = At(t, 0);
        point.levels[1] = t >= 6000 && t < 7000 ? 1 : 0;
        history.Add(point);
    }
    frame.channels = 2;
    const RECT plot = Paint();
    const LONG width = plot.right - plot.left;
    const int tinted = CountInRow(plot.top + 3, plot.left, plot.right, RGB(255, 226, 226));
    EXPECT_NEAR(width / 10, tinted, 3);
    frame.looks[1].visible = false;
    Paint();
    EXPECT_EQ(0, CountInRow(plot.top + 3, plot.left, plot.right, RGB(255, 226, 226)));
}

TEST_F(Painted, ScopeSweepsFromTheLeftWithThePreviousSweepAfterAGap) {
    frame.mode = chart::Mode::kScope;
    frame.endMs = 12500;  // a quarter into the sweep [10000, 20000)
    for (int t = 0; t <= 12500; t += 10) history.Add(At(t, t < 10000 ? 100.0f : 0.0f));
    frame.channels = 1;
    const RECT plot = Paint();
    const COLORREF color = frame.looks[0].color;
    const LONG sweepEnd = plot.left + (plot.right - plot.left) / 4;
    EXPECT_NEAR(sweepEnd - plot.left, CountInRow(Row(0, plot), plot.left, plot.right, color), 2);
    const int previous = CountInRow(Row(100, plot), plot.left, plot.right, color);
    EXPECT_GT(previous, (plot.right - sweepEnd) * 9 / 10);
    EXPECT_LT(previous, plot.right - sweepEnd);
}

TEST_F(Painted, LeavesTheCallersDeviceContextAsItWas) {
    AddFlat({10, 20});
    frame.paused = true;
    frame.hasCursor = true;
    frame.cursor = {200, 100};
    HGDIOBJ pen = ::GetCurrentObject(dc_.get(), OBJ_PEN);
    HGDIOBJ font = ::GetCurrentObject(dc_.get(), OBJ_FONT);
    ::SetTextColor(dc_.get(), RGB(1, 2, 3));
    Paint();
    EXPECT_EQ(pen, ::GetCurrentObject(dc_.get(), OBJ_PEN));
    EXPECT_EQ(font, ::GetCurrentObject(dc_.get(), OBJ_FONT));
    EXPECT_EQ(RGB(1, 2, 3), ::GetTextColor(dc_.get()));
    EXPECT_EQ(OPAQUE, ::GetBkMode(dc_.get()));
    RECT clip{};
    EXPECT_EQ(SIMPLEREGION, ::GetClipBox(dc_.get(), &clip));
    EXPECT_EQ(kWidth, clip.right);
    EXPECT_EQ(kHeight, clip.bottom);
}

}  // namespace
