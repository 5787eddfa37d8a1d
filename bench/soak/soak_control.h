// The control as the soak phases drive it: late bound through IDispatch, by DISPID, as a host's
// script would. Calls on the creating thread (an initialised apartment).
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "base/com_ptr.h"
#include "base/hresult.h"
#include "base/late_bound.h"
#include "base/variant.h"

namespace soak {

// What the benchmarks know of the control, a client like any other, named as every client names
// it (testtool/vandrel_ids.h): tests/control/identity_test.cpp holds it against the control's
// identity.
// {E4DE41E5-20F5-4A71-91C1-BC0686540ACF}, the class VandrelLib.Vandrel.
inline constexpr CLSID kClsidVandrel = {
    0xE4DE41E5, 0x20F5, 0x4A71, {0x91, 0xC1, 0xBC, 0x06, 0x86, 0x54, 0x0A, 0xCF}};
inline constexpr DISPID kDispidInterval = 1;
inline constexpr DISPID kDispidGetChnlValue = 3;
inline constexpr DISPID kDispidStart = 4;
inline constexpr DISPID kDispidStop = 5;
inline constexpr DISPID kDispidChannelNumber = 6;
// The event interface _DVandrelEvents and its DataReady(nCycle).
// {0CCC30C5-82DB-4870-8B3A-F7E005ABC32E}
inline constexpr IID kEventsIid = {
    0x0CCC30C5, 0x82DB, 0x4870, {0x8B, 0x3A, 0xF7, 0xE0, 0x05, 0xAB, 0xC3, 0x2E}};
inline constexpr DISPID kEventDataReady = 1;

// The control from a loaded Vandrel.ocx, through its class factory (no registration needed); null
// when the module has no factory for it.
inline base::ComPtr<IDispatch> CreateFromModule(HMODULE ocx) {
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    // Through a generic function pointer: FARPROC's own type says nothing of the signature.
    auto get = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void (*)()>(::GetProcAddress(ocx, "DllGetClassObject")));
    base::ComPtr<IClassFactory> factory;
    base::ComPtr<IDispatch> control;
    if (get && SUCCEEDED(get(kClsidVandrel, IID_IClassFactory, factory.put_void()))) {
        LOG_IF_FAILED(factory->CreateInstance(nullptr, IID_IDispatch, control.put_void()));
    }
    return control;
}

// Start's result: true for TRUE.
inline bool InvokeStart(IDispatch* control) {
    base::Variant result;
    const HRESULT hr = base::CallMethod(control, kDispidStart, {}, result.ptr());
    return SUCCEEDED(hr) && result.vt() == VT_BOOL && result.get().boolVal == VARIANT_TRUE;
}

inline HRESULT InvokeStop(IDispatch* control) { return base::CallMethod(control, kDispidStop, {}, nullptr); }

inline HRESULT PutInterval(IDispatch* control, LONG interval) {
    const base::Variant value(interval);
    return base::PutProperty(control, kDispidInterval, value.get());
}

}  // namespace soak
