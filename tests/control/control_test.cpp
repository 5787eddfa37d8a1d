// The control through its own module, as a client sees it: created from the module's class
// factory (no registry), driven late bound by DISPID, saved, loaded and drawn. The sampler behind it
// reads the simulated board of DirectPort.dll, whose access log shows which thread read which port.
#include <gtest/gtest.h>

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "activex/module.h"
#include "base/com_ptr.h"
#include "base/unique_handle.h"
#include "base/variant.h"
#include "control/resource.h"
#include "control/vandrel_ctrl.h"
#include "harness/access_log.h"
#include "harness/process_usage.h"
#include "tests/control/automation_calls.h"
#include "tests/control/vandrel_ocx.h"
#include "tests/support/call_site.h"
#include "tests/support/hresult_matchers.h"
#include "tests/support/property_bag.h"
#include "tests/support/sim_helpers.h"

using base::ComPtr;
using base::Variant;
using testsupport::CreateControl;
using testsupport::GetLong;
using testsupport::I4;
using testsupport::IsDirty;
using testsupport::Put;
using testsupport::SimBoards;
using testsupport::VandrelOcx;
using testsupport::WaitUntil;
using namespace testsupport;
using namespace client;  // DISPIDs

namespace {

constexpr char kWordsBoard[] = "356:words=0x0000/0x7FFE/0x7FFF/0x8000/0x8001/0xFFFF/0x1234/0x9234";
constexpr SHORT kWordsValues[8] = {0, 32766, 32767, 0, -1, -32767, 4660, -4660};
constexpr int kLog = 200000;
// Longer than any test of this program takes on a loaded machine; a test that runs longer is hung.
const bool kWatched = testsupport::WatchEveryTest(60000);

// Threads that read the board, in the order of their first read.
std::vector<DWORD> ReadingThreads() {
    std::vector<DWORD> threads;
    for (const auto& r : harness::ReadAccessLog()) {
        if (std::find(threads.begin(), threads.end(), r.threadId) == threads.end())
            threads.push_back(r.threadId);
    }
    return threads;
}

bool SomeThreadRead() { return !ReadingThreads().empty(); }

void ExpectSettings(IDispatch* ctrl, LONG interval, LONG address, LONG channels,
                    testsupport::CallSite caller = testsupport::CallSite::Here()) {
    const testsupport::CallerTrace fromCaller(caller);
    EXPECT_EQ(interval, GetLong(ctrl, kDispidInterval));
    EXPECT_EQ(address, GetLong(ctrl, kDispidAddress));
    EXPECT_EQ(channels, GetLong(ctrl, kDispidChannelNumber));
}

// Another interface of the control; the test ends when it has none, since the next step uses it.
template <class T>
ComPtr<T> As(IUnknown* unknown) {
    ComPtr<T> out;
    if (!unknown) testsupport::EndTest("no object to ask for an interface");
    const HRESULT hr = unknown->QueryInterface(__uuidof(T), out.put_void());
    if (hr != S_OK || !out) testsupport::EndTest("QueryInterface for a control interface failed");
    return out;
}

}  // namespace

// --- settings and their change handlers ----------------------------------------------------------

TEST(ControlSettings, NewControlHasTheSamplerDefaultsAndIsNotModified) {
    SimBoards sim("356:wave", kLog);
    auto ctrl = CreateControl();
    ASSERT_TRUE(ctrl);
    ExpectSettings(ctrl.get(), 2160, 356, 8);
    EXPECT_FALSE(IsDirty(ctrl.get()));
    EXPECT_EQ(0u, harness::AccessLogSize()) << "creating a control must not start sampling";
}

TEST(ControlSettings, IdlePutsTakeEffectWithoutStartingTheSampler) {
    SimBoards sim("356:wave", kLog);
    auto ctrl = CreateControl();
    EXPECT_HR(S_OK, Put(ctrl.get(), kDispidChannelNumber, I4(4)));
    EXPECT_HR(S_OK, Put(ctrl.get(), kDispidInterval, I4(500)));
    EXPECT_HR(S_OK, Put(ctrl.get(), kDispidAddress, I4(370)));
    ExpectSettings(ctrl.get(), 500, 370, 4);
    EXPECT_EQ(32767, GetChnlValue(ctrl.get(), 4)) << "index 4 is not below the count 4";
    EXPECT_TRUE(IsDirty(ctrl.get()));
    EXPECT_EQ(0u, harness::AccessLogSize());
}

TEST(ControlSettings, RefusedChannelNumberOnAnIdleControlKeepsTheCount) {
    SimBoards sim("356:wave", kLog);
    auto ctrl = CreateControl();
    for (LONG refused : {5L, 0L, -1L, 16L, 2L}) {
        EXPECT_HR(S_OK, Put(ctrl.get(), kDispidChannelNumber, I4(refused)));
        EXPECT_EQ(8, GetLong(ctrl.get(), kDispidChannelNumber)) << refused;
    }
    EXPECT_TRUE(IsDirty(ctrl.get())) << "the modified flag is set also when nothing changed";
    EXPECT_EQ(0u, harness::AccessLogSize());
}

TEST(ControlSettings, RefusedChannelNumberOnARunningControlRestartsOnceAndReadsTheOldCount) {
    SimBoards sim("356:wave", kLog);
    auto ctrl = CreateControl();
    ASSERT_EQ(VARIANT_TRUE, Start(ctrl.get()));
    ASSERT_TRUE(WaitUntil(SomeThreadRead));
    EXPECT_HR(S_OK, Put(ctrl.get(), kDispidChannelNumber, I4(5)));
    EXPECT_EQ(8, GetLong(ctrl.get(), kDispidChannelNumber));
    ASSERT_TRUE(WaitUntil([] { return ReadingThreads().size() >= 2; })) << "no restart";
    ::Sleep(200);
    const auto threads = ReadingThreads();
    EXPECT_EQ(2u, threads.size()) << "one stop and one start";
    // The old thread had ended before the new one read anything.
    const auto log = harness::ReadAccessLog();
    size_t lastOld = 0, firstNew = log.size();
    for (size_t i = 0; i < log.size(); ++i) {
        if (log[i].threadId == threads[0]) lastOld = i;
        if (log[i].threadId == threads[1] && firstNew == log.size()) firstNew = i;
    }
    EXPECT_LT(lastOld, firstNew);
    Stop(ctrl.get());
}

class PutOfCurrentValue : public testing::TestWithParam<std::pair<DISPID, LONG>> {};

TEST_P(PutOfCurrentValue, OnARunningControlOnlySetsTheModifiedFlag) {
    SimBoards sim("356:wave", kLog);
    auto ctrl = CreateControl();
    ASSERT_EQ(VARIANT_TRUE, Start(ctrl.get()));
    ASSERT_TRUE(WaitUntil(SomeThreadRead));
    EXPECT_FALSE(IsDirty(ctrl.get()));
    EXPECT_HR(S_OK, Put(ctrl.get(), GetParam().first, I4(GetParam().second)));
    EXPECT_TRUE(IsDirty(ctrl.get()));
    ExpectSettings(ctrl.get(), 2160, 356, 8);
    ::Sleep(300);
    EXPECT_EQ(1u, ReadingThreads().size()) << "the sampler must not have been restarted";
    Stop(ctrl.get());
}

INSTANTIATE_TEST_SUITE_P(Settings, PutOfCurrentValue,
                         testing::Values(std::make_pair(DISPID{kDispidInterval}, 2160L),
                                         std::make_pair(DISPID{kDispidAddress}, 356L),
                                         std::make_pair(DISPID{kDispidChannelNumber}, 8L)));

TEST(ControlSettings, AddressChangeOnARunningControlReadsTheNewPorts) {
    SimBoards sim("356:wave;370:wave", kLog);
    auto ctrl = CreateControl();
    ASSERT_EQ(VARIANT_TRUE, Start(ctrl.get()));
    ASSERT_TRUE(WaitUntil(SomeThreadRead));
    EXPECT_HR(S_OK, Put(ctrl.get(), kDispidAddress, I4(370)));
    EXPECT_EQ(370, GetLong(ctrl.get(), kDispidAddress));
    ASSERT_TRUE(WaitUntil([] { return ReadingThreads().size() >= 2; }));
    ASSERT_TRUE(WaitUntil([] {
        for (const auto& r : harness::ReadAccessLog()) {
            if (r.port == 372) return true;
        }
        return false;
    })) << "the new data port was never read";
    const auto threads = ReadingThreads();
    for (const auto& r : harness::ReadAccessLog()) {
        if (r.threadId == threads[0]) {
            EXPECT_TRUE(r.port == 356 || r.port == 358) << r.port;
        } else {
            EXPECT_TRUE(r.port == 370 || r.port == 372) << r.port;
        }
    }
    Stop(ctrl.get());
}

// --- the dispatch layer --------------------------------------------------------------------------

TEST(ControlDispatch, ArgumentsOfOtherTypesAreCoerced) {
    SimBoards sim("356:wave", kLog);
    auto ctrl = CreateControl();
    VARIANT i2;
    i2.vt = VT_I2;
    i2.iVal = 500;
    EXPECT_HR(S_OK, Put(ctrl.get(), kDispidInterval, i2));
    EXPECT_EQ(500, GetLong(ctrl.get(), kDispidInterval));

    Variant text(L"500");
    EXPECT_HR(S_OK, Put(ctrl.get(), kDispidAddress, text.get()));
    EXPECT_EQ(500, GetLong(ctrl.get(), kDispidAddress));

    // Script engines pass their variables by reference.
    VARIANT four = I4(4);
    VARIANT byRef;
    byRef.vt = VT_BYREF | VT_VARIANT;
    byRef.pvarVal = &four;
    EXPECT_HR(S_OK, Put(ctrl.get(), kDispidChannelNumber, byRef));
    EXPECT_EQ(4, GetLong(ctrl.get(), kDispidChannelNumber));

    Variant index(L"9");
    Variant result;
    EXPECT_HR(S_OK, Invoke(ctrl.get(), kDispidGetChnlValue, DISPATCH_METHOD, {index.get()}, result.ptr()));
    EXPECT_EQ(VT_I2, result.vt());
    EXPECT_EQ(32767, result.get().iVal);
}

struct RefusedCall {
    const char* what;
    DISPID dispid;
    WORD flags;
    std::vector<VARIANT> args;
    bool named;  // a put's DISPID_PROPERTYPUT
    HRESULT expected;
};

VARIANT Bstr(const wchar_t* text) {
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal = ::SysAllocString(text);
    return v;
}

class ControlRefusedCall : public testing::TestWithParam<RefusedCall> {};

TEST_P(ControlRefusedCall, FailsWithTheStandardErrorAndChangesNothing) {
    SimBoards sim("356:wave", kLog);
    const RefusedCall& c = GetParam();
    auto ctrl = CreateControl();
    std::vector<VARIANT> rgvarg(c.args.rbegin(), c.args.rend());
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params = {rgvarg.data(), c.named ? &named : nullptr, static_cast<UINT>(rgvarg.size()),
                         c.named ? 1u : 0u};
    VARIANT result;
    result.vt = VT_I4;
    result.lVal = 0x5E5E;
    EXPECT_HR(c.expected, ctrl->Invoke(c.dispid, IID_NULL, 0, c.flags, &params, &result, nullptr, nullptr))
        << c.what;
    EXPECT_EQ(VT_EMPTY, result.vt) << c.what;
    ExpectSettings(ctrl.get(), 2160, 356, 8);
    EXPECT_FALSE(IsDirty(ctrl.get())) << c.what;
    EXPECT_EQ(0u, harness::AccessLogSize()) << c.what << ": the sampler must not have been touched";
}

// The dispatch layer's rules are the framework's own tests; here, that the control's properties take
// numbers only, through the control's own IDispatch, and that a refused put changes nothing of it.
INSTANTIATE_TEST_SUITE_P(Dispatch, ControlRefusedCall,
                         testing::Values(RefusedCall{"\"abc\" for Interval",
                                                     kDispidInterval,
                                                     DISPATCH_PROPERTYPUT,
                                                     {Bstr(L"abc")},
                                                     true,
                                                     DISP_E_TYPEMISMATCH},
                                         RefusedCall{"1e12 for Address",
                                                     kDispidAddress,
                                                     DISPATCH_PROPERTYPUT,
                                                     {R8(1e12)},
                                                     true,
                                                     DISP_E_OVERFLOW},
                                         RefusedCall{"-1e12 for ChannelNumber",
                                                     kDispidChannelNumber,
                                                     DISPATCH_PROPERTYPUT,
                                                     {R8(-1e12)},
                                                     true,
                                                     DISP_E_OVERFLOW}));

// --- methods -------------------------------------------------------------------------------------

TEST(ControlMethods, StartTwiceThenStop) {
    SimBoards sim("356:wave", kLog);
    auto ctrl = CreateControl();
    Stop(ctrl.get());  // idle: nothing happens
    EXPECT_EQ(VARIANT_TRUE, Start(ctrl.get()));
    EXPECT_EQ(VARIANT_FALSE, Start(ctrl.get())) << "already running";
    ASSERT_TRUE(WaitUntil(SomeThreadRead));
    Stop(ctrl.get());
    const size_t reads = harness::AccessLogSize();
    ::Sleep(100);
    EXPECT_EQ(reads, harness::AccessLogSize()) << "reads after Stop returned";
    EXPECT_EQ(1u, ReadingThreads().size());
    EXPECT_FALSE(IsDirty(ctrl.get())) << "methods leave the modified flag alone";
}

TEST(ControlMethods, GetChnlValueForwardsTheSamplerReadings) {
    SimBoards sim(kWordsBoard, kLog);
    auto ctrl = CreateControl();
    ASSERT_EQ(VARIANT_TRUE, Start(ctrl.get()));
    ASSERT_TRUE(WaitUntil([&] { return GetChnlValue(ctrl.get(), 1) == 32766; }));
    for (LONG i = 0; i < 8; ++i) EXPECT_EQ(kWordsValues[i], GetChnlValue(ctrl.get(), i)) << i;
    EXPECT_EQ(32767, GetChnlValue(ctrl.get(), -1));
    EXPECT_EQ(32767, GetChnlValue(ctrl.get(), 8));
    EXPECT_HR(S_OK, Put(ctrl.get(), kDispidChannelNumber, I4(4)));
    EXPECT_EQ(32767, GetChnlValue(ctrl.get(), 4)) << "index not below the new count";
    EXPECT_EQ(kWordsValues[3], GetChnlValue(ctrl.get(), 3));
    Stop(ctrl.get());
}

// --- persistence ---------------------------------------------------------------------------------

namespace {

ComPtr<IStream> NewStream() {
    ComPtr<IStream> stream;
    if (FAILED(::CreateStreamOnHGlobal(nullptr, TRUE, stream.put())))
        testsupport::EndTest("no memory stream");
    return stream;
}

std::vector<BYTE> StreamBytes(IStream* stream) {
    STATSTG stat = {};
    stream->Stat(&stat, STATFLAG_NONAME);
    std::vector<BYTE> bytes(static_cast<size_t>(stat.cbSize.QuadPart));
    LARGE_INTEGER zero = {};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    ULONG got = 0;
    if (!bytes.empty()) stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &got);
    bytes.resize(got);
    return bytes;
}

void Rewind(IStream* stream) {
    LARGE_INTEGER zero = {};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
}

SIZEL Extent(IUnknown* ctrl, testsupport::CallSite caller = testsupport::CallSite::Here()) {
    const testsupport::CallerTrace fromCaller(caller);
    SIZEL size = {-1, -1};
    EXPECT_HR(S_OK, As<IOleObject>(ctrl)->GetExtent(DVASPECT_CONTENT, &size));
    return size;
}

}  // namespace

TEST(ControlPersistence, StreamHoldsOnlyVersionExtentAndStockMask) {
    auto ctrl = CreateControl();
    EXPECT_HR(S_OK, Put(ctrl.get(), kDispidInterval, I4(500)));
    EXPECT_HR(S_OK, Put(ctrl.get(), kDispidAddress, I4(370)));
    EXPECT_HR(S_OK, Put(ctrl.get(), kDispidChannelNumber, I4(4)));
    EXPECT_HR(S_OK, Put(ctrl.get(), kDispidPreciseTiming, I4(-1)));
    SIZEL size = {1234, 567};
    EXPECT_HR(S_OK, As<IOleObject>(ctrl.get())->SetExtent(DVASPECT_CONTENT, &size));
    auto persist = As<IPersistStreamInit>(ctrl.get());
    ULARGE_INTEGER max = {};
    EXPECT_HR(S_OK, persist->GetSizeMax(&max));
    EXPECT_EQ(16u, max.QuadPart);
    auto stream = NewStream();
    ASSERT_HR(S_OK, persist->Save(stream.get(), TRUE));
    const std::vector<BYTE> expected = {0x00, 0x00, 0x01, 0x00, 0xD2, 0x04, 0x00, 0x00,
                                        0x37, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(expected, StreamBytes(stream.get()));
    EXPECT_FALSE(IsDirty(ctrl.get())) << "a save that clears the flag";

    // Loading gives the extent back, but the settings stay the sampler's defaults.
    auto loaded = CreateControl();
    Rewind(stream.get());
    EXPECT_HR(S_OK, As<IPersistStreamInit>(loaded.get())->Load(stream.get()));
    ExpectSettings(loaded.get(), 2160, 356, 8);
    base::Variant precise;
    EXPECT_HR(S_OK, Invoke(loaded.get(), kDispidPreciseTiming, DISPATCH_PROPERTYGET, {}, precise.ptr()));
    EXPECT_EQ(VARIANT_FALSE, precise.get().boolVal);
    EXPECT_EQ(1234, Extent(loaded.get()).cx);
    EXPECT_EQ(567, Extent(loaded.get()).cy);
    EXPECT_FALSE(IsDirty(loaded.get()));
}

TEST(ControlPersistence, LoadKeepsTheSettingsOfARunningControlAndInitNewToo) {
    SimBoards sim("356:wave", kLog);
    auto ctrl = CreateControl();
    EXPECT_HR(S_OK, Put(ctrl.get(), kDispidInterval, I4(500)));
    ASSERT_EQ(VARIANT_TRUE, Start(ctrl.get()));
    auto stream = NewStream();
    ASSERT_HR(S_OK, As<IPersistStreamInit>(CreateControl().get())->Save(stream.get(), TRUE));
    Rewind(stream.get());
    EXPECT_HR(S_OK, As<IPersistStreamInit>(ctrl.get())->Load(stream.get()));
    EXPECT_HR(S_OK, As<IPersistStreamInit>(ctrl.get())->InitNew());
    ExpectSettings(ctrl.get(), 500, 356, 8);
    EXPECT_EQ(VARIANT_FALSE, Start(ctrl.get())) << "still running";
    Stop(ctrl.get());
}

TEST(ControlPersistence, TruncatedStreamFailsToLoad) {
    auto ctrl = CreateControl();
    auto stream = NewStream();
    const BYTE eight[8] = {0x00, 0x00, 0x01, 0x00, 0x10, 0x00, 0x00, 0x00};
    stream->Write(eight, sizeof eight, nullptr);
    Rewind(stream.get());
    EXPECT_HR(STG_E_READFAULT, As<IPersistStreamInit>(ctrl.get())->Load(stream.get()));
}

TEST(ControlPersistence, PropertyBagRoundTrip) {
    auto ctrl = CreateControl();
    SIZEL size = {2000, 1000};
    As<IOleObject>(ctrl.get())->SetExtent(DVASPECT_CONTENT, &size);
    testsupport::FakePropertyBag bag;
    ASSERT_HR(S_OK, As<IPersistPropertyBag>(ctrl.get())->Save(&bag, TRUE, TRUE));
    const std::vector<std::wstring> names = {L"_Version", L"_ExtentX", L"_ExtentY", L"_StockProps"};
    EXPECT_EQ(names, bag.written);
    const LONG values[] = {0x10000, 2000, 1000, 0};
    for (size_t i = 0; i < names.size(); ++i) {
        const auto* saved = bag.Find(names[i].c_str());
        ASSERT_TRUE(saved) << i;
        EXPECT_EQ(VT_I4, saved->value.vt()) << i;
        EXPECT_EQ(values[i], saved->value.get().lVal) << i;
    }

    auto loaded = CreateControl();
    EXPECT_HR(S_OK, As<IPersistPropertyBag>(loaded.get())->Load(&bag, nullptr));
    EXPECT_EQ(2000, Extent(loaded.get()).cx);
    EXPECT_EQ(1000, Extent(loaded.get()).cy);
    ExpectSettings(loaded.get(), 2160, 356, 8);

    // Text bags (HTML parameters, form files) give strings; a missing value keeps the extent.
    testsupport::FakePropertyBag text;
    text.Add(L"_ExtentX", Variant(L"300"));
    text.Add(L"_Version", Variant(L"65536"));
    EXPECT_HR(S_OK, As<IPersistPropertyBag>(loaded.get())->Load(&text, nullptr));
    EXPECT_EQ(300, Extent(loaded.get()).cx);
    EXPECT_EQ(1000, Extent(loaded.get()).cy);
}

TEST(ControlPersistence, StorageRoundTrip) {
    ComPtr<ILockBytes> bytes;
    ASSERT_HR(S_OK, ::CreateILockBytesOnHGlobal(nullptr, TRUE, bytes.put()));
    ComPtr<IStorage> storage;
    ASSERT_HR(S_OK, ::StgCreateDocfileOnILockBytes(
                        bytes.get(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, storage.put()));
    auto ctrl = CreateControl();
    SIZEL size = {777, 333};
    As<IOleObject>(ctrl.get())->SetExtent(DVASPECT_CONTENT, &size);
    auto persist = As<IPersistStorage>(ctrl.get());
    ASSERT_HR(S_OK, persist->Save(storage.get(), TRUE));
    EXPECT_HR(S_OK, persist->SaveCompleted(nullptr));

    auto loaded = CreateControl();
    EXPECT_HR(S_OK, As<IPersistStorage>(loaded.get())->Load(storage.get()));
    EXPECT_EQ(777, Extent(loaded.get()).cx);
    EXPECT_EQ(333, Extent(loaded.get()).cy);
}

// --- drawing -------------------------------------------------------------------------------------

namespace {

// A 100 x 100 32-bit DIB section in a memory DC, filled with a colour no picture uses.
class Canvas {
public:
    static constexpr int kSize = 100;
    static constexpr DWORD kSentinel = 0x00123456;

    Canvas() {
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = kSize;
        bi.bmiHeader.biHeight = -kSize;  // top-down
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        dc_.reset(::CreateCompatibleDC(nullptr));
        bitmap_.reset(
            ::CreateDIBSection(dc_.get(), &bi, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0));
        ::SelectObject(dc_.get(), bitmap_.get());
        for (int i = 0; i < kSize * kSize; ++i) bits_[i] = kSentinel;
    }
    HDC Dc() const { return dc_.get(); }
    DWORD At(int x, int y) const {
        ::GdiFlush();
        return bits_[y * kSize + x] & 0xFFFFFF;
    }

private:
    base::UniqueMemoryDc dc_;
    base::UniqueGdiObject bitmap_;
    DWORD* bits_ = nullptr;
};

constexpr DWORD Rgb(BYTE r, BYTE g, BYTE b) { return (r << 16) | (g << 8) | b; }

}  // namespace

// Where a container asks for the picture: the bounds in the DC's logical units, and the DC's own
// viewport origin (a snapshot of a whole form moves it). Where the picture lands on the canvas.
struct DrawCase {
    const char* what;
    RECTL bounds;
    POINT viewportOrigin;
    RECT expected;  // canvas pixels painted
};

class ControlDrawing : public testing::TestWithParam<DrawCase> {};

TEST_P(ControlDrawing, PaintsThePictureAtTheCornerOfItsBoundsAndNowhereElse) {
    const DrawCase& c = GetParam();
    auto ctrl = CreateControl();
    auto view = As<IViewObject2>(ctrl.get());
    ASSERT_TRUE(view);
    Canvas canvas;
    ::SetViewportOrgEx(canvas.Dc(), c.viewportOrigin.x, c.viewportOrigin.y, nullptr);
    ASSERT_HR(S_OK, view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, canvas.Dc(), &c.bounds,
                               nullptr, nullptr, 0));

    // The reference: bitmap 201 of the module, copied at its own size to where it belongs.
    base::UniqueGdiObject picture(::LoadBitmapW(VandrelOcx::Get().Module(), MAKEINTRESOURCEW(IDB_VANDREL)));
    ASSERT_TRUE(picture);
    BITMAP info = {};
    ::GetObjectW(picture.get(), sizeof info, &info);
    ASSERT_EQ(32, info.bmWidth);
    ASSERT_EQ(21, info.bmHeight);
    Canvas expected;
    base::UniqueMemoryDc source(::CreateCompatibleDC(nullptr));
    ::SelectObject(source.get(), picture.get());
    const RECT& e = c.expected;
    ::BitBlt(expected.Dc(), e.left, e.top, e.right - e.left, e.bottom - e.top, source.get(), 0, 0, SRCCOPY);

    int differing = 0;
    for (int y = 0; y < Canvas::kSize; ++y) {
        for (int x = 0; x < Canvas::kSize; ++x) {
            const bool inside = x >= e.left && x < e.right && y >= e.top && y < e.bottom;
            if (inside && canvas.At(x, y) != expected.At(x, y)) ++differing;
            if (!inside) {
                ASSERT_EQ(Canvas::kSentinel, canvas.At(x, y))
                    << c.what << ": " << x << "," << y << " painted";
            }
        }
    }
    EXPECT_EQ(0, differing) << c.what;
    // A few pixels of the card, relative to its corner: board, red edge, bright green top.
    if (e.right - e.left == 32 && e.bottom - e.top == 21) {
        EXPECT_EQ(Rgb(0x00, 0x80, 0x00), canvas.At(e.left + 3, e.top + 3)) << c.what;
        EXPECT_EQ(Rgb(0xFF, 0x00, 0x00), canvas.At(e.left + 1, e.top + 5)) << c.what;
        EXPECT_EQ(Rgb(0x00, 0xFF, 0x00), canvas.At(e.left + 10, e.top + 2)) << c.what;
        EXPECT_EQ(Rgb(0xFF, 0xFF, 0x00), canvas.At(e.left + 5, e.top + 16)) << c.what;
        EXPECT_EQ(Rgb(0x00, 0x00, 0x00), canvas.At(e.left + 8, e.top + 16)) << c.what;
        EXPECT_EQ(Rgb(0x80, 0x80, 0x80), canvas.At(e.left + 29, e.top + 10)) << c.what;
        EXPECT_EQ(Rgb(0xC0, 0xC0, 0xC0), canvas.At(e.left + 31, e.top + 20)) << c.what;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Control, ControlDrawing,
    testing::Values(DrawCase{"its own window", {0, 0, 100, 100}, {0, 0}, {0, 0, 32, 21}},
                    DrawCase{"a form snapshot", {50, 50, 150, 150}, {0, 0}, {50, 50, 82, 71}},
                    DrawCase{"exactly its size", {17, 40, 49, 61}, {0, 0}, {17, 40, 49, 61}},
                    DrawCase{
                        "a printed page whose origin moved", {30, 30, 130, 130}, {-10, 5}, {20, 35, 52, 56}},
                    DrawCase{"bounds smaller than the picture", {10, 60, 26, 70}, {0, 0}, {10, 60, 26, 70}},
                    DrawCase{"empty bounds", {40, 40, 40, 90}, {0, 0}, {0, 0, 0, 0}},
                    DrawCase{"inverted bounds", {60, 60, 20, 20}, {0, 0}, {0, 0, 0, 0}}));

TEST(ControlDrawingRefused, RefusesWhatItCannotDraw) {
    auto ctrl = CreateControl();
    auto view = As<IViewObject2>(ctrl.get());
    Canvas canvas;
    const RECTL bounds = {0, 0, 10, 10};
    EXPECT_HR(DV_E_DVASPECT, view->Draw(DVASPECT_ICON, -1, nullptr, nullptr, nullptr, canvas.Dc(), &bounds,
                                        nullptr, nullptr, 0));
    EXPECT_HR(E_INVALIDARG, view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, nullptr, &bounds,
                                       nullptr, nullptr, 0));
    EXPECT_HR(E_INVALIDARG, view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, canvas.Dc(), nullptr,
                                       nullptr, nullptr, 0));
    EXPECT_EQ(Canvas::kSentinel, canvas.At(0, 0));
}

// --- lifetime ------------------------------------------------------------------------------------

// The control class itself, linked into this program: its sampler's set-up can be made to fail.
TEST(ControlLifetime, ASamplerThatCannotBeSetUpFailsCreationWithItsError) {
    const LONG before = activex::Module::ObjectCount();
    void* out = reinterpret_cast<void*>(0x1234);
    CVandrelCtrl::Seams noEvent;
    noEvent.sampler.createEvent = &NoEventLeft;
    EXPECT_HR(HRESULT_FROM_WIN32(ERROR_NO_SYSTEM_RESOURCES),
              base::CreateObject<CVandrelCtrl>(IID_IDispatch, &out, noEvent));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(before, activex::Module::ObjectCount()) << "the failed control was freed";

    ComPtr<IDispatch> ctrl;
    ASSERT_HR(S_OK, base::CreateObject<CVandrelCtrl>(IID_IDispatch, ctrl.put_void()));
    EXPECT_EQ(before + 1, activex::Module::ObjectCount());
}

TEST(ControlLifetime, DestroyingARunningControlEndsItsThreadFirst) {
    SimBoards sim("356:wave", kLog);
    auto ctrl = CreateControl();
    ASSERT_EQ(VARIANT_TRUE, Start(ctrl.get()));
    ASSERT_TRUE(WaitUntil(SomeThreadRead));
    const DWORD tid = ReadingThreads()[0];
    base::UniqueThread thread(::OpenThread(SYNCHRONIZE, FALSE, tid));
    ASSERT_TRUE(thread);
    testsupport::WithinMs(testsupport::kStopLimitMs, "releasing a running control", [&] { ctrl.reset(); });
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thread.get(), 0)) << "thread still running after release";
    EXPECT_HR(S_OK, VandrelOcx::Get().CanUnloadNow());
}

namespace {

struct Usage {
    DWORD handles = 0;
    SIZE_T committed = 0;
};

// A leaked GDI bitmap shows in the committed memory.
Usage MeasureUsage() { return {harness::CountOpenHandles(), harness::CommittedBytes()}; }

}  // namespace

TEST(ControlLifetime, NoLeakOverAThousandCreateStartDestroyCycles) {
    SimBoards sim("356:wave");
    auto cycle = [] {
        auto ctrl = CreateControl();
        ASSERT_EQ(VARIANT_TRUE, Start(ctrl.get()));
    };
    for (int i = 0; i < 20; ++i) cycle();  // warm-up: caches, type library, heap
    const Usage before = MeasureUsage();
    for (int i = 0; i < 1000; ++i) cycle();
    const Usage after = MeasureUsage();
    EXPECT_LE(after.handles, before.handles + 5) << "handles " << before.handles << " -> " << after.handles;
    EXPECT_LT(after.committed, before.committed + 1024 * 1024)
        << "committed bytes " << before.committed << " -> " << after.committed;
    EXPECT_HR(S_OK, VandrelOcx::Get().CanUnloadNow());
}
