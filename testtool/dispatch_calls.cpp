#include "testtool/dispatch_calls.h"

#include "base/hresult.h"
#include "base/variant.h"

namespace mirelo {
namespace {

// IDispatch::Invoke with the error information of a DISP_E_EXCEPTION freed again: the handlers
// report nothing, the HRESULT is all they need.
HRESULT InvokeById(IDispatch* target, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, target);
    EXCEPINFO info{};
    UINT argError = 0;
    const HRESULT hr =
        target->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, params, result, &info, &argError);
    ::SysFreeString(info.bstrSource);
    ::SysFreeString(info.bstrDescription);
    ::SysFreeString(info.bstrHelpFile);
    return hr;
}

}  // namespace

HRESULT PutI2(IDispatch* target, DISPID id, SHORT value) noexcept {
    base::Variant argument(value);
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{argument.ptr(), &named, 1, 1};
    return InvokeById(target, id, DISPATCH_PROPERTYPUT, &params, nullptr);
}

HRESULT GetI4(IDispatch* target, DISPID id, LONG* value) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, value);
    DISPPARAMS params{nullptr, nullptr, 0, 0};
    base::Variant result;
    RETURN_IF_FAILED(InvokeById(target, id, DISPATCH_PROPERTYGET, &params, result.ptr()));
    RETURN_IF_FAILED(result.ChangeType(VT_I4));
    *value = result.get().lVal;
    return S_OK;
}

HRESULT CallI2WithI4(IDispatch* target, DISPID id, LONG argument, SHORT* result) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, result);
    base::Variant arg(argument);
    DISPPARAMS params{arg.ptr(), nullptr, 1, 0};
    base::Variant returned;
    RETURN_IF_FAILED(InvokeById(target, id, DISPATCH_METHOD, &params, returned.ptr()));
    RETURN_IF_FAILED(returned.ChangeType(VT_I2));
    *result = returned.get().iVal;
    return S_OK;
}

HRESULT CallIgnoringResult(IDispatch* target, DISPID id) noexcept {
    DISPPARAMS params{nullptr, nullptr, 0, 0};
    base::Variant ignored;
    return InvokeById(target, id, DISPATCH_METHOD, &params, ignored.ptr());
}

HRESULT CallVoid(IDispatch* target, DISPID id) noexcept {
    DISPPARAMS params{nullptr, nullptr, 0, 0};
    return InvokeById(target, id, DISPATCH_METHOD, &params, nullptr);
}

}  // namespace mirelo
