// The live chart's picture, without COM: the points a chart keeps (History), what one frame shows
// (Frame), the pure rules that place them (ranges, rows, the minimum and maximum of each pixel
// column), and Paint, which draws a frame into any device context with GDI. The chart control
// (control/vandrel_chart.h) keeps one History and one Frame and paints into a memory bitmap; the
// tests paint into a bitmap of their own and read its pixels; the benchmark times Paint.
//
// Plain data and functions: a History and a Frame belong to one thread, the chart's; Paint only
// reads them.
#pragma once

#include <windows.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "engine/measurement_rules.h"

namespace chart {

constexpr int kChannels = engine::kMeasuredChannels;
constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

// One cycle as the chart keeps it: its time in milliseconds (the cycle's FILETIME / 10,000), its
// values scaled, and each channel's alarm level after it. Channels the cycle did not read are NaN.
struct Point {
    double timeMs = 0;
    float values[kChannels] = {};
    int8_t levels[kChannels] = {};
};

// The newest points, oldest first, up to a capacity; the oldest go first. Grows its storage as
// points arrive, so that a long history costs memory only once it is filled.
class History {
public:
    explicit History(size_t capacity = 0) : capacity_(capacity) {}

    size_t Capacity() const noexcept { return capacity_; }
    // Keeps the newest capacity points. May allocate (std::bad_alloc).
    void SetCapacity(size_t capacity);
    // May allocate while the storage grows (std::bad_alloc).
    void Add(const Point& point);
    void Clear() noexcept;

    size_t Size() const noexcept { return size_; }
    // i from 0, the oldest.
    const Point& operator[](size_t i) const noexcept { return points_[(first_ + i) % points_.size()]; }
    // The index of the first point at or after timeMs (Size() for none); the times are taken as
    // not decreasing.
    size_t FirstAtOrAfter(double timeMs) const noexcept;

private:
    std::vector<Point> points_;
    size_t capacity_;
    size_t first_ = 0;
    size_t size_ = 0;
};

enum class Mode : int { kStrip = 0, kScope = 1 };

// How one channel is drawn and labelled.
struct ChannelLook {
    std::wstring name;  // empty: "Channel n"
    std::wstring unit;  // empty: raw counts, no unit shown
    COLORREF color = 0;
    bool visible = true;
    // The four limits of its rules, NaN for none: high-high, high, low, low-low.
    double limits[4] = {kNone, kNone, kNone, kNone};
};

// The default colour of each channel: distinct on the white plot and in print.
COLORREF DefaultColor(int channel) noexcept;

// What one frame shows.
struct Frame {
    Mode mode = Mode::kStrip;
    double windowMs = 10000;  // the visible time, > 0
    bool autoRange = true;    // else the fixed range below, yMin < yMax
    double yMin = 0;
    double yMax = 100;
    int channels = 0;  // the channels the source samples: 0 (nothing yet), 1, 4 or 8
    ChannelLook looks[kChannels];
    // The time at the right edge in strip mode, and the newest time in scope mode: the newest
    // point's time, or the time the chart was paused at.
    double endMs = 0;
    bool paused = false;
    bool hasSource = true;   // false: the plot says "No source"
    bool hasCursor = false;  // a cursor at cursor
    POINT cursor = {};       // from the top left corner of the painted rectangle (the control's client area)
    int dpi = 96;            // the device's pixels per inch: fonts and line widths follow it
};

// The parts of the control's rectangle: the plot, the axes' labels and the legend.
struct Layout {
    RECT plot = {};  // where the lines are drawn
    RECT legend =
        {};  // each shown channel's name, latest value and unit, in rows up to a third of the height
};
Layout LayOut(const RECT& bounds, const Frame& frame) noexcept;

// A value range of the Y axis, low < high.
struct Range {
    double low = 0;
    double high = 1;
};
// The fixed range, or for autoRange the visible points of the visible channels and their set
// limits widened to round steps (a flat line gets a range around it); 0..1 for nothing. The visible
// points are those of the last windowMs up to endMs in both modes (in scope mode the current sweep
// and the rest of the previous one). A fixed range that is not yMin < yMax counts as autoRange.
Range YRange(const History& history, const Frame& frame) noexcept;
// The pixel row of value in plot for range: top row for range.high, bottom row for range.low;
// values outside are clamped to one row beyond the plot, so that lines leave it at its edge (NaN
// below it).
int RowOf(double value, const Range& range, const RECT& plot) noexcept;
// The first time the plot shows: endMs - windowMs in strip mode, the start of the sweep that holds
// endMs in scope mode (sweeps start at whole multiples of windowMs).
double StartMs(const Frame& frame) noexcept;

// The smallest and largest value of one channel over the points that fall into one pixel column.
struct Column {
    float min = 0;
    float max = 0;
    bool any = false;  // whether a point fell into it
};
// For each of columns columns of msPerColumn from startMs: the extremes of channel's values there,
// so that a spike between two pixels still shows. Out of columns elements.
void Columns(const History& history, int channel, double startMs, double msPerColumn, Column* out,
             int columns) noexcept;

// Draws frame over bounds of dc: white plot, grid and labelled axes, every visible channel's line
// (a vertical stroke of each column's minimum to maximum, joined to the next column; in strip mode
// the point at endMs opens the rightmost column, in scope mode the previous sweep's rest follows
// the current one after a gap), the set limits as dashed lines in the channel's colour, the columns
// where a visible channel was in alarm shaded, the legend with each shown channel's newest value at or
// before endMs, "Paused" while paused, the cursor's time and values, and "No source" when there is
// none. Leaves dc's selected objects, colours and clipping as they were. Allocates per pixel column,
// never per point; without the memory it leaves the lines and the shading out.
void Paint(HDC dc, const RECT& bounds, const History& history, const Frame& frame) noexcept;

}  // namespace chart
