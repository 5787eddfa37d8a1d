#include "activex/dispatch.h"

#include <oleauto.h>

#include <string>

#include "base/com_ptr.h"
#include "base/hresult.h"
#include "base/text.h"

namespace activex {
namespace {

void SetArgErr(UINT* argErr, UINT index) noexcept {
    if (argErr) *argErr = index;
}

// Longest chain of VT_BYREF | VT_VARIANT references followed; a longer one is taken for a cycle.
constexpr int kMaxReferenceDepth = 8;

// The variant that v refers to through VT_BYREF | VT_VARIANT references, or null when a reference
// is null or the chain does not end (a caller's variant may refer to itself).
const VARIANT* Dereference(const VARIANT& v) noexcept {
    const VARIANT* p = &v;
    for (int depth = 0; p->vt == (VT_BYREF | VT_VARIANT); ++depth) {
        if (!p->pvarVal || depth == kMaxReferenceDepth) return nullptr;
        p = p->pvarVal;
    }
    return p;
}

// A VT_ERROR DISP_E_PARAMNOTFOUND stands for an argument the caller left out.
bool IsMissing(const VARIANT& v) noexcept {
    const VARIANT* p = Dereference(v);
    return p && p->vt == VT_ERROR && p->scode == DISP_E_PARAMNOTFOUND;
}

// The variant that arg refers to, or null for a reference (of any type) that is null: the coercion
// or the member would read through it.
const VARIANT* FollowReferences(const VARIANT& arg) noexcept {
    const VARIANT* v = Dereference(arg);
    return !v || ((v->vt & VT_BYREF) && !v->byref) ? nullptr : v;
}

// Coerces the argument at index in rgvarg to type into args' place p; one left out is missing.
[[nodiscard]] HRESULT CoerceArgument(const VARIANT& arg, UINT index, VARTYPE type, UINT p,
                                     CallArguments* args, UINT* argErr) noexcept {
    HRESULT hr = DISP_E_PARAMNOTOPTIONAL;
    if (!IsMissing(arg)) {
        switch (type) {
            case VT_R8:
                hr = CoerceToDouble(arg, &args->typed[p].put()->dblVal);
                if (SUCCEEDED(hr)) args->typed[p].ptr()->vt = VT_R8;
                break;
            case VT_BSTR: hr = CoerceToText(arg, &args->typed[p]); break;
            default: hr = CoerceToLong(arg, &args->longs[p]); break;
        }
    }
    if (FAILED(hr)) SetArgErr(argErr, index);
    return hr;
}

// A put's value is rgvarg[0], named DISPID_PROPERTYPUT; an indexed property's index comes before it.
[[nodiscard]] HRESULT PreparePut(const MemberShape& shape, WORD flags, const DISPPARAMS& params,
                                 CallArguments* args, UINT* argErr) noexcept {
    // PUTREF only for a value property, which may hold an object.
    const WORD puts =
        shape.valuePut ? (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF) : DISPATCH_PROPERTYPUT;
    if (shape.readOnly || !(flags & puts)) return DISP_E_MEMBERNOTFOUND;
    if (params.cArgs != (shape.indexed ? 2u : 1u)) return DISP_E_BADPARAMCOUNT;
    if (params.cNamedArgs != 1 || params.rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
        return DISP_E_PARAMNOTOPTIONAL;
    }
    if (shape.indexed) {
        const HRESULT hr = CoerceArgument(params.rgvarg[1], 1, VT_I4, 0, args, argErr);
        if (FAILED(hr)) return hr;
    }
    if (IsMissing(params.rgvarg[0])) {
        SetArgErr(argErr, 0);
        return DISP_E_PARAMNOTOPTIONAL;
    }
    if (shape.textPut) return S_OK;
    if (shape.indexed || shape.valuePut) {
        args->value = FollowReferences(params.rgvarg[0]);
        if (args->value) return S_OK;
        SetArgErr(argErr, 0);
        return DISP_E_TYPEMISMATCH;
    }
    return CoerceArgument(params.rgvarg[0], 0, VT_I4, 0, args, argErr);
}

// A variable that a by-reference parameter may hand a LONG into: one holding nothing, a number, a
// date, a Boolean or a string, which the LONG replaces. Objects and arrays are not let go of that way.
bool TakesLong(VARTYPE vt) noexcept {
    switch (vt) {
        case VT_EMPTY:
        case VT_NULL:
        case VT_I2:
        case VT_I4:
        case VT_R4:
        case VT_R8:
        case VT_CY:
        case VT_DATE:
        case VT_BSTR:
        case VT_ERROR:
        case VT_BOOL:
        case VT_DECIMAL:
        case VT_I1:
        case VT_UI1:
        case VT_UI2:
        case VT_UI4:
        case VT_I8:
        case VT_UI8:
        case VT_INT:
        case VT_UINT: return true;
        default: return false;
    }
}

// The variable an optional output parameter names. By value (or left out) it names none; by
// reference it is a Long, or a Variant reached through VT_BYREF | VT_VARIANT references.
[[nodiscard]] HRESULT FindOutputTarget(const VARIANT& arg, OutputTarget* target) noexcept {
    if (!(arg.vt & VT_BYREF) || IsMissing(arg)) return S_OK;
    const VARIANT* v = Dereference(arg);
    if (!v) return DISP_E_TYPEMISMATCH;
    if (v->vt == (VT_BYREF | VT_I4)) {
        if (!v->plVal) return DISP_E_TYPEMISMATCH;
        target->plain = v->plVal;
        return S_OK;
    }
    // Only a Variant reached by reference is the caller's own to replace.
    if (v == &arg || !TakesLong(v->vt)) return DISP_E_TYPEMISMATCH;
    target->variant = const_cast<VARIANT*>(v);
    return S_OK;
}

[[nodiscard]] HRESULT PrepareMethod(const MemberShape& shape, const DISPPARAMS& params, CallArguments* args,
                                    UINT* argErr) noexcept {
    // rgvarg holds the named arguments first, then the positional ones in reverse order.
    const UINT paramCount = shape.paramCount;
    const bool optionalOutput = shape.optionalOutput;
    const UINT total = paramCount + (optionalOutput ? 1 : 0);
    const VARIANT* byParam[kMaxParams + 1] = {};
    UINT byParamIndex[kMaxParams + 1] = {};
    for (UINT i = 0; i < params.cNamedArgs; ++i) {
        const DISPID id = params.rgdispidNamedArgs[i];
        if (id < 0 || static_cast<UINT>(id) >= total || byParam[id]) {
            SetArgErr(argErr, i);
            return DISP_E_PARAMNOTFOUND;
        }
        byParam[id] = &params.rgvarg[i];
        byParamIndex[id] = i;
    }
    if (params.cArgs < paramCount || params.cArgs > total) return DISP_E_BADPARAMCOUNT;
    const UINT positional = params.cArgs - params.cNamedArgs;
    for (UINT p = 0; p < positional; ++p) {
        const UINT index = params.cArgs - 1 - p;
        if (byParam[p]) {  // given by position and by name
            SetArgErr(argErr, byParamIndex[p]);
            return DISP_E_PARAMNOTFOUND;
        }
        byParam[p] = &params.rgvarg[index];
        byParamIndex[p] = index;
    }
    for (UINT p = 0; p < paramCount; ++p) {
        // Only the optional parameter may be left out; a required one named away is missing.
        if (!byParam[p]) return DISP_E_PARAMNOTOPTIONAL;
        const VARTYPE type = shape.paramTypes ? shape.paramTypes[p] : VARTYPE{VT_I4};
        const HRESULT hr = CoerceArgument(*byParam[p], byParamIndex[p], type, p, args, argErr);
        if (FAILED(hr)) return hr;
    }
    if (optionalOutput && byParam[paramCount]) {
        OutputTarget target;
        const HRESULT hr = FindOutputTarget(*byParam[paramCount], &target);
        if (FAILED(hr)) {
            SetArgErr(argErr, byParamIndex[paramCount]);
            return hr;
        }
        args->output = target;
    }
    return S_OK;
}

// Fills the caller's EXCEPINFO with the exception scode described by description (may be null).
void FillException(EXCEPINFO* excepInfo, HRESULT scode, const wchar_t* description,
                   const wchar_t* source) noexcept {
    *excepInfo = EXCEPINFO{};
    // Without memory for the texts the caller still learns the error from scode.
    excepInfo->bstrSource = source ? ::SysAllocString(source) : nullptr;
    excepInfo->bstrDescription = description ? ::SysAllocString(description) : nullptr;
    excepInfo->scode = scode;
}

}  // namespace

[[nodiscard]] HRESULT CoerceToLong(const VARIANT& arg, LONG* out) noexcept {
    const VARIANT* v = FollowReferences(arg);
    if (!v) return DISP_E_TYPEMISMATCH;
    if (v->vt == VT_I4) {
        *out = v->lVal;
        return S_OK;
    }
    VARIANT converted;
    ::VariantInit(&converted);
    const HRESULT hr = ::VariantChangeType(&converted, const_cast<VARIANT*>(v), 0, VT_I4);
    if (FAILED(hr)) return hr;
    *out = converted.lVal;
    return S_OK;
}

[[nodiscard]] HRESULT CoerceToDouble(const VARIANT& arg, double* out) noexcept {
    const VARIANT* v = FollowReferences(arg);
    if (!v) return DISP_E_TYPEMISMATCH;
    if (v->vt == VT_R8) {  // taken as it is, so that a NaN keeps its bits
        *out = v->dblVal;
        return S_OK;
    }
    VARIANT converted;
    ::VariantInit(&converted);
    const HRESULT hr = ::VariantChangeType(&converted, const_cast<VARIANT*>(v), 0, VT_R8);
    if (FAILED(hr)) return hr;
    *out = converted.dblVal;
    return S_OK;
}

[[nodiscard]] HRESULT CoerceToText(const VARIANT& arg, base::Variant* out) noexcept {
    const VARIANT* v = FollowReferences(arg);
    if (!v) return DISP_E_TYPEMISMATCH;
    return ::VariantChangeType(out->put(), const_cast<VARIANT*>(v), 0, VT_BSTR);
}

void WrapResult(VARTYPE vt, LONG value, VARIANT* result) noexcept {
    switch (vt) {
        case VT_I2:
            result->vt = VT_I2;
            result->iVal = static_cast<SHORT>(value);
            break;
        case VT_BOOL:
            result->vt = VT_BOOL;
            result->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        case VT_I4:
            result->vt = VT_I4;
            result->lVal = value;
            break;
        default: break;
    }
}

void OutputTarget::Write(LONG value) const noexcept {
    if (plain) *plain = value;
    if (variant) {
        // Every type a target may hold clears without failing (TakesLong).
        ::VariantClear(variant);
        variant->vt = VT_I4;
        variant->lVal = value;
    }
}

[[nodiscard]] HRESULT RefuseOutOfRange(const wchar_t* description, const wchar_t* source,
                                       EXCEPINFO* excepInfo) noexcept {
    if (!excepInfo) return E_INVALIDARG;
    FillException(excepInfo, E_INVALIDARG, description, source);
    return DISP_E_EXCEPTION;
}

[[nodiscard]] HRESULT RaiseFailure(HRESULT hr, const wchar_t* source, EXCEPINFO* excepInfo) noexcept try {
    if (!excepInfo) return hr;
    const std::wstring message = base::SystemMessage(hr);
    FillException(excepInfo, hr, message.empty() ? nullptr : message.c_str(), source);
    return DISP_E_EXCEPTION;
}
CATCH_RETURN()

[[nodiscard]] HRESULT Refuse(HRESULT hr, const wchar_t* text) noexcept {
    base::ComPtr<ICreateErrorInfo> created;
    base::ComPtr<IErrorInfo> error;
    // Without the error object the failure is still told, with the system's message.
    if (FAILED(LOG_IF_FAILED(::CreateErrorInfo(created.put()))) ||
        FAILED(LOG_IF_FAILED(created->SetDescription(const_cast<LPOLESTR>(text)))) ||
        FAILED(LOG_IF_FAILED(created.As(&error)))) {
        return hr;
    }
    LOG_IF_FAILED(::SetErrorInfo(0, error.get()));
    return hr;
}

[[nodiscard]] HRESULT Refuse(HRESULT hr, const std::wstring& text) noexcept {
    return Refuse(hr, text.c_str());
}

namespace detail {

void BeginReportingCall() noexcept { LOG_IF_FAILED(::SetErrorInfo(0, nullptr)); }

[[nodiscard]] HRESULT EndReportingCall(HRESULT hr, const wchar_t* source, EXCEPINFO* excepInfo) noexcept {
    // Taking the error object clears it, also after a success, so that no text outlives its call.
    base::ComPtr<IErrorInfo> error;
    base::Bstr text;
    if (::GetErrorInfo(0, error.put()) == S_OK && error) LOG_IF_FAILED(error->GetDescription(text.put()));
    if (SUCCEEDED(hr)) return hr;
    if (!text.length()) return RaiseFailure(hr, source, excepInfo);
    if (!excepInfo) return hr;
    FillException(excepInfo, hr, text.get(), source);
    return DISP_E_EXCEPTION;
}

}  // namespace detail

[[nodiscard]] HRESULT PrepareCall(const MemberShape& shape, WORD flags, const DISPPARAMS* params,
                                  CallArguments* args, CallKind* kind, UINT* argErr) noexcept {
    if (!params) return E_INVALIDARG;
    if ((params->cArgs && !params->rgvarg) || params->cNamedArgs > params->cArgs ||
        (params->cNamedArgs && !params->rgdispidNamedArgs)) {
        return E_INVALIDARG;
    }
    if (shape.kind == MemberKind::kProperty) {
        if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
            *kind = CallKind::kPut;
            return PreparePut(shape, flags, *params, args, argErr);
        }
        // A get may come as a method call (obj.Prop, obj.Prop(3) in some languages).
        if (!(flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD))) return DISP_E_MEMBERNOTFOUND;
        if (params->cNamedArgs) return DISP_E_NONAMEDARGS;
        if (params->cArgs != (shape.indexed ? 1u : 0u)) return DISP_E_BADPARAMCOUNT;
        *kind = CallKind::kGet;
        return shape.indexed ? CoerceArgument(params->rgvarg[0], 0, VT_I4, 0, args, argErr) : S_OK;
    }
    if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
    *kind = CallKind::kMethod;
    return PrepareMethod(shape, *params, args, argErr);
}

}  // namespace activex
