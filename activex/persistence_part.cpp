#include "activex/persistence_part.h"

#include <vector>

#include "base/com_ptr.h"
#include "base/hresult.h"

namespace activex {
namespace {

constexpr wchar_t kContentsStream[] = L"Contents";

}  // namespace

// A load that fails part-way (a truncated or failing stream) puts back the values it had already
// taken, so that the control is left as it was instead of half loaded.
HRESULT PersistencePart::LoadFrom(PropExchange& px) noexcept {
    std::vector<ValuesExchange::Value> kept;
    ValuesExchange keep(PropExchange::Direction::kSave, &kept);
    RETURN_IF_FAILED(values_.ExchangeProperties(keep));
    const HRESULT hr = values_.ExchangeProperties(px);
    if (FAILED(hr)) {
        ValuesExchange restore(PropExchange::Direction::kLoad, &kept);
        LOG_IF_FAILED(values_.ExchangeProperties(restore));
        return hr;
    }
    modified_ = false;
    values_.ValuesReplaced();
    return S_OK;
}

HRESULT PersistencePart::SaveTo(PropExchange& px, BOOL clearDirty) noexcept {
    RETURN_IF_FAILED(values_.ExchangeProperties(px));
    if (clearDirty) modified_ = false;
    return S_OK;
}

STDMETHODIMP PersistencePart::GetClassID(CLSID* clsid) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, clsid);
    *clsid = clsid_;
    return S_OK;
}

STDMETHODIMP PersistencePart::IsDirty() noexcept { return modified_ ? S_OK : S_FALSE; }

// Every exchanged value that has a default goes back to it.
STDMETHODIMP PersistencePart::InitNew() noexcept {
    ResetExchange px;
    LOG_IF_FAILED(values_.ExchangeProperties(px));
    values_.ValuesReplaced();
    modified_ = false;
    return S_OK;
}

STDMETHODIMP PersistencePart::Load(IStream* stream) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, stream);
    StreamExchange px(PropExchange::Direction::kLoad, stream);
    return LoadFrom(px);
}

STDMETHODIMP PersistencePart::Save(IStream* stream, BOOL clearDirty) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, stream);
    StreamExchange px(PropExchange::Direction::kSave, stream);
    return SaveTo(px, clearDirty);
}

STDMETHODIMP PersistencePart::GetSizeMax(ULARGE_INTEGER* size) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, size);
    size->QuadPart = 0;
    SizeExchange px;
    RETURN_IF_FAILED(values_.ExchangeProperties(px));
    size->QuadPart = px.Bytes();
    return S_OK;
}

STDMETHODIMP PersistencePart::InitNew(IStorage* storage) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, storage);
    return InitNew();
}

STDMETHODIMP PersistencePart::Load(IStorage* storage) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, storage);
    base::ComPtr<IStream> stream;
    RETURN_IF_FAILED(
        storage->OpenStream(kContentsStream, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, stream.put()));
    return Load(stream.get());
}

STDMETHODIMP PersistencePart::Save(IStorage* storage, BOOL) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, storage);
    base::ComPtr<IStream> stream;
    RETURN_IF_FAILED(storage->CreateStream(kContentsStream, STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE,
                                           0, 0, stream.put()));
    return Save(stream.get(), TRUE);
}

// The part keeps no storage open between calls, so there is nothing to give back or switch.
STDMETHODIMP PersistencePart::SaveCompleted(IStorage*) noexcept { return S_OK; }
STDMETHODIMP PersistencePart::HandsOffStorage() noexcept { return S_OK; }

STDMETHODIMP PersistencePart::Load(IPropertyBag* bag, IErrorLog* log) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, bag);
    BagExchange px(PropExchange::Direction::kLoad, bag, log);
    return LoadFrom(px);
}

STDMETHODIMP PersistencePart::Save(IPropertyBag* bag, BOOL clearDirty, BOOL) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, bag);
    BagExchange px(PropExchange::Direction::kSave, bag, nullptr);
    return SaveTo(px, clearDirty);
}

}  // namespace activex
