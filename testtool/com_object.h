// A reference-counted COM object whose QueryInterface answers the interfaces of a type list.
// Used for the few objects Mirelo hands to the controls it hosts (their client sites); all of
// them live on the form's thread, but the count is atomic anyway since a control may keep a
// reference wherever it likes.
#pragma once

#include <unknwn.h>

#include <atomic>
#include <utility>

namespace mirelo {

// Derived lists the interfaces it implements; the first one also answers IID_IUnknown, so the
// object's identity is always the same pointer. Objects are made with Make and deleted by their
// last Release; Make gives null when the object cannot be built.
template <typename Derived, typename First, typename... Rest>
class ComObject : public First, public Rest... {
public:
    template <typename... Args>
    static Derived* Make(Args&&... args) noexcept {
        try {
            return new Derived(std::forward<Args>(args)...);
        } catch (...) {
            return nullptr;
        }
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown) {
            *ppv = static_cast<IUnknown*>(static_cast<First*>(this));
        } else {
            Find<First, Rest...>(riid, ppv);
        }
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() noexcept override {
        const ULONG left = --refs_;
        if (left == 0) delete static_cast<Derived*>(this);
        return left;
    }

protected:
    ComObject() noexcept = default;
    virtual ~ComObject() = default;

private:
    template <typename I, typename... More>
    void Find(REFIID riid, void** ppv) noexcept {
        if (riid == __uuidof(I)) {
            *ppv = static_cast<I*>(this);
            return;
        }
        if constexpr (sizeof...(More) > 0) Find<More...>(riid, ppv);
    }

    std::atomic<ULONG> refs_{1};
};

}  // namespace mirelo
