// Chart figures: what one frame of the live chart costs to paint into a memory bitmap, as the chart
// control paints it at every refresh: 8 channels over 10,000 points (10 s at 1,000 cycles a second),
// with limits, an alarm period and the cursor. The goal is under 5 ms a frame at 800 x 400.
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "base/unique_handle.h"
#include "bench/bench.h"
#include "chart/chart_view.h"

namespace {

constexpr int kPoints = 10'000;

chart::History Waves() {
    chart::History history(kPoints);
    for (int i = 0; i < kPoints; ++i) {
        chart::Point point;
        point.timeMs = 1e12 + i;
        for (int c = 0; c < chart::kChannels; ++c) {
            point.values[c] =
                static_cast<float>(100 * std::sin(i / (50.0 + 13 * c)) + (i % 97 == 0 ? 40 : 0));
            point.levels[c] = static_cast<int8_t>(c == 2 && i % 3000 < 500 ? 1 : 0);
        }
        history.Add(point);
    }
    return history;
}

// Frames painted into a width x height 32-bit DIB section: the median in ms, and the fastest in the
// note, which says more on a machine that others share.
bench::Row Frames(const std::string& what, const chart::History& history, const chart::Frame& frame,
                  int width, int height, const char* goal) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    base::UniqueMemoryDc dc(::CreateCompatibleDC(nullptr));
    void* bits = nullptr;
    base::UniqueGdiObject bitmap(::CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!dc || !bitmap) return {what, 0, "ms", "no bitmap"};
    HGDIOBJ old = ::SelectObject(dc.get(), bitmap.get());
    const RECT bounds{0, 0, width, height};
    std::vector<double> samples;
    for (int i = 0; i < 60; ++i) {
        const double t0 = bench::NowNs();
        chart::Paint(dc.get(), bounds, history, frame);
        ::GdiFlush();
        samples.push_back((bench::NowNs() - t0) / 1e6);
    }
    ::SelectObject(dc.get(), old);
    const double median = bench::Median(samples);  // sorts them
    char note[80];
    std::snprintf(note, sizeof note, "median of 60 frames, fastest %.1f%s", samples.front(), goal);
    return {what, median, "ms", note};
}

}  // namespace

BENCH_GROUP(ChartFrame) {
    const chart::History history = Waves();
    chart::Frame frame;
    frame.channels = chart::kChannels;
    for (int c = 0; c < chart::kChannels; ++c) {
        frame.looks[c].color = chart::DefaultColor(c);
        frame.looks[c].limits[1] = 90;
        frame.looks[c].limits[2] = -90;
    }
    frame.endMs = history[history.Size() - 1].timeMs;
    frame.hasCursor = true;
    frame.cursor = {300, 100};
    for (const chart::Mode mode : {chart::Mode::kStrip, chart::Mode::kScope}) {
        frame.mode = mode;
        const char* name = mode == chart::Mode::kStrip ? "strip" : "scope";
        frame.dpi = 96;
        rows.push_back(Frames(std::string("Chart frame, 8 channels x 10,000 points, 800 x 400, ") + name,
                              history, frame, 800, 400, ", goal under 5"));
        frame.dpi = 192;
        rows.push_back(Frames(std::string("Chart frame, 8 x 10,000, 1600 x 800 at 192 DPI, ") + name, history,
                              frame, 1600, 800, ""));
    }
}
