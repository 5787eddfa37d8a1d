// Automation figures of the control: what one late-bound call costs through IDispatch::Invoke, as a
// host's timer makes it for every channel. The control comes from the built Vandrel.ocx beside the
// program, through its class factory.
#include <windows.h>
#include <ocidl.h>

#include <string>
#include <vector>

#include "base/com_ptr.h"
#include "base/module_file.h"
#include "base/variant.h"
#include "bench/bench.h"
#include "bench/soak/soak_control.h"
#include "client/vandrel_ids.h"
#include "directport/directport.h"

namespace {

// Median over rounds of the mean time per call of fn.
template <class Fn>
double NsPerCall(Fn fn, int calls = 200'000, int rounds = 7) {
    std::vector<double> samples;
    for (int r = 0; r < rounds; ++r) {
        const double t0 = bench::NowNs();
        for (int i = 0; i < calls; ++i) fn(i);
        samples.push_back((bench::NowNs() - t0) / calls);
    }
    return bench::Median(samples);
}

}  // namespace

BENCH_GROUP(Dispatch) {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const std::wstring path = base::BesideProgram(L"Vandrel.ocx");
    HMODULE ocx = ::LoadLibraryW(path.c_str());
    auto ctrl = ocx ? soak::CreateFromModule(ocx) : base::ComPtr<IDispatch>();
    if (!ctrl) {
        rows.push_back({"Vandrel.ocx not loaded", 0, "", "build vandrel_ocx first"});
        return;
    }
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT index;
    index.vt = VT_I4;
    DISPPARAMS oneArg = {&index, nullptr, 1, 0};
    VARIANT result;
    ::VariantInit(&result);

    auto getChnlValue = [&](int i) {
        index.lVal = i & 7;
        ctrl->Invoke(client::kDispidGetChnlValue, IID_NULL, 0, DISPATCH_METHOD, &oneArg, &result, nullptr,
                     nullptr);
    };
    auto getInterval = [&](int) {
        ctrl->Invoke(client::kDispidInterval, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr,
                     nullptr);
    };
    rows.push_back(
        {"Invoke GetChnlValue (DISPID 3), idle control", NsPerCall(getChnlValue), "ns", "per call"});
    rows.push_back({"Invoke Interval get (DISPID 1)", NsPerCall(getInterval), "ns", "per call"});

    VARIANT current;
    current.vt = VT_I4;
    current.lVal = 2160;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS put = {&current, &named, 1, 1};
    auto putInterval = [&](int) {
        ctrl->Invoke(client::kDispidInterval, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr,
                     nullptr);
    };
    rows.push_back(
        {"Invoke Interval put of the current value", NsPerCall(putInterval), "ns", "per call, no restart"});

    // Script engines look the name up before every call.
    LPOLESTR name = const_cast<LPOLESTR>(L"GetChnlValue");
    DISPID id = 0;
    auto lookup = [&](int) { ctrl->GetIDsOfNames(IID_NULL, &name, 1, 0, &id); };
    rows.push_back(
        {"GetIDsOfNames(\"GetChnlValue\")", NsPerCall(lookup, 50'000), "ns", "per call, type library"});

    DPSIM_Reset();
    DPSIM_Configure("356:wave");
    ctrl->Invoke(client::kDispidStart, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr);
    ::Sleep(50);
    rows.push_back({"Invoke GetChnlValue (DISPID 3), sampling control", NsPerCall(getChnlValue), "ns",
                    "per call, Interval 2160"});
    ctrl->Invoke(client::kDispidStop, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr);
    DPSIM_Reset();
    ctrl.reset();
    ::CoUninitialize();
}
