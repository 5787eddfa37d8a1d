// The control as COM serves it to other apartments and loads and unloads it: registered in the test
// prefix for the duration of each test (the registry is put back afterwards), created by class,
// called from a multithreaded apartment through the global interface table, and its module offered
// to CoFreeUnusedLibrariesEx once nothing of it is held, then used again. The 64-bit module unloads
// then and loads anew; the 32-bit one stays loaded for the rest of the process from its first load
// (its runtime would leave handles behind at every unload), and serves from that one load.
//
// The trace pins the module that holds its writer thread, so once a sampler has opened the trace
// (the flag file exists when a control is created) the module stays mapped for the rest of the
// process. That case runs in a child process so that the other tests can still unload the module.
#include <gtest/gtest.h>

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/com_object.h"
#include "base/com_ptr.h"
#include "base/late_bound.h"
#include "base/unique_handle.h"
#include "base/variant.h"
#include "client/vandrel_ids.h"
#include "harness/child_process.h"
#include "harness/process_usage.h"
#include "tests/activex/expected_registration.h"
#include "tests/activex/registry_snapshot.h"
#include "tests/control/fake_site.h"
#include "tests/support/call_site.h"
#include "tests/support/fuzz_support.h"
#include "tests/support/run_process.h"
#include "tests/support/hresult_matchers.h"
#include "vandrel_h.h"

using base::ComPtr;
using namespace client;  // DISPIDs

namespace {

constexpr wchar_t kModuleName[] = L"Vandrel.ocx";
constexpr char kFlagFile[] = "C:\\TRUV_Debug.flag";
constexpr char kLogFile[] = "C:\\log.log";

std::wstring OcxPath() { return testsupport::BinFolder() + kModuleName; }

// A call with at most one argument; result may be null.
[[nodiscard]] HRESULT Call(IDispatch* d, DISPID id, WORD flags, const VARIANT* arg, VARIANT* result) {
    return base::InvokeById(d, id, flags, arg, arg ? 1 : 0, result);
}

[[nodiscard]] HRESULT PutLong(IDispatch* d, DISPID id, LONG value) {
    base::Variant v(value);
    return Call(d, id, DISPATCH_PROPERTYPUT, v.ptr(), nullptr);
}

LONG GetLong(IDispatch* d, DISPID id) {
    base::Variant v;
    if (FAILED(Call(d, id, DISPATCH_PROPERTYGET, nullptr, v.ptr())) || v.vt() != VT_I4) return -99999;
    return v.get().lVal;
}

SHORT ChannelValue(IDispatch* d, LONG index) {
    base::Variant arg(index), v;
    if (FAILED(Call(d, kDispidGetChnlValue, DISPATCH_METHOD, arg.ptr(), v.ptr())) || v.vt() != VT_I2)
        return -32768;
    return v.get().iVal;
}

// Runs the thread's messages until handle is signalled: an STA thread must keep serving the calls
// that other apartments make on its objects.
bool PumpUntil(HANDLE handle, DWORD timeoutMs) {
    const ULONGLONG end = ::GetTickCount64() + timeoutMs;
    for (;;) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= end) return false;
        const DWORD r =
            ::MsgWaitForMultipleObjects(1, &handle, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
        if (r == WAIT_OBJECT_0) return true;
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
}

bool PumpWhile(const std::function<bool()>& pred, DWORD timeoutMs) {
    const ULONGLONG end = ::GetTickCount64() + timeoutMs;
    while (pred()) {
        if (::GetTickCount64() > end) return false;
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        ::Sleep(1);
    }
    return true;
}

// Polls pred for up to five seconds, on a thread that serves no messages.
bool WaitFor(const std::function<bool()>& pred) {
    const ULONGLONG end = ::GetTickCount64() + 5000;
    while (!pred()) {
        if (::GetTickCount64() > end) return false;
        ::Sleep(1);
    }
    return true;
}

bool ModuleLoaded() { return ::GetModuleHandleW(kModuleName) != nullptr; }

// Whether the module stays loaded once a process has loaded it: the 32-bit one does.
constexpr bool kStaysLoaded = sizeof(void*) == 4;

// Runs fn on a new thread of the multithreaded apartment while this STA thread serves calls, after
// running busy (when given) on this thread.
DWORD WINAPI MtaThread(LPVOID param) noexcept {
    if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
    (*static_cast<const std::function<void()>*>(param))();
    ::CoUninitialize();
    return 0;
}

void RunInMta(const std::function<void()>& fn, const std::function<void()>& busy = {},
              testsupport::CallSite caller = testsupport::CallSite::Here()) {
    const testsupport::CallerTrace fromCaller(caller);
    base::UniqueThread thread(
        ::CreateThread(nullptr, 0, MtaThread, const_cast<std::function<void()>*>(&fn), 0, nullptr));
    ASSERT_TRUE(thread);
    if (busy) busy();
    ASSERT_TRUE(PumpUntil(thread.get(), 60000)) << "the client thread did not finish";
}

// Forwards to the control and notes the thread each call arrives on.
class ThreadRecorder final : public base::ComObject<ThreadRecorder, base::Lifetime::Scoped, IDispatch> {
public:
    explicit ThreadRecorder(IDispatch* inner) : inner_(inner) {}
    STDMETHODIMP GetTypeInfoCount(UINT* count) noexcept override { return inner_->GetTypeInfoCount(count); }
    STDMETHODIMP GetTypeInfo(UINT i, LCID lcid, ITypeInfo** out) noexcept override {
        return inner_->GetTypeInfo(i, lcid, out);
    }
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT n, LCID lcid,
                               DISPID* ids) noexcept override {
        threads.push_back(::GetCurrentThreadId());
        return inner_->GetIDsOfNames(riid, names, n, lcid, ids);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excep, UINT* argErr) noexcept override {
        threads.push_back(::GetCurrentThreadId());
        return inner_->Invoke(id, riid, lcid, flags, params, result, excep, argErr);
    }
    std::vector<DWORD> threads;

private:
    IDispatch* const inner_;
};

// Each test registers the module as regsvr32 would and leaves the registry as it found it.
class ModuleLife : public testing::Test {
protected:
    void SetUp() override {
        restorer_ = std::make_unique<testsupport::ClassesRootRestorer>(keys_.Touched());
        restorer_->Clear();
        ASSERT_HR(S_OK, CallExport("DllRegisterServer"));
        ASSERT_EQ(kStaysLoaded, ModuleLoaded()) << "loaded after registration";
    }
    void TearDown() override {
        ::CoFreeUnusedLibrariesEx(0, 0);
        EXPECT_HR(S_OK, CallExport("DllUnregisterServer"));
        restorer_.reset();
    }

    [[nodiscard]] static HRESULT CallExport(const char* name) {
        base::UniqueModule module(::LoadLibraryW(OcxPath().c_str()));
        if (!module) return HRESULT_FROM_WIN32(::GetLastError());
        using Fn = HRESULT(STDAPICALLTYPE*)();
        const auto fn =
            reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(module.get(), name)));
        return fn ? fn() : E_NOINTERFACE;
    }

    // The loaded module's DllCanUnloadNow: whether objects or server locks are alive, in both builds.
    [[nodiscard]] static HRESULT CanUnloadNow() {
        using Fn = HRESULT(STDAPICALLTYPE*)();
        const auto fn = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(
            ::GetProcAddress(::GetModuleHandleW(kModuleName), "DllCanUnloadNow")));
        return fn ? fn() : E_FAIL;
    }

    static ComPtr<IDispatch> Create(testsupport::CallSite caller = testsupport::CallSite::Here()) {
        const testsupport::CallerTrace fromCaller(caller);
        ComPtr<IDispatch> ctrl;
        EXPECT_HR(S_OK, ::CoCreateInstance(CLSID_Vandrel, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                           ctrl.put_void()));
        return ctrl;
    }

    testsupport::RegistrationKeys keys_;
    std::unique_ptr<testsupport::ClassesRootRestorer> restorer_;
};

// A top-level window for the control's in-place window.
struct Form {
    Form()
        : hwnd(::CreateWindowExW(0, L"STATIC", L"form", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr, nullptr,
                                 nullptr, nullptr)) {}
    ~Form() { ::DestroyWindow(hwnd); }
    HWND hwnd;
};

// Creates a control, activates it in place (its window class registered by this load of the
// module), lets it sample and takes it down again.
void UseOneControl(const char* when, testsupport::CallSite caller = testsupport::CallSite::Here()) {
    const testsupport::CallerTrace fromCaller(caller);
    SCOPED_TRACE(when);
    Form form;
    testsupport::FakeSite site(form.hwnd);
    site.userMode = true;
    ComPtr<IDispatch> ctrl;
    ASSERT_HR(S_OK, ::CoCreateInstance(CLSID_Vandrel, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                       ctrl.put_void()));
    ComPtr<IOleObject> ole;
    ComPtr<IOleInPlaceObject> inPlace;
    ASSERT_HR(S_OK, ctrl->QueryInterface(IID_IOleObject, ole.put_void()));
    ASSERT_HR(S_OK, ctrl->QueryInterface(IID_IOleInPlaceObject, inPlace.put_void()));
    EXPECT_HR(S_OK, ole->SetClientSite(&site));
    EXPECT_HR(S_OK, ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, form.hwnd, &site.posRect));
    HWND window = nullptr;
    EXPECT_HR(S_OK, inPlace->GetWindow(&window));
    EXPECT_TRUE(::IsWindow(window));
    ::SendMessageW(window, WM_PAINT, 0, 0);  // runs the window procedure of this load

    EXPECT_HR(S_OK, PutLong(ctrl.get(), kDispidInterval, 20));
    base::Variant started;
    EXPECT_HR(S_OK, Call(ctrl.get(), kDispidStart, DISPATCH_METHOD, nullptr, started.ptr()));
    EXPECT_EQ(VARIANT_TRUE, started.get().boolVal);
    EXPECT_TRUE(PumpWhile([&] { return ChannelValue(ctrl.get(), 0) == 32767; }, 5000)) << "no fresh reading";
    EXPECT_HR(S_OK, Call(ctrl.get(), kDispidStop, DISPATCH_METHOD, nullptr, nullptr));

    ole->Close(OLECLOSE_NOSAVE);
    ole->SetClientSite(nullptr);
}

}  // namespace

// --- another apartment ---------------------------------------------------------------------------

TEST_F(ModuleLife, MultithreadedClientCallsRunOnTheControlsThread) {
    auto ctrl = Create();
    ASSERT_TRUE(ctrl);
    ThreadRecorder recorder(ctrl.get());
    ComPtr<IGlobalInterfaceTable> git;
    ASSERT_HR(S_OK, ::CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_IGlobalInterfaceTable, git.put_void()));
    DWORD ctrlCookie = 0, recorderCookie = 0;
    // Marshaled as the control's own dispatch interface: the registered type library's marshaler.
    ASSERT_HR(S_OK, git->RegisterInterfaceInGlobal(ctrl.get(), DIID__DVandrel, &ctrlCookie));
    ASSERT_HR(S_OK, git->RegisterInterfaceInGlobal(&recorder, IID_IDispatch, &recorderCookie));

    struct Seen {
        HRESULT unmarshal = E_FAIL;
        LONG interval = 0, address = 0, channels = 0;
        HRESULT channelsPut = E_FAIL, unknownMember = S_OK, badArgument = S_OK;
        VARIANT_BOOL started = 0;
        bool sampled = false;
        HRESULT stop = E_FAIL;
        ULONGLONG stopMs = 0;
    } seen;
    RunInMta([&] {
        ComPtr<IDispatch> remote;
        seen.unmarshal = git->GetInterfaceFromGlobal(ctrlCookie, DIID__DVandrel, remote.put_void());
        if (FAILED(seen.unmarshal)) return;
        EXPECT_HR(S_OK, PutLong(remote.get(), kDispidInterval, 20));
        EXPECT_HR(S_OK, PutLong(remote.get(), kDispidAddress, 356));
        seen.channelsPut = PutLong(remote.get(), kDispidChannelNumber, 3);  // the sampler keeps 8
        seen.interval = GetLong(remote.get(), kDispidInterval);
        seen.address = GetLong(remote.get(), kDispidAddress);
        seen.channels = GetLong(remote.get(), kDispidChannelNumber);
        seen.unknownMember = Call(remote.get(), 99, DISPATCH_METHOD, nullptr, nullptr);
        base::Variant text(L"not a number");
        seen.badArgument = Call(remote.get(), kDispidInterval, DISPATCH_PROPERTYPUT, text.ptr(), nullptr);
        base::Variant started;
        EXPECT_HR(S_OK, Call(remote.get(), kDispidStart, DISPATCH_METHOD, nullptr, started.ptr()));
        seen.started = started.get().boolVal;
        seen.sampled = WaitFor([&] { return ChannelValue(remote.get(), 0) != 32767; });
        // A long pause between cycles: a stop must not wait it out.
        EXPECT_HR(S_OK, PutLong(remote.get(), kDispidInterval, 600000));
        const ULONGLONG before = ::GetTickCount64();
        seen.stop = Call(remote.get(), kDispidStop, DISPATCH_METHOD, nullptr, nullptr);
        seen.stopMs = ::GetTickCount64() - before;
    });
    std::printf("Stop through the marshaled interface returned after %llu ms\n", seen.stopMs);
    ASSERT_HR(S_OK, seen.unmarshal) << "the dispatch interface could not be marshaled";
    EXPECT_EQ(20, seen.interval);
    EXPECT_EQ(356, seen.address);
    EXPECT_HR(S_OK, seen.channelsPut);
    EXPECT_EQ(8, seen.channels);
    EXPECT_HR(DISP_E_MEMBERNOTFOUND, seen.unknownMember);
    EXPECT_HR(DISP_E_TYPEMISMATCH, seen.badArgument);
    EXPECT_EQ(VARIANT_TRUE, seen.started);
    EXPECT_TRUE(seen.sampled);
    EXPECT_HR(S_OK, seen.stop);
    // Not a timing: a bound that tells a stop from one that waits out the 600 s pause.
    EXPECT_LT(seen.stopMs, 10000u) << "Stop waited for the sampler's pause";
    EXPECT_EQ(600000, GetLong(ctrl.get(), kDispidInterval)) << "the calls reached this very control";

    // Every call arrives on this thread, and only while it serves messages: a call made while the
    // thread is busy elsewhere completes only after it turns back to its message loop.
    base::UniqueEvent ready(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    base::UniqueEvent busy(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::atomic<bool> resumed{false};
    bool answeredAfterResume = false;
    SHORT value = 0;
    RunInMta(
        [&] {
            ComPtr<IDispatch> remote;
            if (FAILED(git->GetInterfaceFromGlobal(recorderCookie, IID_IDispatch, remote.put_void()))) return;
            GetLong(remote.get(), kDispidInterval);  // the proxy fully set up while the thread serves calls
            ::SetEvent(ready.get());
            ::WaitForSingleObject(busy.get(), 30000);
            value = ChannelValue(remote.get(), 9);
            answeredAfterResume = resumed;
        },
        [&] {
            // Serves calls until the client is ready, then is busy without serving any for a while.
            PumpUntil(ready.get(), 30000);
            ::SetEvent(busy.get());
            ::Sleep(300);
            resumed = true;
        });
    EXPECT_EQ(32767, value) << "channel 9 does not exist";
    EXPECT_TRUE(answeredAfterResume) << "a call completed while the control's thread was busy";
    const DWORD self = ::GetCurrentThreadId();
    ASSERT_FALSE(recorder.threads.empty());
    for (DWORD t : recorder.threads) EXPECT_EQ(self, t);

    EXPECT_HR(S_OK, git->RevokeInterfaceFromGlobal(ctrlCookie));
    EXPECT_HR(S_OK, git->RevokeInterfaceFromGlobal(recorderCookie));
    EXPECT_EQ(1u, recorder.RefCount());
}

// --- module life ---------------------------------------------------------------------------------

TEST_F(ModuleLife, ModuleUnloadsOrStaysAfterItsLastObjectAndServesAgainLeavingNothingBehind) {
    // The first round brings in what the libraries keep for good; the counts are taken around the
    // later rounds.
    UseOneControl("first load");
    ASSERT_TRUE(ModuleLoaded());
    EXPECT_HR(S_OK, CanUnloadNow());
    const HMODULE first = ::GetModuleHandleW(kModuleName);
    ::CoFreeUnusedLibrariesEx(0, 0);
    ASSERT_EQ(kStaysLoaded, ModuleLoaded()) << "loaded after its last object";

    const DWORD handlesBefore = harness::CountOpenHandles();
    const SIZE_T heapBefore = testsupport::HeapBytesInUse();
    constexpr int kRounds = 5;
    for (int round = 0; round < kRounds && !HasFailure(); ++round) {
        UseOneControl("after a reload");
        EXPECT_TRUE(ModuleLoaded());
        if (kStaysLoaded) {
            EXPECT_EQ(first, ::GetModuleHandleW(kModuleName)) << "not the first load";
        }
        ::CoFreeUnusedLibrariesEx(0, 0);
        EXPECT_EQ(kStaysLoaded, ModuleLoaded()) << "round " << round;
    }
    const DWORD handlesAfter = harness::CountOpenHandles();
    const SIZE_T heapAfter = testsupport::HeapBytesInUse();
    std::printf("%d load and unload rounds: handles %lu -> %lu, heap bytes in use %llu -> %llu\n", kRounds,
                handlesBefore, handlesAfter, static_cast<unsigned long long>(heapBefore),
                static_cast<unsigned long long>(heapAfter));
    EXPECT_LE(handlesAfter, handlesBefore);
    EXPECT_LT(heapAfter, heapBefore + 16 * 1024 * kRounds);
}

TEST_F(ModuleLife, ModuleStaysWhileAnObjectOrAServerLockIsHeld) {
    auto ctrl = Create();
    ASSERT_TRUE(ctrl);
    ::CoFreeUnusedLibrariesEx(0, 0);
    EXPECT_TRUE(ModuleLoaded()) << "unloaded under a live control";
    EXPECT_HR(S_FALSE, CanUnloadNow()) << "under a live control";
    ctrl.reset();

    ComPtr<IClassFactory> factory;
    ASSERT_HR(S_OK, ::CoGetClassObject(CLSID_Vandrel, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                       factory.put_void()));
    EXPECT_HR(S_OK, factory->LockServer(TRUE));
    factory.reset();
    ::CoFreeUnusedLibrariesEx(0, 0);
    EXPECT_TRUE(ModuleLoaded()) << "unloaded under a server lock";
    EXPECT_HR(S_FALSE, CanUnloadNow()) << "under a server lock";
    ASSERT_HR(S_OK, ::CoGetClassObject(CLSID_Vandrel, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                       factory.put_void()));
    EXPECT_HR(S_OK, factory->LockServer(FALSE));
    factory.reset();
    ::CoFreeUnusedLibrariesEx(0, 0);
    EXPECT_EQ(kStaysLoaded, ModuleLoaded());
}

// With the trace open the writer thread runs module code for the rest of the process, so the
// module is pinned: COM's unload leaves it mapped, and a later control is served by the same load.
TEST_F(ModuleLife, OpenTraceKeepsTheModuleForTheRestOfTheProcess) {
    const bool hadLog = ::GetFileAttributesA(kLogFile) != INVALID_FILE_ATTRIBUTES;
    {
        base::UniqueFile flag(::CreateFileA(kFlagFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(flag);
    }
    const auto child = harness::RunSelf("--child-pinned");
    ::DeleteFileA(kFlagFile);
    if (!hadLog) ::DeleteFileA(kLogFile);
    EXPECT_EQ(0u, child.exitCode) << child.out;
    EXPECT_NE(std::string::npos, child.out.find("after unload: loaded 1, same address 1")) << child.out;
    EXPECT_NE(std::string::npos, child.out.find("second control: sampled 1")) << child.out;
}

namespace {

// The child of the pinning test: a control opens the trace, goes away, and COM frees the module.
int PinnedChild() {
    if (FAILED(::OleInitialize(nullptr))) return 2;
    const auto create = [] {
        ComPtr<IDispatch> ctrl;
        ::CoCreateInstance(CLSID_Vandrel, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, ctrl.put_void());
        return ctrl;
    };
    auto ctrl = create();
    if (!ctrl) return 3;
    const HMODULE first = ::GetModuleHandleW(kModuleName);
    ctrl.reset();
    ::CoFreeUnusedLibrariesEx(0, 0);
    const HMODULE after = ::GetModuleHandleW(kModuleName);
    std::printf("after unload: loaded %d, same address %d\n", after != nullptr, after == first);
    ctrl = create();
    if (!ctrl) return 4;
    EXPECT_HR(S_OK, PutLong(ctrl.get(), kDispidInterval, 20));
    EXPECT_HR(S_OK, Call(ctrl.get(), kDispidStart, DISPATCH_METHOD, nullptr, nullptr));
    const bool sampled = PumpWhile([&] { return ChannelValue(ctrl.get(), 0) == 32767; }, 5000);
    EXPECT_HR(S_OK, Call(ctrl.get(), kDispidStop, DISPATCH_METHOD, nullptr, nullptr));
    std::printf("second control: sampled %d\n", sampled);
    std::fflush(stdout);
    ctrl.reset();
    ::OleUninitialize();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--child-pinned") == 0) return PinnedChild();
    testing::InitGoogleTest(&argc, argv);
    if (FAILED(::OleInitialize(nullptr))) return 2;
    const int result = RUN_ALL_TESTS();
    ::OleUninitialize();
    return result;
}
