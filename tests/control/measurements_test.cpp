// Measurements through the control's IDispatch, as a VBA host calls them: what bad input is told and
// that it changes nothing, scaled values and rows, alarms told to a host that was frozen, and the
// settings with a document and in a settings file.
#include <gtest/gtest.h>

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "base/com_ptr.h"
#include "base/late_bound.h"
#include "base/variant.h"
#include "harness/event_sink.h"
#include "tests/control/automation_calls.h"
#include "tests/control/control_events.h"
#include "tests/control/vandrel_ocx.h"
#include "tests/support/hresult_matchers.h"
#include "tests/support/sim_helpers.h"

using base::ComPtr;
using base::Variant;
using namespace testsupport;
using namespace client;  // DISPIDs

namespace {

namespace fs = std::filesystem;

// A channel's property as a number; NaN for Null, -99999 for a failure.
double Number(IDispatch* ctrl, DISPID id, LONG channel) {
    Outcome got = Call(ctrl, id, DISPATCH_PROPERTYGET, {I4(channel)});
    if (got.hr != S_OK) return -99999;
    if (got.result.vt() == VT_NULL) return std::numeric_limits<double>::quiet_NaN();
    Variant number;
    if (FAILED(::VariantChangeType(number.ptr(), got.result.ptr(), 0, VT_R8))) return -99999;
    return number.get().dblVal;
}

void Set(IDispatch* ctrl, DISPID id, LONG channel, VARIANT value, CallSite site = CallSite::Here()) {
    CallerTrace trace(site);
    const Outcome got = Call(ctrl, id, DISPATCH_PROPERTYPUT, {I4(channel), value});
    EXPECT_HR(S_OK, got.hr) << testing::PrintToString(got.description);
}

std::wstring ReadUtf16(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::wstring text(bytes.size() / 2, L'\0');
    memcpy(text.data(), bytes.data(), text.size() * 2);
    return text.substr(text.rfind(L'\xFEFF', 0) == 0 ? 1 : 0);
}

void WriteUtf16(const fs::path& path, const std::wstring& text) {
    const std::wstring withMark = L"\xFEFF" + text;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(withMark.data()),
               static_cast<std::streamsize>(withMark.size() * 2));
}

// Every refusal names its reason, in an exception a VBA user sees as error text, and leaves every
// setting as it was.
TEST(Measurements, BadInputIsRefusedWithItsReasonAndChangesNothing) {
    const auto ctrl = CreateControl();
    Set(ctrl.get(), kDispidHighLimit, 1, R8(10));
    const fs::path folder = Folder("vandrel-measurements");
    const std::wstring missing = (folder / "missing.ini").wstring();
    const std::wstring bad = (folder / "bad.ini").wstring();
    WriteUtf16(bad, L"[Channel1]\r\nName=Oven\r\n\r\n[Channel2]\r\nGain=abc\r\n");
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    ExpectRefusals(
        ctrl.get(),
        {
            {kDispidChannelGain, DISPATCH_PROPERTYGET, {I4(0)}, E_INVALIDARG, L"1 to 8"},
            {kDispidChannelName, DISPATCH_PROPERTYPUT, {I4(9), Text(L"x")}, E_INVALIDARG, L"1 to 8"},
            {kDispidChannelGain, DISPATCH_PROPERTYPUT, {I4(1), R8(0)}, E_INVALIDARG, L"gain"},
            {kDispidChannelGain, DISPATCH_PROPERTYPUT, {I4(1), R8(nan)}, E_INVALIDARG, L"gain"},
            {kDispidChannelOffset, DISPATCH_PROPERTYPUT, {I4(1), R8(inf)}, E_INVALIDARG, L"offset"},
            {kDispidCalibrate, DISPATCH_METHOD, {I4(1), R8(5), R8(0), R8(5), R8(10)}, E_INVALIDARG, L"raw"},
            {kDispidLowLimit, DISPATCH_PROPERTYPUT, {I4(1), R8(20)}, E_INVALIDARG, L"low"},
            {kDispidAlarmDeadband, DISPATCH_PROPERTYPUT, {I4(1), R8(-1)}, E_INVALIDARG, L"deadband"},
            {kDispidAlarmDelay, DISPATCH_PROPERTYPUT, {I4(1), I4(-5)}, E_INVALIDARG, L"delay"},
            {kDispidZeroChannel, DISPATCH_METHOD, {I4(1)}, HRESULT_FROM_WIN32(ERROR_INVALID_STATE), L"Start"},
            {kDispidLoadSettings,
             DISPATCH_METHOD,
             {Text(missing.c_str())},
             HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
             missing},
            {kDispidLoadSettings,
             DISPATCH_METHOD,
             {Text(bad.c_str())},
             E_INVALIDARG,
             L"[Channel2] Gain, line 5"},
        });
    EXPECT_EQ(1.0, Number(ctrl.get(), kDispidChannelGain, 1));
    EXPECT_EQ(0.0, Number(ctrl.get(), kDispidChannelOffset, 1));
    EXPECT_EQ(10.0, Number(ctrl.get(), kDispidHighLimit, 1));
    EXPECT_TRUE(std::isnan(Number(ctrl.get(), kDispidLowLimit, 1)));
    EXPECT_EQ(0.0, Number(ctrl.get(), kDispidAlarmDeadband, 1));
    EXPECT_EQ(0.0, Number(ctrl.get(), kDispidAlarmDelay, 1));
    const Outcome name = Call(ctrl.get(), kDispidChannelName, DISPATCH_PROPERTYGET, {I4(1)});
    EXPECT_EQ(std::wstring(L""), name.result.get().bstrVal ? name.result.get().bstrVal : L"");
    Set(ctrl.get(), kDispidHighLimit, 1, Null());
    EXPECT_TRUE(std::isnan(Number(ctrl.get(), kDispidHighLimit, 1)));
}

// Scaled values follow a calibration and a zero: the newest per channel (Null for one not sampled),
// whole rows, and the record file's scaled columns named after the channels.
TEST(Measurements, ScaledValuesFollowACalibrationAndAZero) {
    SimBoards sim("356:words=1/2/3/4/5/6/7/8");
    const auto ctrl = CreateControl();
    ASSERT_HR(S_OK, Put(ctrl.get(), kDispidInterval, I4(1)));
    EXPECT_TRUE(std::isnan(Number(ctrl.get(), kDispidChannelValue, 1)));
    EXPECT_HR(S_OK,
              Call(ctrl.get(), kDispidCalibrate, DISPATCH_METHOD, {I4(1), R8(0), R8(10), R8(2), R8(20)}).hr);
    EXPECT_EQ(5.0, Number(ctrl.get(), kDispidChannelGain, 1));
    EXPECT_EQ(10.0, Number(ctrl.get(), kDispidChannelOffset, 1));
    Set(ctrl.get(), kDispidChannelName, 1, Text(L"Oven, top"));
    Set(ctrl.get(), kDispidChannelUnit, 1,
        Text(L"\x00B0"
             L"C"));
    const fs::path file = Folder("vandrel-measurements") / "scaled.csv";
    ASSERT_HR(S_OK, Put(ctrl.get(), kDispidRecordFile, Text(file.wstring().c_str())));
    ASSERT_EQ(VARIANT_TRUE, Start(ctrl.get()));
    ASSERT_TRUE(WaitUntil([&] { return GetLong(ctrl.get(), kDispidCycleCount) >= 3; }));
    EXPECT_EQ(15.0, Number(ctrl.get(), kDispidChannelValue, 1));
    const Outcome zero = Call(ctrl.get(), kDispidZeroChannel, DISPATCH_METHOD, {I4(2)});
    ASSERT_HR(S_OK, zero.hr);
    EXPECT_EQ(-2.0, zero.result.get().dblVal);
    EXPECT_EQ(0.0, Number(ctrl.get(), kDispidChannelValue, 2));
    const Outcome rows = Call(ctrl.get(), kDispidReadScaledCycles, DISPATCH_METHOD, {I4(1)});
    ASSERT_HR(S_OK, rows.hr);
    Variant cell;
    LONG index[2] = {0, 2};
    ASSERT_HR(S_OK, ::SafeArrayGetElement(rows.result.get().parray, index, cell.ptr()));
    EXPECT_EQ(VT_R8, cell.vt());
    EXPECT_EQ(15.0, cell.get().dblVal);
    Stop(ctrl.get());
    ASSERT_HR(S_OK, Put(ctrl.get(), kDispidChannelNumber, I4(4)));
    EXPECT_TRUE(std::isnan(Number(ctrl.get(), kDispidChannelValue, 5)));
    ASSERT_HR(S_OK, Put(ctrl.get(), kDispidRecordFile, Text(L"")));
    std::ifstream in(file, std::ios::binary);
    std::string header;
    std::getline(in, header);
    EXPECT_EQ(
        "cycle,time,ch0,ch1,ch2,ch3,ch4,ch5,ch6,ch7,\"Oven, top [\xC2\xB0"
        "C]\",ch1 scaled,ch2 scaled,"
        "ch3 scaled,ch4 scaled,ch5 scaled,ch6 scaled,ch7 scaled",
        header);
}

// A host that handles no message for a while, its events frozen meanwhile too, then hears every
// alarm change in order, each after the DataReady of its cycle, and none is lost.
TEST(MeasurementEvents, AFrozenHostHearsEveryAlarmChangeInOrderAfterItsCycle) {
    // Four channels of an eight-word board: channel 1 reads 1 and 5 by turns.
    SimBoards sim("356:words=1/2/3/4/5/6/7/8");
    const auto ctrl = CreateControl();
    ASSERT_HR(S_OK, Put(ctrl.get(), kDispidInterval, I4(5)));
    ASSERT_HR(S_OK, Put(ctrl.get(), kDispidChannelNumber, I4(4)));
    Set(ctrl.get(), kDispidHighLimit, 1, R8(3));
    harness::EventSink sink(kDiidDVandrelEvents);
    Connect(ctrl.get(), sink);
    ComPtr<IOleControl> container;
    ASSERT_HR(S_OK, ctrl->QueryInterface(IID_IOleControl, container.put_void()));
    ASSERT_HR(S_OK, container->FreezeEvents(TRUE));
    ASSERT_EQ(VARIANT_TRUE, Start(ctrl.get()));
    ::Sleep(1000);                  // no message loop
    for (int k = 0; k < 20; ++k) {  // a loop, but the events frozen
        Pump();
        ::Sleep(10);
    }
    EXPECT_TRUE(sink.fired.empty()) << "told while frozen";
    ASSERT_HR(S_OK, container->FreezeEvents(FALSE));
    const LONG thawed = GetLong(ctrl.get(), kDispidCycleCount);
    ASSERT_GT(thawed, 50);
    ASSERT_TRUE(PumpUntil([&] {
        const auto& f = sink.fired;
        return !f.empty() && f.back().dispid == kDispidAlarmChanged && f.back().args[3] >= thawed;
    }));
    Stop(ctrl.get());
    // Only two levels: a change lost between two told would show as the same level twice.
    double level = 0;
    LONG cycle = 0;
    size_t told = 0;
    for (size_t k = 0; k < sink.fired.size(); ++k) {
        const harness::FiredEvent& e = sink.fired[k];
        if (e.dispid != kDispidAlarmChanged) continue;
        ++told;
        ASSERT_EQ(5u, e.args.size());
        EXPECT_EQ(1.0, e.args[0]);  // channel
        EXPECT_EQ(1.0 - level, e.args[1]) << "at change " << told;
        level = e.args[1];
        EXPECT_EQ(level == 1.0 ? 5.0 : 1.0, e.args[2]) << "value";
        EXPECT_GT(e.args[3], cycle);
        cycle = static_cast<LONG>(e.args[3]);
        ASSERT_GT(k, 0u);
        EXPECT_EQ(kDispidDataReady, sink.fired[k - 1].dispid);
        EXPECT_EQ(cycle, sink.fired[k - 1].value);
    }
    EXPECT_GT(told, static_cast<size_t>(thawed / 2));
    EXPECT_GE(cycle, thawed);
    EXPECT_EQ(0, GetLong(ctrl.get(), kDispidAlarmsLost));
}

// The settings go with a document (the exchange itself is the framework's, tested there for bags
// too); a document saved without them
// loads the defaults; a settings file written, edited as text and loaded gives what the edit says.
TEST(MeasurementSettings, TravelWithTheDocumentAndThroughAnEditedFile) {
    const auto ctrl = CreateControl();
    const auto other = CreateControl();
    ComPtr<IPersistStreamInit> plain;
    ASSERT_HR(S_OK, other->QueryInterface(IID_IPersistStreamInit, plain.put_void()));
    ComPtr<IStream> before;
    ASSERT_HR(S_OK, ::CreateStreamOnHGlobal(nullptr, TRUE, before.put()));
    ASSERT_HR(S_OK, plain->Save(before.get(), TRUE));

    Set(ctrl.get(), kDispidChannelName, 2, Text(L"Pump \x00B5m"));
    Set(ctrl.get(), kDispidChannelGain, 2, R8(0.1));
    Set(ctrl.get(), kDispidHighHighLimit, 2, R8(250));
    Set(ctrl.get(), kDispidAlarmLatch, 2, I4(-1));
    EXPECT_TRUE(IsDirty(ctrl.get()));
    ComPtr<IPersistStreamInit> persist;
    ASSERT_HR(S_OK, ctrl->QueryInterface(IID_IPersistStreamInit, persist.put_void()));
    ComPtr<IStream> stream;
    ASSERT_HR(S_OK, ::CreateStreamOnHGlobal(nullptr, TRUE, stream.put()));
    ASSERT_HR(S_OK, persist->Save(stream.get(), TRUE));
    const auto expectSettings = [](IDispatch* d, CallSite site = CallSite::Here()) {
        CallerTrace trace(site);
        const Outcome name = Call(d, kDispidChannelName, DISPATCH_PROPERTYGET, {I4(2)});
        EXPECT_EQ(std::wstring(L"Pump \x00B5m"), name.result.get().bstrVal ? name.result.get().bstrVal : L"");
        EXPECT_EQ(0.1, Number(d, kDispidChannelGain, 2));
        EXPECT_EQ(250.0, Number(d, kDispidHighHighLimit, 2));
        EXPECT_TRUE(std::isnan(Number(d, kDispidHighLimit, 2)));
        EXPECT_EQ(-1.0, Number(d, kDispidAlarmLatch, 2));
    };
    const auto fromStream = CreateControl();
    ComPtr<IPersistStreamInit> loader;
    ASSERT_HR(S_OK, fromStream->QueryInterface(IID_IPersistStreamInit, loader.put_void()));
    ASSERT_HR(S_OK, stream->Seek({}, STREAM_SEEK_SET, nullptr));
    ASSERT_HR(S_OK, loader->Load(stream.get()));
    expectSettings(fromStream.get());

    // An older document: the defaults again.
    ASSERT_HR(S_OK, before->Seek({}, STREAM_SEEK_SET, nullptr));
    ASSERT_HR(S_OK, loader->Load(before.get()));
    EXPECT_EQ(1.0, Number(fromStream.get(), kDispidChannelGain, 2));
    EXPECT_TRUE(std::isnan(Number(fromStream.get(), kDispidHighHighLimit, 2)));

    const fs::path file = Folder("vandrel-measurements") / "oven.ini";
    ASSERT_HR(S_OK,
              Call(ctrl.get(), kDispidSaveSettings, DISPATCH_METHOD, {Text(file.wstring().c_str())}).hr);
    std::wstring text = ReadUtf16(file);
    const size_t high = text.find(L"HighHigh=250");
    ASSERT_NE(std::wstring::npos, high) << testing::PrintToString(text);
    text.replace(high, 12, L"HighHigh=300.5");
    WriteUtf16(file, text);
    ASSERT_HR(
        S_OK,
        Call(fromStream.get(), kDispidLoadSettings, DISPATCH_METHOD, {Text(file.wstring().c_str())}).hr);
    EXPECT_EQ(300.5, Number(fromStream.get(), kDispidHighHighLimit, 2));
    EXPECT_EQ(0.1, Number(fromStream.get(), kDispidChannelGain, 2));
}

}  // namespace
