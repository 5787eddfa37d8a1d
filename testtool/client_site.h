// The client site the form gives each hosted control instance: IOleClientSite, and IDispatch for
// the ambient properties. The form runs the controls at run time, so UserMode is TRUE. Owned by
// reference count (the form and the control it serves); created and called on the form's thread.
#pragma once

#include <oleidl.h>

#include <string>

#include "base/com_object.h"

namespace mirelo {

class ClientSite final : public base::ComObject<ClientSite, base::Lifetime::Heap, IOleClientSite, IDispatch> {
public:
    // displayName is the instance's name on the form ("Vandrel1"), the ambient DisplayName.
    explicit ClientSite(std::wstring displayName) noexcept : displayName_(std::move(displayName)) {}

    // IOleClientSite: a form that is never saved and has no container document.
    STDMETHODIMP SaveObject() noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) noexcept override;
    STDMETHODIMP GetContainer(IOleContainer** container) noexcept override;
    STDMETHODIMP ShowObject() noexcept override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) noexcept override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() noexcept override { return E_NOTIMPL; }

    // IDispatch: ambient properties by DISPID; UserMode (TRUE), LocaleID (the user's locale) and
    // DisplayName. Any other ambient is DISP_E_MEMBERNOTFOUND, which tells a control to use its
    // own default.
    STDMETHODIMP GetTypeInfoCount(UINT* count) noexcept override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) noexcept override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) noexcept override;
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT*) noexcept override;

private:
    std::wstring displayName_;
};

}  // namespace mirelo
