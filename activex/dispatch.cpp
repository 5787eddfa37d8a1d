#include "activex/dispatch.h"

#include <oleauto.h>

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

HRESULT PreparePut(WORD flags, const DISPPARAMS& params, LONG* args, UINT* argErr) noexcept {
    if (!(flags & DISPATCH_PROPERTYPUT)) return DISP_E_MEMBERNOTFOUND;  // PUTREF: not an object
    if (params.cArgs != 1) return DISP_E_BADPARAMCOUNT;
    if (params.cNamedArgs != 1 || params.rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
        return DISP_E_PARAMNOTOPTIONAL;
    }
    if (IsMissing(params.rgvarg[0])) {
        SetArgErr(argErr, 0);
        return DISP_E_PARAMNOTOPTIONAL;
    }
    const HRESULT hr = CoerceToLong(params.rgvarg[0], &args[0]);
    if (FAILED(hr)) SetArgErr(argErr, 0);
    return hr;
}

HRESULT PrepareMethod(UINT paramCount, const DISPPARAMS& params, LONG* args, UINT* argErr) noexcept {
    // rgvarg holds the named arguments first, then the positional ones in reverse order.
    const VARIANT* byParam[kMaxParams] = {};
    UINT byParamIndex[kMaxParams] = {};
    for (UINT i = 0; i < params.cNamedArgs; ++i) {
        const DISPID id = params.rgdispidNamedArgs[i];
        if (id < 0 || static_cast<UINT>(id) >= paramCount || byParam[id]) {
            SetArgErr(argErr, i);
            return DISP_E_PARAMNOTFOUND;
        }
        byParam[id] = &params.rgvarg[i];
        byParamIndex[id] = i;
    }
    if (params.cArgs != paramCount) return DISP_E_BADPARAMCOUNT;
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
        if (IsMissing(*byParam[p])) {
            SetArgErr(argErr, byParamIndex[p]);
            return DISP_E_PARAMNOTOPTIONAL;
        }
        const HRESULT hr = CoerceToLong(*byParam[p], &args[p]);
        if (FAILED(hr)) {
            SetArgErr(argErr, byParamIndex[p]);
            return hr;
        }
    }
    return S_OK;
}

}  // namespace

HRESULT CoerceToLong(const VARIANT& arg, LONG* out) noexcept {
    const VARIANT* v = Dereference(arg);
    // The coercion would read through a null reference of any type.
    if (!v || ((v->vt & VT_BYREF) && !v->byref)) return DISP_E_TYPEMISMATCH;
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

HRESULT PrepareCall(const MemberShape& shape, WORD flags, const DISPPARAMS* params, LONG* args,
                    CallKind* kind, UINT* argErr) noexcept {
    if (!params) return E_INVALIDARG;
    if ((params->cArgs && !params->rgvarg) || params->cNamedArgs > params->cArgs ||
        (params->cNamedArgs && !params->rgdispidNamedArgs)) {
        return E_INVALIDARG;
    }
    if (shape.kind == MemberKind::Property) {
        if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
            *kind = CallKind::Put;
            return PreparePut(flags, *params, args, argErr);
        }
        // A get may come as a method call without arguments (obj.Prop in some languages).
        if (!(flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD))) return DISP_E_MEMBERNOTFOUND;
        if (params->cNamedArgs) return DISP_E_NONAMEDARGS;
        if (params->cArgs) return DISP_E_BADPARAMCOUNT;
        *kind = CallKind::Get;
        return S_OK;
    }
    if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
    *kind = CallKind::Method;
    return PrepareMethod(shape.paramCount, *params, args, argErr);
}

}  // namespace activex
