// Whole cycles, status, errors and events through the control's IDispatch and connection point, as a
// client sees them. The counting board puts the cycle's own frame number in every word, so a row
// that mixes cycles shows as unequal channels.
#include <gtest/gtest.h>

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>
#include <string>
#include <tuple>
#include <vector>

#include "base/com_ptr.h"
#include "base/unique_handle.h"
#include "base/variant.h"
#include "control/vandrel_ctrl.h"
#include "engine/sampler_status.h"
#include "harness/event_sink.h"
#include "tests/control/control_events.h"
#include "tests/control/vandrel_ocx.h"
#include "tests/support/call_site.h"
#include "tests/support/hresult_matchers.h"
#include "tests/support/sim_helpers.h"

using base::ComPtr;
using base::Variant;
using harness::EventSink;
using testsupport::CreateControl;
using testsupport::GetLong;
using testsupport::I4;
using testsupport::Put;
using testsupport::SimBoards;
using testsupport::WaitUntil;
using namespace testsupport;
using namespace client;  // DISPIDs

namespace {

constexpr char kPortLockName[] = "Global\\TRUV.Vandrel.IOEvent";
constexpr DATE kSecond = 1.0 / 86400;

struct Row {
    LONG number;
    DATE time;
    std::vector<LONG> values;
    bool typed;  // number VT_I4, time VT_DATE, values VT_I2
};

// The row of ReadCycle's or ReadCycles' array at index (whose last entry, the column, is set here).
Row RowOf(SAFEARRAY* array, LONG columns, std::vector<LONG> index) {
    Row row = {0, 0, {}, true};
    for (LONG c = 0; c < columns; ++c) {
        index.back() = c;
        VARIANT v;  // cells hold no strings: nothing to clear
        ::VariantInit(&v);
        ::SafeArrayGetElement(array, index.data(), &v);
        row.typed = row.typed && v.vt == (c == 0 ? VT_I4 : c == 1 ? VT_DATE : VT_I2);
        if (c == 0) row.number = v.lVal;
        if (c == 1) row.time = v.date;
        if (c > 1) row.values.push_back(v.iVal);
    }
    return row;
}

// ReadCycles' rows, with Lost passed as a Variant by reference, as VBScript passes it.
std::vector<Row> ReadCycles(IDispatch* ctrl, LONG max, LONG* lost,
                            testsupport::CallSite caller = testsupport::CallSite::Here()) {
    const testsupport::CallerTrace fromCaller(caller);
    VARIANT lostVar, byRef;
    ::VariantInit(&lostVar);
    byRef.vt = VT_BYREF | VT_VARIANT;
    byRef.pvarVal = &lostVar;
    Variant result;
    EXPECT_HR(S_OK, Invoke(ctrl, kDispidReadCycles, DISPATCH_METHOD, {I4(max), byRef}, result.ptr()));
    EXPECT_EQ(VT_I4, lostVar.vt);
    *lost = lostVar.lVal;
    LONG lastRow = -1, lastColumn = -1;
    EXPECT_EQ(VT_ARRAY | VT_VARIANT, result.vt());
    ::SafeArrayGetUBound(result.get().parray, 1, &lastRow);
    ::SafeArrayGetUBound(result.get().parray, 2, &lastColumn);
    std::vector<Row> rows;
    for (LONG r = 0; r <= lastRow; ++r) rows.push_back(RowOf(result.get().parray, lastColumn + 1, {r, 0}));
    return rows;
}

DATE LocalNow() {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    DATE date = 0;
    ::SystemTimeToVariantTime(&now, &date);
    return date;
}

// Handles the messages waiting on this thread, a few at most: a host's loop looks at its own state
// between messages, also while events come faster than its sinks take them.
std::wstring GetText(IDispatch* ctrl, DISPID id) {
    Variant v;
    if (FAILED(Invoke(ctrl, id, DISPATCH_PROPERTYGET, {}, v.ptr())) || v.vt() != VT_BSTR) return L"?";
    return v.get().bstrVal ? v.get().bstrVal : L"";
}

HANDLE WINAPI NoThreadLeft(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

}  // namespace

// A reader that keeps up, then one slower than a ring of 16: every row whole and typed, its time
// local and later than the row before, the numbers in order but for the gaps reported as lost, and
// every cycle drained or lost.
TEST(ControlCycles, NoRowMixesCyclesAndTheLostCountExplainsEveryGap) {
    SimBoards sim("356:count");
    auto ctrl = CreateControl();
    ASSERT_HR(S_OK, Put(ctrl.get(), kDispidInterval, I4(1)));
    const DATE begin = LocalNow() - kSecond;
    ASSERT_EQ(VARIANT_TRUE, Start(ctrl.get()));
    LONG next = 1, lastNewest = 0, rows = 0, lost = 0;
    DATE lastTime = begin;
    std::string fault;
    auto check = [&](const Row& r, DATE after, bool inOrder) {
        const bool whole = r.values.size() == 8 && r.values == std::vector<LONG>(8, r.values[0]);
        const char* what = !r.typed                        ? "untyped"
                           : !whole                        ? "mixed"
                           : !inOrder                      ? "out of order"
                           : r.time <= after               ? "not later than the row before"
                           : r.time > LocalNow() + kSecond ? "in the future"
                                                           : nullptr;
        if (what && fault.empty()) {
            fault = "cycle " + std::to_string(r.number) + ": " + what;
            for (LONG v : r.values) fault += " " + std::to_string(v);
        }
    };
    auto drain = [&](LONG max) {
        LONG lostNow = 0;
        const auto drained = ReadCycles(ctrl.get(), max, &lostNow);
        lost += lostNow;
        next += lostNow;
        for (const Row& r : drained) {
            check(r, lastTime, r.number == next++);
            lastTime = r.time;
        }
        rows += static_cast<LONG>(drained.size());
        return !drained.empty();
    };
    for (const auto& [buffer, drainMs, untilCycle] :
         {std::tuple{1000, 30, 1800}, std::tuple{16, 250, 2000}}) {
        ASSERT_HR(S_OK, Put(ctrl.get(), kDispidBufferSize, I4(buffer)));
        while (GetLong(ctrl.get(), kDispidCycleCount) < untilCycle) {
            Variant newest;
            ASSERT_HR(S_OK, Invoke(ctrl.get(), kDispidReadCycle, DISPATCH_METHOD, {}, newest.ptr()));
            if (newest.vt() != VT_EMPTY) {
                const Row r = RowOf(newest.get().parray, 10, {0});
                check(r, begin, r.number >= lastNewest);
                lastNewest = r.number;
            }
            ::Sleep(drainMs);
            drain(1 + next % 97);
        }
    }
    Stop(ctrl.get());
    while (drain(100000)) {}
    EXPECT_EQ("", fault);
    EXPECT_GT(lost, 0) << "the slow reader lost cycles";
    EXPECT_EQ(GetLong(ctrl.get(), kDispidCycleCount), rows + lost) << "every cycle drained or reported lost";
    EXPECT_EQ(lost, GetLong(ctrl.get(), kDispidLostCycles));
    EXPECT_EQ(0, GetLong(ctrl.get(), kDispidUnreadCycles));

    // A new run numbers from 1 again.
    ASSERT_EQ(VARIANT_TRUE, Start(ctrl.get()));
    EXPECT_EQ(0, GetLong(ctrl.get(), kDispidLostCycles));
    ASSERT_TRUE(WaitUntil([&] { return GetLong(ctrl.get(), kDispidCycleCount) >= 1; }));
    LONG lostNow = -1;
    const auto first = ReadCycles(ctrl.get(), 1, &lostNow);
    ASSERT_EQ(1u, first.size());
    EXPECT_EQ(1, first[0].number);
    EXPECT_EQ(0, lostNow);
    Stop(ctrl.get());
}

// What the control says before any cycle, and its answers to input it refuses, which change nothing.
TEST(ControlCycles, BeforeAnyCycleAndForRefusedInput) {
    auto ctrl = CreateControl();
    Variant v;
    EXPECT_HR(S_OK, Invoke(ctrl.get(), kDispidReadCycle, DISPATCH_METHOD, {}, v.ptr()));
    EXPECT_EQ(VT_EMPTY, v.vt());
    LONG lost = -1;
    EXPECT_TRUE(ReadCycles(ctrl.get(), 5, &lost).empty()) << "zero rows";
    EXPECT_EQ(0, lost);
    EXPECT_EQ(-1, GetLong(ctrl.get(), kDispidCycleAge));
    EXPECT_EQ(1000, GetLong(ctrl.get(), kDispidBufferSize));
    EXPECT_HR(S_OK, Put(ctrl.get(), kDispidBufferSize, I4(100000)));
    EXPECT_FALSE(IsDirty(ctrl.get())) << "BufferSize is no saved setting";

    // The coercion's refusals are the framework's: the range and a read-only put are the control's.
    const struct {
        DISPID dispid;
        WORD flags;
        LONG value;
        HRESULT expected;  // with an EXCEPINFO given
    } cases[] = {{kDispidReadCycles, DISPATCH_METHOD, 0, DISP_E_EXCEPTION},
                 {kDispidReadCycles, DISPATCH_METHOD, 100001, DISP_E_EXCEPTION},
                 {kDispidBufferSize, DISPATCH_PROPERTYPUT, 0, DISP_E_EXCEPTION},
                 {kDispidCycleCount, DISPATCH_PROPERTYPUT, 5, DISP_E_MEMBERNOTFOUND}};
    for (const auto& c : cases) {
        DISPID named = DISPID_PROPERTYPUT;
        VARIANT arg = I4(c.value);
        const bool put = c.flags == DISPATCH_PROPERTYPUT;
        DISPPARAMS params = {&arg, put ? &named : nullptr, 1, put ? 1u : 0u};
        EXCEPINFO excep = {};
        VARIANT result = I4(0x5E5E);
        EXPECT_HR(c.expected,
                  ctrl->Invoke(c.dispid, IID_NULL, 0, c.flags, &params, &result, &excep, nullptr));
        EXPECT_EQ(VT_EMPTY, result.vt);
        if (c.expected == DISP_E_EXCEPTION) {
            EXPECT_EQ(E_INVALIDARG, excep.scode);
            EXPECT_STREQ(L"The number of cycles must be from 1 to 100000.", excep.bstrDescription);
            EXPECT_STREQ(L"VANDREL.VandrelCtrl.1", excep.bstrSource);
            EXPECT_HR(E_INVALIDARG,
                      ctrl->Invoke(c.dispid, IID_NULL, 0, c.flags, &params, nullptr, nullptr, nullptr))
                << "without an EXCEPINFO";
        }
        ::SysFreeString(excep.bstrDescription);
        ::SysFreeString(excep.bstrSource);
        EXPECT_EQ(100000, GetLong(ctrl.get(), kDispidBufferSize));
        EXPECT_FALSE(IsDirty(ctrl.get()));
    }
}

// Each cause of a refused Start through the control: Start answers False and LastError says which.
TEST(ControlErrors, EachStartFailureHasItsOwnLastError) {
    SimBoards sim("356:count");
    auto running = CreateControl();
    ASSERT_EQ(VARIANT_TRUE, Start(running.get()));
    EXPECT_EQ(S_OK, GetLong(running.get(), kDispidLastError));
    EXPECT_EQ(L"", GetText(running.get(), kDispidLastErrorText));
    EXPECT_EQ(VARIANT_FALSE, Start(running.get()));
    EXPECT_EQ(engine::kErrorAlreadyRunning, GetLong(running.get(), kDispidLastError));
    EXPECT_NE(std::wstring::npos, GetText(running.get(), kDispidLastErrorText).find(L"Call Stop first"));
    EXPECT_NE(static_cast<LONG>(engine::SamplerStatus::kStartFailed), GetLong(running.get(), kDispidStatus));
    Stop(running.get());

    auto noLock = CreateControl();
    ComPtr<IDispatch> noThread;
    CVandrelCtrl::Seams noThreadLeft;
    noThreadLeft.sampler.createThread = &NoThreadLeft;
    ASSERT_HR(S_OK, base::CreateObject<CVandrelCtrl>(IID_IDispatch, noThread.put_void(), noThreadLeft));
    for (const auto& [ctrl, squat, error] :
         {std::tuple{noLock.get(), true, HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE)},
          std::tuple{noThread.get(), false, HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY)}}) {
        // Another kind of object holds the lock's name, so the lock cannot be opened.
        base::UniqueEvent squatter(squat ? ::CreateMutexA(nullptr, FALSE, kPortLockName) : nullptr);
        EXPECT_EQ(VARIANT_FALSE, Start(ctrl));
        EXPECT_EQ(error, GetLong(ctrl, kDispidLastError));
        EXPECT_EQ(static_cast<LONG>(engine::SamplerStatus::kStartFailed), GetLong(ctrl, kDispidStatus));
        const std::wstring text = GetText(ctrl, kDispidLastErrorText);
        EXPECT_FALSE(text.empty());
        EXPECT_EQ(L"Start failed: " + text, GetText(ctrl, kDispidStatusText));
    }
}

// A busy host hears of many cycles once; then, pumping, of each newest cycle in order; all on the
// thread that created the control, and nothing while the container has the events frozen. Without
// a sink nothing is posted at all.
TEST(ControlEvents, ArriveOnTheCreatingThreadInOrderAndCoalesced) {
    SimBoards sim("356:count");
    auto ctrl = CreateControl();
    ASSERT_HR(S_OK, Put(ctrl.get(), kDispidInterval, I4(1)));
    ASSERT_TRUE(PumpUntil([] { return true; }));
    ASSERT_EQ(VARIANT_TRUE, Start(ctrl.get()));
    ASSERT_TRUE(WaitUntil([&] { return GetLong(ctrl.get(), kDispidCycleCount) >= 5; }));
    EXPECT_EQ(0u, HIWORD(::GetQueueStatus(QS_POSTMESSAGE))) << "posted without a sink";

    EventSink sink(kDiidDVandrelEvents);
    Connect(ctrl.get(), sink);
    // Busy: cycles come and no message is handled.
    const LONG busyUntil = GetLong(ctrl.get(), kDispidCycleCount) + 10;
    ASSERT_TRUE(WaitUntil([&] { return GetLong(ctrl.get(), kDispidCycleCount) >= busyUntil; }));
    ASSERT_TRUE(PumpUntil([] { return true; }));
    ASSERT_EQ(2u, sink.fired.size()) << "one StatusChanged and one DataReady";
    EXPECT_EQ(kDispidStatusChanged, sink.fired[0].dispid);
    EXPECT_EQ(static_cast<LONG>(engine::SamplerStatus::kSampling), sink.fired[0].value);
    EXPECT_EQ(kDispidDataReady, sink.fired[1].dispid);
    EXPECT_GE(sink.fired[1].value, busyUntil);

    ComPtr<IOleControl> container;
    ASSERT_HR(S_OK, ctrl->QueryInterface(IID_IOleControl, container.put_void()));
    EXPECT_HR(S_OK, container->FreezeEvents(TRUE));
    const LONG thawAfter = GetLong(ctrl.get(), kDispidCycleCount) + 5;
    ASSERT_TRUE(PumpUntil([&] { return GetLong(ctrl.get(), kDispidCycleCount) >= thawAfter; }));
    EXPECT_EQ(2u, sink.fired.size()) << "fired while frozen";
    EXPECT_HR(S_OK, container->FreezeEvents(FALSE));
    container.reset();
    ASSERT_TRUE(PumpUntil([&] { return sink.Values(kDispidDataReady).size() >= 2; }));
    EXPECT_GE(sink.Values(kDispidDataReady)[1], thawAfter) << "the thaw told the newest cycle";
    ASSERT_TRUE(PumpUntil([&] { return sink.Values(kDispidDataReady).size() >= 6; }));
    Stop(ctrl.get());
    ASSERT_TRUE(PumpUntil([&] { return sink.Values(kDispidStatusChanged).back() == 0; }));
    const auto cycles = sink.Values(kDispidDataReady);
    for (size_t i = 1; i < cycles.size(); ++i) EXPECT_LT(cycles[i - 1], cycles[i]) << i;
    for (const auto& e : sink.fired) EXPECT_EQ(::GetCurrentThreadId(), e.thread);

    // A sink may let go of the control in its event: the control goes, and nothing calls into it.
    ASSERT_EQ(VARIANT_TRUE, Start(ctrl.get()));
    sink.onEvent = [&](const harness::FiredEvent&) { ctrl.reset(); };
    ASSERT_TRUE(PumpUntil([&] { return !ctrl; }));
    EXPECT_EQ(1u, sink.RefCount()) << "the connection went with the control";
}

namespace {

// Handles messages until the control has nothing more to tell and its status is settled.
void PumpUntilIdle(IDispatch* ctrl, const std::function<bool(LONG status)>& settled) {
    ASSERT_TRUE(PumpUntil([&] { return settled(GetLong(ctrl, kDispidStatus)); }));
    for (int i = 0; i < 20; ++i) {
        Pump();
        ::Sleep(5);
    }
}

constexpr LONG kSampling = static_cast<LONG>(engine::SamplerStatus::kSampling);
constexpr LONG kBoardNotReady = static_cast<LONG>(engine::SamplerStatus::kBoardNotReady);

}  // namespace

// A sink that handles messages inside its events (DoEvents, a message box) while the board fails
// and recovers: no event arrives inside another, DataReady never goes back, and once the loop is
// idle the last StatusChanged heard is the control's Status.
TEST(ControlEvents, ASinkThatPumpsMessagesHearsEveryChangeInOrderAndNeverInsideAnother) {
    SimBoards sim("356:count");
    auto ctrl = CreateControl();
    ASSERT_HR(S_OK, Put(ctrl.get(), kDispidInterval, I4(2)));
    EventSink sink(kDiidDVandrelEvents);
    Connect(ctrl.get(), sink);
    int depth = 0, deepest = 0;
    sink.onEvent = [&](const harness::FiredEvent&) {
        deepest = std::max(deepest, ++depth);
        for (int i = 0; i < 3; ++i) {
            Pump();
            ::Sleep(1);
        }
        --depth;
    };
    ASSERT_EQ(VARIANT_TRUE, Start(ctrl.get()));
    std::atomic<bool> flipping{true};
    std::thread board([&] {
        for (int i = 0; i < 20; ++i) {
            DPSIM_Configure(i % 2 ? "356:count" : "356:busy");
            ::Sleep(15);
        }
        DPSIM_Configure("356:count");
        flipping = false;
    });
    ASSERT_TRUE(PumpUntil([&] { return !flipping.load(); }));
    board.join();
    PumpUntilIdle(ctrl.get(), [](LONG status) { return status == kSampling; });
    EXPECT_EQ(1, deepest) << "an event arrived inside another";
    const auto statuses = sink.Values(kDispidStatusChanged);
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(GetLong(ctrl.get(), kDispidStatus), statuses.back());
    EXPECT_NE(statuses.end(), std::find(statuses.begin(), statuses.end(), kBoardNotReady));
    const auto cycles = sink.Values(kDispidDataReady);
    for (size_t i = 1; i < cycles.size(); ++i) EXPECT_LE(cycles[i - 1], cycles[i]) << i;
    Stop(ctrl.get());
}

// A fault that comes and goes while the host is busy is told, in order; and a container that
// freezes the events from inside a sink gets what followed after its thaw, not never.
TEST(ControlEvents, ABriefFaultIsToldAndAFreezeInsideASinkDelaysButLosesNothing) {
    SimBoards sim("356:count");
    auto ctrl = CreateControl();
    ASSERT_HR(S_OK, Put(ctrl.get(), kDispidInterval, I4(5)));
    EventSink sink(kDiidDVandrelEvents);
    Connect(ctrl.get(), sink);
    ASSERT_EQ(VARIANT_TRUE, Start(ctrl.get()));
    PumpUntilIdle(ctrl.get(), [](LONG status) { return status == kSampling; });
    const size_t before = sink.Values(kDispidStatusChanged).size();

    // Busy host: the board fails for a while and recovers before anything is handled.
    ASSERT_EQ(1, DPSIM_Configure("356:busy"));
    ASSERT_TRUE(WaitUntil([&] { return GetLong(ctrl.get(), kDispidStatus) == kBoardNotReady; }));
    ::Sleep(30);
    ASSERT_EQ(1, DPSIM_Configure("356:count"));
    ASSERT_TRUE(WaitUntil([&] { return GetLong(ctrl.get(), kDispidStatus) == kSampling; }));
    PumpUntilIdle(ctrl.get(), [](LONG status) { return status == kSampling; });
    // A switch of the board in the middle of a cycle may add an incomplete one in between.
    const auto statuses = sink.Values(kDispidStatusChanged);
    const std::vector<LONG> told(statuses.begin() + static_cast<ptrdiff_t>(before), statuses.end());
    ASSERT_GE(told.size(), 2u);
    EXPECT_NE(told.end(), std::find(told.begin(), told.end(), kBoardNotReady)) << "the fault went unheard";
    EXPECT_EQ(kSampling, told.back());
    for (size_t i = 1; i < told.size(); ++i) EXPECT_NE(told[i - 1], told[i]) << "told twice";

    // An untold cycle, so that the pass that tells the failure begins with its DataReady.
    const LONG untold = GetLong(ctrl.get(), kDispidCycleCount);
    ASSERT_TRUE(WaitUntil([&] { return GetLong(ctrl.get(), kDispidCycleCount) > untold; }));

    // The container freezes in the sink of a DataReady whose pass also has a failure to tell.
    ComPtr<IOleControl> container;
    ASSERT_HR(S_OK, ctrl->QueryInterface(IID_IOleControl, container.put_void()));
    bool froze = false;
    sink.onEvent = [&](const harness::FiredEvent& e) {
        if (e.dispid == kDispidDataReady && !froze) froze = SUCCEEDED(container->FreezeEvents(TRUE));
    };
    ASSERT_EQ(1, DPSIM_Configure("356:busy"));
    ASSERT_TRUE(WaitUntil([&] { return GetLong(ctrl.get(), kDispidStatus) == kBoardNotReady; }));
    PumpUntilIdle(ctrl.get(), [](LONG status) { return status == kBoardNotReady; });
    ASSERT_TRUE(froze);
    EXPECT_EQ(kSampling, sink.Values(kDispidStatusChanged).back()) << "told while frozen";
    EXPECT_HR(S_OK, container->FreezeEvents(FALSE));
    // The host's loop alone turns, and nothing else calls into the control: the thaw itself asks
    // for the pass that tells the rest.
    EXPECT_TRUE(PumpUntil([&] { return sink.Values(kDispidStatusChanged).back() == kBoardNotReady; }))
        << "lost in the freeze";
    Stop(ctrl.get());
}

// Status then LastError belong together also when the status changes between the two reads; once
// the host's loop turns, LastError is the newest again.
TEST(ControlErrors, LastErrorReadAfterStatusBelongsToThatStatus) {
    SimBoards sim("356:busy");
    auto ctrl = CreateControl();
    // Pauses long enough for the stalling board to begin each cycle anew.
    ASSERT_HR(S_OK, Put(ctrl.get(), kDispidInterval, I4(20)));
    ASSERT_EQ(VARIANT_TRUE, Start(ctrl.get()));
    ASSERT_TRUE(WaitUntil([&] { return GetLong(ctrl.get(), kDispidStatus) == kBoardNotReady; }));
    // The status was read as "board not ready"; then the board leaves half cycles (FailedCycles
    // counts them without a read of the status).
    const LONG failed = GetLong(ctrl.get(), kDispidFailedCycles);
    ASSERT_EQ(1, DPSIM_Configure("356:count,stall=5"));
    ASSERT_TRUE(WaitUntil([&] { return GetLong(ctrl.get(), kDispidFailedCycles) >= failed + 3; }));
    EXPECT_EQ(engine::kErrorBoardNotReady, GetLong(ctrl.get(), kDispidLastError));
    EXPECT_NE(std::wstring::npos, GetText(ctrl.get(), kDispidLastErrorText).find(L"No byte arrived"));
    Pump();
    EXPECT_EQ(engine::kErrorCycleIncomplete, GetLong(ctrl.get(), kDispidLastError)) << "the loop turned";
    Stop(ctrl.get());
}

namespace {

std::atomic<bool> g_noArrays{false};
SAFEARRAY* WINAPI ArrayUnlessRefused(VARTYPE vt, UINT dims, SAFEARRAYBOUND* bounds) {
    return g_noArrays ? nullptr : ::SafeArrayCreate(vt, dims, bounds);
}

}  // namespace

// Without memory for ReadCycles' array nothing leaves the buffer: the call fails with
// E_OUTOFMEMORY, and the next one returns every cycle, none counted lost. LostCycles counts what
// the buffer overwrote before any drain reports it.
TEST(ControlCycles, AFailedArrayLeavesTheCyclesUnreadAndLossesCountBeforeADrain) {
    SimBoards sim("356:count");
    ComPtr<IDispatch> ctrl;
    CVandrelCtrl::Seams seams;
    seams.createArray = &ArrayUnlessRefused;
    ASSERT_HR(S_OK, base::CreateObject<CVandrelCtrl>(IID_IDispatch, ctrl.put_void(), seams));
    ASSERT_HR(S_OK, Put(ctrl.get(), kDispidInterval, I4(1)));
    ASSERT_HR(S_OK, Put(ctrl.get(), kDispidBufferSize, I4(8)));
    ASSERT_EQ(VARIANT_TRUE, Start(ctrl.get()));
    ASSERT_TRUE(WaitUntil([&] { return GetLong(ctrl.get(), kDispidCycleCount) >= 20; }));
    Stop(ctrl.get());
    const LONG count = GetLong(ctrl.get(), kDispidCycleCount);
    EXPECT_EQ(count - 8, GetLong(ctrl.get(), kDispidLostCycles)) << "before any drain";

    g_noArrays = true;
    Variant result;
    EXPECT_HR(E_OUTOFMEMORY, Invoke(ctrl.get(), kDispidReadCycles, DISPATCH_METHOD, {I4(100)}, result.ptr()));
    g_noArrays = false;
    EXPECT_EQ(8, GetLong(ctrl.get(), kDispidUnreadCycles));
    LONG lost = -1;
    const auto rows = ReadCycles(ctrl.get(), 100, &lost);
    ASSERT_EQ(8u, rows.size());
    EXPECT_EQ(count - 7, rows[0].number);
    EXPECT_EQ(count - 8, lost);
    EXPECT_EQ(count - 8, GetLong(ctrl.get(), kDispidLostCycles));
}

// The run's health through the control: a rate and gaps once cycles come, failed attempts while the
// board is busy, and a new run that starts from nothing.
TEST(ControlHealth, RateGapAndFailedAttemptsOfTheRun) {
    SimBoards sim("356:busy");
    auto ctrl = CreateControl();
    ASSERT_HR(S_OK, Put(ctrl.get(), kDispidInterval, I4(5)));
    ASSERT_EQ(VARIANT_TRUE, Start(ctrl.get()));
    ASSERT_TRUE(WaitUntil([&] { return GetLong(ctrl.get(), kDispidFailedCycles) >= 3; }));
    ASSERT_EQ(1, DPSIM_Configure("356:count"));
    ASSERT_TRUE(WaitUntil([&] { return GetLong(ctrl.get(), kDispidCycleCount) >= 5; }));
    Variant rate;
    ASSERT_HR(S_OK, Invoke(ctrl.get(), kDispidCycleRate, DISPATCH_PROPERTYGET, {}, rate.ptr()));
    EXPECT_EQ(VT_R8, rate.vt());
    EXPECT_GT(rate.get().dblVal, 0.0);
    EXPECT_GT(GetLong(ctrl.get(), kDispidLongestGap), 0);
    Variant p99;
    ASSERT_HR(S_OK, Invoke(ctrl.get(), kDispidGapPercentile99, DISPATCH_PROPERTYGET, {}, p99.ptr()));
    EXPECT_EQ(VT_R8, p99.vt());
    EXPECT_GE(p99.get().dblVal, 5.0) << "a gap is at least the Interval";
    Stop(ctrl.get());
    const LONG failed = GetLong(ctrl.get(), kDispidFailedCycles);
    EXPECT_EQ(failed, GetLong(ctrl.get(), kDispidFailedCycles)) << "kept after Stop";
    ASSERT_EQ(VARIANT_TRUE, Start(ctrl.get()));
    EXPECT_EQ(0, GetLong(ctrl.get(), kDispidFailedCycles)) << "a new run";
    Stop(ctrl.get());
}

namespace {

VARIANT Bool(VARIANT_BOOL b) {
    VARIANT v;
    v.vt = VT_BOOL;
    v.boolVal = b;
    return v;
}

}  // namespace

// PreciseTiming is off at first and takes a Boolean or, as VBA's CBool, any number (not 0 is True). A
// running control takes it without the restart a change of Interval makes: the run's cycles go on
// being numbered. It is saved nowhere, so the modified flag stays.
TEST(ControlTiming, PreciseTimingIsTakenWhileRunningWithoutARestart) {
    SimBoards sim("356:count");
    auto ctrl = CreateControl();
    const auto precise = [&] {
        Variant v;
        EXPECT_HR(S_OK, Invoke(ctrl.get(), kDispidPreciseTiming, DISPATCH_PROPERTYGET, {}, v.ptr()));
        EXPECT_EQ(VT_BOOL, v.vt());
        return v.get().boolVal;
    };
    EXPECT_EQ(VARIANT_FALSE, precise());
    ASSERT_HR(S_OK, Put(ctrl.get(), kDispidPreciseTiming, Bool(VARIANT_TRUE)));
    EXPECT_FALSE(IsDirty(ctrl.get()));
    ASSERT_HR(S_OK, Put(ctrl.get(), kDispidInterval, I4(2)));
    ASSERT_EQ(VARIANT_TRUE, Start(ctrl.get()));
    const std::pair<VARIANT, VARIANT_BOOL> puts[] = {{I4(0), VARIANT_FALSE},
                                                     {Bool(VARIANT_TRUE), VARIANT_TRUE},
                                                     {I4(0), VARIANT_FALSE},
                                                     {I4(7), VARIANT_TRUE}};
    for (const auto& [value, expected] : puts) {
        ASSERT_TRUE(WaitUntil([&] { return GetLong(ctrl.get(), kDispidCycleCount) >= 5; }));
        const LONG before = GetLong(ctrl.get(), kDispidCycleCount);
        ASSERT_HR(S_OK, Put(ctrl.get(), kDispidPreciseTiming, value));
        EXPECT_EQ(expected, precise());
        EXPECT_GE(GetLong(ctrl.get(), kDispidCycleCount), before) << "restarted: numbered from 1 again";
    }
    Stop(ctrl.get());
    EXPECT_EQ(VARIANT_TRUE, precise()) << "kept after Stop";
}
