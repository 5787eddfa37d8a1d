#include "activex/property_exchange.h"

#include <oleauto.h>

#include <climits>
#include <cstring>
#include <string>
#include <utility>
#include <variant>

#include "activex/dispatch.h"
#include "base/hresult.h"
#include "base/variant.h"

namespace activex {
namespace {

static_assert(sizeof(wchar_t) == 2, "a stream's text is UTF-16 units");

// A text's units take one unit more when their number is odd, so that the next value starts on a
// whole word.
[[nodiscard]] size_t PaddedUnits(size_t units) noexcept { return units + units % 2; }

// Reads exactly size bytes: a stream that ends first is a damaged document.
[[nodiscard]] HRESULT ReadAll(IStream* stream, void* to, ULONG size) noexcept {
    ULONG got = 0;
    const HRESULT hr = stream->Read(to, size, &got);
    if (FAILED(hr)) return hr;
    return got == size ? S_OK : STG_E_READFAULT;
}

}  // namespace

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
    const HRESULT hr = ReadAll(stream_, &read, sizeof read);
    if (FAILED(hr)) return hr;
    value = read;
    return S_OK;
}

HRESULT StreamExchange::ExchangeDouble(const wchar_t*, double& value, const double*) noexcept {
    if (!Loading()) return stream_->Write(&value, sizeof value, nullptr);
    double read = 0;
    const HRESULT hr = ReadAll(stream_, &read, sizeof read);
    if (FAILED(hr)) return hr;
    value = read;
    return S_OK;
}

// The length word, the units and their padding go in one write and come back in one read after the
// length has been checked.
HRESULT StreamExchange::ExchangeText(const wchar_t*, std::wstring& value, const wchar_t*) noexcept try {
    if (!Loading()) {
        RETURN_HR_IF(E_INVALIDARG, value.size() > kMaxStreamTextUnits);
        const ULONG units = static_cast<ULONG>(value.size());
        std::wstring record(2 + PaddedUnits(units), L'\0');
        std::memcpy(record.data(), &units, sizeof units);
        std::memcpy(record.data() + 2, value.data(), units * sizeof(wchar_t));
        return stream_->Write(record.data(), static_cast<ULONG>(record.size() * sizeof(wchar_t)), nullptr);
    }
    ULONG units = 0;
    HRESULT hr = ReadAll(stream_, &units, sizeof units);
    if (FAILED(hr)) return hr;
    if (units > kMaxStreamTextUnits) return STG_E_READFAULT;
    std::wstring read(PaddedUnits(units), L'\0');
    hr = ReadAll(stream_, read.data(), static_cast<ULONG>(read.size() * sizeof(wchar_t)));
    if (FAILED(hr)) return hr;
    read.resize(units);
    value = std::move(read);
    return S_OK;
}
CATCH_RETURN()

HRESULT SizeExchange::ExchangeText(const wchar_t*, std::wstring& value, const wchar_t*) noexcept {
    RETURN_HR_IF(E_INVALIDARG, value.size() > kMaxStreamTextUnits);
    bytes_ += static_cast<ULONG>(sizeof(ULONG) + PaddedUnits(value.size()) * sizeof(wchar_t));
    return S_OK;
}

template <class T>
HRESULT ValuesExchange::Exchange(T& value) noexcept try {
    if (!Loading()) {
        values_->emplace_back(std::in_place_type<T>, value);
        return S_OK;
    }
    if (next_ >= values_->size()) return E_UNEXPECTED;
    const T* kept = std::get_if<T>(&(*values_)[next_]);
    if (!kept) return E_UNEXPECTED;
    value = *kept;
    ++next_;
    return S_OK;
}
CATCH_RETURN()

HRESULT ValuesExchange::ExchangeLong(const wchar_t*, LONG& value, const LONG*) noexcept {
    return Exchange(value);
}

HRESULT ValuesExchange::ExchangeDouble(const wchar_t*, double& value, const double*) noexcept {
    return Exchange(value);
}

HRESULT ValuesExchange::ExchangeText(const wchar_t*, std::wstring& value, const wchar_t*) noexcept {
    return Exchange(value);
}

HRESULT ResetExchange::ExchangeText(const wchar_t*, std::wstring& value, const wchar_t* defaultValue) noexcept
    try {
    if (defaultValue) value = defaultValue;
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

HRESULT BagExchange::ExchangeDouble(const wchar_t* name, double& value, const double* defaultValue) noexcept {
    if (!Loading()) {
        base::Variant v;
        v.ptr()->vt = VT_R8;
        v.ptr()->dblVal = value;
        return bag_->Write(name, v.ptr());
    }
    base::Variant v;
    v.ptr()->vt = VT_R8;  // the type the bag is asked for
    v.ptr()->dblVal = 0;
    double read = 0;
    if (SUCCEEDED(bag_->Read(name, v.ptr(), log_)) && SUCCEEDED(CoerceToDouble(v.get(), &read))) {
        value = read;
    } else if (defaultValue) {
        value = *defaultValue;
    }
    return S_OK;
}

HRESULT BagExchange::ExchangeText(const wchar_t* name, std::wstring& value,
                                  const wchar_t* defaultValue) noexcept try {
    if (!Loading()) {
        // By length, so that embedded nulls are kept.
        RETURN_HR_IF(E_INVALIDARG, value.size() > UINT_MAX / sizeof(wchar_t));
        base::Variant v;
        v.ptr()->bstrVal = ::SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
        RETURN_HR_IF_NULL(E_OUTOFMEMORY, v.get().bstrVal);
        v.ptr()->vt = VT_BSTR;
        return bag_->Write(name, v.ptr());
    }
    base::Variant v;
    v.ptr()->vt = VT_BSTR;  // the type the bag is asked for, with nothing that a bag clearing it would free
    v.ptr()->bstrVal = nullptr;
    base::Variant text;
    if (SUCCEEDED(bag_->Read(name, v.ptr(), log_)) && SUCCEEDED(CoerceToText(v.get(), &text))) {
        const BSTR read = text.get().bstrVal;
        value.assign(read ? read : L"", ::SysStringLen(read));
    } else if (defaultValue) {
        value = defaultValue;
    }
    return S_OK;
}
CATCH_RETURN()

}  // namespace activex
