// The control as the soak phases drive it: late bound through IDispatch, by DISPID, as a host's
// script would. Calls on the creating thread (an initialised apartment).
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace soak {

// {E4DE41E5-20F5-4A71-91C1-BC0686540ACF}
inline constexpr CLSID kVandrelClsid = {
    0xE4DE41E5, 0x20F5, 0x4A71, {0x91, 0xC1, 0xBC, 0x06, 0x86, 0x54, 0x0A, 0xCF}};
inline constexpr DISPID kDispInterval = 1;
inline constexpr DISPID kDispStart = 4;
inline constexpr DISPID kDispStop = 5;

// Start's result: true for TRUE.
inline bool InvokeStart(IDispatch* control) {
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT result;
    ::VariantInit(&result);
    const HRESULT hr =
        control->Invoke(kDispStart, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr);
    const bool started = SUCCEEDED(hr) && result.vt == VT_BOOL && result.boolVal == VARIANT_TRUE;
    ::VariantClear(&result);
    return started;
}

inline HRESULT InvokeStop(IDispatch* control) {
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    return control->Invoke(kDispStop, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
}

inline HRESULT PutInterval(IDispatch* control, LONG interval) {
    VARIANT value;
    value.vt = VT_I4;
    value.lVal = interval;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS put = {&value, &named, 1, 1};
    return control->Invoke(kDispInterval, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr);
}

}  // namespace soak
