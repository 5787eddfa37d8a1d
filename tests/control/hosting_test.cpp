// The control and its page in containers: a recording site of ours (activation protocol, design and
// run mode, the properties verb), Wine's ATL host window, which none of us wrote, and the platform's
// property frame. Classes are registered in-process with CoRegisterClassObject, never in the registry.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <ocidl.h>
#include <olectl.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/com_ptr.h"
#include "base/text.h"
#include "base/unique_handle.h"
#include "base/variant.h"
#include "harness/event_sink.h"
#include "chart/chart_view.h"
#include "control/resource.h"
#include "tests/control/automation_calls.h"
#include "tests/control/fake_site.h"
#include "tests/control/vandrel_ocx.h"
#include "tests/support/call_site.h"
#include "tests/support/sim_helpers.h"
#include "tests/support/window_text.h"
#include "tests/support/hresult_matchers.h"
#include "tests/support/png_pixels.h"

using base::ComPtr;
using client::kClsidVandrel;
using testsupport::CreateControl;
using testsupport::FakeSite;
using testsupport::GetLong;
using testsupport::I4;
using testsupport::kChannelsPageClsid;
using testsupport::kChartPageClsid;
using testsupport::kPageClsid;
using testsupport::Put;
using testsupport::SimBoards;
using testsupport::VandrelOcx;
using namespace testsupport;
using namespace client;  // DISPIDs

namespace {

using testsupport::ClassOf;
using testsupport::TextOf;

template <class T>
ComPtr<T> As(IUnknown* unknown, testsupport::CallSite caller = testsupport::CallSite::Here()) {
    const testsupport::CallerTrace fromCaller(caller);
    ComPtr<T> out;
    EXPECT_HR(S_OK, unknown->QueryInterface(__uuidof(T), out.put_void()));
    return out;
}

ATOM FormClass() {
    static const ATOM atom = [] {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = ::DefWindowProcW;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = L"VandrelTestForm";
        wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
        return ::RegisterClassW(&wc);
    }();
    return atom;
}

HWND CreateForm(DWORD style, HWND parent, int width, int height) {
    return ::CreateWindowExW(0, reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(FormClass())), L"form",
                             style | WS_CLIPCHILDREN, 0, 0, width, height, parent, nullptr,
                             ::GetModuleHandleW(nullptr), nullptr);
}

// One visible top-level window for the whole program: without a window manager, Wine waits two
// seconds for every visible top-level window that goes away.
HWND Desktop() {
    static const HWND desktop = [] {
        HWND hwnd = CreateForm(WS_OVERLAPPEDWINDOW, nullptr, 800, 600);
        ::ShowWindow(hwnd, SW_SHOWNA);
        return hwnd;
    }();
    return desktop;
}

// A container's form: a visible child of the program's one top-level window.
class TestWindow {
public:
    explicit TestWindow(int width = 400, int height = 300)
        : hwnd_(CreateForm(WS_CHILD | WS_VISIBLE, Desktop(), width, height)) {}
    ~TestWindow() {
        if (::IsWindow(hwnd_)) ::DestroyWindow(hwnd_);
    }
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;
    HWND get() const { return hwnd_; }

private:
    HWND hwnd_ = nullptr;
};

void PumpMessages() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

// A class of the module made known to COM in this process only.
class RegisteredClass {
public:
    explicit RegisteredClass(REFCLSID clsid, testsupport::CallSite caller = testsupport::CallSite::Here()) {
        const testsupport::CallerTrace fromCaller(caller);
        ComPtr<IClassFactory> factory;
        EXPECT_HR(S_OK, VandrelOcx::Get().GetClassObject(clsid, IID_IClassFactory, factory.put_void()));
        EXPECT_HR(S_OK, ::CoRegisterClassObject(clsid, factory.get(), CLSCTX_INPROC_SERVER,
                                                REGCLS_MULTIPLEUSE, &cookie_));
    }
    ~RegisteredClass() { ::CoRevokeClassObject(cookie_); }
    RegisteredClass(const RegisteredClass&) = delete;
    RegisteredClass& operator=(const RegisteredClass&) = delete;

private:
    DWORD cookie_ = 0;
};

// What the closing thread saw of a modal property frame before it cancelled it.
struct FrameView {
    bool found = false;
    std::wstring title;
    std::vector<std::wstring> tabs;
    bool pageFound = false;
    bool pageVisible = false;
    bool pageHasChildren = true;
    SIZE pageSize = {};
    SIZE pageTemplateSize = {};  // 250 x 62 dialog units in the page's own font
};

// Waits on another thread for a property frame of the calling thread, looks at it and cancels it:
// the platform's frame is modal and returns only when closed.
class FrameCloser {
public:
    FrameCloser() : owner_(::GetCurrentThreadId()), thread_([this] { Run(); }) {}
    ~FrameCloser() { Join(); }
    FrameCloser(const FrameCloser&) = delete;
    FrameCloser& operator=(const FrameCloser&) = delete;

    const FrameView& Join() {
        if (thread_.joinable()) thread_.join();
        return view_;
    }

private:
    struct Search {
        DWORD thread;
        HWND found;
    };

    static BOOL CALLBACK FindFrame(HWND hwnd, LPARAM param) {
        auto* s = reinterpret_cast<Search*>(param);
        if (::GetWindowThreadProcessId(hwnd, nullptr) == s->thread && ::IsWindowVisible(hwnd) &&
            ClassOf(hwnd) == L"#32770") {
            s->found = hwnd;
            return FALSE;
        }
        return TRUE;
    }

    static BOOL CALLBACK Inspect(HWND hwnd, LPARAM param) {
        auto* view = reinterpret_cast<FrameView*>(param);
        const std::wstring cls = ClassOf(hwnd);
        if (cls == WC_TABCONTROLW) {
            const int count = static_cast<int>(::SendMessageW(hwnd, TCM_GETITEMCOUNT, 0, 0));
            for (int i = 0; i < count; ++i) {
                wchar_t text[64] = {};
                TCITEMW item = {};
                item.mask = TCIF_TEXT;
                item.pszText = text;
                item.cchTextMax = 64;
                ::SendMessageW(hwnd, TCM_GETITEMW, i, reinterpret_cast<LPARAM>(&item));
                view->tabs.push_back(text);
            }
        }
        // The page's window comes from the module's own dialog template.
        if (reinterpret_cast<HMODULE>(::GetWindowLongPtrW(hwnd, GWLP_HINSTANCE)) ==
            VandrelOcx::Get().Module()) {
            view->pageFound = true;
            view->pageVisible = ::IsWindowVisible(hwnd);
            view->pageHasChildren = ::GetWindow(hwnd, GW_CHILD) != nullptr;
            RECT r;
            ::GetWindowRect(hwnd, &r);
            view->pageSize = {r.right - r.left, r.bottom - r.top};
            RECT units = {0, 0, 250, 62};
            ::MapDialogRect(hwnd, &units);
            view->pageTemplateSize = {units.right, units.bottom};
        }
        return TRUE;
    }

    void Run() {
        Search search = {owner_, nullptr};
        testsupport::WaitUntil(
            [&] {
                ::EnumWindows(&FindFrame, reinterpret_cast<LPARAM>(&search));
                return search.found != nullptr;
            },
            10000);
        if (!search.found) return;
        ::Sleep(200);  // lets the frame activate its page
        view_.found = true;
        view_.title = TextOf(search.found);
        ::EnumChildWindows(search.found, &Inspect, reinterpret_cast<LPARAM>(&view_));
        ::PostMessageW(search.found, WM_COMMAND, IDCANCEL, 0);
    }

    const DWORD owner_;
    FrameView view_;
    std::thread thread_;
};

struct Activated {
    ComPtr<IDispatch> ctrl;
    ComPtr<IOleObject> ole;
    HWND window = nullptr;
};

// Creates a control, gives it the site and activates it in place with verb.
Activated ActivateInSite(FakeSite& site, LONG verb,
                         testsupport::CallSite caller = testsupport::CallSite::Here()) {
    const testsupport::CallerTrace fromCaller(caller);
    Activated a;
    a.ctrl = CreateControl();
    a.ole = As<IOleObject>(a.ctrl.get());
    EXPECT_HR(S_OK, a.ole->SetClientSite(&site));
    EXPECT_HR(S_OK, As<IPersistStreamInit>(a.ctrl.get())->InitNew());
    EXPECT_HR(S_OK, a.ole->DoVerb(verb, nullptr, &site, 0, nullptr, &site.posRect));
    As<IOleInPlaceObject>(a.ctrl.get())->GetWindow(&a.window);
    return a;
}

void Deactivate(Activated& a) {
    a.ole->Close(OLECLOSE_NOSAVE);
    a.ole->SetClientSite(nullptr);
}

}  // namespace

// --- our recording site --------------------------------------------------------------------------

TEST(HostingSite, InPlaceActivationAtDesignTimeShowsThePicture) {
    TestWindow form;
    FakeSite site(form.get());
    site.userMode = false;
    Activated a = ActivateInSite(site, OLEIVERB_INPLACEACTIVATE);
    EXPECT_TRUE(site.Called("Ambient(-709)")) << "UserMode is read from the site";
    EXPECT_EQ((std::vector<std::string>{"CanInPlaceActivate", "OnInPlaceActivate", "GetWindowContext"}),
              site.Protocol());
    ASSERT_TRUE(a.window);
    EXPECT_EQ(form.get(), ::GetParent(a.window));
    EXPECT_TRUE(::IsWindowVisible(a.window));
    RECT r;
    ::GetWindowRect(a.window, &r);
    ::MapWindowPoints(nullptr, form.get(), reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(site.posRect.left, r.left);
    EXPECT_EQ(site.posRect.top, r.top);
    EXPECT_EQ(site.posRect.right, r.right);
    EXPECT_EQ(site.posRect.bottom, r.bottom);

    // The window paints the picture through Draw: its card's red edge and board show.
    ::UpdateWindow(a.window);
    PumpMessages();
    HDC dc = ::GetDC(a.window);
    const COLORREF red = ::GetPixel(dc, 1, 5);
    const COLORREF board = ::GetPixel(dc, 3, 3);
    ::ReleaseDC(a.window, dc);
    EXPECT_EQ(RGB(0xFF, 0, 0), red);
    EXPECT_EQ(RGB(0, 0x80, 0), board);

    site.calls.clear();
    Deactivate(a);
    EXPECT_EQ((std::vector<std::string>{"OnInPlaceDeactivate"}), site.Protocol());
    EXPECT_FALSE(::IsWindow(a.window));
    a = {};
    EXPECT_EQ(1u, site.RefCount()) << "the control let go of the site";
}

TEST(HostingSite, InvisibleWhileTheFormRunsAndFollowsUserModeChanges) {
    TestWindow form;
    FakeSite site(form.get());
    site.userMode = true;
    Activated a = ActivateInSite(site, OLEIVERB_INPLACEACTIVATE);
    ASSERT_TRUE(a.window);
    EXPECT_FALSE(::IsWindowVisible(a.window));

    site.userMode = false;
    EXPECT_HR(S_OK, As<IOleControl>(a.ctrl.get())->OnAmbientPropertyChange(DISPID_AMBIENT_USERMODE));
    EXPECT_TRUE(::IsWindowVisible(a.window));
    site.userMode = true;
    EXPECT_HR(S_OK, As<IOleControl>(a.ctrl.get())->OnAmbientPropertyChange(DISPID_UNKNOWN));
    EXPECT_FALSE(::IsWindowVisible(a.window));

    // OLEIVERB_HIDE hides at design time too; OLEIVERB_SHOW brings it back.
    site.userMode = false;
    As<IOleControl>(a.ctrl.get())->OnAmbientPropertyChange(DISPID_AMBIENT_USERMODE);
    EXPECT_HR(S_OK, a.ole->DoVerb(OLEIVERB_HIDE, nullptr, &site, 0, nullptr, nullptr));
    EXPECT_FALSE(::IsWindowVisible(a.window));
    EXPECT_HR(S_OK, a.ole->DoVerb(OLEIVERB_SHOW, nullptr, &site, 0, nullptr, nullptr));
    EXPECT_TRUE(::IsWindowVisible(a.window));
    Deactivate(a);
}

TEST(HostingSite, UiActivationAndItsUndoing) {
    TestWindow form;
    FakeSite site(form.get());
    Activated a = ActivateInSite(site, OLEIVERB_UIACTIVATE);
    EXPECT_EQ((std::vector<std::string>{"CanInPlaceActivate", "OnInPlaceActivate", "GetWindowContext",
                                        "OnUIActivate", "Frame.SetActiveObject"}),
              site.Protocol());
    site.calls.clear();
    EXPECT_HR(S_OK, As<IOleInPlaceObject>(a.ctrl.get())->UIDeactivate());
    EXPECT_EQ((std::vector<std::string>{"Frame.SetActiveObject(null)", "OnUIDeactivate"}), site.Protocol());
    site.calls.clear();
    EXPECT_HR(S_OK, As<IOleInPlaceObject>(a.ctrl.get())->InPlaceDeactivate());
    EXPECT_EQ((std::vector<std::string>{"OnInPlaceDeactivate"}), site.Protocol());
    Deactivate(a);
}

TEST(HostingSite, ObjectRectsMoveAndClipTheWindow) {
    TestWindow form;
    FakeSite site(form.get());
    Activated a = ActivateInSite(site, OLEIVERB_INPLACEACTIVATE);
    ASSERT_TRUE(a.window);
    const RECT pos = {30, 40, 90, 80};
    const RECT clip = {0, 0, 60, 1000};
    EXPECT_HR(S_OK, As<IOleInPlaceObject>(a.ctrl.get())->SetObjectRects(&pos, &clip));
    RECT r;
    ::GetWindowRect(a.window, &r);
    ::MapWindowPoints(nullptr, form.get(), reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(30, r.left);
    EXPECT_EQ(40, r.top);
    EXPECT_EQ(60, r.right - r.left);
    RECT region = {};
    EXPECT_EQ(SIMPLEREGION, ::GetWindowRgnBox(a.window, &region));
    EXPECT_EQ(30, region.right) << "clipped at x = 60 of the form";
    Deactivate(a);
}

TEST(HostingSite, CloseSavesAModifiedControlOnlyWhenAsked) {
    TestWindow form;
    FakeSite site(form.get());
    Activated a = ActivateInSite(site, OLEIVERB_INPLACEACTIVATE);
    EXPECT_HR(S_OK, Put(a.ctrl.get(), kDispidInterval, I4(500)));
    site.calls.clear();
    EXPECT_HR(S_OK, a.ole->Close(OLECLOSE_NOSAVE));
    EXPECT_FALSE(site.Called("SaveObject"));
    EXPECT_HR(S_OK, a.ole->Close(OLECLOSE_SAVEIFDIRTY));
    EXPECT_TRUE(site.Called("SaveObject"));
    a.ole->SetClientSite(nullptr);
}

TEST(HostingSite, PropertiesVerbAsksTheSiteFirst) {
    TestWindow form;
    FakeSite site(form.get());
    site.showPropertyFrame = S_OK;
    Activated a = ActivateInSite(site, OLEIVERB_INPLACEACTIVATE);
    site.calls.clear();
    EXPECT_HR(S_OK, a.ole->DoVerb(OLEIVERB_PROPERTIES, nullptr, &site, 0, form.get(), nullptr));
    EXPECT_EQ((std::vector<std::string>{"ShowPropertyFrame"}), site.Protocol());
    Deactivate(a);
}

TEST(HostingSite, PropertiesVerbOpensThePlatformFrameWhenTheSiteDoesNot) {
    RegisteredClass pageClass(kPageClsid);
    RegisteredClass channelsClass(kChannelsPageClsid);
    TestWindow form;
    FakeSite site(form.get());
    Activated a = ActivateInSite(site, OLEIVERB_INPLACEACTIVATE);
    HRESULT hr;
    FrameView view;
    {
        FrameCloser closer;
        hr = a.ole->DoVerb(OLEIVERB_PROPERTIES, nullptr, &site, 0, form.get(), nullptr);
        view = closer.Join();
    }
    EXPECT_HR(S_OK, hr);
    EXPECT_TRUE(site.Called("ShowPropertyFrame"));
    ASSERT_TRUE(view.found) << "no property frame appeared";
    EXPECT_NE(std::wstring::npos, view.title.find(L"Vandrel Control"))
        << "title: " << std::string(view.title.begin(), view.title.end());
    EXPECT_EQ((std::vector<std::wstring>{L"Simple", L"Channels"}), view.tabs);
    EXPECT_TRUE(view.pageFound);
    Deactivate(a);
}

// --- Wine's ATL host -----------------------------------------------------------------------------

TEST(HostingAtl, WineAtlHostCreatesActivatesAndReleasesTheControl) {
    HMODULE atl = ::LoadLibraryW(L"atl.dll");
    ASSERT_TRUE(atl);
    using InitFn = BOOL(WINAPI*)();
    using CreateFn = HRESULT(WINAPI*)(LPCOLESTR, HWND, IStream*, IUnknown**);
    using GetControlFn = HRESULT(WINAPI*)(HWND, IUnknown**);
    auto init = reinterpret_cast<InitFn>(reinterpret_cast<void (*)()>(::GetProcAddress(atl, "AtlAxWinInit")));
    auto create =
        reinterpret_cast<CreateFn>(reinterpret_cast<void (*)()>(::GetProcAddress(atl, "AtlAxCreateControl")));
    auto getControl = reinterpret_cast<GetControlFn>(
        reinterpret_cast<void (*)()>(::GetProcAddress(atl, "AtlAxGetControl")));
    ASSERT_TRUE(init && create && getControl);
    ASSERT_TRUE(init());

    HWND inPlace = nullptr;
    {
        RegisteredClass ctrlClass(kClsidVandrel);
        RegisteredClass pageClass(kPageClsid);
        TestWindow form(320, 240);
        {
            ComPtr<IUnknown> container;
            ASSERT_HR(S_OK, create(L"{E4DE41E5-20F5-4A71-91C1-BC0686540ACF}", form.get(), nullptr,
                                   container.put()));
            ASSERT_TRUE(container);
            ComPtr<IUnknown> unknown;
            ASSERT_HR(S_OK, getControl(form.get(), unknown.put()));
            auto ctrl = As<IDispatch>(unknown.get());
            EXPECT_EQ(2160, GetLong(ctrl.get(), kDispidInterval));

            // In place: a child window over the host's client area.
            EXPECT_HR(S_OK, As<IOleInPlaceObject>(ctrl.get())->GetWindow(&inPlace));
            ASSERT_TRUE(inPlace);
            EXPECT_EQ(form.get(), ::GetParent(inPlace));
            RECT client, window;
            ::GetClientRect(form.get(), &client);
            ::GetWindowRect(inPlace, &window);
            EXPECT_EQ(client.right, window.right - window.left);
            EXPECT_EQ(client.bottom, window.bottom - window.top);
            // The host offers no ambient properties: the control counts as on a running form and
            // keeps its picture hidden, as an invisible-at-run-time control does.
            EXPECT_FALSE(::IsWindowVisible(inPlace));
            SIZEL extent = {};
            EXPECT_HR(S_OK, As<IOleObject>(ctrl.get())->GetExtent(DVASPECT_CONTENT, &extent));
            EXPECT_GT(extent.cx, 0);
        }
        EXPECT_HR(S_FALSE, VandrelOcx::Get().CanUnloadNow());
        ::DestroyWindow(form.get());  // the host closes and releases the control
        EXPECT_FALSE(::IsWindow(inPlace));
    }
    EXPECT_HR(S_OK, VandrelOcx::Get().CanUnloadNow()) << "the control was not released";
}

// Wine's ATL host with an advised sink: the control's events reach it on the host's thread while
// the host's message loop runs. Wine's AtlAxCreateControlEx takes the sink but advises nothing
// (measured with Wine 8); ATL's own AtlAdvise then connects it.
TEST(HostingAtl, AnAdvisedSinkHearsDataReadyOnTheHostThread) {
    HMODULE atl = ::LoadLibraryW(L"atl.dll");
    ASSERT_TRUE(atl);
    using InitFn = BOOL(WINAPI*)();
    using CreateExFn = HRESULT(WINAPI*)(LPCOLESTR, HWND, IStream*, IUnknown**, IUnknown**, REFIID, IUnknown*);
    using AdviseFn = HRESULT(WINAPI*)(IUnknown*, IUnknown*, const IID*, DWORD*);
    using UnadviseFn = HRESULT(WINAPI*)(IUnknown*, const IID*, DWORD);
    auto proc = [&](const char* name) { return reinterpret_cast<void (*)()>(::GetProcAddress(atl, name)); };
    auto init = reinterpret_cast<InitFn>(proc("AtlAxWinInit"));
    auto createEx = reinterpret_cast<CreateExFn>(proc("AtlAxCreateControlEx"));
    auto advise = reinterpret_cast<AdviseFn>(proc("AtlAdvise"));
    auto unadvise = reinterpret_cast<UnadviseFn>(proc("AtlUnadvise"));
    ASSERT_TRUE(init && createEx && advise && unadvise);
    init();  // FALSE once the host's window class is registered, as the test before left it

    SimBoards sim("356:count");
    {
        RegisteredClass ctrlClass(kClsidVandrel);
        TestWindow form(320, 240);
        harness::EventSink sink(kDiidDVandrelEvents);
        ComPtr<IUnknown> container, unknown;
        ASSERT_HR(S_OK, createEx(L"{E4DE41E5-20F5-4A71-91C1-BC0686540ACF}", form.get(), nullptr,
                                 container.put(), unknown.put(), kDiidDVandrelEvents, &sink));
        DWORD cookie = 0;
        if (sink.RefCount() == 1) {
            ASSERT_HR(S_OK, advise(unknown.get(), &sink, &kDiidDVandrelEvents, &cookie));
        }
        auto ctrl = As<IDispatch>(unknown.get());
        EXPECT_HR(S_OK, Put(ctrl.get(), kDispidInterval, I4(1)));
        ASSERT_EQ(VARIANT_TRUE, testsupport::Start(ctrl.get()));
        ASSERT_TRUE(testsupport::WaitUntil([&] {
            PumpMessages();
            return sink.Values(client::kDispidDataReady).size() >= 3;
        }));
        testsupport::Stop(ctrl.get());
        const auto cycles = sink.Values(client::kDispidDataReady);
        for (size_t i = 1; i < cycles.size(); ++i) EXPECT_LT(cycles[i - 1], cycles[i]);
        for (const auto& e : sink.fired) EXPECT_EQ(::GetCurrentThreadId(), e.thread);
        if (cookie) {
            EXPECT_HR(S_OK, unadvise(unknown.get(), &kDiidDVandrelEvents, cookie));
        }
        ctrl.reset();
        unknown.reset();
        container.reset();
        ::DestroyWindow(form.get());
        EXPECT_EQ(1u, sink.RefCount());
    }
    EXPECT_HR(S_OK, VandrelOcx::Get().CanUnloadNow()) << "the control was not released";
}

// A chart in Wine's ATL host draws the live wave of a control bound to it, with a named channel and
// its limit, and the PNG it saves is exactly what its window shows. With VANDREL_CHART_PNG set, that
// picture is also kept there (the README's).
TEST(HostingAtl, AChartInTheHostDrawsALiveWaveAndSavesWhatItShows) {
    HMODULE atl = ::LoadLibraryW(L"atl.dll");
    ASSERT_TRUE(atl);
    using InitFn = BOOL(WINAPI*)();
    using CreateFn = HRESULT(WINAPI*)(LPCOLESTR, HWND, IStream*, IUnknown**);
    using GetControlFn = HRESULT(WINAPI*)(HWND, IUnknown**);
    auto proc = [&](const char* name) { return reinterpret_cast<void (*)()>(::GetProcAddress(atl, name)); };
    auto init = reinterpret_cast<InitFn>(proc("AtlAxWinInit"));
    auto create = reinterpret_cast<CreateFn>(proc("AtlAxCreateControl"));
    auto getControl = reinterpret_cast<GetControlFn>(proc("AtlAxGetControl"));
    ASSERT_TRUE(init && create && getControl);
    init();

    SimBoards sim("356:wave");
    {
        RegisteredClass chartClass(client::kClsidVandrelChart);
        TestWindow form(480, 270);
        ComPtr<IUnknown> container, unknown;
        ASSERT_HR(S_OK,
                  create(L"{AF7FF62E-E0F0-4DC0-B3DE-E004729C2A1D}", form.get(), nullptr, container.put()));
        ASSERT_HR(S_OK, getControl(form.get(), unknown.put()));
        auto chart = As<IDispatch>(unknown.get());
        HWND window = nullptr;
        ASSERT_HR(S_OK, As<IOleInPlaceObject>(chart.get())->GetWindow(&window));
        EXPECT_TRUE(::IsWindowVisible(window)) << "a chart is seen at run time";

        auto ctrl = CreateControl();
        EXPECT_HR(S_OK, Put(ctrl.get(), kDispidInterval, I4(2)));
        EXPECT_HR(S_OK, Put(ctrl.get(), kDispidChannelNumber, I4(8)));
        auto put = [&](IDispatch* d, DISPID id, std::vector<VARIANT> args) {
            EXPECT_HR(S_OK, base::InvokeById(d, id, DISPATCH_PROPERTYPUT, args.data(), args.size(), nullptr));
        };
        // Three channels in units, one of them with a high limit; the others hidden.
        const struct {
            const wchar_t* name;
            const wchar_t* unit;
            double gain, offset;
        } channels[] = {{L"Tank level", L"cm", 0.01, 0},
                        {L"Inflow", L"l/min", 0.004, 150},
                        {L"Pressure", L"kPa", 0.002, -150}};
        for (LONG c = 1; c <= 3; ++c) {
            put(ctrl.get(), kDispidChannelName, {I4(c), Text(channels[c - 1].name)});
            put(ctrl.get(), kDispidChannelUnit, {I4(c), Text(channels[c - 1].unit)});
            put(ctrl.get(), kDispidChannelGain, {I4(c), R8(channels[c - 1].gain)});
            put(ctrl.get(), kDispidChannelOffset, {I4(c), R8(channels[c - 1].offset)});
        }
        put(ctrl.get(), kDispidHighLimit, {I4(1), R8(50)});
        for (LONG c = 4; c <= 8; ++c) put(chart.get(), client::kChartChannelVisible, {I4(c), I4(0)});
        put(chart.get(), client::kChartTimeWindow, {R8(2)});
        VARIANT source;
        source.vt = VT_DISPATCH;
        source.pdispVal = ctrl.get();
        ASSERT_HR(S_OK, base::InvokeById(chart.get(), client::kChartSource, DISPATCH_PROPERTYPUTREF, &source,
                                         1, nullptr));
        ASSERT_EQ(VARIANT_TRUE, testsupport::Start(ctrl.get()));
        const ULONGLONG end = ::GetTickCount64() + 2500;
        while (::GetTickCount64() < end) {
            PumpMessages();
            ::Sleep(5);
        }
        const std::wstring file = (Folder("vandrel-hosting") / "chart.png").wstring();
        VARIANT path = Text(file.c_str());
        EXPECT_HR(S_OK, base::InvokeById(chart.get(), client::kChartSavePicture, DISPATCH_METHOD, &path, 1,
                                         nullptr));
        // Saving repainted the window with the same frame; no message has been handled since.
        const testsupport::Pixels shown = testsupport::WindowPixels(window);
        const testsupport::Pixels saved = testsupport::ReadPng(file.c_str());
        EXPECT_EQ(480u, saved.width);
        EXPECT_TRUE(shown == saved) << "the PNG differs from the window";
        // The wave crosses the plot: channel 1's colour in most of its columns.
        std::set<UINT> columns;
        for (UINT y = 0; y < saved.height; ++y) {
            for (UINT x = 0; x < saved.width; ++x) {
                if (saved.At(x, y) == chart::DefaultColor(0)) columns.insert(x);
            }
        }
        EXPECT_GT(columns.size(), 300u);
        if (const char* keep = std::getenv("VANDREL_CHART_PNG")) {
            ::CopyFileW(file.c_str(), std::filesystem::path(keep).wstring().c_str(), FALSE);
        }
        testsupport::Stop(ctrl.get());
        chart.reset();
        unknown.reset();
        container.reset();
        ::DestroyWindow(form.get());
    }
}

// --- the property page ---------------------------------------------------------------------------

TEST(HostingPage, DescribesItselfAsTheEmptySimplePage) {
    auto page = VandrelOcx::Get().Create<IPropertyPage>(kPageClsid);
    ASSERT_TRUE(page);
    PROPPAGEINFO info = {};
    ASSERT_HR(S_OK, page->GetPageInfo(&info));
    EXPECT_EQ(sizeof info, info.cb);
    EXPECT_STREQ(L"Simple", info.pszTitle);
    EXPECT_EQ(nullptr, info.pszDocString);
    EXPECT_EQ(nullptr, info.pszHelpFile);
    ::CoTaskMemFree(info.pszTitle);

    TestWindow frame;
    const RECT rect = {5, 5, 405, 205};
    ASSERT_HR(S_OK, page->Activate(frame.get(), &rect, TRUE));
    HWND window = ::GetWindow(frame.get(), GW_CHILD);
    ASSERT_TRUE(window);
    EXPECT_TRUE(::GetWindowLongW(window, GWL_STYLE) & WS_CHILD);
    EXPECT_FALSE(::IsWindowVisible(window)) << "shown only on request";
    EXPECT_EQ(nullptr, ::GetWindow(window, GW_CHILD)) << "the page holds no controls";
    RECT units = {0, 0, 250, 62};
    ::MapDialogRect(window, &units);
    EXPECT_EQ(units.right, info.size.cx) << "the template's width in its own font";
    EXPECT_EQ(units.bottom, info.size.cy);

    EXPECT_HR(S_OK, page->Show(SW_SHOW));
    EXPECT_TRUE(::IsWindowVisible(window));
    const RECT moved = {0, 0, 100, 50};
    EXPECT_HR(S_OK, page->Move(&moved));
    RECT r;
    ::GetWindowRect(window, &r);
    EXPECT_EQ(100, r.right - r.left);
    EXPECT_HR(E_UNEXPECTED, page->Activate(frame.get(), &rect, TRUE)) << "already active";
    EXPECT_HR(S_OK, page->Deactivate());
    EXPECT_FALSE(::IsWindow(window));
    EXPECT_HR(E_UNEXPECTED, page->Show(SW_SHOW));
}

TEST(HostingPage, ApplyChangesNoneOfTheSettings) {
    auto ctrl = CreateControl();
    EXPECT_HR(S_OK, Put(ctrl.get(), kDispidInterval, I4(500)));
    EXPECT_HR(S_OK, Put(ctrl.get(), kDispidAddress, I4(370)));
    EXPECT_HR(S_OK, Put(ctrl.get(), kDispidChannelNumber, I4(4)));
    auto page = VandrelOcx::Get().Create<IPropertyPage>(kPageClsid);
    IUnknown* objects[] = {ctrl.get()};
    EXPECT_HR(S_OK, page->SetObjects(1, objects));
    EXPECT_HR(S_FALSE, page->IsPageDirty());
    EXPECT_HR(S_OK, page->Apply());
    EXPECT_EQ(500, GetLong(ctrl.get(), kDispidInterval));
    EXPECT_EQ(370, GetLong(ctrl.get(), kDispidAddress));
    EXPECT_EQ(4, GetLong(ctrl.get(), kDispidChannelNumber));
    EXPECT_HR(S_FALSE, page->IsPageDirty());
    EXPECT_HR(E_NOTIMPL, page->Help(nullptr));
    EXPECT_HR(S_OK, page->SetObjects(0, nullptr));
    EXPECT_HR(E_POINTER, page->SetObjects(1, nullptr));
}

TEST(HostingPage, PlatformPropertyFrameOpensOnTheSimplePage) {
    RegisteredClass pageClass(kPageClsid);
    auto ctrl = CreateControl();
    EXPECT_HR(S_OK, Put(ctrl.get(), kDispidInterval, I4(500)));
    IUnknown* objects[] = {ctrl.get()};
    CLSID pages[] = {kPageClsid};
    HRESULT hr;
    FrameView view;
    {
        FrameCloser closer;
        hr = ::OleCreatePropertyFrame(nullptr, 0, 0, L"Vandrel Control", 1, objects, 1, pages, 0, 0, nullptr);
        view = closer.Join();
    }
    EXPECT_HR(S_OK, hr);
    ASSERT_TRUE(view.found);
    EXPECT_EQ((std::vector<std::wstring>{L"Simple"}), view.tabs);
    ASSERT_TRUE(view.pageFound) << "the page's window was not in the frame";
    EXPECT_TRUE(view.pageVisible);
    EXPECT_FALSE(view.pageHasChildren);
    EXPECT_EQ(500, GetLong(ctrl.get(), kDispidInterval)) << "closing the frame changes nothing";
    EXPECT_EQ(356, GetLong(ctrl.get(), kDispidAddress));
    EXPECT_EQ(8, GetLong(ctrl.get(), kDispidChannelNumber));
}

// --- the channels page ---------------------------------------------------------------------------

[[nodiscard]] HRESULT PutChannel(IDispatch* ctrl, DISPID id, LONG channel, VARIANT value) {
    return testsupport::Invoke(ctrl, id, DISPATCH_PROPERTYPUT, {I4(channel), value}, nullptr);
}

// A property as the object gives it, as a number (a sentinel when it fails); args are the index.
double Number(IDispatch* object, DISPID id, const std::vector<VARIANT>& args = {}) {
    base::Variant v;
    if (FAILED(testsupport::Invoke(object, id, DISPATCH_PROPERTYGET, args, v.ptr())) ||
        FAILED(v.ChangeType(VT_R8))) {
        return -99999;
    }
    return v.get().dblVal;
}

double ChannelNumber(IDispatch* ctrl, DISPID id, LONG channel) { return Number(ctrl, id, {I4(channel)}); }

// A property page active in a window of ours, editing one object, and what the user's choices
// and typing send it.
class PageOnForm : public testing::Test {
protected:
    void Open(REFCLSID clsid, IDispatch* object,
              testsupport::CallSite caller = testsupport::CallSite::Here()) {
        const testsupport::CallerTrace fromCaller(caller);
        page = VandrelOcx::Get().Create<IPropertyPage>(clsid);
        ASSERT_TRUE(page);
        IUnknown* objects[] = {object};
        ASSERT_HR(S_OK, page->SetObjects(1, objects));
        const RECT rect = {0, 0, 400, 300};
        ASSERT_HR(S_OK, page->Activate(frame.get(), &rect, TRUE));
        window = ::GetWindow(frame.get(), GW_CHILD);
        ASSERT_TRUE(window);
    }
    void TearDown() override {
        if (page) {
            EXPECT_HR(S_OK, page->Deactivate());
        }
    }

    void Select(int id, int item) {
        HWND list = ::GetDlgItem(window, id);
        ::SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(item), 0);
        ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
    }
    // The new text and the edit's notification.
    void Type(int id, const wchar_t* text) {
        HWND edit = ::GetDlgItem(window, id);
        ::SetWindowTextW(edit, text);
        ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, EN_CHANGE), reinterpret_cast<LPARAM>(edit));
    }
    void Click(int id) {
        HWND box = ::GetDlgItem(window, id);
        ::SendMessageW(box, BM_SETCHECK,
                       ::IsDlgButtonChecked(window, id) == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED, 0);
        ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(box));
    }
    std::wstring Field(int id) const { return TextOf(::GetDlgItem(window, id)); }
    LRESULT Selected(int id) const { return ::SendDlgItemMessageW(window, id, CB_GETCURSEL, 0, 0); }

    TestWindow frame;
    ComPtr<IPropertyPage> page;
    HWND window = nullptr;
};

// The channels page showing channel 2 of a control whose channel 2 has a name,
// a gain of 2.5 and an offset that only 17 digits write out.
class ChannelsPage : public PageOnForm {
protected:
    void SetUp() override {
        ctrl = CreateControl();
        base::Variant name(L"Oven, top");
        ASSERT_HR(S_OK, PutChannel(ctrl.get(), kDispidChannelName, 2, name.get()));
        ASSERT_HR(S_OK, PutChannel(ctrl.get(), kDispidChannelGain, 2, R8(2.5)));
        ASSERT_HR(S_OK, PutChannel(ctrl.get(), kDispidChannelOffset, 2, R8(0.1 + 0.2)));
        Open(kChannelsPageClsid, ctrl.get());
        Choose(2);
    }

    void Choose(int channel) { Select(IDC_CHANNEL, channel - 1); }

    ComPtr<IDispatch> ctrl;
};

TEST_F(ChannelsPage, ShowsTheChosenChannelInFullAndAppliesWhatWasEdited) {
    PROPPAGEINFO info = {};
    ASSERT_HR(S_OK, page->GetPageInfo(&info));
    EXPECT_STREQ(L"Channels", info.pszTitle);
    ::CoTaskMemFree(info.pszTitle);

    EXPECT_EQ(L"Oven, top", Field(IDC_CHANNEL_NAME));
    EXPECT_EQ(L"2.5", Field(IDC_CHANNEL_GAIN));
    EXPECT_EQ(L"0.30000000000000004", Field(IDC_CHANNEL_OFFSET)) << "every digit that reads back the same";
    EXPECT_EQ(L"", Field(IDC_HIGH_LIMIT)) << "no limit";
    EXPECT_EQ(BST_UNCHECKED, ::IsDlgButtonChecked(window, IDC_ALARM_LATCH));
    EXPECT_HR(S_FALSE, page->IsPageDirty()) << "filling the fields is no edit";

    Type(IDC_CHANNEL_GAIN, L"0.125");
    Type(IDC_HIGH_LIMIT, L" 80.5 ");
    EXPECT_HR(S_OK, page->IsPageDirty());
    Choose(1);
    EXPECT_EQ(L"1", Field(IDC_CHANNEL_GAIN));
    EXPECT_HR(S_OK, page->Apply());
    EXPECT_HR(S_FALSE, page->IsPageDirty());
    EXPECT_EQ(0.125, ChannelNumber(ctrl.get(), kDispidChannelGain, 2))
        << "an edit of a channel no longer shown";
    EXPECT_EQ(80.5, ChannelNumber(ctrl.get(), kDispidHighLimit, 2));
    EXPECT_EQ(0.1 + 0.2, ChannelNumber(ctrl.get(), kDispidChannelOffset, 2))
        << "an unedited field is left alone";
    EXPECT_EQ(1.0, ChannelNumber(ctrl.get(), kDispidChannelGain, 1));
}

TEST_F(ChannelsPage, ARefusedValueChangesNothingKeepsThePageDirtyAndSaysWhy) {
    for (const wchar_t* refused : {L"0", L"2,5"}) {
        Type(IDC_CHANNEL_GAIN, refused);
        EXPECT_HR_FAILED(page->Apply());
        EXPECT_EQ(2.5, ChannelNumber(ctrl.get(), kDispidChannelGain, 2));
        EXPECT_HR(S_OK, page->IsPageDirty());
        EXPECT_EQ(0u, Field(IDC_CHANNELS_STATUS).find(L"Channel 2: "))
            << base::Utf8(Field(IDC_CHANNELS_STATUS));
    }
    Type(IDC_CHANNEL_GAIN, L"0");
    EXPECT_HR_FAILED(page->Apply());
    EXPECT_EQ(L"Channel 2: The gain must be a finite number other than 0.", Field(IDC_CHANNELS_STATUS));

    Type(IDC_CHANNEL_GAIN, L"4");
    EXPECT_HR(S_OK, page->Apply());
    EXPECT_EQ(4.0, ChannelNumber(ctrl.get(), kDispidChannelGain, 2));
    EXPECT_EQ(L"", Field(IDC_CHANNELS_STATUS));
}

// Lowering both high limits below the other's old value is refused in one order and taken in the other.
TEST_F(ChannelsPage, LimitsThatDependOnEachOtherApplyInOneGo) {
    ASSERT_HR(S_OK, PutChannel(ctrl.get(), kDispidHighHighLimit, 2, R8(20)));
    ASSERT_HR(S_OK, PutChannel(ctrl.get(), kDispidHighLimit, 2, R8(10)));
    IUnknown* objects[] = {ctrl.get()};
    ASSERT_HR(S_OK, page->SetObjects(1, objects));
    EXPECT_EQ(L"20", Field(IDC_HIGH_HIGH_LIMIT)) << "new objects are shown at once";
    Type(IDC_HIGH_HIGH_LIMIT, L"5");
    Type(IDC_HIGH_LIMIT, L"4");
    EXPECT_HR(S_OK, page->Apply()) << base::Utf8(Field(IDC_CHANNELS_STATUS));
    EXPECT_EQ(5.0, ChannelNumber(ctrl.get(), kDispidHighHighLimit, 2));
    EXPECT_EQ(4.0, ChannelNumber(ctrl.get(), kDispidHighLimit, 2));
}

// --- the chart's page ----------------------------------------------------------------------------

// The page on a chart with a time window of 5 s and channel 2 drawn in red, showing channel 2.
class ChartPage : public PageOnForm {
protected:
    void SetUp() override {
        chart = VandrelOcx::Get().Create<IDispatch>(kClsidVandrelChart);
        ASSERT_HR(S_OK, Put(chart.get(), kChartTimeWindow, R8(5)));
        ASSERT_HR(S_OK, PutChannel(chart.get(), kChartChannelColor, 2, I4(0x0000FF)));
        Open(kChartPageClsid, chart.get());
        Select(IDC_CHART_CHANNEL, 1);
    }

    ComPtr<IDispatch> chart;
};

TEST_F(ChartPage, ShowsTheChartsSettingsAndAppliesWhatWasEdited) {
    PROPPAGEINFO info = {};
    ASSERT_HR(S_OK, page->GetPageInfo(&info));
    EXPECT_STREQ(L"Chart", info.pszTitle);
    ::CoTaskMemFree(info.pszTitle);

    EXPECT_EQ(0, Selected(IDC_CHART_MODE)) << "strip chart";
    EXPECT_EQ(L"5", Field(IDC_CHART_TIME_WINDOW));
    EXPECT_EQ(L"0x0000FF", Field(IDC_CHART_COLOUR));
    EXPECT_EQ(BST_CHECKED, ::IsDlgButtonChecked(window, IDC_CHART_VISIBLE));
    EXPECT_EQ(BST_CHECKED, ::IsDlgButtonChecked(window, IDC_CHART_AUTO_RANGE));
    EXPECT_HR(S_FALSE, page->IsPageDirty()) << "filling the fields is no edit";

    Select(IDC_CHART_MODE, 1);
    Type(IDC_CHART_TIME_WINDOW, L"90");
    // Both bounds above the old top: the minimum is refused until the maximum is in.
    Type(IDC_CHART_RANGE_MINIMUM, L"200");
    Type(IDC_CHART_RANGE_MAXIMUM, L"300.5");
    Click(IDC_CHART_VISIBLE);
    Type(IDC_CHART_COLOUR, L"65280");
    Select(IDC_CHART_CHANNEL, 0);
    EXPECT_EQ(BST_CHECKED, ::IsDlgButtonChecked(window, IDC_CHART_VISIBLE)) << "channel 1's own";
    EXPECT_HR(S_OK, page->Apply()) << base::Utf8(Field(IDC_CHART_STATUS));
    EXPECT_HR(S_FALSE, page->IsPageDirty());

    EXPECT_EQ(1, GetLong(chart.get(), kChartMode));
    EXPECT_EQ(90.0, Number(chart.get(), kChartTimeWindow));
    EXPECT_EQ(90.0, Number(chart.get(), kChartHistoryTime)) << "the history follows the window";
    EXPECT_EQ(L"90", Field(IDC_CHART_HISTORY)) << "the page shows what the chart made of it";
    EXPECT_EQ(200.0, Number(chart.get(), kChartRangeMinimum));
    EXPECT_EQ(300.5, Number(chart.get(), kChartRangeMaximum));
    EXPECT_EQ(-1.0, Number(chart.get(), kChartAutoRange)) << "the box still checked after the bounds' puts";
    EXPECT_EQ(0.0, Number(chart.get(), kChartChannelVisible, {I4(2)}));
    EXPECT_EQ(65280.0, Number(chart.get(), kChartChannelColor, {I4(2)}));
    EXPECT_EQ(-1.0, Number(chart.get(), kChartChannelVisible, {I4(1)}))
        << "an unedited channel is left alone";
}

TEST_F(ChartPage, ARefusedValueFailsTheApplyAndSaysWhy) {
    Type(IDC_CHART_TIME_WINDOW, L"0");
    EXPECT_HR_FAILED(page->Apply());
    EXPECT_EQ(L"TimeWindow must be more than 0 and at most 600 seconds.", Field(IDC_CHART_STATUS));
    EXPECT_EQ(5.0, Number(chart.get(), kChartTimeWindow));
    EXPECT_HR(S_OK, page->IsPageDirty());

    Type(IDC_CHART_TIME_WINDOW, L"5");
    Type(IDC_CHART_COLOUR, L"red");
    EXPECT_HR_FAILED(page->Apply());
    EXPECT_EQ(0u, Field(IDC_CHART_STATUS).find(L"Channel 2: \"red\" "))
        << base::Utf8(Field(IDC_CHART_STATUS));
    Type(IDC_CHART_COLOUR, L"0x4000000");
    EXPECT_HR_FAILED(page->Apply());
    EXPECT_EQ(L"Channel 2: The colour is not one Windows knows.", Field(IDC_CHART_STATUS));
    EXPECT_EQ(255.0, Number(chart.get(), kChartChannelColor, {I4(2)}));

    Type(IDC_CHART_COLOUR, L"0x80000005");
    EXPECT_HR(S_OK, page->Apply());
    EXPECT_EQ(L"", Field(IDC_CHART_STATUS));
    EXPECT_EQ(L"0x80000005", Field(IDC_CHART_COLOUR)) << "a system colour";
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (FAILED(::OleInitialize(nullptr))) return 2;
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_TAB_CLASSES};
    ::InitCommonControlsEx(&icc);
    const int result = RUN_ALL_TESTS();
    ::OleUninitialize();
    return result;
}
