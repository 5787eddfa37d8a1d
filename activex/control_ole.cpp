// ControlBase: embedding in a container (IOleObject, IOleControl), in-place activation with a child
// window, drawing (IViewObject2), ambient properties and the properties verb.
#include <string>
#include <utility>
#include <vector>

#include "activex/control.h"
#include "activex/enumerator.h"
#include "activex/module.h"
#include "activex/resources.h"
#include "base/hresult.h"
#include "base/variant.h"

namespace activex {

LRESULT CALLBACK ControlWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept;

namespace {

constexpr wchar_t kWindowClass[] = L"ActiveXControlWindow";
volatile LONG g_windowClassRegistered = 0;

void UnregisterWindowClass() noexcept {
    ::UnregisterClassW(kWindowClass, Module::Instance());
    g_windowClassRegistered = 0;
}

// The class is the module's own (registered with its instance), so its name is private to it.
bool EnsureWindowClass() noexcept {
    if (g_windowClassRegistered) return true;
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    wc.lpfnWndProc = ControlWindowProc;
    wc.hInstance = Module::Instance();
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kWindowClass;
    if (!::RegisterClassExW(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
    if (::InterlockedExchange(&g_windowClassRegistered, 1) == 0) AtModuleExit(&UnregisterWindowClass);
    return true;
}

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

LRESULT CALLBACK ControlWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
    auto* self = reinterpret_cast<ControlBase*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (msg) {
        case WM_NCCREATE: {
            const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lp);
            ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
            break;
        }
        case WM_PAINT:
            if (self) {
                self->OnPaint(hwnd);
                return 0;
            }
            break;
        case WM_NCDESTROY: ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0); break;
        default: break;
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}

void ControlBase::FinalRelease() noexcept {
    InPlaceDeactivate();
    clientSite_.reset();
    viewSink_.reset();
    adviseHolder_.reset();
    eventPoint_.Clear();
    notifyPoint_.Clear();
}

void ControlBase::OnPaint(HWND hwnd) noexcept {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(hwnd, &ps);
    if (!dc) return;
    RECT client;
    ::GetClientRect(hwnd, &client);
    Draw(dc, client, ps.rcPaint);
    ::EndPaint(hwnd, &ps);
}

void ControlBase::InvalidateControl() noexcept {
    if (window_) {
        ::InvalidateRect(window_, nullptr, TRUE);
    } else if (viewSink_) {
        viewSink_->OnViewChange(DVASPECT_CONTENT, -1);
    }
}

// --- ambient properties --------------------------------------------------------------------------

HRESULT ControlBase::GetAmbientProperty(DISPID dispid, VARIANT* value) const noexcept {
    if (!clientSite_) return E_FAIL;
    base::ComPtr<IDispatch> ambients;
    RETURN_IF_FAILED(clientSite_.As(&ambients));
    DISPPARAMS none = {};
    return ambients->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, value,
                            nullptr, nullptr);
}

void ControlBase::ReadAmbients() noexcept {
    base::Variant mode;
    userMode_ = true;
    if (SUCCEEDED(GetAmbientProperty(DISPID_AMBIENT_USERMODE, mode.put())) &&
        SUCCEEDED(mode.ChangeType(VT_BOOL))) {
        userMode_ = mode.get().boolVal != VARIANT_FALSE;
    }
    UpdateWindowVisibility();
}

// --- IOleObject ----------------------------------------------------------------------------------

STDMETHODIMP ControlBase::SetClientSite(IOleClientSite* site) noexcept {
    if (!site && inPlaceActive_) InPlaceDeactivate();
    clientSite_ = base::ComPtr<IOleClientSite>(site);
    ReadAmbients();
    return S_OK;
}

STDMETHODIMP ControlBase::GetClientSite(IOleClientSite** site) noexcept {
    if (!site) return E_POINTER;
    return clientSite_.CopyTo(site);
}

STDMETHODIMP ControlBase::SetHostNames(LPCOLESTR, LPCOLESTR) noexcept { return S_OK; }

STDMETHODIMP ControlBase::Close(DWORD saveOption) noexcept {
    InPlaceDeactivate();
    if ((saveOption == OLECLOSE_SAVEIFDIRTY || saveOption == OLECLOSE_PROMPTSAVE) && modified_ &&
        clientSite_) {
        clientSite_->SaveObject();
    }
    if (adviseHolder_) adviseHolder_->SendOnClose();
    return S_OK;
}

STDMETHODIMP ControlBase::SetMoniker(DWORD, IMoniker*) noexcept { return E_NOTIMPL; }

STDMETHODIMP ControlBase::GetMoniker(DWORD, DWORD, IMoniker** moniker) noexcept {
    if (!moniker) return E_POINTER;
    *moniker = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP ControlBase::InitFromData(IDataObject*, BOOL, DWORD) noexcept { return E_NOTIMPL; }

STDMETHODIMP ControlBase::GetClipboardData(DWORD, IDataObject** data) noexcept {
    if (!data) return E_POINTER;
    *data = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP ControlBase::DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent,
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

STDMETHODIMP ControlBase::EnumVerbs(IEnumOLEVERB** out) noexcept try {
    if (!out) return E_POINTER;
    *out = nullptr;
    ULONG count = 0;
    const Verb* verbs = Verbs(&count);
    if (count == 0) return OLEOBJ_E_NOVERBS;
    std::vector<VerbItem> items;
    for (ULONG i = 0; i < count; ++i) {
        std::wstring name;
        if (!LoadModuleString(verbs[i].nameId, &name)) name = kUnknownVerbName;
        items.push_back({verbs[i].id, std::move(name), verbs[i].attributes});
    }
    return VerbEnumerator::Create(std::move(items), 0, out);
}
CATCH_RETURN()

STDMETHODIMP ControlBase::Update() noexcept { return S_OK; }
STDMETHODIMP ControlBase::IsUpToDate() noexcept { return S_OK; }

STDMETHODIMP ControlBase::GetUserClassID(CLSID* clsid) noexcept {
    if (!clsid) return E_POINTER;
    *clsid = ClassId();
    return S_OK;
}

HRESULT ControlBase::LoadUserTypeName(LPOLESTR* name) const noexcept {
    std::wstring text;
    if (!LoadModuleString(UserTypeNameId(), &text)) return E_FAIL;
    return TaskMemString(text.c_str(), name);
}

STDMETHODIMP ControlBase::GetUserType(DWORD, LPOLESTR* name) noexcept {
    if (!name) return E_POINTER;
    *name = nullptr;
    // Without the string the caller reads the name from the registry.
    return SUCCEEDED(LoadUserTypeName(name)) ? S_OK : OLE_S_USEREG;
}

STDMETHODIMP ControlBase::SetExtent(DWORD aspect, SIZEL* size) noexcept {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!size) return E_POINTER;
    if (size->cx != extent_.cx || size->cy != extent_.cy) {
        extent_ = *size;
        modified_ = true;
    }
    return S_OK;
}

STDMETHODIMP ControlBase::GetExtent(DWORD aspect, SIZEL* size) noexcept {
    if (!size) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    *size = extent_;
    return S_OK;
}

STDMETHODIMP ControlBase::Advise(IAdviseSink* sink, DWORD* connection) noexcept {
    if (!connection) return E_POINTER;
    *connection = 0;
    if (!adviseHolder_) RETURN_IF_FAILED(::CreateOleAdviseHolder(adviseHolder_.put()));
    return adviseHolder_->Advise(sink, connection);
}

STDMETHODIMP ControlBase::Unadvise(DWORD connection) noexcept {
    if (!adviseHolder_) return OLE_E_NOCONNECTION;
    return adviseHolder_->Unadvise(connection);
}

STDMETHODIMP ControlBase::EnumAdvise(IEnumSTATDATA** out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!adviseHolder_) RETURN_IF_FAILED(::CreateOleAdviseHolder(adviseHolder_.put()));
    return adviseHolder_->EnumAdvise(out);
}

STDMETHODIMP ControlBase::GetMiscStatus(DWORD, DWORD* status) noexcept {
    if (!status) return E_POINTER;
    *status = MiscStatus();
    return S_OK;
}

STDMETHODIMP ControlBase::SetColorScheme(LOGPALETTE*) noexcept { return E_NOTIMPL; }

// --- IOleControl ---------------------------------------------------------------------------------

STDMETHODIMP ControlBase::GetControlInfo(CONTROLINFO* info) noexcept {
    if (!info) return E_POINTER;
    info->hAccel = nullptr;
    info->cAccel = 0;
    info->dwFlags = 0;
    return S_OK;
}

STDMETHODIMP ControlBase::OnMnemonic(MSG*) noexcept { return S_OK; }

STDMETHODIMP ControlBase::OnAmbientPropertyChange(DISPID dispid) noexcept {
    if (dispid == DISPID_AMBIENT_USERMODE || dispid == DISPID_UNKNOWN) ReadAmbients();
    return S_OK;
}

// The control fires no events, so there are none to hold back.
STDMETHODIMP ControlBase::FreezeEvents(BOOL) noexcept { return S_OK; }

// --- in-place activation -------------------------------------------------------------------------

bool ControlBase::ShouldShowWindow() const noexcept {
    // A control invisible at run time keeps its window hidden while the form runs, also in
    // containers that activate it in place regardless.
    return !hidden_ && !(userMode_ && (MiscStatus() & OLEMISC_INVISIBLEATRUNTIME));
}

void ControlBase::UpdateWindowVisibility() noexcept {
    if (window_) ::ShowWindow(window_, ShouldShowWindow() ? SW_SHOWNA : SW_HIDE);
}

void ControlBase::ApplyObjectRects() noexcept {
    ::MoveWindow(window_, posRect_.left, posRect_.top, posRect_.right - posRect_.left,
                 posRect_.bottom - posRect_.top, TRUE);
    RECT visible;
    ::IntersectRect(&visible, &posRect_, &clipRect_);
    if (::EqualRect(&visible, &posRect_)) {
        ::SetWindowRgn(window_, nullptr, TRUE);
        return;
    }
    ::OffsetRect(&visible, -posRect_.left, -posRect_.top);
    HRGN region = ::CreateRectRgnIndirect(&visible);
    // The window owns the region once it is set.
    if (region && !::SetWindowRgn(window_, region, TRUE)) ::DeleteObject(region);
}

HRESULT ControlBase::CreateControlWindow(HWND parent) noexcept {
    if (!EnsureWindowClass()) return base::HResultFromLastError();
    window_ = ::CreateWindowExW(0, kWindowClass, L"", WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                                posRect_.left, posRect_.top, posRect_.right - posRect_.left,
                                posRect_.bottom - posRect_.top, parent, nullptr, Module::Instance(), this);
    RETURN_LAST_ERROR_IF(!window_);
    ApplyObjectRects();
    return S_OK;
}

HRESULT ControlBase::InPlaceActivate(LONG verb, IOleClientSite* activeSite) noexcept {
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
            hr = inPlaceSite_->GetWindowContext(frame_.put(), uiWindow_.put(), &posRect_, &clipRect_,
                                                &frameInfo);
        }
        if (SUCCEEDED(hr)) hr = CreateControlWindow(parent);
        if (FAILED(hr)) {
            InPlaceDeactivate();
            return hr;
        }
    }
    if (verb == OLEIVERB_UIACTIVATE || verb == OLEIVERB_PRIMARY) UIActivate();
    UpdateWindowVisibility();
    return S_OK;
}

HRESULT ControlBase::UIActivate() noexcept {
    if (uiActive_) return S_OK;
    uiActive_ = true;
    inPlaceSite_->OnUIActivate();
    IOleInPlaceActiveObject* active = this;
    if (frame_) frame_->SetActiveObject(active, nullptr);
    if (uiWindow_) uiWindow_->SetActiveObject(active, nullptr);
    if (frame_) frame_->SetBorderSpace(nullptr);
    if (uiWindow_) uiWindow_->SetBorderSpace(nullptr);
    return S_OK;
}

STDMETHODIMP ControlBase::UIDeactivate() noexcept {
    if (!uiActive_) return S_OK;
    uiActive_ = false;
    if (uiWindow_) uiWindow_->SetActiveObject(nullptr, nullptr);
    if (frame_) frame_->SetActiveObject(nullptr, nullptr);
    if (inPlaceSite_) inPlaceSite_->OnUIDeactivate(FALSE);
    return S_OK;
}

STDMETHODIMP ControlBase::InPlaceDeactivate() noexcept {
    if (!inPlaceActive_) return S_OK;
    UIDeactivate();
    inPlaceActive_ = false;
    if (window_) ::DestroyWindow(std::exchange(window_, nullptr));
    frame_.reset();
    uiWindow_.reset();
    base::ComPtr<IOleInPlaceSite> site = std::move(inPlaceSite_);
    if (site) site->OnInPlaceDeactivate();
    return S_OK;
}

STDMETHODIMP ControlBase::GetWindow(HWND* hwnd) noexcept {
    if (!hwnd) return E_POINTER;
    *hwnd = window_;
    return window_ ? S_OK : E_FAIL;
}

STDMETHODIMP ControlBase::ContextSensitiveHelp(BOOL) noexcept { return E_NOTIMPL; }

STDMETHODIMP ControlBase::SetObjectRects(LPCRECT pos, LPCRECT clip) noexcept {
    if (!pos || !clip) return E_POINTER;
    posRect_ = *pos;
    clipRect_ = *clip;
    if (window_) ApplyObjectRects();
    return S_OK;
}

STDMETHODIMP ControlBase::ReactivateAndUndo() noexcept { return E_NOTIMPL; }
STDMETHODIMP ControlBase::TranslateAccelerator(LPMSG) noexcept { return S_FALSE; }
STDMETHODIMP ControlBase::OnFrameWindowActivate(BOOL) noexcept { return S_OK; }
STDMETHODIMP ControlBase::OnDocWindowActivate(BOOL) noexcept { return S_OK; }
STDMETHODIMP ControlBase::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) noexcept { return S_OK; }
STDMETHODIMP ControlBase::EnableModeless(BOOL) noexcept { return S_OK; }

// --- IViewObject2 --------------------------------------------------------------------------------

STDMETHODIMP ControlBase::Draw(DWORD aspect, LONG index, void*, DVTARGETDEVICE*, HDC, HDC dc, LPCRECTL bounds,
                               LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) noexcept {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (index != -1) return DV_E_LINDEX;
    if (!dc || !bounds) return E_INVALIDARG;
    const RECT rect = {bounds->left, bounds->top, bounds->right, bounds->bottom};
    Draw(dc, rect, rect);
    return S_OK;
}

STDMETHODIMP ControlBase::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC,
                                      LOGPALETTE** colors) noexcept {
    if (!colors) return E_POINTER;
    *colors = nullptr;
    return S_FALSE;
}

STDMETHODIMP ControlBase::Freeze(DWORD, LONG, void*, DWORD* freeze) noexcept {
    if (!freeze) return E_POINTER;
    *freeze = 0;
    return E_NOTIMPL;
}

STDMETHODIMP ControlBase::Unfreeze(DWORD) noexcept { return E_NOTIMPL; }

STDMETHODIMP ControlBase::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) noexcept {
    viewSink_ = base::ComPtr<IAdviseSink>(sink);
    viewAspects_ = aspects;
    viewFlags_ = flags;
    if (sink && (flags & ADVF_PRIMEFIRST)) sink->OnViewChange(DVASPECT_CONTENT, -1);
    return S_OK;
}

STDMETHODIMP ControlBase::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) noexcept {
    if (aspects) *aspects = viewAspects_;
    if (flags) *flags = viewFlags_;
    if (sink) viewSink_.CopyTo(sink);
    return S_OK;
}

STDMETHODIMP ControlBase::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) noexcept {
    return GetExtent(aspect, size);
}

// --- the properties verb -------------------------------------------------------------------------

HRESULT ControlBase::ShowProperties(HWND parent) noexcept {
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
    LPOLESTR caption = nullptr;
    LoadUserTypeName(&caption);
    ULONG count = 0;
    const CLSID* pages = PropertyPages(&count);
    IUnknown* self = static_cast<IOleObject*>(this);
    const HRESULT hr = ::OleCreatePropertyFrame(owner, 0, 0, caption, 1, &self, count,
                                                const_cast<CLSID*>(pages), lcid, 0, nullptr);
    ::CoTaskMemFree(caption);
    return hr;
}

}  // namespace activex
