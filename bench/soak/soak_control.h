// The control as the soak phases drive it: late bound through IDispatch, by the DISPIDs every
// client takes from client/vandrel_ids.h, as a host's script would. Calls on the creating thread (an
// initialised apartment).
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "base/com_ptr.h"
#include "base/hresult.h"
#include "base/late_bound.h"
#include "base/variant.h"
#include "client/vandrel_ids.h"

namespace soak {

// The control (or another class of the module) from a loaded Vandrel.ocx, through its class factory
// (no registration needed); null when the module has no factory for it.
inline base::ComPtr<IDispatch> CreateFromModule(HMODULE ocx, REFCLSID clsid = client::kClsidVandrel) {
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    // Through a generic function pointer: FARPROC's own type says nothing of the signature.
    auto get = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void (*)()>(::GetProcAddress(ocx, "DllGetClassObject")));
    base::ComPtr<IClassFactory> factory;
    base::ComPtr<IDispatch> control;
    if (get && SUCCEEDED(get(clsid, IID_IClassFactory, factory.put_void()))) {
        LOG_IF_FAILED(factory->CreateInstance(nullptr, IID_IDispatch, control.put_void()));
    }
    return control;
}

// Start's result: true for TRUE.
inline bool InvokeStart(IDispatch* control) {
    base::Variant result;
    const HRESULT hr = base::CallMethod(control, client::kDispidStart, {}, result.ptr());
    return SUCCEEDED(hr) && result.vt() == VT_BOOL && result.get().boolVal == VARIANT_TRUE;
}

[[nodiscard]] inline HRESULT InvokeStop(IDispatch* control) {
    return base::CallMethod(control, client::kDispidStop, {}, nullptr);
}

[[nodiscard]] inline HRESULT PutInterval(IDispatch* control, LONG interval) {
    const base::Variant value(interval);
    return base::PutProperty(control, client::kDispidInterval, value.get());
}

}  // namespace soak
