#include "activex/embedding_part.h"

#include <string>

#include "activex/property_exchange.h"
#include "activex/resources.h"
#include "activex/verbs.h"
#include "base/hresult.h"
#include "base/screen.h"
#include "base/variant.h"

namespace activex {

EmbeddingPart::EmbeddingPart(IUnknown& owner, const ControlClass& control, InPlaceActivation& inPlace,
                             ModifiedFlag& modified, PropertyFrame& frame, EventFreeze& events) noexcept
    : ComObject(owner),
      control_(control),
      inPlace_(inPlace),
      modified_(modified),
      frame_(frame),
      events_(events) {
    const SIZE dpi = base::ScreenDpi();
    extent_.cx = ::MulDiv(control.defaultSize.cx, 2540, dpi.cx);
    extent_.cy = ::MulDiv(control.defaultSize.cy, 2540, dpi.cy);
}

HRESULT EmbeddingPart::ExchangeExtent(PropExchange& px) noexcept {
    RETURN_IF_FAILED(px.ExchangeLong(L"_ExtentX", extent_.cx, nullptr));
    return px.ExchangeLong(L"_ExtentY", extent_.cy, nullptr);
}

void EmbeddingPart::Disconnect() noexcept {
    inPlace_.Deactivate();
    clientSite_.reset();
    adviseHolder_.reset();
}

HRESULT EmbeddingPart::GetAmbientProperty(DISPID dispid, VARIANT* value) const noexcept {
    if (!clientSite_) return E_FAIL;
    base::ComPtr<IDispatch> ambients;
    RETURN_IF_FAILED(clientSite_.As(&ambients));
    DISPPARAMS none = {};
    return ambients->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, value,
                            nullptr, nullptr);
}

// A site without ambient properties is a running form.
void EmbeddingPart::ReadAmbients() noexcept {
    base::Variant mode;
    bool userMode = true;
    if (SUCCEEDED(GetAmbientProperty(DISPID_AMBIENT_USERMODE, mode.put())) &&
        SUCCEEDED(mode.ChangeType(VT_BOOL))) {
        userMode = mode.get().boolVal != VARIANT_FALSE;
    }
    inPlace_.SetUserMode(userMode);
}

STDMETHODIMP EmbeddingPart::SetClientSite(IOleClientSite* site) noexcept {
    if (!site) inPlace_.Deactivate();
    clientSite_ = base::ComPtr<IOleClientSite>(site);
    ReadAmbients();
    return S_OK;
}

STDMETHODIMP EmbeddingPart::GetClientSite(IOleClientSite** site) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, site);
    return clientSite_.CopyTo(site);
}

STDMETHODIMP EmbeddingPart::Close(DWORD saveOption) noexcept {
    inPlace_.Deactivate();
    if ((saveOption == OLECLOSE_SAVEIFDIRTY || saveOption == OLECLOSE_PROMPTSAVE) && modified_.IsModified() &&
        clientSite_) {
        LOG_IF_FAILED(clientSite_->SaveObject());
    }
    if (adviseHolder_) adviseHolder_->SendOnClose();
    return S_OK;
}

STDMETHODIMP EmbeddingPart::GetMoniker(DWORD, DWORD, IMoniker** moniker) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, moniker);
    *moniker = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP EmbeddingPart::GetClipboardData(DWORD, IDataObject** data) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, data);
    *data = nullptr;
    return E_NOTIMPL;
}

// The verbs that activate do so in the client site, or in the site the caller gives when there is
// none yet.
STDMETHODIMP EmbeddingPart::DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent,
                                   LPCRECT) noexcept {
    IOleClientSite* const activeSite = clientSite_ ? clientSite_.get() : site;
    switch (verb) {
        case OLEIVERB_PRIMARY:
        case OLEIVERB_SHOW:
        case OLEIVERB_OPEN:
        case OLEIVERB_INPLACEACTIVATE:
        case OLEIVERB_UIACTIVATE: return inPlace_.Activate(verb, activeSite);
        case OLEIVERB_HIDE: inPlace_.Hide(); return S_OK;
        case OLEIVERB_PROPERTIES: return ShowProperties(parent);
        default: break;
    }
    if (verb < 0) return E_NOTIMPL;
    // An unknown positive verb does what the primary verb does.
    RETURN_IF_FAILED(inPlace_.Activate(OLEIVERB_PRIMARY, activeSite));
    return OLEOBJ_S_INVALIDVERB;
}

STDMETHODIMP EmbeddingPart::EnumVerbs(IEnumOLEVERB** out) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, out);
    *out = nullptr;
    if (control_.verbCount == 0) return OLEOBJ_E_NOVERBS;
    return EnumerateVerbs(control_.verbs, control_.verbCount, out);
}

STDMETHODIMP EmbeddingPart::GetUserClassID(CLSID* clsid) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, clsid);
    *clsid = control_.clsid;
    return S_OK;
}

STDMETHODIMP EmbeddingPart::GetUserType(DWORD, LPOLESTR* name) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, name);
    *name = nullptr;
    // Without the string the caller reads the name from the registry.
    std::wstring text;
    if (!LoadModuleString(control_.userTypeNameId, &text)) return OLE_S_USEREG;
    return SUCCEEDED(TaskMemString(text.c_str(), name)) ? S_OK : OLE_S_USEREG;
}

STDMETHODIMP EmbeddingPart::SetExtent(DWORD aspect, SIZEL* size) noexcept {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    RETURN_HR_IF_NULL(E_POINTER, size);
    if (size->cx != extent_.cx || size->cy != extent_.cy) {
        extent_ = *size;
        modified_.SetModified();
    }
    return S_OK;
}

STDMETHODIMP EmbeddingPart::GetExtent(DWORD aspect, SIZEL* size) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, size);
    *size = {};
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    *size = extent_;
    return S_OK;
}

STDMETHODIMP EmbeddingPart::Advise(IAdviseSink* sink, DWORD* connection) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, connection);
    *connection = 0;
    if (!adviseHolder_) RETURN_IF_FAILED(::CreateOleAdviseHolder(adviseHolder_.put()));
    return adviseHolder_->Advise(sink, connection);
}

STDMETHODIMP EmbeddingPart::Unadvise(DWORD connection) noexcept {
    if (!adviseHolder_) return OLE_E_NOCONNECTION;
    return adviseHolder_->Unadvise(connection);
}

STDMETHODIMP EmbeddingPart::EnumAdvise(IEnumSTATDATA** out) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, out);
    *out = nullptr;
    if (!adviseHolder_) RETURN_IF_FAILED(::CreateOleAdviseHolder(adviseHolder_.put()));
    return adviseHolder_->EnumAdvise(out);
}

STDMETHODIMP EmbeddingPart::GetMiscStatus(DWORD, DWORD* status) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, status);
    *status = control_.miscStatus;
    return S_OK;
}

STDMETHODIMP EmbeddingPart::GetControlInfo(CONTROLINFO* info) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, info);
    info->hAccel = nullptr;
    info->cAccel = 0;
    info->dwFlags = 0;
    return S_OK;
}

STDMETHODIMP EmbeddingPart::OnAmbientPropertyChange(DISPID dispid) noexcept {
    if (dispid == DISPID_AMBIENT_USERMODE || dispid == DISPID_UNKNOWN) ReadAmbients();
    return S_OK;
}

STDMETHODIMP EmbeddingPart::FreezeEvents(BOOL freeze) noexcept {
    events_.FreezeEvents(freeze != FALSE);
    return S_OK;
}

HRESULT EmbeddingPart::ShowProperties(HWND parent) noexcept {
    base::ComPtr<IOleControlSite> controlSite;
    if (clientSite_ && SUCCEEDED(clientSite_.As(&controlSite)) && controlSite->ShowPropertyFrame() == S_OK) {
        return S_OK;
    }
    const HWND owner = parent ? parent : inPlace_.ContainerWindow();
    LCID lcid = ::GetUserDefaultLCID();
    base::Variant locale;
    if (SUCCEEDED(GetAmbientProperty(DISPID_AMBIENT_LOCALEID, locale.put())) &&
        SUCCEEDED(locale.ChangeType(VT_I4))) {
        lcid = static_cast<LCID>(locale.get().lVal);
    }
    return frame_.ShowPropertyFrame(owner, lcid);
}

}  // namespace activex
