// Recording and waiting through the control's IDispatch, as a host uses them: a host that never
// handles a message still finds every cycle in the file, refused input says why, and WaitForCycles
// keeps the host's messages flowing.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "base/com_ptr.h"
#include "base/text.h"
#include "base/variant.h"
#include "tests/control/vandrel_ocx.h"
#include "tests/support/hresult_matchers.h"
#include "tests/support/sim_helpers.h"

using base::ComPtr;
using base::Variant;
using namespace testsupport;
using namespace client;  // DISPIDs

namespace {

namespace fs = std::filesystem;

fs::path Folder(const char* name) {
    const fs::path folder = fs::temp_directory_path() / "vandrel-control-recording" / name;
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    fs::create_directories(folder);
    return folder;
}

[[nodiscard]] HRESULT PutText(IDispatch* ctrl, DISPID id, const wchar_t* text, EXCEPINFO* excep = nullptr) {
    Variant value(text);
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params = {value.ptr(), &named, 1, 1};
    return ctrl->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, excep, nullptr);
}

std::wstring GetText(IDispatch* ctrl, DISPID id) {
    Variant v;
    if (FAILED(Invoke(ctrl, id, DISPATCH_PROPERTYGET, {}, v.ptr())) || v.vt() != VT_BSTR) return L"?";
    return v.get().bstrVal ? v.get().bstrVal : L"";
}

bool GetBool(IDispatch* ctrl, DISPID id) {
    Variant v;
    return SUCCEEDED(Invoke(ctrl, id, DISPATCH_PROPERTYGET, {}, v.ptr())) && v.vt() == VT_BOOL &&
           v.get().boolVal == VARIANT_TRUE;
}

LONG WaitForCycles(IDispatch* ctrl, LONG cycles, LONG timeoutMs) {
    Variant result;
    EXPECT_HR(S_OK,
              Invoke(ctrl, kDispidWaitForCycles, DISPATCH_METHOD, {I4(cycles), I4(timeoutMs)}, result.ptr()));
    return result.vt() == VT_I4 ? result.get().lVal : -1;
}

// The numbers of the rows of a record file.
std::vector<LONG> RowNumbers(const fs::path& file) {
    std::ifstream in(file);
    std::vector<LONG> numbers;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] >= '0' && line[0] <= '9') numbers.push_back(std::stol(line));
    }
    return numbers;
}

// A message-only window of the host's thread with the procedure given, gone with the object.
class HostWindow {
public:
    HostWindow(WNDPROC proc, const wchar_t* className) : className_(className) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = proc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = className;
        ::RegisterClassW(&wc);
        window_ =
            ::CreateWindowExW(0, className, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    }
    ~HostWindow() {
        if (window_) ::DestroyWindow(window_);
        ::UnregisterClassW(className_, ::GetModuleHandleW(nullptr));
    }
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;
    HWND get() const { return window_; }

private:
    const wchar_t* className_ = nullptr;
    HWND window_ = nullptr;
};

// A window of the host's that counts the messages it was sent.
UINT g_handled = 0;
LRESULT CALLBACK CountingWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_APP + 7) ++g_handled;
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

// A host that sets the file, starts, stays busy without handling a message or draining, and stops:
// every cycle of the run is in the file once and in order, and ReadCycles gets them all as well.
TEST(ControlRecording, AHostThatNeverPumpsFindsEveryCycleInTheFile) {
    SimBoards sim("356:count");
    const fs::path file = Folder("busy") / "busy.csv";
    auto ctrl = CreateControl();
    ASSERT_HR(S_OK, Put(ctrl.get(), kDispidInterval, I4(1)));
    ASSERT_HR(S_OK, Put(ctrl.get(), kDispidBufferSize, I4(100000)));
    ASSERT_HR(S_OK, PutText(ctrl.get(), kDispidRecordFile, file.c_str()));
    EXPECT_EQ(file.wstring(), GetText(ctrl.get(), kDispidRecordFile));
    EXPECT_TRUE(GetBool(ctrl.get(), kDispidRecording));
    ASSERT_EQ(VARIANT_TRUE, Start(ctrl.get()));
    ::Sleep(1500);
    Stop(ctrl.get());
    ASSERT_HR(S_OK, PutText(ctrl.get(), kDispidRecordFile, L""));
    EXPECT_FALSE(GetBool(ctrl.get(), kDispidRecording));
    EXPECT_EQ(L"", GetText(ctrl.get(), kDispidRecordFile));
    const LONG count = GetLong(ctrl.get(), kDispidCycleCount);
    const auto numbers = RowNumbers(file);
    ASSERT_EQ(static_cast<size_t>(count), numbers.size());
    for (size_t i = 0; i < numbers.size(); ++i) ASSERT_EQ(static_cast<LONG>(i + 1), numbers[i]);
    EXPECT_EQ(0, GetLong(ctrl.get(), kDispidRecordLost));
    EXPECT_EQ(count, GetLong(ctrl.get(), kDispidUnreadCycles)) << "the buffer has every cycle too";
}

// A path that cannot be opened fails the put with the system's message, as a host shows it, and
// changes nothing; a limit out of range is refused the same way as a buffer size.
TEST(ControlRecording, RefusedInputSaysWhyAndChangesNothing) {
    const fs::path folder = Folder("refused");
    auto ctrl = CreateControl();
    ASSERT_HR(S_OK, PutText(ctrl.get(), kDispidRecordFile, (folder / "first.csv").c_str()));
    EXCEPINFO excep = {};
    const fs::path missing = folder / "missing" / "x.csv";
    EXPECT_HR(DISP_E_EXCEPTION, PutText(ctrl.get(), kDispidRecordFile, missing.c_str(), &excep));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), excep.scode);
    EXPECT_EQ(base::SystemMessage(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)),
              excep.bstrDescription ? excep.bstrDescription : L"");
    EXPECT_STREQ(L"VANDREL.VandrelCtrl.1", excep.bstrSource);
    ::SysFreeString(excep.bstrDescription);
    ::SysFreeString(excep.bstrSource);
    EXPECT_HR(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND),
              PutText(ctrl.get(), kDispidRecordFile, missing.c_str()))
        << "without an EXCEPINFO";
    EXPECT_EQ((folder / "first.csv").wstring(), GetText(ctrl.get(), kDispidRecordFile));
    EXPECT_TRUE(GetBool(ctrl.get(), kDispidRecording));

    EXPECT_EQ(104857600, GetLong(ctrl.get(), kDispidRecordLimit));
    EXPECT_HR(DISP_E_EXCEPTION, Put(ctrl.get(), kDispidRecordLimit, I4(4095)));
    EXPECT_HR(S_OK, Put(ctrl.get(), kDispidRecordLimit, I4(4096)));
    EXPECT_EQ(4096, GetLong(ctrl.get(), kDispidRecordLimit));
    EXPECT_HR(DISP_E_MEMBERNOTFOUND, Put(ctrl.get(), kDispidRecordLost, I4(0)));
    EXPECT_FALSE(IsDirty(ctrl.get())) << "no saved setting";
    ASSERT_HR(S_OK, PutText(ctrl.get(), kDispidRecordFile, L""));
}

// WaitForCycles returns once the cycles wait, at the time-out when none come, and at once when the
// control is not sampling; meanwhile the thread's messages are handled.
TEST(ControlWait, ReturnsOnTheCountTheTimeOutOrAStopAndHandlesMessages) {
    SimBoards sim("356:count");
    auto ctrl = CreateControl();
    ASSERT_HR(S_OK, Put(ctrl.get(), kDispidInterval, I4(2)));
    EXPECT_EQ(0, WaitForCycles(ctrl.get(), 5, 60000)) << "not sampling: at once";
    ASSERT_EQ(VARIANT_TRUE, Start(ctrl.get()));
    g_handled = 0;
    const HostWindow window(&CountingWindowProc, L"VandrelWaitTest");
    ASSERT_NE(nullptr, window.get());
    ::PostMessageW(window.get(), WM_APP + 7, 0, 0);
    EXPECT_GE(WaitForCycles(ctrl.get(), 20, 60000), 20);
    EXPECT_EQ(1u, g_handled) << "the host's message was handled during the wait";

    ASSERT_EQ(1, DPSIM_Configure("356:busy"));
    ASSERT_TRUE(WaitUntil([&] { return GetLong(ctrl.get(), kDispidStatus) == 3; }));
    Variant drained;
    ASSERT_HR(S_OK, Invoke(ctrl.get(), kDispidReadCycles, DISPATCH_METHOD, {I4(100000)}, drained.ptr()));
    EXPECT_EQ(0, WaitForCycles(ctrl.get(), 1, 50)) << "the time-out, no cycle";
    Stop(ctrl.get());

    Variant refused;
    EXPECT_HR(DISP_E_EXCEPTION,
              Invoke(ctrl.get(), kDispidWaitForCycles, DISPATCH_METHOD, {I4(0), I4(10)}, refused.ptr()));
}

// Asked for a full buffer, or for more than it holds, the wait ends with the cycle that fills the
// buffer, not at its time-out: with a cycle every 200 ms, the run has made the buffer's two cycles
// when it returns (a third if the host was held up for a whole cycle).
TEST(ControlWait, AFullBufferEndsTheWait) {
    SimBoards sim("356:count");
    auto ctrl = CreateControl();
    ASSERT_HR(S_OK, Put(ctrl.get(), kDispidInterval, I4(200)));
    ASSERT_HR(S_OK, Put(ctrl.get(), kDispidBufferSize, I4(2)));
    for (const LONG asked : {2, 20}) {
        ASSERT_EQ(VARIANT_TRUE, Start(ctrl.get()));  // a new run: nothing unread
        EXPECT_EQ(2, WaitForCycles(ctrl.get(), asked, 5000)) << "asked for " << asked;
        EXPECT_LE(GetLong(ctrl.get(), kDispidCycleCount), 3) << "asked for " << asked << ": waited on";
        Stop(ctrl.get());
    }
}

namespace {

// A host's form that its container closes: the window's message lets go of the host's control.
ComPtr<IDispatch>* g_hostsControl = nullptr;
HRESULT g_canUnloadAtClose = E_FAIL;
LRESULT CALLBACK ClosingWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_APP + 8 && g_hostsControl) {
        g_hostsControl->reset();
        g_canUnloadAtClose = VandrelOcx::Get().CanUnloadNow();
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

// The host lets go of the control in a message the wait handles: the wait runs on to its time-out
// and returns as usual, and the control goes after it, not under it.
TEST(ControlWait, AControlLetGoOfDuringTheWaitGoesAfterIt) {
    SimBoards sim("356:busy");  // no cycle comes: the wait handles messages until its time-out
    auto ctrl = CreateControl();
    ASSERT_EQ(VARIANT_TRUE, Start(ctrl.get()));
    const HostWindow window(&ClosingWindowProc, L"VandrelClosingForm");
    ASSERT_NE(nullptr, window.get());
    g_hostsControl = &ctrl;
    ::PostMessageW(window.get(), WM_APP + 8, 0, 0);
    IDispatch* const waiting = ctrl.get();
    EXPECT_EQ(0, WaitForCycles(waiting, 1, 200));
    EXPECT_FALSE(ctrl) << "the message was not handled";
    EXPECT_HR(S_FALSE, g_canUnloadAtClose) << "gone under the wait";
    EXPECT_HR(S_OK, VandrelOcx::Get().CanUnloadNow()) << "still there after the wait";
    g_hostsControl = nullptr;
}
