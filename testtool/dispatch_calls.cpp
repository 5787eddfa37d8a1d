#include "testtool/dispatch_calls.h"

#include "base/hresult.h"
#include "base/late_bound.h"
#include "base/variant.h"

namespace mirelo {

[[nodiscard]] HRESULT PutI2(IDispatch* target, DISPID id, SHORT value) noexcept {
    const base::Variant argument(value);
    return base::PutProperty(target, id, argument.get());
}

[[nodiscard]] HRESULT GetI4(IDispatch* target, DISPID id, LONG* value) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, value);
    *value = 0;
    base::Variant result;
    RETURN_IF_FAILED(base::GetProperty(target, id, result.ptr()));
    RETURN_IF_FAILED(result.ChangeType(VT_I4));
    *value = result.get().lVal;
    return S_OK;
}

[[nodiscard]] HRESULT CallI2WithI4(IDispatch* target, DISPID id, LONG argument, SHORT* result) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, result);
    *result = 0;
    const base::Variant arg(argument);
    base::Variant returned;
    RETURN_IF_FAILED(base::CallMethod(target, id, {arg.get()}, returned.ptr()));
    RETURN_IF_FAILED(returned.ChangeType(VT_I2));
    *result = returned.get().iVal;
    return S_OK;
}

[[nodiscard]] HRESULT CallIgnoringResult(IDispatch* target, DISPID id) noexcept {
    base::Variant ignored;
    return base::CallMethod(target, id, {}, ignored.ptr());
}

[[nodiscard]] HRESULT CallVoid(IDispatch* target, DISPID id) noexcept {
    return base::CallMethod(target, id, {}, nullptr);
}

}  // namespace mirelo
