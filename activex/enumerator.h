// The IEnumXxx objects of the framework (verbs, connection points, connections): a snapshot of
// items taken when the enumerator is made, handed out in order. An enumerator is used on the thread
// of the apartment that made it; AddRef and Release may come on any thread.
//
// Item is a value type owning what it refers to; Item::CopyOut(T*) fills one element for the caller
// (an AddRef'd pointer, a task-memory string), which the caller then owns. Clones share nothing.
#pragma once

#include <vector>

#include "activex/module.h"
#include "base/com_object.h"
#include "base/hresult.h"

namespace activex {

template <class IEnum, class T, class Item>
class Enumerator final : public base::ComObject<Enumerator<IEnum, T, Item>, ModuleLifetime, IEnum> {
public:
    explicit Enumerator(std::vector<Item> items, size_t position = 0) noexcept
        : items_(std::move(items)), position_(position) {}

    STDMETHODIMP Next(ULONG celt, T* rgelt, ULONG* fetched) noexcept override {
        if (fetched) *fetched = 0;
        RETURN_HR_IF_NULL(E_POINTER, rgelt);
        if (celt > 1 && !fetched) return E_INVALIDARG;
        ULONG n = 0;
        while (n < celt && position_ < items_.size()) {
            const HRESULT hr = items_[position_].CopyOut(&rgelt[n]);
            if (FAILED(hr)) {
                for (ULONG i = 0; i < n; ++i) Item::Free(&rgelt[i]);
                return hr;
            }
            ++position_;
            ++n;
        }
        if (fetched) *fetched = n;
        return n == celt ? S_OK : S_FALSE;
    }

    STDMETHODIMP Skip(ULONG celt) noexcept override {
        const size_t left = items_.size() - position_;
        if (celt > left) {
            position_ = items_.size();
            return S_FALSE;
        }
        position_ += celt;
        return S_OK;
    }

    STDMETHODIMP Reset() noexcept override {
        position_ = 0;
        return S_OK;
    }

    STDMETHODIMP Clone(IEnum** out) noexcept override try {
        RETURN_HR_IF_NULL(E_POINTER, out);
        *out = nullptr;
        return Create(items_, position_, out);
    }
    CATCH_RETURN()

    [[nodiscard]] static HRESULT Create(std::vector<Item> items, size_t position, IEnum** out) noexcept {
        return base::CreateObject<Enumerator>(__uuidof(IEnum), reinterpret_cast<void**>(out),
                                              std::move(items), position);
    }

private:
    std::vector<Item> items_;
    size_t position_;
};

}  // namespace activex
