// Owners for automation values: Bstr holds a BSTR, Variant contains a VARIANT and clears it,
// UniqueSafeArray holds an array being built until it is handed on. One owner is used by one thread
// at a time; a Variant holding an interface stays in its apartment.
#pragma once

#include <oaidl.h>
#include <oleauto.h>

#include <utility>

#include "base/unique_handle.h"

namespace base {

// A SAFEARRAY that is destroyed unless release() hands it on (into a VARIANT, say).
using UniqueSafeArray = UniqueHandle<NullIsNoneTraits<SAFEARRAY*, &::SafeArrayDestroy>>;

class Bstr {
public:
    Bstr() noexcept = default;
    explicit Bstr(const wchar_t* text) noexcept : s_(text ? ::SysAllocString(text) : nullptr) {}
    Bstr(Bstr&& other) noexcept : s_(std::exchange(other.s_, nullptr)) {}
    Bstr& operator=(Bstr&& other) noexcept {
        if (this != &other) reset(other.Detach());
        return *this;
    }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { reset(); }
    // Takes over a BSTR that an API handed out inside a struct (EXCEPINFO's strings).
    static Bstr Adopt(BSTR s) noexcept {
        Bstr owner;
        owner.s_ = s;
        return owner;
    }

    BSTR get() const noexcept { return s_; }
    UINT length() const noexcept { return ::SysStringLen(s_); }
    BSTR Detach() noexcept { return std::exchange(s_, nullptr); }
    void reset(BSTR s = nullptr) noexcept {
        BSTR old = std::exchange(s_, s);
        if (old) ::SysFreeString(old);
    }
    BSTR* put() noexcept {
        reset();
        return &s_;
    }

private:
    BSTR s_ = nullptr;
};

class Variant {
public:
    Variant() noexcept { ::VariantInit(&v_); }
    explicit Variant(LONG value) noexcept : Variant() {
        v_.vt = VT_I4;
        v_.lVal = value;
    }
    explicit Variant(SHORT value) noexcept : Variant() {
        v_.vt = VT_I2;
        v_.iVal = value;
    }
    // Takes ownership of a copy of text.
    explicit Variant(const wchar_t* text) noexcept : Variant() {
        v_.bstrVal = ::SysAllocString(text);
        if (v_.bstrVal) v_.vt = VT_BSTR;
    }
    Variant(Variant&& other) noexcept : v_(other.v_) { ::VariantInit(&other.v_); }
    Variant& operator=(Variant&& other) noexcept {
        if (this != &other) {
            reset();
            v_ = other.v_;
            ::VariantInit(&other.v_);
        }
        return *this;
    }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    ~Variant() { reset(); }

    const VARIANT& get() const noexcept { return v_; }
    VARIANT* ptr() noexcept { return &v_; }
    VARTYPE vt() const noexcept { return v_.vt; }
    // Hands the value over (into a caller's out-parameter), leaving this empty.
    VARIANT Detach() noexcept {
        const VARIANT out = v_;
        ::VariantInit(&v_);
        return out;
    }

    void reset() noexcept {
        ::VariantClear(&v_);
        ::VariantInit(&v_);
    }
    VARIANT* put() noexcept {
        reset();
        return &v_;
    }

    // Converts in place; on failure the value stays as it was.
    [[nodiscard]] HRESULT ChangeType(VARTYPE to) noexcept { return ::VariantChangeType(&v_, &v_, 0, to); }

private:
    VARIANT v_;
};

}  // namespace base
