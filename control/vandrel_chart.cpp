// The chart control: its class, dispatch table, binding to a source, frames, input, persistence
// and pictures.
#include "control/vandrel_chart.h"

#include <olectl.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <new>
#include <utility>

#include "activex/dispatch_rows.h"
#include "activex/module.h"
#include "base/hresult.h"
#include "base/text.h"
#include "base/variant.h"
#include "control/automation_values.h"
#include "control/identity.h"
#include "control/resource.h"
#include "vandrel_h.h"

namespace {

activex::TypeLibCache g_typeLib(LIBID_VandrelLib, vandrel::kLibMajor, vandrel::kLibMinor);

const CLSID kPropertyPages[] = {vandrel::kChartPageClsid};

const activex::Verb kVerbs[] = {
    {OLEIVERB_PROPERTIES, activex::kPropertiesVerbNameId, OLEVERBATTRIB_ONCONTAINERMENU},
};

const activex::ControlClass kClass = {
    CLSID_VandrelChart,         // class
    DIID__DVandrelChart,        // dispatch interface
    DIID__DVandrelChartEvents,  // event interface
    g_typeLib,                  // describes both
    IDS_VANDREL_CHART,          // user type name
    vandrel::kChartMiscStatus,  // OLEMISC flags
    kPropertyPages,
    std::size(kPropertyPages),
    kVerbs,
    std::size(kVerbs),
    vandrel::kChartProgId,  // the source of the errors its members raise
    {480, 270},             // a new chart's size, also the picture of a chart without a window
};

constexpr activex::ValueRange kModeRange = {0, 1, L"The mode must be 0 (strip chart) or 1 (scope)."};
constexpr activex::ValueRange kChannel = {1, chart::kChannels, L"The channel must be from 1 to 8."};
static_assert(chart::kChannels == 8, "the range's text");

constexpr wchar_t kNotASource[] =
    L"Source must be a Vandrel control, or Nothing. In C#, pass the control's GetOcx().";
constexpr wchar_t kTooManyCharts[] = L"This Vandrel control already feeds 8 charts.";
constexpr wchar_t kBadWindow[] = L"TimeWindow must be more than 0 and at most 600 seconds.";
constexpr wchar_t kBadHistory[] = L"HistoryTime must be from TimeWindow to 600 seconds.";
constexpr wchar_t kBadRange[] = L"The range's top must be above its bottom, and both must be numbers.";
constexpr wchar_t kBadColor[] = L"The colour is not one Windows knows.";
constexpr UINT_PTR kFrameTimer = 1;

using C = CVandrelChart;

HRESULT MakeBool(bool value, VARIANT* result) noexcept {
    result->vt = VT_BOOL;
    result->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT MakeDouble(double value, VARIANT* result) noexcept {
    result->vt = VT_R8;
    result->dblVal = value;
    return S_OK;
}

HRESULT TakeBool(const VARIANT& value, bool* out) noexcept {
    LONG number = 0;
    RETURN_IF_FAILED(activex::CoerceToLong(value, &number));
    *out = number != 0;
    return S_OK;
}

// The RGB value of an OLE_COLOR (a system colour too); false for none Windows knows.
bool ToRgb(LONG color, COLORREF* rgb) noexcept {
    return SUCCEEDED(::OleTranslateColor(static_cast<OLE_COLOR>(color), nullptr, rgb));
}

// The control behind what a host passes: the object itself, or the one behind a container's
// extender (VB6 and VBA forms wrap their controls in one, whose Object property gives the control).
HRESULT FindSource(IUnknown* object, base::ComPtr<ICycleSource>* out) noexcept {
    if (SUCCEEDED(object->QueryInterface(__uuidof(ICycleSource), out->put_void()))) return S_OK;
    base::ComPtr<IDispatch> extender;
    RETURN_IF_FAILED(object->QueryInterface(IID_IDispatch, extender.put_void()));
    OLECHAR name[] = L"Object";
    LPOLESTR names[] = {name};
    DISPID dispid = DISPID_UNKNOWN;
    RETURN_IF_FAILED(extender->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &dispid));
    DISPPARAMS none = {};
    base::Variant inner;
    RETURN_IF_FAILED(extender->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                                      inner.ptr(), nullptr, nullptr));
    const VARIANT& v = inner.get();
    IUnknown* control = v.vt == VT_DISPATCH ? v.pdispVal : v.vt == VT_UNKNOWN ? v.punkVal : nullptr;
    RETURN_HR_IF_NULL(E_NOINTERFACE, control);
    return control->QueryInterface(__uuidof(ICycleSource), out->put_void());
}

}  // namespace

const activex::DispatchEntry<CVandrelChart> CVandrelChart::kDispatchMap[14] = {
    activex::DispValueAccessors<&C::Source, &C::PutSource, VT_DISPATCH>(
        1, L"Source", L"The Vandrel control whose cycles are drawn; Nothing for none"),
    activex::DispAccessors<&C::Mode, &C::PutMode>(2, L"Mode", L"Strip chart (scrolls) or scope (sweeps)",
                                                  kModeRange),
    activex::DispValueAccessors<&C::TimeWindow, &C::PutTimeWindow, VT_R8>(3, L"TimeWindow",
                                                                          L"Seconds shown across the chart"),
    activex::DispValueAccessors<&C::HistoryTime, &C::PutHistoryTime, VT_R8>(
        4, L"HistoryTime", L"Seconds of cycles kept for the chart, at least TimeWindow"),
    activex::DispValueAccessors<&C::AutoRange, &C::PutAutoRange, VT_BOOL>(
        5, L"AutoRange", L"Whether the value axis follows the values shown"),
    activex::DispValueAccessors<&C::RangeMinimum, &C::PutRangeMinimum, VT_R8>(
        6, L"RangeMinimum", L"Bottom of the fixed value axis"),
    activex::DispValueAccessors<&C::RangeMaximum, &C::PutRangeMaximum, VT_R8>(7, L"RangeMaximum",
                                                                              L"Top of the fixed value axis"),
    activex::DispTypedFunction<&C::SetRange, VT_EMPTY>(8, L"SetRange",
                                                       L"Fixes the value axis from bottom to top"),
    activex::DispIndexedAccessors<&C::ChannelColor, &C::PutChannelColor, VT_I4>(
        9, L"ChannelColor", L"Colour of a channel's line, 1 to 8", kChannel),
    activex::DispIndexedAccessors<&C::ChannelVisible, &C::PutChannelVisible, VT_BOOL>(
        10, L"ChannelVisible", L"Whether a channel is drawn, 1 to 8", kChannel),
    activex::DispValueAccessors<&C::Paused, &C::PutPaused, VT_BOOL>(
        11, L"Paused", L"Whether the picture stands still while cycles go on"),
    activex::DispTypedFunction<&C::SavePicture, VT_EMPTY>(12, L"SavePicture",
                                                          L"Saves the chart's picture as a PNG file"),
    activex::DispTypedFunction<&C::CopyPicture, VT_EMPTY>(13, L"CopyPicture",
                                                          L"Copies the chart's picture to the clipboard"),
    activex::DispGetter<&C::DroppedCycles>(14, L"DroppedCycles",
                                           L"Cycles the chart missed because it fell behind"),
};

HRESULT CVandrelChart::CreateInstance(REFIID riid, void** ppv) noexcept {
    return base::CreateObject<CVandrelChart>(riid, ppv);
}

CVandrelChart::CVandrelChart() noexcept
    : Control(kClass), history_(static_cast<size_t>(60 * kPointsPerSecond) + 1) {
    for (int i = 0; i < chart::kChannels; ++i) {
        colors_[i] = static_cast<LONG>(chart::DefaultColor(i));
        frame_.looks[i].color = chart::DefaultColor(i);
    }
    frame_.windowMs = timeWindowS_ * 1000;
    frame_.hasSource = false;
}

CVandrelChart::~CVandrelChart() = default;

void CVandrelChart::FinalRelease() noexcept {
    Unbind();
    ControlBase::FinalRelease();
}

// --- the source ------------------------------------------------------------------------------------

HRESULT CVandrelChart::Source(VARIANT* result) noexcept {
    result->vt = VT_DISPATCH;
    result->pdispVal = nullptr;
    if (source_)
        RETURN_IF_FAILED(source_->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&result->pdispVal)));
    return S_OK;
}

HRESULT CVandrelChart::PutSource(const VARIANT& value) noexcept {
    IUnknown* object = nullptr;
    switch (value.vt) {
        case VT_EMPTY:
        case VT_NULL: break;
        case VT_DISPATCH: object = value.pdispVal; break;
        case VT_UNKNOWN: object = value.punkVal; break;
        default: return activex::Refuse(DISP_E_TYPEMISMATCH, kNotASource);
    }
    if (!object) {
        Unbind();
        Repaint();
        return S_OK;
    }
    base::ComPtr<ICycleSource> found;
    if (FAILED(FindSource(object, &found))) return activex::Refuse(E_INVALIDARG, kNotASource);
    if (found.get() == source_.get()) return S_OK;
    std::unique_ptr<engine::CycleQueue> queue(new (std::nothrow) engine::CycleQueue(kQueueCycles));
    RETURN_HR_IF(E_OUTOFMEMORY, !queue || !queue->Valid());
    if (!found->Watch(queue.get())) return activex::Refuse(E_FAIL, kTooManyCharts);
    Unbind();
    source_ = std::move(found);
    queue_ = std::move(queue);
    Repaint();
    return S_OK;
}

void CVandrelChart::Unbind() noexcept {
    if (source_) source_->Unwatch(queue_.get());
    source_.reset();
    queue_.reset();
    history_.Clear();
    held_.clear();
    dropped_ = 0;
    newestMs_ = 0;
    frame_.channels = 0;
    news_ = true;
}

void CVandrelChart::Drain() noexcept {
    if (!queue_) return;
    engine::QueuedCycle entry;
    while (queue_->Pop(entry)) {
        dropped_ += entry.lostBefore + entry.endsLost;
        if (entry.cycle.number == 0) continue;  // the end of a run
        chart::Point point;
        point.timeMs = static_cast<double>(entry.cycle.time) / 10000.0;
        for (int i = 0; i < chart::kChannels; ++i) {
            const bool read = i < entry.cycle.channels;
            point.values[i] = read ? static_cast<float>(entry.measured.scaled[i]) : NAN;
            point.levels[i] = read ? static_cast<int8_t>(entry.measured.levels[i]) : 0;
        }
        try {
            if (frame_.paused) {
                // Held back, so that the paused picture does not change: not even by a point of
                // the same millisecond as the last one shown.
                if (held_.size() >= history_.Capacity()) held_.pop_front();
                held_.push_back(point);
            } else {
                history_.Add(point);
                frame_.channels = entry.cycle.channels;
                newestMs_ = point.timeMs;
                news_ = true;
            }
        } catch (const std::bad_alloc&) {
            ++dropped_;
        }
        heldChannels_ = entry.cycle.channels;
    }
}

void CVandrelChart::ReleaseHeld() noexcept {
    try {
        for (const chart::Point& point : held_) {
            history_.Add(point);
            newestMs_ = point.timeMs;
        }
        if (!held_.empty()) frame_.channels = heldChannels_;
    } catch (const std::bad_alloc&) {
        // The history keeps what it could take.
    }
    held_.clear();
}

void CVandrelChart::SizeHistory() noexcept {
    try {
        history_.SetCapacity(static_cast<size_t>(historyS_ * kPointsPerSecond) + 1);
    } catch (const std::bad_alloc&) {
        // The history keeps the capacity it has.
    }
}

LONG CVandrelChart::DroppedCycles() noexcept {
    Drain();
    return vandrel::ClampToLong(dropped_);
}

// --- the settings ----------------------------------------------------------------------------------

void CVandrelChart::Changed() noexcept {
    news_ = true;
    SetModifiedFlag();
    Repaint();
}

HRESULT CVandrelChart::PutMode(LONG mode) noexcept {
    frame_.mode = static_cast<chart::Mode>(mode);
    Changed();
    return S_OK;
}

HRESULT CVandrelChart::TimeWindow(VARIANT* result) noexcept { return MakeDouble(timeWindowS_, result); }

HRESULT CVandrelChart::PutTimeWindow(const VARIANT& value) noexcept {
    double seconds = 0;
    RETURN_IF_FAILED(activex::CoerceToDouble(value, &seconds));
    if (!(seconds > 0 && seconds <= kMaxSeconds)) return activex::Refuse(E_INVALIDARG, kBadWindow);
    timeWindowS_ = seconds;
    frame_.windowMs = seconds * 1000;
    // The history holds at least what the window shows.
    if (historyS_ < seconds) historyS_ = seconds;
    SizeHistory();
    Changed();
    return S_OK;
}

HRESULT CVandrelChart::HistoryTime(VARIANT* result) noexcept { return MakeDouble(historyS_, result); }

HRESULT CVandrelChart::PutHistoryTime(const VARIANT& value) noexcept {
    double seconds = 0;
    RETURN_IF_FAILED(activex::CoerceToDouble(value, &seconds));
    if (!(seconds >= timeWindowS_ && seconds <= kMaxSeconds))
        return activex::Refuse(E_INVALIDARG, kBadHistory);
    historyS_ = seconds;
    SizeHistory();
    Changed();
    return S_OK;
}

HRESULT CVandrelChart::AutoRange(VARIANT* result) noexcept { return MakeBool(frame_.autoRange, result); }

HRESULT CVandrelChart::PutAutoRange(const VARIANT& value) noexcept {
    RETURN_IF_FAILED(TakeBool(value, &frame_.autoRange));
    Changed();
    return S_OK;
}

HRESULT CVandrelChart::RangeMinimum(VARIANT* result) noexcept { return MakeDouble(frame_.yMin, result); }
HRESULT CVandrelChart::RangeMaximum(VARIANT* result) noexcept { return MakeDouble(frame_.yMax, result); }

HRESULT CVandrelChart::PutRangeMinimum(const VARIANT& value) noexcept {
    double low = 0;
    RETURN_IF_FAILED(activex::CoerceToDouble(value, &low));
    return TakeRange(low, frame_.yMax);
}

HRESULT CVandrelChart::PutRangeMaximum(const VARIANT& value) noexcept {
    double high = 0;
    RETURN_IF_FAILED(activex::CoerceToDouble(value, &high));
    return TakeRange(frame_.yMin, high);
}

HRESULT CVandrelChart::SetRange(double dMinimum, double dMaximum, VARIANT*) noexcept {
    return TakeRange(dMinimum, dMaximum);
}

// A bound set fixes the range: a host that sets one wants the axis to stay there.
HRESULT CVandrelChart::TakeRange(double low, double high) noexcept {
    if (!(std::isfinite(low) && std::isfinite(high) && low < high))
        return activex::Refuse(E_INVALIDARG, kBadRange);
    frame_.yMin = low;
    frame_.yMax = high;
    frame_.autoRange = false;
    Changed();
    return S_OK;
}

HRESULT CVandrelChart::ChannelColor(LONG nChannel, VARIANT* result) noexcept {
    result->vt = VT_I4;
    result->lVal = colors_[nChannel - 1];
    return S_OK;
}

HRESULT CVandrelChart::PutChannelColor(LONG nChannel, const VARIANT& value) noexcept {
    LONG color = 0;
    RETURN_IF_FAILED(activex::CoerceToLong(value, &color));
    COLORREF rgb = 0;
    if (!ToRgb(color, &rgb)) return activex::Refuse(E_INVALIDARG, kBadColor);
    colors_[nChannel - 1] = color;
    frame_.looks[nChannel - 1].color = rgb;
    Changed();
    return S_OK;
}

HRESULT CVandrelChart::ChannelVisible(LONG nChannel, VARIANT* result) noexcept {
    return MakeBool(frame_.looks[nChannel - 1].visible, result);
}

HRESULT CVandrelChart::PutChannelVisible(LONG nChannel, const VARIANT& value) noexcept {
    RETURN_IF_FAILED(TakeBool(value, &frame_.looks[nChannel - 1].visible));
    Changed();
    return S_OK;
}

HRESULT CVandrelChart::Paused(VARIANT* result) noexcept { return MakeBool(frame_.paused, result); }

HRESULT CVandrelChart::PutPaused(const VARIANT& value) noexcept {
    bool paused = false;
    RETURN_IF_FAILED(TakeBool(value, &paused));
    SetPaused(paused);
    return S_OK;
}

// Pausing freezes the right edge where it is; resuming lets it follow the newest point again.
void CVandrelChart::SetPaused(bool paused) noexcept {
    if (paused == frame_.paused) return;
    Drain();
    frame_.paused = paused;
    if (!paused) ReleaseHeld();
    frame_.endMs = newestMs_;
    news_ = true;
    Repaint();
    VARIANT arg;
    arg.vt = VT_BOOL;
    arg.boolVal = paused ? VARIANT_TRUE : VARIANT_FALSE;
    DISPPARAMS params = {&arg, nullptr, 1, 0};
    FireEvent(kPausedChanged, params);
}

// --- persistence -----------------------------------------------------------------------------------

// Values a document holds that no member would take fall back to the defaults.
HRESULT CVandrelChart::ExchangeProperties(activex::PropExchange& px) noexcept {
    static const ULONG version = kVersion;
    ULONG saved = kVersion;
    RETURN_IF_FAILED(px.ExchangeULong(L"_Version", saved, &version));
    RETURN_IF_FAILED(ControlBase::ExchangeProperties(px));
    static const LONG strip = 0;
    static const double window = 10, history = 60, low = 0, high = 100;
    static const LONG on = 1;
    LONG mode = Mode();
    LONG autoRange = frame_.autoRange ? 1 : 0;
    double windowS = timeWindowS_, historyS = historyS_, yMin = frame_.yMin, yMax = frame_.yMax;
    RETURN_IF_FAILED(px.ExchangeLong(L"Mode", mode, &strip));
    RETURN_IF_FAILED(px.ExchangeDouble(L"TimeWindow", windowS, &window));
    RETURN_IF_FAILED(px.ExchangeDouble(L"HistoryTime", historyS, &history));
    RETURN_IF_FAILED(px.ExchangeLong(L"AutoRange", autoRange, &on));
    RETURN_IF_FAILED(px.ExchangeDouble(L"RangeMinimum", yMin, &low));
    RETURN_IF_FAILED(px.ExchangeDouble(L"RangeMaximum", yMax, &high));
    LONG visible[chart::kChannels];
    for (int i = 0; i < chart::kChannels; ++i) {
        wchar_t name[32];
        const LONG color = static_cast<LONG>(chart::DefaultColor(i));
        ::wsprintfW(name, L"ChannelColor%d", i + 1);
        RETURN_IF_FAILED(px.ExchangeLong(name, colors_[i], &color));
        visible[i] = frame_.looks[i].visible ? 1 : 0;
        ::wsprintfW(name, L"ChannelVisible%d", i + 1);
        RETURN_IF_FAILED(px.ExchangeLong(name, visible[i], &on));
    }
    if (!px.Loading()) return S_OK;
    frame_.mode = kModeRange.Contains(mode) ? static_cast<chart::Mode>(mode) : chart::Mode::kStrip;
    timeWindowS_ = windowS > 0 && windowS <= kMaxSeconds ? windowS : window;
    historyS_ =
        historyS >= timeWindowS_ && historyS <= kMaxSeconds ? historyS : std::max(history, timeWindowS_);
    frame_.windowMs = timeWindowS_ * 1000;
    SizeHistory();
    frame_.autoRange = autoRange != 0;
    const bool rangeTaken = std::isfinite(yMin) && std::isfinite(yMax) && yMin < yMax;
    frame_.yMin = rangeTaken ? yMin : low;
    frame_.yMax = rangeTaken ? yMax : high;
    for (int i = 0; i < chart::kChannels; ++i) {
        if (!ToRgb(colors_[i], &frame_.looks[i].color)) {
            colors_[i] = static_cast<LONG>(chart::DefaultColor(i));
            frame_.looks[i].color = chart::DefaultColor(i);
        }
        frame_.looks[i].visible = visible[i] != 0;
    }
    news_ = true;
    return S_OK;
}

// --- frames and pictures ---------------------------------------------------------------------------

void CVandrelChart::PrepareFrame(int dpi) noexcept {
    Drain();
    frame_.hasSource = static_cast<bool>(source_);
    if (!frame_.paused) frame_.endMs = newestMs_;
    frame_.dpi = dpi > 0 ? dpi : 96;
    const engine::ChannelSet* channels = source_ ? &source_->Channels() : nullptr;
    for (int i = 0; i < chart::kChannels; ++i) {
        chart::ChannelLook& look = frame_.looks[i];
        if (!channels) {
            look.name.clear();
            look.unit.clear();
            std::fill(std::begin(look.limits), std::end(look.limits), chart::kNone);
            continue;
        }
        const engine::ChannelSettings& settings = (*channels)[static_cast<size_t>(i)];
        try {
            look.name = settings.name;
            look.unit = settings.unit;
        } catch (const std::bad_alloc&) {
            look.name.clear();
            look.unit.clear();
        }
        const engine::ChannelRules& rules = settings.rules;
        const double limits[] = {rules.highHigh, rules.high, rules.low, rules.lowLow};
        std::copy(std::begin(limits), std::end(limits), std::begin(look.limits));
    }
}

bool CVandrelChart::Render(HDC reference, int width, int height) noexcept {
    if (width <= 0 || height <= 0) return false;
    if (!picture_ || pictureSize_.cx != width || pictureSize_.cy != height) {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;  // top-down
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        picture_.reset(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits_, nullptr, 0));
        pictureSize_ = picture_ ? SIZE{width, height} : SIZE{};
        if (!picture_) return false;
    }
    base::UniqueMemoryDc memory(::CreateCompatibleDC(reference));
    if (!memory) return false;
    PrepareFrame(reference ? ::GetDeviceCaps(reference, LOGPIXELSY) : 96);
    HGDIOBJ old = ::SelectObject(memory.get(), picture_.get());
    const RECT bounds = {0, 0, width, height};
    chart::Paint(memory.get(), bounds, history_, frame_);
    ::GdiFlush();
    ::SelectObject(memory.get(), old);
    return true;
}

// The picture drawn into the bitmap and copied whole; where no bitmap goes with the device (a
// metafile, a printer), drawn into it directly.
void CVandrelChart::Draw(HDC dc, const RECT& bounds, const RECT&) noexcept {
    if (!dc) return;
    const LONGLONG width = LONGLONG{bounds.right} - bounds.left;
    const LONGLONG height = LONGLONG{bounds.bottom} - bounds.top;
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384) return;
    const int w = static_cast<int>(width), h = static_cast<int>(height);
    if (::GetDeviceCaps(dc, TECHNOLOGY) == DT_RASDISPLAY && Render(dc, w, h)) {
        base::UniqueMemoryDc memory(::CreateCompatibleDC(dc));
        if (memory) {
            HGDIOBJ old = ::SelectObject(memory.get(), picture_.get());
            ::BitBlt(dc, bounds.left, bounds.top, w, h, memory.get(), 0, 0, SRCCOPY);
            ::SelectObject(memory.get(), old);
            news_ = false;
            return;
        }
    }
    PrepareFrame(::GetDeviceCaps(dc, LOGPIXELSY));
    chart::Paint(dc, bounds, history_, frame_);
}

HRESULT CVandrelChart::RenderPicture(base::PixelView* pixels) noexcept {
    HWND window = Window();
    RECT client = {};
    if (window) {
        ::GetClientRect(window, &client);
    } else {
        const SIZEL extent = Extent();  // HIMETRIC: 2,540 to the inch, at 96 pixels to it
        client.right = ::MulDiv(extent.cx, 96, 2540);
        client.bottom = ::MulDiv(extent.cy, 96, 2540);
    }
    HDC screen = ::GetDC(window);
    const bool rendered = Render(screen, client.right, client.bottom);
    ::ReleaseDC(window, screen);
    RETURN_HR_IF(E_OUTOFMEMORY, !rendered);
    // The window shows the same picture at once.
    if (window) {
        news_ = true;
        ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    }
    pixels->bits = bits_;
    pixels->width = static_cast<UINT>(pictureSize_.cx);
    pixels->height = static_cast<UINT>(pictureSize_.cy);
    pixels->stride = static_cast<UINT>(pictureSize_.cx) * 4;
    return S_OK;
}

HRESULT CVandrelChart::SavePicture(BSTR sPath, VARIANT*) noexcept {
    if (!sPath || !*sPath) return activex::Refuse(E_INVALIDARG, L"The picture needs a file name.");
    base::PixelView pixels;
    RETURN_IF_FAILED(RenderPicture(&pixels));
    const HRESULT hr = base::SavePng(sPath, pixels);
    if (SUCCEEDED(hr)) return hr;
    std::wstring text = L"The picture could not be saved to ";
    try {
        text += sPath;
        text += L": " + base::SystemMessage(hr);
    } catch (const std::bad_alloc&) {
        return hr;
    }
    return activex::Refuse(hr, text);
}

HRESULT CVandrelChart::CopyPicture(VARIANT*) noexcept {
    base::PixelView pixels;
    RETURN_IF_FAILED(RenderPicture(&pixels));
    return base::CopyPixelsToClipboard(Window(), pixels);
}

// --- the window: frames and input ------------------------------------------------------------------

void CVandrelChart::Repaint() noexcept {
    HWND window = Window();
    if (!window || !::IsWindowVisible(window) || ::IsIconic(::GetAncestor(window, GA_ROOT))) return;
    ::InvalidateRect(window, nullptr, FALSE);
}

bool CVandrelChart::WindowMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) noexcept {
    switch (msg) {
        case WM_CREATE:
            // Without the timer the chart still draws what a repaint finds.
            ::SetTimer(hwnd, kFrameTimer, kFrameMs, nullptr);
            return false;
        case WM_DESTROY: ::KillTimer(hwnd, kFrameTimer); return false;
        case WM_TIMER:
            if (wp != kFrameTimer) return false;
            Drain();
            if (news_) Repaint();
            *result = 0;
            return true;
        case WM_ERASEBKGND:  // the picture covers the window
            *result = 1;
            return true;
        case WM_GETDLGCODE:  // the space bar reaches the chart in a dialog or a form
            *result = DLGC_WANTCHARS;
            return true;
        case WM_LBUTTONDOWN:
            ::SetFocus(hwnd);
            SetPaused(!frame_.paused);
            return true;
        case WM_KEYDOWN:
            if (wp != VK_SPACE) return false;
            if (!(lp & (1 << 30))) SetPaused(!frame_.paused);  // not the key's repeat
            return true;
        case WM_MOUSEMOVE:
            if (!tracking_) {
                TRACKMOUSEEVENT track = {sizeof track, TME_LEAVE, hwnd, 0};
                tracking_ = ::TrackMouseEvent(&track) != FALSE;
            }
            frame_.hasCursor = true;
            frame_.cursor = {static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
            news_ = true;
            Repaint();
            return true;
        case WM_MOUSELEAVE:
            tracking_ = false;
            frame_.hasCursor = false;
            news_ = true;
            Repaint();
            return true;
        default: return false;
    }
}
