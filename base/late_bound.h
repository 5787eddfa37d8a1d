// Late-bound calls through IDispatch as an automation client makes them. Arguments are given in
// call order, first argument first; IDispatch::Invoke wants them last first, and the helpers turn
// them round. A property put names its value DISPID_PROPERTYPUT. A caller that wants what the
// target said of an exception it raised (DISP_E_EXCEPTION) passes a DispException; otherwise its
// strings are freed and the HRESULT is the answer. The helpers neither take nor keep the arguments
// (shallow copies are handed on for the call) and run on the caller's thread, in whatever apartment
// the target belongs to.
#pragma once

#include <oaidl.h>
#include <oleauto.h>

#include <cstddef>
#include <initializer_list>
#include <iterator>
#include <utility>
#include <vector>

#include "base/hresult.h"
#include "base/variant.h"

namespace base {

// What a target said of the exception it raised.
struct DispException {
    // The error it named: its scode, or its wCode as an HRESULT (0x80040200 + wCode, as automation
    // clients read it); DISP_E_EXCEPTION when it named none.
    HRESULT error = S_OK;
    Bstr description;  // null when it gave none
};

// Calls member id with flags (DISPATCH_METHOD, _PROPERTYGET, _PROPERTYPUT or _PROPERTYPUTREF, or
// a combination a client may use) and count arguments in call order; result may be null when the
// caller does not want it. When the target reports an argument at fault, *argErr (if given) gets
// its position in call order; otherwise *argErr is left alone. When the target raises an exception,
// *exception (if given) gets what it said of it; otherwise *exception is left alone. Returns the target's
// HRESULT.
[[nodiscard]] inline HRESULT InvokeById(IDispatch* target, DISPID id, WORD flags, const VARIANT* args,
                                        size_t count, VARIANT* result, UINT* argErr = nullptr,
                                        DispException* exception = nullptr) noexcept {
    RETURN_HR_IF(E_POINTER, !target || (count && !args));
    try {
        std::vector<VARIANT> reversed(std::make_reverse_iterator(args + count),
                                      std::make_reverse_iterator(args));
        DISPID named = DISPID_PROPERTYPUT;
        // A put's value, the last argument, is named; the others stay positional (an indexed put).
        const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0 && count > 0;
        DISPPARAMS params{reversed.data(), put ? &named : nullptr, static_cast<UINT>(count), put ? 1u : 0u};
        EXCEPINFO info{};
        UINT fault = ~0u;
        const HRESULT hr =
            target->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &info, &fault);
        const Bstr source = Bstr::Adopt(info.bstrSource), helpFile = Bstr::Adopt(info.bstrHelpFile);
        Bstr description = Bstr::Adopt(info.bstrDescription);
        if (argErr && fault < count) *argErr = static_cast<UINT>(count - 1 - fault);
        if (exception && hr == DISP_E_EXCEPTION) {
            exception->error = FAILED(info.scode) ? info.scode
                               : info.wCode ? MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x200 + info.wCode)
                                            : DISP_E_EXCEPTION;
            exception->description = std::move(description);
        }
        return hr;
    }
    CATCH_RETURN()
}

[[nodiscard]] inline HRESULT InvokeById(IDispatch* target, DISPID id, WORD flags,
                                        std::initializer_list<VARIANT> args, VARIANT* result,
                                        UINT* argErr = nullptr) noexcept {
    return InvokeById(target, id, flags, args.begin(), args.size(), result, argErr);
}

// A method call; result may be null.
[[nodiscard]] inline HRESULT CallMethod(IDispatch* target, DISPID id, std::initializer_list<VARIANT> args,
                                        VARIANT* result) noexcept {
    return InvokeById(target, id, DISPATCH_METHOD, args, result);
}

// A property's value into *result, which the caller has initialised (a Variant's ptr()).
[[nodiscard]] inline HRESULT GetProperty(IDispatch* target, DISPID id, VARIANT* result) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, result);
    return InvokeById(target, id, DISPATCH_PROPERTYGET, nullptr, 0, result);
}

[[nodiscard]] inline HRESULT PutProperty(IDispatch* target, DISPID id, const VARIANT& value) noexcept {
    return InvokeById(target, id, DISPATCH_PROPERTYPUT, &value, 1, nullptr);
}

// The DISPID of the member called name, in the user's locale.
[[nodiscard]] inline HRESULT GetDispId(IDispatch* target, const wchar_t* name, DISPID* id) noexcept {
    RETURN_HR_IF(E_POINTER, !target || !name || !id);
    *id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    return target->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, id);
}

}  // namespace base
