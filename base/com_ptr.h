// Owning smart pointer for COM interfaces. Copying AddRefs, destruction Releases; put() releases
// the current interface before handing out the address for an out-parameter. One pointer is used by
// one thread at a time, in the apartment its interface belongs to.
#pragma once

#include <unknwn.h>

#include <utility>

#include "base/hresult.h"

namespace base {

template <typename T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    // Takes a new reference on p.
    explicit ComPtr(T* p) noexcept : p_(p) {
        if (p_) p_->AddRef();
    }
    ComPtr(const ComPtr& other) noexcept : ComPtr(other.p_) {}
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComPtr& operator=(const ComPtr& other) noexcept {
        ComPtr(other).swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept {
        ComPtr(std::move(other)).swap(*this);
        return *this;
    }
    ~ComPtr() { reset(); }

    // Adopts a reference that the caller already owns.
    static ComPtr Attach(T* p) noexcept {
        ComPtr c;
        c.p_ = p;
        return c;
    }
    T* Detach() noexcept { return std::exchange(p_, nullptr); }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    void reset() noexcept {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }
    T** put() noexcept {
        reset();
        return &p_;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

    // QueryInterface into another smart pointer.
    template <typename U>
    [[nodiscard]] HRESULT As(ComPtr<U>* out) const noexcept {
        RETURN_HR_IF_NULL(E_POINTER, p_);
        return p_->QueryInterface(__uuidof(U), out->put_void());
    }
    [[nodiscard]] HRESULT As(REFIID iid, void** out) const noexcept {
        RETURN_HR_IF_NULL(E_POINTER, out);
        *out = nullptr;
        RETURN_HR_IF_NULL(E_POINTER, p_);
        return p_->QueryInterface(iid, out);
    }

    // Hands out a new reference through an out-parameter.
    [[nodiscard]] HRESULT CopyTo(T** out) const noexcept {
        RETURN_HR_IF_NULL(E_POINTER, out);
        *out = p_;
        if (p_) p_->AddRef();
        return S_OK;
    }

    void swap(ComPtr& other) noexcept { std::swap(p_, other.p_); }

private:
    T* p_ = nullptr;
};

}  // namespace base
