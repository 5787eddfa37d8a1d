// What a chart costs its host: the process's processor time while a control samples eight channels
// every millisecond, first with no chart, then with a chart bound to it in a window on the screen
// (Wine's ATL host, as a form would hold it), drawing at its own pace. The difference is the chart's
// share of a core beyond the control's own.
#include <windows.h>
#include <ocidl.h>

#include <string>

#include "base/com_ptr.h"
#include "base/module_file.h"
#include "base/variant.h"
#include "bench/bench.h"
#include "bench/soak/soak_control.h"
#include "client/vandrel_ids.h"
#include "directport/directport.h"

namespace {

constexpr DWORD kRunMs = 5000;

double ProcessCpuMs() {
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto ms = [](const FILETIME& t) {
        return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) /
               10000.0;
    };
    return ms(kernel) + ms(user);
}

// The share of one core the process used over kRunMs of an idle message loop.
double CpuShareWhilePumping() {
    const double cpu0 = ProcessCpuMs();
    const ULONGLONG end = ::GetTickCount64() + kRunMs;
    while (::GetTickCount64() < end) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    return (ProcessCpuMs() - cpu0) / kRunMs * 100;
}

}  // namespace

BENCH_GROUP(ChartHost) {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HMODULE ocx = ::LoadLibraryW(base::BesideProgram(L"Vandrel.ocx").c_str());
    HMODULE atl = ::LoadLibraryW(L"atl.dll");
    using InitFn = BOOL(WINAPI*)();
    using CreateFn = HRESULT(WINAPI*)(LPCOLESTR, HWND, IStream*, IUnknown**);
    using GetControlFn = HRESULT(WINAPI*)(HWND, IUnknown**);
    auto proc = [&](const char* name) {
        return atl ? reinterpret_cast<void (*)()>(::GetProcAddress(atl, name)) : nullptr;
    };
    auto init = reinterpret_cast<InitFn>(proc("AtlAxWinInit"));
    auto create = reinterpret_cast<CreateFn>(proc("AtlAxCreateControl"));
    auto getControl = reinterpret_cast<GetControlFn>(proc("AtlAxGetControl"));
    auto ctrl = ocx ? soak::CreateFromModule(ocx) : base::ComPtr<IDispatch>();
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto getClass = ocx ? reinterpret_cast<GetClassObjectFn>(
                              reinterpret_cast<void (*)()>(::GetProcAddress(ocx, "DllGetClassObject")))
                        : nullptr;
    base::ComPtr<IClassFactory> factory;
    DWORD cookie = 0;
    if (!ctrl || !init || !create || !getControl || !getClass ||
        FAILED(getClass(client::kClsidVandrelChart, IID_IClassFactory, factory.put_void())) ||
        FAILED(::CoRegisterClassObject(client::kClsidVandrelChart, factory.get(), CLSCTX_INPROC_SERVER,
                                       REGCLS_MULTIPLEUSE, &cookie))) {
        rows.push_back({"Chart host not measured", 0, "", "Vandrel.ocx or atl.dll not loaded"});
        return;
    }
    init();
    DPSIM_Reset();
    DPSIM_Configure("356:wave");
    LOG_IF_FAILED(base::PutProperty(ctrl.get(), client::kDispidChannelNumber, base::Variant(8L).get()));
    LOG_IF_FAILED(soak::PutInterval(ctrl.get(), 1));
    soak::InvokeStart(ctrl.get());
    const double alone = CpuShareWhilePumping();
    rows.push_back({"Host CPU, control at Interval 1, no chart", alone, "% of a core", "8 channels, 5 s"});

    HWND form = ::CreateWindowExW(0, L"AtlAxWin", L"{AF7FF62E-E0F0-4DC0-B3DE-E004729C2A1D}",
                                  WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 800, 450, nullptr, nullptr,
                                  ::GetModuleHandleW(nullptr), nullptr);
    base::ComPtr<IUnknown> unknown;
    base::ComPtr<IDispatch> chart;
    if (form && SUCCEEDED(getControl(form, unknown.put())) &&
        SUCCEEDED(unknown->QueryInterface(IID_IDispatch, chart.put_void()))) {
        VARIANT source;
        source.vt = VT_DISPATCH;
        source.pdispVal = ctrl.get();
        LOG_IF_FAILED(base::InvokeById(chart.get(), client::kChartSource, DISPATCH_PROPERTYPUTREF, &source, 1,
                                       nullptr));
        const double shown = CpuShareWhilePumping();
        rows.push_back({"Host CPU, the same with a chart shown", shown, "% of a core", "800 x 450 window"});
        rows.push_back(
            {"The chart's share beyond the control's", shown - alone, "% of a core", "goal: under 5"});
        base::Variant dropped;
        LOG_IF_FAILED(base::GetProperty(chart.get(), client::kChartDroppedCycles, dropped.ptr()));
        rows.push_back(
            {"Cycles the chart dropped", static_cast<double>(dropped.get().lVal), "cycles", "5 s"});
    } else {
        rows.push_back({"Chart not shown", 0, "", "Wine's ATL host made no chart"});
    }
    LOG_IF_FAILED(soak::InvokeStop(ctrl.get()));
    chart.reset();
    unknown.reset();
    if (form) ::DestroyWindow(form);
    ::CoRevokeClassObject(cookie);
}
