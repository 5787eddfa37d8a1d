#include <windows.h>

#include "chart/chart_view.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <new>

#include "base/unique_handle.h"

namespace chart {

// --- History -------------------------------------------------------------------------------------

void History::SetCapacity(size_t capacity) {
    if (capacity == capacity_) return;
    const size_t kept = std::min(size_, capacity);
    std::vector<Point> newest;
    newest.reserve(kept);
    for (size_t i = size_ - kept; i < size_; ++i) newest.push_back((*this)[i]);
    // All that may throw is done: the history changes only from here on.
    points_.swap(newest);
    capacity_ = capacity;
    first_ = 0;
    size_ = kept;
}

void History::Add(const Point& point) {
    if (capacity_ == 0) return;
    if (size_ < capacity_) {
        // Not wrapped yet: the points lie in order from index 0. Grows by doubling but never past the
        // capacity, so that a full history holds exactly its capacity.
        if (points_.size() == points_.capacity()) {
            points_.reserve(std::min(capacity_, std::max<size_t>(256, points_.size() * 2)));
        }
        points_.push_back(point);
        ++size_;
        return;
    }
    points_[first_] = point;
    first_ = (first_ + 1) % points_.size();
}

void History::Clear() noexcept {
    points_.clear();
    first_ = 0;
    size_ = 0;
}

size_t History::FirstAtOrAfter(double timeMs) const noexcept {
    size_t low = 0;
    size_t high = size_;
    while (low < high) {
        const size_t mid = low + (high - low) / 2;
        if ((*this)[mid].timeMs < timeMs) {
            low = mid + 1;
        } else {
            high = mid;
        }
    }
    return low;
}

// --- The rules that place the points -------------------------------------------------------------

COLORREF DefaultColor(int channel) noexcept {
    // Dark and saturated enough for white paper, apart in hue from their neighbours.
    static constexpr COLORREF kColors[kChannels] = {
        RGB(0, 90, 200),  RGB(210, 40, 30), RGB(0, 140, 60),  RGB(150, 60, 180),
        RGB(230, 120, 0), RGB(0, 150, 160), RGB(120, 80, 40), RGB(200, 0, 120),
    };
    return kColors[static_cast<unsigned>(channel) % kChannels];
}

namespace {

// Sizes in pixels at the frame's DPI; a DPI the device cannot have counts as 96.
struct Metrics {
    int dpi;
    int font;    // the labels' character height
    int line;    // a line of labels
    int margin;  // around the picture
    int pen;     // lines and strokes
    int Scaled(int pixelsAt96) const noexcept { return ::MulDiv(pixelsAt96, dpi, 96); }
};

Metrics MetricsOf(const Frame& frame) noexcept {
    Metrics m{};
    m.dpi = frame.dpi >= 48 && frame.dpi <= 960 ? frame.dpi : 96;
    m.font = ::MulDiv(9, m.dpi, 72);  // 9 points
    m.line = m.font + m.Scaled(5);
    m.margin = m.Scaled(4);
    m.pen = std::max(1, m.dpi / 96);
    return m;
}

// A step of 1, 2 or 5 times a power of ten that cuts span into about intervals parts; 0 where span
// is no positive finite number.
double RoundStep(double span, double intervals) noexcept {
    const double raw = span / std::max(1.0, intervals);
    if (!(raw > 0) || !std::isfinite(raw)) return 0;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double fraction = raw / magnitude;
    return (fraction <= 1 ? 1 : fraction <= 2 ? 2 : fraction <= 5 ? 5 : 10) * magnitude;
}

int PlotWidth(const RECT& plot) noexcept { return std::max(0, static_cast<int>(plot.right - plot.left)); }
int PlotHeight(const RECT& plot) noexcept { return std::max(0, static_cast<int>(plot.bottom - plot.top)); }

// The points of the last windowMs up to endMs: in scope mode the current sweep and the rest of the
// previous one, which is what the plot shows in both modes.
size_t FirstShown(const History& history, const Frame& frame) noexcept {
    return history.FirstAtOrAfter(frame.endMs - frame.windowMs);
}

// The width of a legend entry at 96 DPI.
constexpr int kLegendCell = 180;

bool Shown(const Frame& frame, int channel) noexcept {
    return channel < frame.channels && frame.looks[channel].visible;
}

}  // namespace

Layout LayOut(const RECT& bounds, const Frame& frame) noexcept {
    const Metrics m = MetricsOf(frame);
    // In 64 bits a host's bounds may span more than a LONG holds.
    const LONGLONG width = std::max<LONGLONG>(0, LONGLONG{bounds.right} - bounds.left);
    const LONGLONG height = std::max<LONGLONG>(0, LONGLONG{bounds.bottom} - bounds.top);
    // The legend lists the channels shown, each in a cell wide enough for a name, a value and a unit.
    int channels = 0;
    for (int c = 0; c < kChannels; ++c) channels += Shown(frame, c) ? 1 : 0;
    const LONGLONG perRow = std::max<LONGLONG>(1, (width - 2 * m.margin) / m.Scaled(kLegendCell));
    // The legend takes at most a third of the height; the channels beyond its rows go unlisted.
    const auto legendRows =
        static_cast<LONG>(std::min<LONGLONG>((channels + perRow - 1) / perRow, height / 3 / m.line));

    Layout layout;
    layout.legend = {bounds.left + m.margin, bounds.bottom - m.margin - legendRows * m.line,
                     bounds.right - m.margin, bounds.bottom - m.margin};
    RECT& plot = layout.plot;
    plot.left = bounds.left + m.margin + m.Scaled(46);    // the Y axis' labels
    plot.right = bounds.right - m.margin - m.Scaled(14);  // half of the "0 s" label at the right edge
    plot.top = bounds.top + m.margin + m.line / 2;        // half of the top label
    plot.bottom = layout.legend.top - m.line - m.margin;  // the X axis' labels
    plot.right = std::max(plot.right, plot.left);
    plot.bottom = std::max(plot.bottom, plot.top);
    return layout;
}

Range YRange(const History& history, const Frame& frame) noexcept {
    // A fixed range no row can be placed in is taken as no fixed range at all.
    if (!frame.autoRange && frame.yMin < frame.yMax && std::isfinite(frame.yMax - frame.yMin)) {
        return {frame.yMin, frame.yMax};
    }
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    const auto take = [&](double value) {
        if (!std::isfinite(value)) return;
        low = std::min(low, value);
        high = std::max(high, value);
    };
    for (int c = 0; c < kChannels; ++c) {
        if (!Shown(frame, c)) continue;
        for (const double limit : frame.looks[c].limits) take(limit);
    }
    for (size_t i = FirstShown(history, frame); i < history.Size() && history[i].timeMs <= frame.endMs; ++i) {
        for (int c = 0; c < kChannels; ++c) {
            if (Shown(frame, c)) take(history[i].values[c]);
        }
    }
    if (low > high) return {0, 1};
    // A flat line (or one whose changes are lost in its size) gets a tenth of its value either side.
    if (high - low <= 1e-9 * std::max({1.0, std::fabs(low), std::fabs(high)})) {
        const double pad = low != 0 ? std::fabs(low) / 10 : 1;
        low -= pad;
        high += pad;
    }
    const double step = RoundStep(high - low, 5);
    if (step == 0) return {low, high};  // beyond what a double can step through
    return {std::floor(low / step) * step, std::ceil(high / step) * step};
}

int RowOf(double value, const Range& range, const RECT& plot) noexcept {
    const LONG top = plot.top;
    const LONG bottom = plot.bottom - 1;
    if (bottom < top || !(range.low < range.high)) return top;
    if (!(value <= range.high)) return value > range.high ? top - 1 : bottom + 1;  // above, or NaN
    if (value < range.low) return bottom + 1;
    const double fraction = (range.high - value) / (range.high - range.low);
    return top + static_cast<int>(std::lround(fraction * (bottom - top)));
}

double StartMs(const Frame& frame) noexcept {
    if (!(frame.windowMs > 0)) return frame.endMs;
    if (frame.mode == Mode::kScope) return std::floor(frame.endMs / frame.windowMs) * frame.windowMs;
    return frame.endMs - frame.windowMs;
}

void Columns(const History& history, int channel, double startMs, double msPerColumn, Column* out,
             int columns) noexcept {
    if (!out || columns <= 0) return;
    std::fill(out, out + columns, Column{});
    if (channel < 0 || channel >= kChannels || !(msPerColumn > 0)) return;
    for (size_t i = history.FirstAtOrAfter(startMs); i < history.Size(); ++i) {
        const Point& point = history[i];
        const double column = (point.timeMs - startMs) / msPerColumn;
        if (!(column < columns)) break;
        const float value = point.values[channel];
        if (std::isnan(value)) continue;
        Column& into = out[static_cast<int>(column)];
        if (!into.any) {
            into = {value, value, true};
        } else {
            into.min = std::min(into.min, value);
            into.max = std::max(into.max, value);
        }
    }
}

// --- Paint ---------------------------------------------------------------------------------------

namespace {

constexpr COLORREF kPlotBack = RGB(255, 255, 255);
constexpr COLORREF kGrid = RGB(228, 228, 228);
constexpr COLORREF kBorder = RGB(128, 128, 128);
constexpr COLORREF kAlarmTint = RGB(255, 226, 226);
constexpr COLORREF kCursor = RGB(64, 64, 64);
constexpr COLORREF kNote = RGB(255, 250, 215);
// Nothing a screen shows is wider or taller; beyond it GDI's coordinates run out.
constexpr LONG kMaxExtent = 32767;

// Restores everything Paint selects and sets in the caller's DC (objects, colours, alignment,
// clipping) when it goes out of scope. Declared after the objects it selects, so that they are
// deselected before their owners delete them.
class SavedDc {
public:
    explicit SavedDc(HDC dc) noexcept : dc_(dc), saved_(::SaveDC(dc)) {}
    ~SavedDc() {
        if (saved_ != 0) ::RestoreDC(dc_, saved_);
    }
    SavedDc(const SavedDc&) = delete;
    SavedDc& operator=(const SavedDc&) = delete;
    explicit operator bool() const noexcept { return saved_ != 0; }

private:
    HDC dc_;
    int saved_;
};

// A short line of text built without allocating: labels are cut off rather than left out.
class Text {
public:
    Text& Add(const wchar_t* text, size_t length) noexcept {
        const size_t n = std::min(length, kCapacity - length_);
        std::wmemcpy(chars_ + length_, text, n);
        length_ += n;
        chars_[length_] = L'\0';
        return *this;
    }
    Text& Add(const wchar_t* text) noexcept { return Add(text, std::wcslen(text)); }
    Text& Add(const std::wstring& text) noexcept { return Add(text.data(), text.size()); }
    // value with decimals after the point, or in %g form with 6 digits for decimals < 0; "--" for
    // no value.
    Text& AddNumber(double value, int decimals) noexcept {
        if (!std::isfinite(value)) return Add(L"--");
        // No "-0" nor "-0.00" for what rounds to 0.
        if (value == 0 || (decimals >= 0 && std::fabs(value) < 0.5 * std::pow(10.0, -decimals))) value = 0;
        wchar_t number[48];
        const int n = decimals < 0 ? std::swprintf(number, std::size(number), L"%.6g", value)
                                   : std::swprintf(number, std::size(number), L"%.*f", decimals, value);
        // A number too long for the buffer is cut off at its end, whatever the C library answers.
        return n > 0 ? Add(number, std::min(static_cast<size_t>(n), std::size(number) - 1)) : *this;
    }
    const wchar_t* get() const noexcept { return chars_; }
    int length() const noexcept { return static_cast<int>(length_); }

private:
    static constexpr size_t kCapacity = 159;
    wchar_t chars_[kCapacity + 1] = {};
    size_t length_ = 0;
};

// Decimals that show a step of labels apart: 0 for 1 and more, 1 for 0.5, 2 for 0.05, ...
int DecimalsFor(double step) noexcept {
    if (!(step > 0) || step >= 1) return 0;
    return std::min(9, static_cast<int>(std::ceil(-std::log10(step) - 1e-9)));
}

void Fill(HDC dc, const RECT& rect, COLORREF color) noexcept {
    ::SetBkColor(dc, color);
    ::ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
}

// Selects object into dc for a scope and puts back what was there.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ object) noexcept
        : dc_(dc), old_(object ? ::SelectObject(dc, object) : nullptr) {}
    ~Selection() {
        if (old_) ::SelectObject(dc_, old_);
    }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;

private:
    HDC dc_;
    HGDIOBJ old_;
};

// Where each column of the plot takes its points from. In strip mode one run of columns ends at
// endMs, the newest point in the rightmost column. In scope mode the current sweep runs from the
// left edge to endMs, and the rest of the previous sweep follows a gap.
struct TimeAxis {
    int width = 0;  // of the plot
    double msPerColumn = 1;
    double startMs = 0;     // the time of column 0 of the current run
    int currentEnd = 0;     // columns [0, currentEnd) show the current run
    int previousBegin = 0;  // columns [previousBegin, width) show the previous sweep at startMs - window
    double windowMs = 1;

    // The time a column stands for: its start, so that the rightmost in strip mode is endMs.
    double TimeOf(int column) const noexcept {
        const double into = column * msPerColumn;
        return column >= previousBegin ? startMs - windowMs + into : startMs + into;
    }
};

TimeAxis TimeAxisOf(const Frame& frame, const RECT& plot, const Metrics& m) noexcept {
    TimeAxis axis;
    axis.width = PlotWidth(plot);
    axis.windowMs = frame.windowMs > 0 ? frame.windowMs : 1;
    axis.msPerColumn = axis.windowMs / std::max(1, axis.width);
    if (frame.mode == Mode::kScope) {
        axis.startMs = std::floor(frame.endMs / axis.windowMs) * axis.windowMs;
        const double endColumn = (frame.endMs - axis.startMs) / axis.msPerColumn;
        axis.currentEnd = static_cast<int>(std::clamp(endColumn + 1, 0.0, static_cast<double>(axis.width)));
        axis.previousBegin = std::min(axis.width, axis.currentEnd + std::max(2, m.Scaled(8)));
    } else {
        // Columns are [start, start + msPerColumn): the newest point, at endMs, opens the last one.
        axis.startMs = frame.endMs - axis.windowMs + axis.msPerColumn;
        axis.currentEnd = axis.width;
        axis.previousBegin = axis.width;
    }
    return axis;
}

// The index of the point nearest timeMs, or history.Size() for none.
size_t Nearest(const History& history, double timeMs) noexcept {
    const size_t after = history.FirstAtOrAfter(timeMs);
    if (after == 0) return 0;
    if (after == history.Size()) return after - 1;
    return timeMs - history[after - 1].timeMs <= history[after].timeMs - timeMs ? after - 1 : after;
}

// Everything one Paint draws with; the objects it creates live exactly as long as it.
class Painter {
public:
    Painter(HDC dc, const RECT& bounds, const History& history, const Frame& frame) noexcept
        : dc_(dc),
          bounds_(bounds),
          history_(history),
          frame_(frame),
          m_(MetricsOf(frame)),
          layout_(LayOut(bounds, frame)),
          plot_(layout_.plot),
          range_(YRange(history, frame)),
          axis_(TimeAxisOf(frame, plot_, m_)),
          font_(::CreateFontW(-m_.font, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                              OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                              VARIABLE_PITCH | FF_SWISS, L"Segoe UI")) {}

    void Draw() noexcept {
        const SavedDc saved(dc_);
        if (!saved) return;
        const Selection font(dc_, font_.get());
        ::IntersectClipRect(dc_, bounds_.left, bounds_.top, bounds_.right, bounds_.bottom);
        ::SetBkMode(dc_, TRANSPARENT);
        ::SetTextAlign(dc_, TA_LEFT | TA_TOP | TA_NOUPDATECP);
        TEXTMETRICW metrics{};
        textHeight_ = ::GetTextMetricsW(dc_, &metrics) ? metrics.tmHeight : m_.font;

        Fill(dc_, bounds_, ::GetSysColor(COLOR_BTNFACE));
        Fill(dc_, plot_, kPlotBack);
        const bool drawLines = frame_.hasSource && axis_.width > 0 && PlotHeight(plot_) > 0;
        {
            const SavedDc clipped(dc_);
            ::IntersectClipRect(dc_, plot_.left, plot_.top, plot_.right, plot_.bottom);
            if (drawLines) DrawingLess([&] { AlarmShading(); });
            Grid();
            if (drawLines) {
                Limits();
                DrawingLess([&] { Lines(); });
            }
        }
        Border();
        Legend();
        // A plot too small for a line of text gets none, which would only cover one another.
        if (PlotHeight(plot_) >= textHeight_ && axis_.width > 0) {
            AxisLabels();
            if (!frame_.hasSource) Centred(L"No source");
            if (frame_.paused) PausedMarker();
        }
        if (drawLines && frame_.hasCursor) Cursor();
    }

private:
    // What needs memory per column is left out when there is none.
    template <typename Part>
    static void DrawingLess(Part part) noexcept {
        try {
            part();
        } catch (const std::bad_alloc&) {}
    }

    // RowOf's row, where it is beyond the plot moved out by the lines' width, so that no part of a
    // wide line out of range shows inside.
    int Row(double value) const noexcept {
        const int row = RowOf(value, range_, plot_);
        if (row < plot_.top) return row - m_.pen;
        if (row >= plot_.bottom) return row + m_.pen;
        return row;
    }
    int X(int column) const noexcept { return plot_.left + column; }
    // Where a line's width starts from the row or column it is drawn at.
    int LineOffset() const noexcept { return -(m_.pen - 1) / 2; }

    void TextAt(int x, int y, UINT align, const Text& text, COLORREF color) noexcept {
        ::SetTextAlign(dc_, align | TA_TOP | TA_NOUPDATECP);
        ::SetTextColor(dc_, color);
        ::ExtTextOutW(dc_, x, y, 0, nullptr, text.get(), static_cast<UINT>(text.length()), nullptr);
    }

    int TextWidth(const Text& text) const noexcept {
        SIZE size{};
        return ::GetTextExtentPoint32W(dc_, text.get(), text.length(), &size) ? size.cx : 0;
    }

    void AlarmShading() {
        std::vector<char> alarm(static_cast<size_t>(axis_.width), 0);
        const auto mark = [&](double startMs, int from, int to) {
            for (size_t i = history_.FirstAtOrAfter(startMs + from * axis_.msPerColumn); i < history_.Size();
                 ++i) {
                const Point& point = history_[i];
                const double column = (point.timeMs - startMs) / axis_.msPerColumn;
                if (!(column < to)) break;
                for (int c = 0; c < kChannels; ++c) {
                    if (Shown(frame_, c) && point.levels[c] != 0) alarm[static_cast<size_t>(column)] = 1;
                }
            }
        };
        mark(axis_.startMs, 0, axis_.currentEnd);
        mark(axis_.startMs - axis_.windowMs, axis_.previousBegin, axis_.width);
        for (int x = 0; x < axis_.width;) {
            if (!alarm[static_cast<size_t>(x)]) {
                ++x;
                continue;
            }
            const int from = x;
            while (x < axis_.width && alarm[static_cast<size_t>(x)]) ++x;
            Fill(dc_, {X(from), plot_.top, X(x), plot_.bottom}, kAlarmTint);
        }
    }

    // The Y axis' ticks: a round step that leaves a few lines between labels.
    double YStep() const noexcept {
        return RoundStep(range_.high - range_.low, static_cast<double>(PlotHeight(plot_)) / (m_.line * 2.5));
    }

    template <typename Tick>
    void ForEachYTick(Tick tick) const noexcept {
        const double step = YStep();
        if (step == 0) return;
        const double first = std::ceil(range_.low / step - 1e-9) * step;
        for (int i = 0; i <= 100; ++i) {  // bounded also where a step is lost in the values' size
            const double value = first + i * step;
            if (value > range_.high + step * 1e-9) break;
            tick(value, step);
        }
    }

    // The X axis' ticks: strip mode counts back from the right edge, scope mode on from the sweep's
    // start. tick gets the column and the seconds of its label.
    template <typename Tick>
    void ForEachXTick(Tick tick) const noexcept {
        const double stepMs =
            RoundStep(axis_.windowMs, static_cast<double>(axis_.width) / std::max(1, m_.Scaled(80)));
        if (stepMs == 0) return;
        for (int i = 0; i <= 100; ++i) {
            const double ms = i * stepMs;
            if (ms > axis_.windowMs * (1 + 1e-9)) break;
            const double columns = ms / axis_.msPerColumn;
            if (frame_.mode == Mode::kScope) {
                tick(static_cast<int>(std::lround(columns)), ms / 1000, stepMs / 1000);
            } else {
                tick(axis_.width - 1 - static_cast<int>(std::lround(columns)), -ms / 1000, stepMs / 1000);
            }
        }
    }

    void Grid() noexcept {
        ForEachYTick([&](double value, double) {
            const int row = Row(value);
            Fill(dc_, {plot_.left, row, plot_.right, row + 1}, kGrid);
        });
        ForEachXTick([&](int column, double, double) {
            Fill(dc_, {X(column), plot_.top, X(column) + 1, plot_.bottom}, kGrid);
        });
    }

    void Limits() noexcept {
        const int dash = m_.Scaled(6);
        const int gap = m_.Scaled(4);
        for (int c = 0; c < kChannels; ++c) {
            if (!Shown(frame_, c)) continue;
            for (const double limit : frame_.looks[c].limits) {
                if (!std::isfinite(limit)) continue;
                const int top = Row(limit) + LineOffset();
                for (LONG x = plot_.left; x < plot_.right; x += dash + gap) {
                    Fill(dc_, {x, top, std::min(x + dash, plot_.right), top + m_.pen}, frame_.looks[c].color);
                }
            }
        }
    }

    // Each column a stroke from its minimum to its maximum, joined to the next column that has
    // points, so that a spike between two pixels shows and a slow channel is a line between samples.
    void Lines() {
        std::vector<Column> current(static_cast<size_t>(axis_.width));
        std::vector<Column> previous(axis_.previousBegin < axis_.width ? current.size() : 0);
        std::vector<POINT> points;
        points.reserve(2 * current.size() + 1);
        for (int c = 0; c < kChannels; ++c) {
            if (!Shown(frame_, c)) continue;
            base::UniqueGdiObject pen(::CreatePen(PS_SOLID, 1, frame_.looks[c].color));
            const Selection selected(dc_, pen.get());
            Columns(history_, c, axis_.startMs, axis_.msPerColumn, current.data(), axis_.currentEnd);
            points.clear();
            LeadIn(c, points);
            Stroke(current.data(), 0, axis_.currentEnd, points);
            if (!previous.empty()) {
                Columns(history_, c, axis_.startMs - axis_.windowMs, axis_.msPerColumn, previous.data(),
                        axis_.width);
                points.clear();
                Stroke(previous.data(), axis_.previousBegin, axis_.width, points);
            }
        }
    }

    // The point before the plot's first time, left of the plot, so that a slow channel's line runs in
    // from the left edge rather than starting at its first sample in the window.
    void LeadIn(int channel, std::vector<POINT>& points) const noexcept {
        const size_t first = history_.FirstAtOrAfter(axis_.startMs);
        if (first == 0 || first == history_.Size()) return;
        const Point& before = history_[first - 1];
        if (std::isnan(before.values[channel])) return;
        // Far back, the point's own column would leave GDI's coordinates: one further left keeps
        // the slope near enough.
        const double column =
            std::max((before.timeMs - axis_.startMs) / axis_.msPerColumn, -4.0 * axis_.width);
        points.push_back({X(static_cast<int>(std::floor(column))), Row(before.values[channel])});
    }

    // Adds each column's stroke to the points that lead in, and draws them.
    void Stroke(const Column* columns, int from, int to, std::vector<POINT>& points) noexcept {
        const bool ledIn = !points.empty();
        for (int x = from; x < to; ++x) {
            const Column& column = columns[x];
            if (!column.any) continue;
            const int low = Row(column.min);
            const int high = Row(column.max);
            // Enter the stroke at the end nearer to where the line comes from.
            const bool downward =
                points.empty() || std::abs(points.back().y - high) <= std::abs(points.back().y - low);
            points.push_back({X(x), downward ? high : low});
            points.push_back({X(x), downward ? low : high});
        }
        if (points.size() == (ledIn ? 1u : 0u)) return;
        // A polyline leaves out its last pixel.
        points.push_back({points.back().x + 1, points.back().y});
        // A line wider than a pixel is the thin one drawn again, moved across and down by each offset
        // up to the pen's width (a cross, which thickens lines of every slope): Wine outlines a wide
        // pen's polyline as one region, over a second for 1600 columns, and even cut into short
        // polylines a wide pen costs ten thin ones.
        for (int offset = LineOffset(); offset < LineOffset() + m_.pen; ++offset) {
            DrawMoved(points, offset, 0);
            if (offset != 0) DrawMoved(points, 0, offset);
        }
    }

    void DrawMoved(const std::vector<POINT>& points, int dx, int dy) noexcept {
        POINT origin{};
        ::OffsetViewportOrgEx(dc_, dx, dy, &origin);
        ::Polyline(dc_, points.data(), static_cast<int>(points.size()));
        ::SetViewportOrgEx(dc_, origin.x, origin.y, nullptr);
    }

    void Border() noexcept {
        const RECT& p = plot_;
        Fill(dc_, {p.left - 1, p.top - 1, p.right + 1, p.top}, kBorder);
        Fill(dc_, {p.left - 1, p.bottom, p.right + 1, p.bottom + 1}, kBorder);
        Fill(dc_, {p.left - 1, p.top, p.left, p.bottom}, kBorder);
        Fill(dc_, {p.right, p.top, p.right + 1, p.bottom}, kBorder);
    }

    void AxisLabels() noexcept {
        const COLORREF color = ::GetSysColor(COLOR_BTNTEXT);
        ForEachYTick([&](double value, double step) {
            Text label;
            label.AddNumber(value, std::fabs(value) >= 1e7 ? -1 : DecimalsFor(step));
            TextAt(plot_.left - m_.Scaled(4), Row(value) - textHeight_ / 2, TA_RIGHT, label, color);
        });
        ForEachXTick([&](int column, double seconds, double step) {
            Text label;
            label.AddNumber(seconds, DecimalsFor(step)).Add(L" s");
            TextAt(X(column), plot_.bottom + m_.Scaled(3), TA_CENTER, label, color);
        });
    }

    // The newest value at or before endMs, NaN for none.
    double Latest(int channel) const noexcept {
        const size_t after = history_.FirstAtOrAfter(std::nextafter(frame_.endMs, HUGE_VAL));
        return after == 0 ? kNone : history_[after - 1].values[channel];
    }

    // name: value unit, with "Channel n" for no name and no unit for raw counts.
    void AddChannelText(Text& text, int channel, double value) const noexcept {
        const ChannelLook& look = frame_.looks[channel];
        if (look.name.empty()) {
            text.Add(L"Channel ").AddNumber(channel + 1, 0);
        } else {
            text.Add(look.name);
        }
        text.Add(L": ").AddNumber(value, -1);
        if (!look.unit.empty() && std::isfinite(value)) text.Add(L" ").Add(look.unit);
    }

    void Legend() noexcept {
        const RECT& area = layout_.legend;
        const LONG perRow = std::max<LONG>(1, (area.right - area.left) / m_.Scaled(kLegendCell));
        const LONG cell = (area.right - area.left) / perRow;
        const int swatch = m_.Scaled(14);
        int listed = 0;
        for (int c = 0; c < kChannels; ++c) {
            if (!Shown(frame_, c)) continue;
            const ChannelLook& look = frame_.looks[c];
            const LONG left = area.left + listed % perRow * cell;
            const LONG top = area.top + listed / perRow * m_.line;
            ++listed;
            if (top + m_.line > area.bottom) break;
            const LONG middle = top + m_.line / 2;
            Fill(dc_, {left, middle - m_.pen, left + swatch, middle + m_.pen}, look.color);
            Text text;
            AddChannelText(text, c, Latest(c));
            const RECT clip{left + swatch + m_.Scaled(4), top, left + cell - m_.Scaled(4), top + m_.line};
            ::SetTextAlign(dc_, TA_LEFT | TA_TOP | TA_NOUPDATECP);
            ::SetTextColor(dc_, ::GetSysColor(COLOR_BTNTEXT));
            ::ExtTextOutW(dc_, clip.left, middle - textHeight_ / 2, ETO_CLIPPED, &clip, text.get(),
                          static_cast<UINT>(text.length()), nullptr);
        }
    }

    void Centred(const wchar_t* message) noexcept {
        Text text;
        text.Add(message);
        TextAt((plot_.left + plot_.right) / 2, (plot_.top + plot_.bottom - textHeight_) / 2, TA_CENTER, text,
               kBorder);
    }

    void PausedMarker() noexcept {
        Text text;
        text.Add(L"Paused");
        const int pad = m_.Scaled(4);
        const RECT box{plot_.right - TextWidth(text) - 3 * pad, plot_.top + pad, plot_.right - pad,
                       plot_.top + pad + textHeight_ + pad};
        Fill(dc_, box, kNote);
        TextAt(box.left + pad, box.top + pad / 2, TA_LEFT, text, RGB(160, 80, 0));
    }

    // A line at the cursor's column and a box with the time there and each visible channel's value
    // at the point nearest it.
    void Cursor() noexcept {
        const LONG x = bounds_.left + frame_.cursor.x;
        const LONG y = bounds_.top + frame_.cursor.y;
        if (x < plot_.left || x >= plot_.right || y < plot_.top || y >= plot_.bottom) return;
        const int column = x - plot_.left;
        Fill(dc_, {x, plot_.top, x + m_.pen, plot_.bottom}, kCursor);

        const double timeMs = axis_.TimeOf(column);
        Text lines[1 + kChannels];
        COLORREF colors[1 + kChannels] = {::GetSysColor(COLOR_WINDOWTEXT)};
        const double seconds =
            frame_.mode == Mode::kScope ? column * axis_.msPerColumn / 1000 : (timeMs - frame_.endMs) / 1000;
        lines[0].AddNumber(seconds, std::clamp(DecimalsFor(axis_.msPerColumn / 1000), 1, 3)).Add(L" s");
        int count = 1;
        const size_t nearest = Nearest(history_, timeMs);
        for (int c = 0; c < kChannels; ++c) {
            if (!Shown(frame_, c)) continue;
            AddChannelText(lines[count], c, nearest < history_.Size() ? history_[nearest].values[c] : kNone);
            colors[count++] = frame_.looks[c].color;
        }
        int width = 0;
        for (int i = 0; i < count; ++i) width = std::max(width, TextWidth(lines[i]));
        const int pad = m_.Scaled(4);
        const int offset = m_.Scaled(8);
        RECT box{x + offset, plot_.top + pad, x + offset + width + 2 * pad,
                 plot_.top + pad + count * m_.line + pad};
        if (box.right > plot_.right && x - offset - (box.right - box.left) >= plot_.left) {
            box = {x - offset - (box.right - box.left), box.top, x - offset, box.bottom};
        }
        Fill(dc_, {box.left - 1, box.top - 1, box.right + 1, box.bottom + 1}, kBorder);
        Fill(dc_, box, kNote);
        for (int i = 0; i < count; ++i) {
            TextAt(box.left + pad, box.top + pad + i * m_.line + (m_.line - textHeight_) / 2, TA_LEFT,
                   lines[i], colors[i]);
        }
    }

    HDC dc_;
    RECT bounds_;
    const History& history_;
    const Frame& frame_;
    Metrics m_;
    Layout layout_;
    RECT plot_;
    Range range_;
    TimeAxis axis_;
    base::UniqueGdiObject font_;
    int textHeight_ = 0;
};

}  // namespace

void Paint(HDC dc, const RECT& bounds, const History& history, const Frame& frame) noexcept {
    if (!dc) return;
    RECT area = bounds;
    area.right = static_cast<LONG>(std::min<LONGLONG>(area.right, LONGLONG{area.left} + kMaxExtent));
    area.bottom = static_cast<LONG>(std::min<LONGLONG>(area.bottom, LONGLONG{area.top} + kMaxExtent));
    if (area.right <= area.left || area.bottom <= area.top) return;
    Painter(dc, area, history, frame).Draw();
}

}  // namespace chart
