#include "testtool/client_site.h"

#include <olectl.h>

#include "base/hresult.h"
#include "base/variant.h"

namespace mirelo {

STDMETHODIMP ClientSite::GetMoniker(DWORD, DWORD, IMoniker** moniker) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, moniker);
    *moniker = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP ClientSite::GetContainer(IOleContainer** container) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, container);
    *container = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP ClientSite::GetTypeInfoCount(UINT* count) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, count);
    *count = 0;
    return S_OK;
}

STDMETHODIMP ClientSite::GetTypeInfo(UINT, LCID, ITypeInfo** info) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, info);
    *info = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP ClientSite::GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, ids);
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
}

STDMETHODIMP ClientSite::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                EXCEPINFO*, UINT*) noexcept {
    // Ambients are read-only properties without arguments.
    if (!(flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD))) return DISP_E_MEMBERNOTFOUND;
    base::Variant value;
    VARIANT* const v = value.put();
    switch (id) {
        case DISPID_AMBIENT_USERMODE:
            v->vt = VT_BOOL;
            v->boolVal = VARIANT_TRUE;
            break;
        case DISPID_AMBIENT_LOCALEID:
            v->vt = VT_I4;
            v->lVal = static_cast<LONG>(::GetUserDefaultLCID());
            break;
        case DISPID_AMBIENT_DISPLAYNAME:
            v->bstrVal = ::SysAllocStringLen(displayName_.data(), static_cast<UINT>(displayName_.size()));
            if (!v->bstrVal) return E_OUTOFMEMORY;
            v->vt = VT_BSTR;
            break;
        default: return DISP_E_MEMBERNOTFOUND;
    }
    if (params && (params->cArgs != 0 || params->cNamedArgs != 0)) return DISP_E_BADPARAMCOUNT;
    if (result) *result = value.Detach();
    return S_OK;
}

}  // namespace mirelo
