// The chart through the built module, as a host drives it: bound to a control on a known board it
// draws each channel, scaled by the control's settings, where its fixed range puts it, in the PNG it
// saves; it watches the cycles without taking the host's; pause freezes the picture while cycles go
// on; bad input is told with its reason and the chart keeps working.
#include <gtest/gtest.h>

#include <windows.h>
#include <ocidl.h>

#include <string>
#include <vector>

#include "base/com_object.h"
#include "base/com_ptr.h"
#include "base/variant.h"
#include "chart/chart_view.h"
#include "tests/control/automation_calls.h"
#include "tests/control/vandrel_ocx.h"
#include "tests/support/hresult_matchers.h"
#include "tests/support/png_pixels.h"
#include "tests/support/property_bag.h"
#include "tests/support/sim_helpers.h"

using base::ComPtr;
using namespace testsupport;
using namespace client;  // DISPIDs

namespace {

ComPtr<IDispatch> CreateChart(int width = 400, int height = 200) {
    auto chart = VandrelOcx::Get().Create<IDispatch>(kClsidVandrelChart);
    ComPtr<IOleObject> ole;
    EXPECT_HR(S_OK, chart->QueryInterface(IID_IOleObject, ole.put_void()));
    SIZEL extent = {::MulDiv(width, 2540, 96), ::MulDiv(height, 2540, 96)};
    EXPECT_HR(S_OK, ole->SetExtent(DVASPECT_CONTENT, &extent));
    return chart;
}

VARIANT Object(IDispatch* object) {
    VARIANT v;
    v.vt = VT_DISPATCH;
    v.pdispVal = object;
    return v;
}

Outcome Bind(IDispatch* chart, IDispatch* source) {
    return Call(chart, kChartSource, DISPATCH_PROPERTYPUTREF, {Object(source)});
}

Pixels Picture(IDispatch* chart, const fs::path& file, CallSite site = CallSite::Here()) {
    CallerTrace trace(site);
    EXPECT_HR(S_OK, Call(chart, kChartSavePicture, DISPATCH_METHOD, {Text(file.wstring().c_str())}).hr);
    return ReadPng(file.wstring().c_str());
}

// What VB6 and VBA forms pass for a control on them: their extender, which answers only its own
// members and gives the control itself through its Object property.
class FakeExtender final : public base::ComObject<FakeExtender, base::Lifetime::Scoped, IDispatch> {
public:
    explicit FakeExtender(IDispatch* control) : control_(control) {}
    STDMETHODIMP GetTypeInfoCount(UINT* count) noexcept override {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) noexcept override {
        if (count != 1 || ::lstrcmpiW(names[0], L"Object") != 0) return DISP_E_UNKNOWNNAME;
        ids[0] = kObject;
        return S_OK;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                        UINT*) noexcept override {
        if (id != kObject || !(flags & DISPATCH_PROPERTYGET) || !result) return DISP_E_MEMBERNOTFOUND;
        result->vt = VT_DISPATCH;
        result->pdispVal = control_;
        control_->AddRef();
        return S_OK;
    }

private:
    static constexpr DISPID kObject = 0x80010000;
    IDispatch* control_;
};

// A control on the board, to read all eight channels every millisecond.
ComPtr<IDispatch> Running(CallSite site = CallSite::Here()) {
    CallerTrace trace(site);
    auto ctrl = CreateControl();
    EXPECT_HR(S_OK, Put(ctrl.get(), kDispidInterval, I4(1)));
    EXPECT_HR(S_OK, Put(ctrl.get(), kDispidChannelNumber, I4(8)));
    return ctrl;
}

TEST(Chart, DrawsEachChannelOfAKnownBoardAtItsRowInItsColour) {
    SimBoards sim("356:words=10/20/30/40/90/60/70/80");
    const auto ctrl = Running();
    EXPECT_HR(S_OK, Call(ctrl.get(), kDispidChannelGain, DISPATCH_PROPERTYPUT, {I4(2), R8(2.5)}).hr);  // 50
    const auto chart = CreateChart();
    EXPECT_HR(S_OK, Call(chart.get(), kChartSetRange, DISPATCH_METHOD, {R8(0), R8(100)}).hr);
    EXPECT_HR(S_OK, Put(chart.get(), kChartTimeWindow, R8(0.1)));
    const COLORREF colors[] = {RGB(200, 0, 0), RGB(0, 150, 0), RGB(0, 0, 220), RGB(160, 0, 160)};
    for (LONG c = 1; c <= 4; ++c) {
        EXPECT_HR(S_OK, Call(chart.get(), kChartChannelColor, DISPATCH_PROPERTYPUT,
                             {I4(c), I4(static_cast<LONG>(colors[c - 1]))})
                            .hr);
    }
    ASSERT_HR(S_OK, Bind(chart.get(), ctrl.get()).hr);
    ASSERT_EQ(VARIANT_TRUE, Start(ctrl.get()));
    ASSERT_TRUE(WaitUntil([&] { return GetLong(ctrl.get(), kDispidCycleCount) >= 100; }));
    const Pixels picture = Picture(chart.get(), Folder("vandrel-chart") / "known.png");
    ASSERT_EQ(400u, picture.width);
    ASSERT_EQ(200u, picture.height);

    chart::Frame frame;
    frame.channels = 8;
    const RECT plot = chart::LayOut({0, 0, 400, 200}, frame).plot;
    const double values[] = {10, 50, 30, 40};
    const UINT x = static_cast<UINT>((plot.left + plot.right) / 2);
    for (int c = 0; c < 4; ++c) {
        const int row = chart::RowOf(values[c], {0, 100}, plot);
        EXPECT_EQ(colors[c], picture.At(x, static_cast<UINT>(row)))
            << "channel " << c + 1 << " at row " << row;
    }
}

// The host reads every cycle while two charts watch; the charts drop nothing; a ninth is refused;
// a chart keeps its source when the host lets go of it, and Nothing unbinds.
TEST(Chart, WatchesWithoutTakingTheHostsCycles) {
    SimBoards sim("356:wave");
    auto ctrl = Running();
    std::vector<ComPtr<IDispatch>> charts;
    for (int i = 0; i < 8; ++i) {
        charts.push_back(CreateChart());
        ASSERT_HR(S_OK, Bind(charts.back().get(), ctrl.get()).hr);
    }
    const Outcome ninth = Bind(CreateChart().get(), ctrl.get());
    EXPECT_HR(E_FAIL, ninth.error);
    EXPECT_NE(std::wstring::npos, ninth.description.find(L"8 charts"));
    charts.resize(2);  // six let go: their places are free again
    ASSERT_HR(S_OK, Bind(CreateChart().get(), ctrl.get()).hr);

    ASSERT_EQ(VARIANT_TRUE, Start(ctrl.get()));
    ASSERT_TRUE(WaitUntil([&] { return GetLong(ctrl.get(), kDispidCycleCount) >= 200; }));
    Stop(ctrl.get());
    EXPECT_EQ(GetLong(ctrl.get(), kDispidCycleCount), GetLong(ctrl.get(), kDispidUnreadCycles));
    EXPECT_EQ(0, GetLong(ctrl.get(), kDispidLostCycles));
    for (const auto& chart : charts) EXPECT_EQ(0, GetLong(chart.get(), kChartDroppedCycles));

    ctrl.reset();  // the charts hold it
    const Outcome source = Call(charts[0].get(), kChartSource, DISPATCH_PROPERTYGET, {});
    ASSERT_EQ(VT_DISPATCH, source.result.vt());
    EXPECT_NE(nullptr, source.result.get().pdispVal);
    EXPECT_HR(S_OK, Call(charts[0].get(), kChartSource, DISPATCH_PROPERTYPUTREF, {Object(nullptr)}).hr);
    const Outcome none = Call(charts[0].get(), kChartSource, DISPATCH_PROPERTYGET, {});
    ASSERT_EQ(VT_DISPATCH, none.result.vt());
    EXPECT_EQ(nullptr, none.result.get().pdispVal);
}

// Bound through a form's extender, as VB6 and VBA hosts do.
TEST(Chart, PauseFreezesThePictureWhileCyclesGoOn) {
    SimBoards sim("356:wave");
    const auto ctrl = Running();
    const auto chart = CreateChart();
    FakeExtender extender(ctrl.get());
    ASSERT_HR(S_OK, Bind(chart.get(), &extender).hr);
    ASSERT_EQ(VARIANT_TRUE, Start(ctrl.get()));
    ASSERT_TRUE(WaitUntil([&] { return GetLong(ctrl.get(), kDispidCycleCount) >= 100; }));
    const fs::path folder = Folder("vandrel-chart");
    EXPECT_HR(S_OK, Put(chart.get(), kChartPaused, I4(1)));
    const Pixels paused = Picture(chart.get(), folder / "paused.png");
    const LONG cycles = GetLong(ctrl.get(), kDispidCycleCount);
    ASSERT_TRUE(WaitUntil([&] { return GetLong(ctrl.get(), kDispidCycleCount) >= cycles + 300; }));
    EXPECT_TRUE(paused == Picture(chart.get(), folder / "still.png"));
    EXPECT_HR(S_OK, Put(chart.get(), kChartPaused, I4(0)));
    EXPECT_FALSE(paused == Picture(chart.get(), folder / "resumed.png"));
}

// Every refusal says why, as an error a VBA user reads, changes nothing, and the chart goes on.
TEST(Chart, BadInputIsToldAndTheChartKeepsWorking) {
    const auto chart = CreateChart();
    const auto other = CreateChart();
    const fs::path folder = Folder("vandrel-chart");
    const std::wstring unwritable = (folder / "no such folder" / "chart.png").wstring();
    ExpectRefusals(
        chart.get(),
        {
            {kChartSource,
             DISPATCH_PROPERTYPUT,
             {I4(5)},
             DISP_E_TYPEMISMATCH,
             L"Source must be a Vandrel control"},
            {kChartSource, DISPATCH_PROPERTYPUTREF, {Object(other.get())}, E_INVALIDARG, L"GetOcx()"},
            {kChartTimeWindow, DISPATCH_PROPERTYPUT, {R8(0)}, E_INVALIDARG, L"TimeWindow must be"},
            {kChartTimeWindow, DISPATCH_PROPERTYPUT, {R8(-2)}, E_INVALIDARG, L"TimeWindow must be"},
            {kChartHistoryTime, DISPATCH_PROPERTYPUT, {R8(5)}, E_INVALIDARG, L"HistoryTime must be"},
            {kChartSetRange, DISPATCH_METHOD, {R8(5), R8(1)}, E_INVALIDARG, L"top must be above"},
            {kChartRangeMaximum, DISPATCH_PROPERTYPUT, {R8(-1)}, E_INVALIDARG, L"top must be above"},
            {kChartChannelColor, DISPATCH_PROPERTYPUT, {I4(9), I4(0)}, E_INVALIDARG, L"1 to 8"},
            {kChartSavePicture,
             DISPATCH_METHOD,
             {Text(unwritable.c_str())},
             HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND),
             unwritable},
        });
    EXPECT_EQ(10.0, Call(chart.get(), kChartTimeWindow, DISPATCH_PROPERTYGET, {}).result.get().dblVal);
    EXPECT_EQ(100.0, Call(chart.get(), kChartRangeMaximum, DISPATCH_PROPERTYGET, {}).result.get().dblVal);
    EXPECT_EQ(VARIANT_TRUE,
              Call(chart.get(), kChartAutoRange, DISPATCH_PROPERTYGET, {}).result.get().boolVal);
    EXPECT_EQ(400u, Picture(chart.get(), folder / "after.png").width);
}

// A form keeps the chart's settings; a document's value that no member would take loads as the
// default, and the others stay.
TEST(Chart, SettingsGoWithTheDocumentAndBadOnesLoadAsDefaults) {
    const auto chart = CreateChart();
    EXPECT_HR(S_OK, Put(chart.get(), kChartMode, I4(1)));
    EXPECT_HR(S_OK, Put(chart.get(), kChartTimeWindow, R8(5)));
    EXPECT_HR(S_OK, Call(chart.get(), kChartSetRange, DISPATCH_METHOD, {R8(-5), R8(5)}).hr);
    EXPECT_HR(S_OK, Call(chart.get(), kChartChannelVisible, DISPATCH_PROPERTYPUT, {I4(2), I4(0)}).hr);
    FakePropertyBag bag;
    ComPtr<IPersistPropertyBag> saving;
    ASSERT_HR(S_OK, chart->QueryInterface(IID_IPersistPropertyBag, saving.put_void()));
    ASSERT_HR(S_OK, saving->Save(&bag, TRUE, TRUE));
    base::Variant low;
    *low.ptr() = R8(-10);
    bag.Find(L"RangeMaximum")->value = std::move(low);  // below the bottom: the default range
    bag.Find(L"ChannelColor3")->value = base::Variant(LONG{0x7F000000});  // no colour at all

    const auto loaded = VandrelOcx::Get().Create<IDispatch>(kClsidVandrelChart);
    ComPtr<IPersistPropertyBag> loading;
    ASSERT_HR(S_OK, loaded->QueryInterface(IID_IPersistPropertyBag, loading.put_void()));
    ASSERT_HR(S_OK, loading->Load(&bag, nullptr));
    EXPECT_EQ(1, GetLong(loaded.get(), kChartMode));
    EXPECT_EQ(5.0, Call(loaded.get(), kChartTimeWindow, DISPATCH_PROPERTYGET, {}).result.get().dblVal);
    EXPECT_EQ(VARIANT_FALSE,
              Call(loaded.get(), kChartAutoRange, DISPATCH_PROPERTYGET, {}).result.get().boolVal);
    EXPECT_EQ(0.0, Call(loaded.get(), kChartRangeMinimum, DISPATCH_PROPERTYGET, {}).result.get().dblVal);
    EXPECT_EQ(100.0, Call(loaded.get(), kChartRangeMaximum, DISPATCH_PROPERTYGET, {}).result.get().dblVal);
    EXPECT_EQ(VARIANT_FALSE,
              Call(loaded.get(), kChartChannelVisible, DISPATCH_PROPERTYGET, {I4(2)}).result.get().boolVal);
    EXPECT_EQ(static_cast<LONG>(chart::DefaultColor(2)),
              Call(loaded.get(), kChartChannelColor, DISPATCH_PROPERTYGET, {I4(3)}).result.get().lVal);
}

}  // namespace
