// CVandrelChart: the live chart, a second control of the module, visible at run time. Bound to a
// Vandrel control through Source, it watches every cycle of that control through a queue of its
// own (control/cycle_source.h), so it never takes cycles from the host's reads, and one that falls
// behind drops from its own view only (DroppedCycles). It keeps the newest cycles as points
// (chart/chart_view.h) and draws them, scaled, named and judged by the source's channel settings,
// as a strip chart or a scope.
//
// Frames: a timer of the chart's window takes what the queue holds at most 30 times a second and
// asks for a repaint only when something changed and the window can be seen (not hidden, not in a
// minimized window); the picture is painted into a bitmap of the window's size and copied whole, so
// nothing flickers. Pause (the Paused property, a click or the space bar) freezes the picture while
// the points keep coming; the cursor under the mouse reads out the time and values there. The
// picture can be saved as a PNG file or copied to the clipboard; without a window (a host that
// never shows the chart) it is the size the container gave the control.
//
// It saves its settings with the document (Mode, TimeWindow, HistoryTime, the range, the channels'
// colours and visibility); Source is not saved, as a container hands objects over at run time.
//
// The chart holds a reference to its source until Source is set to another or to Nothing, or the
// chart goes; it lives, as the source does, in the single-threaded apartment of the host thread that
// created it, where every member, the window procedure and the timer run.
#pragma once

#include <deque>
#include <memory>

#include "activex/control.h"
#include "base/com_ptr.h"
#include "base/picture_file.h"
#include "base/unique_handle.h"
#include "chart/chart_view.h"
#include "control/cycle_source.h"
#include "engine/cycle_queue.h"

class CVandrelChart final : public activex::Control<CVandrelChart> {
public:
    [[nodiscard]] static HRESULT CreateInstance(REFIID riid, void** ppv) noexcept;

    // The members of _DVandrelChart by DISPID.
    static const activex::DispatchEntry<CVandrelChart> kDispatchMap[14];
    // The member of _DVandrelChartEvents.
    static constexpr DISPID kPausedChanged = 1;

    static const ULONG kVersion = 0x00010000;
    // The cycles a chart may fall behind by before it drops some: a quarter of a minute at 1,000
    // cycles a second, for a host that does not pump messages for a while.
    static constexpr size_t kQueueCycles = 16384;
    // The frame timer: at most 30 frames a second.
    static constexpr UINT kFrameMs = 33;
    // The longest TimeWindow and HistoryTime, in seconds; the history keeps up to 1,000 points a
    // second of it.
    static constexpr double kMaxSeconds = 600;
    static constexpr double kPointsPerSecond = 1000;

    CVandrelChart() noexcept;
    ~CVandrelChart() override;

protected:
    [[nodiscard]] HRESULT ExchangeProperties(activex::PropExchange& px) noexcept override;
    void Draw(HDC dc, const RECT& bounds, const RECT& invalid) noexcept override;
    bool WindowMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) noexcept override;
    void FinalRelease() noexcept override;

private:
    // The members, in the order of the table.
    [[nodiscard]] HRESULT Source(VARIANT* result) noexcept;
    // Nothing (or Empty) unbinds; an object must be a Vandrel control, or a container's extender of
    // one (found through its Object property).
    [[nodiscard]] HRESULT PutSource(const VARIANT& value) noexcept;
    LONG Mode() noexcept { return static_cast<LONG>(frame_.mode); }
    [[nodiscard]] HRESULT PutMode(LONG mode) noexcept;
    [[nodiscard]] HRESULT TimeWindow(VARIANT* result) noexcept;
    [[nodiscard]] HRESULT PutTimeWindow(const VARIANT& value) noexcept;
    [[nodiscard]] HRESULT HistoryTime(VARIANT* result) noexcept;
    [[nodiscard]] HRESULT PutHistoryTime(const VARIANT& value) noexcept;
    [[nodiscard]] HRESULT AutoRange(VARIANT* result) noexcept;
    [[nodiscard]] HRESULT PutAutoRange(const VARIANT& value) noexcept;
    [[nodiscard]] HRESULT RangeMinimum(VARIANT* result) noexcept;
    [[nodiscard]] HRESULT PutRangeMinimum(const VARIANT& value) noexcept;
    [[nodiscard]] HRESULT RangeMaximum(VARIANT* result) noexcept;
    [[nodiscard]] HRESULT PutRangeMaximum(const VARIANT& value) noexcept;
    // Fixes the range: AutoRange becomes False.
    [[nodiscard]] HRESULT SetRange(double dMinimum, double dMaximum, VARIANT* result) noexcept;
    [[nodiscard]] HRESULT ChannelColor(LONG nChannel, VARIANT* result) noexcept;
    [[nodiscard]] HRESULT PutChannelColor(LONG nChannel, const VARIANT& value) noexcept;
    [[nodiscard]] HRESULT ChannelVisible(LONG nChannel, VARIANT* result) noexcept;
    [[nodiscard]] HRESULT PutChannelVisible(LONG nChannel, const VARIANT& value) noexcept;
    [[nodiscard]] HRESULT Paused(VARIANT* result) noexcept;
    [[nodiscard]] HRESULT PutPaused(const VARIANT& value) noexcept;
    [[nodiscard]] HRESULT SavePicture(BSTR sPath, VARIANT* result) noexcept;
    [[nodiscard]] HRESULT CopyPicture(VARIANT* result) noexcept;
    LONG DroppedCycles() noexcept;

    // Takes what the queue holds into the history.
    void Drain() noexcept;
    // The history's capacity for HistoryTime.
    void SizeHistory() noexcept;
    // Resuming: the points held back while paused go into the history.
    void ReleaseHeld() noexcept;
    // Lets go of the source and its queue; the history goes with them.
    void Unbind() noexcept;
    // The source's names, units and limits, and the chart's own settings, into the frame.
    void PrepareFrame(int dpi) noexcept;
    // Paints the frame into the picture bitmap at width x height; false when it could not be made.
    bool Render(HDC reference, int width, int height) noexcept;
    // The picture as the window shows it, or at the control's extent without one.
    [[nodiscard]] HRESULT RenderPicture(base::PixelView* pixels) noexcept;
    void SetPaused(bool paused) noexcept;
    // A setting changed: redraw and mark the document.
    void Changed() noexcept;
    // Asks the window for a repaint when it can be seen.
    void Repaint() noexcept;
    [[nodiscard]] HRESULT TakeRange(double low, double high) noexcept;

    chart::Frame frame_;
    chart::History history_;
    // The points that came while paused, up to the history's capacity, and their channel count.
    std::deque<chart::Point> held_;
    int heldChannels_ = 0;
    double timeWindowS_ = 10;
    double historyS_ = 60;
    LONG colors_[chart::kChannels] = {};  // OLE_COLOR, as set
    base::ComPtr<ICycleSource> source_;
    std::unique_ptr<engine::CycleQueue> queue_;
    uint64_t dropped_ = 0;
    double newestMs_ = 0;    // the newest point's time
    bool news_ = false;      // points or settings the window has not shown
    bool tracking_ = false;  // the mouse's leaving is asked for
    // The picture's bitmap (a top-down DIB section) and its size.
    base::UniqueGdiObject picture_;
    void* bits_ = nullptr;
    SIZE pictureSize_ = {};
};
