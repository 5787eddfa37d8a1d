// IUnknown for COM objects written in C++: QueryInterface from a list of interfaces, an atomic
// reference count, and a lifetime that the class states where it is declared.
//
//   class Site final : public base::ComObject<Site, base::Lifetime::Scoped, IOleInPlaceSite,
//                                             base::Via<IOleWindow, IOleInPlaceSite>> { ... };
//
// QueryInterface answers IUnknown through the first listed interface, so every interface of the
// object gives the same identity; then each listed interface, and for a Via<I, Through> entry the
// interface I that Through inherits (IOleWindow, ISequentialStream, IDispatch behind another
// interface). A class that answers more or less at run time overrides QueryInterface and calls this
// one for the rest. AddRef and Release may come on any thread; the rest of the object follows the
// rules of its own class.
//
// Lifetime::Heap: the object is made by Make, which hands the caller its first reference (null when
// the object cannot be built), and the last Release deletes it.
// Lifetime::Scoped: a stack, member or static object owned by its scope; Release never deletes it.
// Its count starts at 1 (the owner's reference, never released), so a count back at 1 means every
// other holder has let go; the owner must see that before the object goes out of scope.
#pragma once

#include <unknwn.h>

#include <atomic>
#include <type_traits>
#include <utility>

namespace base {

enum class Lifetime { Heap, Scoped };

// A QueryInterface entry for an interface that is not listed itself but reached through Through.
template <typename Interface, typename Through>
struct Via {};

namespace com_object_detail {

// Derives from the listed interfaces, skipping Via entries.
template <typename... Entries>
struct Implements {};
template <typename I, typename T, typename... Rest>
struct Implements<Via<I, T>, Rest...> : Implements<Rest...> {};
template <typename I, typename... Rest>
struct Implements<I, Rest...> : I, Implements<Rest...> {};

template <typename E>
struct Entry {
    using Answered = E;
    using Through = E;
};
template <typename I, typename T>
struct Entry<Via<I, T>> {
    using Answered = I;
    using Through = T;
};

}  // namespace com_object_detail

template <typename Derived, Lifetime kLifetime, typename First, typename... Rest>
class ComObject : public com_object_detail::Implements<First, Rest...> {
    static_assert(std::is_same<typename com_object_detail::Entry<First>::Through, First>::value,
                  "the first entry is a listed interface: it answers IUnknown");

public:
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    // A new heap object holding one reference for the caller; null when its constructor throws.
    template <typename... Args>
    static Derived* Make(Args&&... args) noexcept {
        static_assert(kLifetime == Lifetime::Heap, "a scoped object is not made on the heap");
        try {
            return new Derived(std::forward<Args>(args)...);
        } catch (...) {
            return nullptr;
        }
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppv = static_cast<IUnknown*>(static_cast<First*>(Self()));
        } else {
            *ppv = Find<First, Rest...>(riid);
        }
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() noexcept override {
        const ULONG left = --refs_;
        if (kLifetime == Lifetime::Heap && left == 0) {
            // Held at 1 while the destructor runs, so that a call back into the object from what it
            // lets go of cannot delete it a second time.
            refs_ = 1;
            delete static_cast<Derived*>(this);
        }
        return left;
    }

    // The current count, for tests that check every reference given out came back.
    ULONG RefCount() const noexcept { return refs_; }

protected:
    ComObject() noexcept = default;
    virtual ~ComObject() = default;

private:
    Derived* Self() noexcept { return static_cast<Derived*>(this); }

    template <typename E, typename... More>
    void* Find(REFIID riid) noexcept {
        using Answered = typename com_object_detail::Entry<E>::Answered;
        using Through = typename com_object_detail::Entry<E>::Through;
        if (IsEqualIID(riid, __uuidof(Answered))) {
            return static_cast<Answered*>(static_cast<Through*>(Self()));
        }
        if constexpr (sizeof...(More) > 0) {
            return Find<More...>(riid);
        } else {
            return nullptr;
        }
    }

    std::atomic<ULONG> refs_{1};
};

}  // namespace base
