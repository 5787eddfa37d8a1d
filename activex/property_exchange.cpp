#include "activex/property_exchange.h"

#include <oleauto.h>

#include <cstring>

#include "activex/dispatch.h"
#include "base/hresult.h"
#include "base/variant.h"

namespace activex {

HRESULT PropExchange::ExchangeULong(const wchar_t* name, ULONG& value, const ULONG* defaultValue) noexcept {
    LONG v;
    std::memcpy(&v, &value, sizeof v);
    LONG def = 0;
    if (defaultValue) std::memcpy(&def, defaultValue, sizeof def);
    const HRESULT hr = ExchangeLong(name, v, defaultValue ? &def : nullptr);
    std::memcpy(&value, &v, sizeof v);
    return hr;
}

[[nodiscard]] HRESULT ExchangeVersion(PropExchange& px, ULONG version) noexcept {
    ULONG value = version;
    return px.ExchangeULong(L"_Version", value, &version);
}

HRESULT StreamExchange::ExchangeLong(const wchar_t*, LONG& value, const LONG*) noexcept {
    if (!Loading()) return stream_->Write(&value, sizeof value, nullptr);
    LONG read = 0;
    ULONG got = 0;
    const HRESULT hr = stream_->Read(&read, sizeof read, &got);
    if (FAILED(hr)) return hr;
    if (got != sizeof read) return STG_E_READFAULT;
    value = read;
    return S_OK;
}

HRESULT ValuesExchange::ExchangeLong(const wchar_t*, LONG& value, const LONG*) noexcept try {
    if (!Loading()) {
        values_->push_back(value);
        return S_OK;
    }
    if (next_ >= values_->size()) return E_UNEXPECTED;
    value = (*values_)[next_++];
    return S_OK;
}
CATCH_RETURN()

HRESULT BagExchange::ExchangeLong(const wchar_t* name, LONG& value, const LONG* defaultValue) noexcept {
    if (!Loading()) {
        base::Variant v(value);
        return bag_->Write(name, v.ptr());
    }
    base::Variant v;
    v.ptr()->vt = VT_I4;  // the type the bag is asked for
    LONG read = 0;
    if (SUCCEEDED(bag_->Read(name, v.ptr(), log_)) && SUCCEEDED(CoerceToLong(v.get(), &read))) {
        value = read;
    } else if (defaultValue) {
        value = *defaultValue;
    }
    return S_OK;
}

}  // namespace activex
