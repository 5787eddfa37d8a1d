#include "activex/ole_object_part.h"

#include <string>
#include <utility>
#include <vector>

#include "activex/enumerator.h"
#include "activex/property_exchange.h"
#include "activex/resources.h"
#include "base/hresult.h"
#include "base/screen.h"
#include "base/variant.h"

namespace activex {
namespace {

struct VerbItem {
    LONG id;
    std::wstring name;
    DWORD attributes;
    HRESULT CopyOut(OLEVERB* out) const noexcept {
        out->lVerb = id;
        out->fuFlags = 0;
        out->grfAttribs = attributes;
        return TaskMemString(name.c_str(), &out->lpszVerbName);
    }
    static void Free(OLEVERB* verb) noexcept {
        ::CoTaskMemFree(verb->lpszVerbName);
        verb->lpszVerbName = nullptr;
    }
};

using VerbEnumerator = Enumerator<IEnumOLEVERB, OLEVERB, VerbItem>;

}  // namespace

OleObjectPart::OleObjectPart(IUnknown& owner, const ControlClass& control, Picture& picture,
                             ModifiedFlag& modified, PropertyFrame& frame, EventFreeze& events) noexcept
    : ComObject(owner),
      control_(control),
      modified_(modified),
      frame_(frame),
      events_(events),
      window_(picture) {
    const SIZE dpi = base::ScreenDpi();
    extent_.cx = ::MulDiv(100, 2540, dpi.cx);
    extent_.cy = ::MulDiv(50, 2540, dpi.cy);
}

HRESULT OleObjectPart::ExchangeExtent(PropExchange& px) noexcept {
    RETURN_IF_FAILED(px.ExchangeLong(L"_ExtentX", extent_.cx, nullptr));
    return px.ExchangeLong(L"_ExtentY", extent_.cy, nullptr);
}

void OleObjectPart::Disconnect() noexcept {
    InPlaceDeactivate();
    clientSite_.reset();
    adviseHolder_.reset();
}

// --- ambient properties --------------------------------------------------------------------------

HRESULT OleObjectPart::GetAmbientProperty(DISPID dispid, VARIANT* value) const noexcept {
    if (!clientSite_) return E_FAIL;
    base::ComPtr<IDispatch> ambients;
    RETURN_IF_FAILED(clientSite_.As(&ambients));
    DISPPARAMS none = {};
    return ambients->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, value,
                            nullptr, nullptr);
}

void OleObjectPart::ReadAmbients() noexcept {
    base::Variant mode;
    userMode_ = true;
    if (SUCCEEDED(GetAmbientProperty(DISPID_AMBIENT_USERMODE, mode.put())) &&
        SUCCEEDED(mode.ChangeType(VT_BOOL))) {
        userMode_ = mode.get().boolVal != VARIANT_FALSE;
    }
    UpdateWindowVisibility();
}

// --- IOleObject ----------------------------------------------------------------------------------

STDMETHODIMP OleObjectPart::SetClientSite(IOleClientSite* site) noexcept {
    if (!site && inPlaceActive_) InPlaceDeactivate();
    clientSite_ = base::ComPtr<IOleClientSite>(site);
    ReadAmbients();
    return S_OK;
}

STDMETHODIMP OleObjectPart::GetClientSite(IOleClientSite** site) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, site);
    return clientSite_.CopyTo(site);
}

STDMETHODIMP OleObjectPart::SetHostNames(LPCOLESTR, LPCOLESTR) noexcept { return S_OK; }

STDMETHODIMP OleObjectPart::Close(DWORD saveOption) noexcept {
    InPlaceDeactivate();
    if ((saveOption == OLECLOSE_SAVEIFDIRTY || saveOption == OLECLOSE_PROMPTSAVE) && modified_.IsModified() &&
        clientSite_) {
        LOG_IF_FAILED(clientSite_->SaveObject());
    }
    if (adviseHolder_) adviseHolder_->SendOnClose();
    return S_OK;
}

STDMETHODIMP OleObjectPart::SetMoniker(DWORD, IMoniker*) noexcept { return E_NOTIMPL; }

STDMETHODIMP OleObjectPart::GetMoniker(DWORD, DWORD, IMoniker** moniker) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, moniker);
    *moniker = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP OleObjectPart::InitFromData(IDataObject*, BOOL, DWORD) noexcept { return E_NOTIMPL; }

STDMETHODIMP OleObjectPart::GetClipboardData(DWORD, IDataObject** data) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, data);
    *data = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP OleObjectPart::DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent,
                                   LPCRECT) noexcept {
    switch (verb) {
        case OLEIVERB_PRIMARY:
        case OLEIVERB_SHOW:
        case OLEIVERB_OPEN:
        case OLEIVERB_INPLACEACTIVATE:
        case OLEIVERB_UIACTIVATE: hidden_ = false; return InPlaceActivate(verb, site);
        case OLEIVERB_HIDE:
            UIDeactivate();
            hidden_ = true;
            UpdateWindowVisibility();
            return S_OK;
        case OLEIVERB_PROPERTIES: return ShowProperties(parent);
        default: break;
    }
    if (verb < 0) return E_NOTIMPL;
    // An unknown positive verb does what the primary verb does.
    hidden_ = false;
    RETURN_IF_FAILED(InPlaceActivate(OLEIVERB_PRIMARY, site));
    return OLEOBJ_S_INVALIDVERB;
}

STDMETHODIMP OleObjectPart::EnumVerbs(IEnumOLEVERB** out) noexcept try {
    RETURN_HR_IF_NULL(E_POINTER, out);
    *out = nullptr;
    if (control_.verbCount == 0) return OLEOBJ_E_NOVERBS;
    std::vector<VerbItem> items;
    for (ULONG i = 0; i < control_.verbCount; ++i) {
        const Verb& verb = control_.verbs[i];
        std::wstring name;
        if (!LoadModuleString(verb.nameId, &name)) name = kUnknownVerbName;
        items.push_back({verb.id, std::move(name), verb.attributes});
    }
    return VerbEnumerator::Create(std::move(items), 0, out);
}
CATCH_RETURN()

STDMETHODIMP OleObjectPart::Update() noexcept { return S_OK; }
STDMETHODIMP OleObjectPart::IsUpToDate() noexcept { return S_OK; }

STDMETHODIMP OleObjectPart::GetUserClassID(CLSID* clsid) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, clsid);
    *clsid = control_.clsid;
    return S_OK;
}

STDMETHODIMP OleObjectPart::GetUserType(DWORD, LPOLESTR* name) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, name);
    *name = nullptr;
    // Without the string the caller reads the name from the registry.
    std::wstring text;
    if (!LoadModuleString(control_.userTypeNameId, &text)) return OLE_S_USEREG;
    return SUCCEEDED(TaskMemString(text.c_str(), name)) ? S_OK : OLE_S_USEREG;
}

STDMETHODIMP OleObjectPart::SetExtent(DWORD aspect, SIZEL* size) noexcept {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    RETURN_HR_IF_NULL(E_POINTER, size);
    if (size->cx != extent_.cx || size->cy != extent_.cy) {
        extent_ = *size;
        modified_.SetModified();
    }
    return S_OK;
}

STDMETHODIMP OleObjectPart::GetExtent(DWORD aspect, SIZEL* size) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, size);
    *size = {};
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    *size = extent_;
    return S_OK;
}

STDMETHODIMP OleObjectPart::Advise(IAdviseSink* sink, DWORD* connection) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, connection);
    *connection = 0;
    if (!adviseHolder_) RETURN_IF_FAILED(::CreateOleAdviseHolder(adviseHolder_.put()));
    return adviseHolder_->Advise(sink, connection);
}

STDMETHODIMP OleObjectPart::Unadvise(DWORD connection) noexcept {
    if (!adviseHolder_) return OLE_E_NOCONNECTION;
    return adviseHolder_->Unadvise(connection);
}

STDMETHODIMP OleObjectPart::EnumAdvise(IEnumSTATDATA** out) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, out);
    *out = nullptr;
    if (!adviseHolder_) RETURN_IF_FAILED(::CreateOleAdviseHolder(adviseHolder_.put()));
    return adviseHolder_->EnumAdvise(out);
}

STDMETHODIMP OleObjectPart::GetMiscStatus(DWORD, DWORD* status) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, status);
    *status = control_.miscStatus;
    return S_OK;
}

STDMETHODIMP OleObjectPart::SetColorScheme(LOGPALETTE*) noexcept { return E_NOTIMPL; }

// --- IOleControl ---------------------------------------------------------------------------------

STDMETHODIMP OleObjectPart::GetControlInfo(CONTROLINFO* info) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, info);
    info->hAccel = nullptr;
    info->cAccel = 0;
    info->dwFlags = 0;
    return S_OK;
}

STDMETHODIMP OleObjectPart::OnMnemonic(MSG*) noexcept { return S_OK; }

STDMETHODIMP OleObjectPart::OnAmbientPropertyChange(DISPID dispid) noexcept {
    if (dispid == DISPID_AMBIENT_USERMODE || dispid == DISPID_UNKNOWN) ReadAmbients();
    return S_OK;
}

STDMETHODIMP OleObjectPart::FreezeEvents(BOOL freeze) noexcept {
    events_.FreezeEvents(freeze != FALSE);
    return S_OK;
}

// --- in-place activation -------------------------------------------------------------------------

// A control invisible at run time keeps its window hidden while the form runs, also in containers
// that activate it in place regardless.
void OleObjectPart::UpdateWindowVisibility() noexcept {
    window_.Show(!hidden_ && !(userMode_ && (control_.miscStatus & OLEMISC_INVISIBLEATRUNTIME)));
}

HRESULT OleObjectPart::InPlaceActivate(LONG verb, IOleClientSite* activeSite) noexcept {
    IOleClientSite* site = clientSite_ ? clientSite_.get() : activeSite;
    if (!site) return E_UNEXPECTED;
    if (!inPlaceActive_) {
        base::ComPtr<IOleInPlaceSite> inPlaceSite;
        RETURN_IF_FAILED(site->QueryInterface(IID_IOleInPlaceSite, inPlaceSite.put_void()));
        if (inPlaceSite->CanInPlaceActivate() != S_OK) return E_FAIL;
        RETURN_IF_FAILED(inPlaceSite->OnInPlaceActivate());
        inPlaceSite_ = std::move(inPlaceSite);
        inPlaceActive_ = true;

        HWND parent = nullptr;
        OLEINPLACEFRAMEINFO frameInfo = {};
        frameInfo.cb = sizeof frameInfo;
        HRESULT hr = inPlaceSite_->GetWindow(&parent);
        if (SUCCEEDED(hr)) {
            hr = inPlaceSite_->GetWindowContext(inPlaceFrame_.put(), uiWindow_.put(), &posRect_, &clipRect_,
                                                &frameInfo);
        }
        if (SUCCEEDED(hr)) hr = window_.Create(parent, posRect_, clipRect_);
        if (FAILED(hr)) {
            InPlaceDeactivate();
            return hr;
        }
    }
    if (verb == OLEIVERB_UIACTIVATE || verb == OLEIVERB_PRIMARY) UIActivate();
    UpdateWindowVisibility();
    return S_OK;
}

void OleObjectPart::UIActivate() noexcept {
    if (uiActive_) return;
    uiActive_ = true;
    LOG_IF_FAILED(inPlaceSite_->OnUIActivate());
    IOleInPlaceActiveObject* active = this;
    if (inPlaceFrame_) inPlaceFrame_->SetActiveObject(active, nullptr);
    if (uiWindow_) uiWindow_->SetActiveObject(active, nullptr);
    if (inPlaceFrame_) inPlaceFrame_->SetBorderSpace(nullptr);
    if (uiWindow_) uiWindow_->SetBorderSpace(nullptr);
}

STDMETHODIMP OleObjectPart::UIDeactivate() noexcept {
    if (!uiActive_) return S_OK;
    uiActive_ = false;
    if (uiWindow_) uiWindow_->SetActiveObject(nullptr, nullptr);
    if (inPlaceFrame_) inPlaceFrame_->SetActiveObject(nullptr, nullptr);
    if (inPlaceSite_) inPlaceSite_->OnUIDeactivate(FALSE);
    return S_OK;
}

STDMETHODIMP OleObjectPart::InPlaceDeactivate() noexcept {
    if (!inPlaceActive_) return S_OK;
    UIDeactivate();
    inPlaceActive_ = false;
    window_.Destroy();
    inPlaceFrame_.reset();
    uiWindow_.reset();
    base::ComPtr<IOleInPlaceSite> site = std::move(inPlaceSite_);
    if (site) site->OnInPlaceDeactivate();
    return S_OK;
}

STDMETHODIMP OleObjectPart::GetWindow(HWND* hwnd) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, hwnd);
    *hwnd = window_.get();
    return *hwnd ? S_OK : E_FAIL;
}

STDMETHODIMP OleObjectPart::ContextSensitiveHelp(BOOL) noexcept { return E_NOTIMPL; }

STDMETHODIMP OleObjectPart::SetObjectRects(LPCRECT pos, LPCRECT clip) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, pos);
    RETURN_HR_IF_NULL(E_POINTER, clip);
    posRect_ = *pos;
    clipRect_ = *clip;
    window_.SetRects(posRect_, clipRect_);
    return S_OK;
}

STDMETHODIMP OleObjectPart::ReactivateAndUndo() noexcept { return E_NOTIMPL; }
STDMETHODIMP OleObjectPart::TranslateAccelerator(LPMSG) noexcept { return S_FALSE; }
STDMETHODIMP OleObjectPart::OnFrameWindowActivate(BOOL) noexcept { return S_OK; }
STDMETHODIMP OleObjectPart::OnDocWindowActivate(BOOL) noexcept { return S_OK; }
STDMETHODIMP OleObjectPart::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) noexcept { return S_OK; }
STDMETHODIMP OleObjectPart::EnableModeless(BOOL) noexcept { return S_OK; }

// --- the properties verb -------------------------------------------------------------------------

HRESULT OleObjectPart::ShowProperties(HWND parent) noexcept {
    base::ComPtr<IOleControlSite> controlSite;
    if (clientSite_ && SUCCEEDED(clientSite_.As(&controlSite)) && controlSite->ShowPropertyFrame() == S_OK) {
        return S_OK;
    }
    HWND owner = parent;
    if (!owner && inPlaceSite_) inPlaceSite_->GetWindow(&owner);
    LCID lcid = ::GetUserDefaultLCID();
    base::Variant locale;
    if (SUCCEEDED(GetAmbientProperty(DISPID_AMBIENT_LOCALEID, locale.put())) &&
        SUCCEEDED(locale.ChangeType(VT_I4))) {
        lcid = static_cast<LCID>(locale.get().lVal);
    }
    return frame_.ShowPropertyFrame(owner, lcid);
}

}  // namespace activex
