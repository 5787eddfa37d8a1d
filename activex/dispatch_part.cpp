#include "activex/dispatch_part.h"

#include "activex/typelib.h"
#include "base/com_ptr.h"
#include "base/hresult.h"

namespace activex {

void* DispatchPart::FindInterface(REFIID riid) noexcept {
    if (IsEqualIID(riid, control_.dispatchIid)) return static_cast<IDispatch*>(this);
    return ComObject::FindInterface(riid);
}

STDMETHODIMP DispatchPart::GetTypeInfoCount(UINT* count) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, count);
    *count = 1;
    return S_OK;
}

STDMETHODIMP DispatchPart::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** out) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, out);
    *out = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return control_.typeLib.GetTypeInfo(control_.dispatchIid, lcid, out);
}

STDMETHODIMP DispatchPart::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                         DISPID* ids) noexcept {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    RETURN_HR_IF(E_POINTER, !names || !ids);
    base::ComPtr<ITypeInfo> info;
    RETURN_IF_FAILED(control_.typeLib.GetTypeInfo(control_.dispatchIid, lcid, info.put()));
    return info->GetIDsOfNames(names, count, ids);
}

STDMETHODIMP DispatchPart::Invoke(DISPID dispid, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                  VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) noexcept {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    return members_.InvokeMember(dispid, flags, params, result, excepInfo, argErr);
}

STDMETHODIMP DispatchPart::GetClassInfo(ITypeInfo** out) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, out);
    *out = nullptr;
    return control_.typeLib.GetTypeInfo(control_.clsid, LOCALE_NEUTRAL, out);
}

STDMETHODIMP DispatchPart::GetGUID(DWORD kind, GUID* guid) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, guid);
    *guid = GUID_NULL;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) return E_INVALIDARG;
    *guid = control_.eventIid;
    return S_OK;
}

}  // namespace activex
