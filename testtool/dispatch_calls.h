// Late-bound calls into a control instance by DISPID, with the argument and result types the
// handlers use. Each returns the failure of IDispatch::Invoke unchanged, or the failure of the
// conversion of the result (DISP_E_OVERFLOW when it does not fit, DISP_E_TYPEMISMATCH ...).
// Called on the form's thread, the apartment the instances live in.
#pragma once

#include <oaidl.h>

namespace mirelo {

// Property put with one VT_I2 argument (named DISPID_PROPERTYPUT).
[[nodiscard]] HRESULT PutI2(IDispatch* target, DISPID id, SHORT value) noexcept;

// Property get, the result converted to a 32-bit integer.
[[nodiscard]] HRESULT GetI4(IDispatch* target, DISPID id, LONG* value) noexcept;

// Method with one VT_I4 argument, the result converted to a 16-bit integer.
[[nodiscard]] HRESULT CallI2WithI4(IDispatch* target, DISPID id, LONG argument, SHORT* result) noexcept;

// Method without arguments whose result, if any, is not looked at.
[[nodiscard]] HRESULT CallIgnoringResult(IDispatch* target, DISPID id) noexcept;

// Method without arguments and without result.
[[nodiscard]] HRESULT CallVoid(IDispatch* target, DISPID id) noexcept;

}  // namespace mirelo
