// ControlBase: identity, automation, type information, property pages, connection points and
// persistence. The OLE embedding and in-place side is in control_ole.cpp.
#include "activex/control.h"

#include <oleauto.h>

#include "activex/module.h"
#include "base/hresult.h"

namespace activex {
namespace {

constexpr ULONG kNoStockProperties = 0;
constexpr wchar_t kContentsStream[] = L"Contents";

}  // namespace

void* ControlBase::FindMore(REFIID riid) noexcept {
    return IsEqualIID(riid, dispatchIid_) ? static_cast<IDispatch*>(this) : nullptr;
}

ControlBase::ControlBase(const IID& dispatchIid, const IID& eventIid) noexcept
    : dispatchIid_(dispatchIid),
      eventIid_(eventIid),
      eventPoint_(*this, eventIid),
      notifyPoint_(*this, IID_IPropertyNotifySink) {
    // 100 x 50 pixels of the screen, in HIMETRIC, until the container sets an extent.
    HDC screen = ::GetDC(nullptr);
    const int dpiX = screen ? ::GetDeviceCaps(screen, LOGPIXELSX) : 96;
    const int dpiY = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ::ReleaseDC(nullptr, screen);
    extent_.cx = ::MulDiv(100, 2540, dpiX);
    extent_.cy = ::MulDiv(50, 2540, dpiY);
}

// --- IDispatch and type information ------------------------------------------------------------

STDMETHODIMP ControlBase::GetTypeInfoCount(UINT* count) noexcept {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
}

STDMETHODIMP ControlBase::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return TypeLib().GetTypeInfo(dispatchIid_, lcid, out);
}

STDMETHODIMP ControlBase::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                        DISPID* ids) noexcept {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (!names || !ids) return E_POINTER;
    base::ComPtr<ITypeInfo> info;
    RETURN_IF_FAILED(TypeLib().GetTypeInfo(dispatchIid_, lcid, info.put()));
    return info->GetIDsOfNames(names, count, ids);
}

STDMETHODIMP ControlBase::Invoke(DISPID dispid, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                 VARIANT* result, EXCEPINFO*, UINT* argErr) noexcept {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    return InvokeMember(dispid, flags, params, result, argErr);
}

STDMETHODIMP ControlBase::GetClassInfo(ITypeInfo** out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    return TypeLib().GetTypeInfo(ClassId(), LOCALE_NEUTRAL, out);
}

STDMETHODIMP ControlBase::GetGUID(DWORD kind, GUID* guid) noexcept {
    if (!guid) return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
        *guid = GUID_NULL;
        return E_INVALIDARG;
    }
    *guid = eventIid_;
    return S_OK;
}

// --- property pages and connection points ------------------------------------------------------

STDMETHODIMP ControlBase::GetPages(CAUUID* pages) noexcept {
    if (!pages) return E_POINTER;
    pages->cElems = 0;
    pages->pElems = nullptr;
    ULONG count = 0;
    const CLSID* list = PropertyPages(&count);
    if (count == 0) return S_OK;
    auto* elems = static_cast<GUID*>(::CoTaskMemAlloc(count * sizeof(GUID)));
    if (!elems) return E_OUTOFMEMORY;
    for (ULONG i = 0; i < count; ++i) elems[i] = list[i];
    pages->cElems = count;
    pages->pElems = elems;
    return S_OK;
}

STDMETHODIMP ControlBase::EnumConnectionPoints(IEnumConnectionPoints** out) noexcept {
    IConnectionPoint* const points[] = {&eventPoint_, &notifyPoint_};
    return EnumerateConnectionPoints(points, 2, out);
}

STDMETHODIMP ControlBase::FindConnectionPoint(REFIID riid, IConnectionPoint** out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    ConnectionPoint* point = IsEqualIID(riid, eventIid_)                 ? &eventPoint_
                             : IsEqualIID(riid, IID_IPropertyNotifySink) ? &notifyPoint_
                                                                         : nullptr;
    if (!point) return CONNECT_E_NOCONNECTION;
    point->AddRef();
    *out = point;
    return S_OK;
}

// --- persistence --------------------------------------------------------------------------------

HRESULT ControlBase::ExchangeProperties(PropExchange& px) noexcept {
    RETURN_IF_FAILED(px.ExchangeLong(L"_ExtentX", extent_.cx, nullptr));
    RETURN_IF_FAILED(px.ExchangeLong(L"_ExtentY", extent_.cy, nullptr));
    ULONG stock = kNoStockProperties;
    return px.ExchangeULong(L"_StockProps", stock, &kNoStockProperties);
}

HRESULT ControlBase::ExchangeVersion(PropExchange& px, ULONG version) noexcept {
    ULONG value = version;
    RETURN_IF_FAILED(px.ExchangeULong(L"_Version", value, &version));
    if (px.loading()) loadedVersion_ = value;
    return S_OK;
}

void ControlBase::ResetState() noexcept {
    ResetExchange px;
    ExchangeProperties(px);
    InvalidateControl();
}

// A load that fails part-way (a truncated or failing stream) puts back the values it had already
// taken, so that the control is left as it was instead of half loaded.
HRESULT ControlBase::LoadFrom(PropExchange& px) noexcept {
    std::vector<LONG> kept;
    ValuesExchange keep(PropExchange::Direction::Save, &kept);
    RETURN_IF_FAILED(ExchangeProperties(keep));
    const ULONG keptVersion = loadedVersion_;
    const HRESULT hr = ExchangeProperties(px);
    if (FAILED(hr)) {
        ValuesExchange restore(PropExchange::Direction::Load, &kept);
        ExchangeProperties(restore);
        loadedVersion_ = keptVersion;
        return hr;
    }
    modified_ = false;
    InvalidateControl();
    return S_OK;
}

HRESULT ControlBase::SaveTo(PropExchange& px, BOOL clearDirty) noexcept {
    RETURN_IF_FAILED(ExchangeProperties(px));
    if (clearDirty) modified_ = false;
    return S_OK;
}

STDMETHODIMP ControlBase::GetClassID(CLSID* clsid) noexcept {
    if (!clsid) return E_POINTER;
    *clsid = ClassId();
    return S_OK;
}

STDMETHODIMP ControlBase::IsDirty() noexcept { return modified_ ? S_OK : S_FALSE; }

STDMETHODIMP ControlBase::InitNew() noexcept {
    ResetState();
    modified_ = false;
    return S_OK;
}

STDMETHODIMP ControlBase::Load(IStream* stream) noexcept {
    if (!stream) return E_POINTER;
    StreamExchange px(PropExchange::Direction::Load, stream);
    return LoadFrom(px);
}

STDMETHODIMP ControlBase::Save(IStream* stream, BOOL clearDirty) noexcept {
    if (!stream) return E_POINTER;
    StreamExchange px(PropExchange::Direction::Save, stream);
    return SaveTo(px, clearDirty);
}

STDMETHODIMP ControlBase::GetSizeMax(ULARGE_INTEGER* size) noexcept {
    if (!size) return E_POINTER;
    SizeExchange px;
    RETURN_IF_FAILED(ExchangeProperties(px));
    size->QuadPart = px.bytes();
    return S_OK;
}

STDMETHODIMP ControlBase::InitNew(IStorage* storage) noexcept {
    if (!storage) return E_POINTER;
    return InitNew();
}

STDMETHODIMP ControlBase::Load(IStorage* storage) noexcept {
    if (!storage) return E_POINTER;
    base::ComPtr<IStream> stream;
    RETURN_IF_FAILED(
        storage->OpenStream(kContentsStream, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, stream.put()));
    return Load(stream.get());
}

STDMETHODIMP ControlBase::Save(IStorage* storage, BOOL) noexcept {
    if (!storage) return E_POINTER;
    base::ComPtr<IStream> stream;
    RETURN_IF_FAILED(storage->CreateStream(kContentsStream, STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE,
                                           0, 0, stream.put()));
    return Save(stream.get(), TRUE);
}

// The object keeps no storage open between calls, so there is nothing to give back or switch.
STDMETHODIMP ControlBase::SaveCompleted(IStorage*) noexcept { return S_OK; }
STDMETHODIMP ControlBase::HandsOffStorage() noexcept { return S_OK; }

STDMETHODIMP ControlBase::Load(IPropertyBag* bag, IErrorLog* log) noexcept {
    if (!bag) return E_POINTER;
    BagExchange px(PropExchange::Direction::Load, bag, log);
    return LoadFrom(px);
}

STDMETHODIMP ControlBase::Save(IPropertyBag* bag, BOOL clearDirty, BOOL) noexcept {
    if (!bag) return E_POINTER;
    BagExchange px(PropExchange::Direction::Save, bag, nullptr);
    return SaveTo(px, clearDirty);
}

}  // namespace activex
