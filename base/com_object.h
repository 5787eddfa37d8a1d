// The one COM object base of everything written here (the control's objects, the tools' and the
// tests'): QueryInterface from a list of interfaces, a reference count, set-up that can fail, and a
// lifetime that the class states where it is declared.
//
//   class Site final : public base::ComObject<Site, base::Lifetime::Scoped, IOleInPlaceSite,
//                                             base::Via<IOleWindow, IOleInPlaceSite>> { ... };
//
// QueryInterface answers IUnknown through the first listed interface, so every interface of the
// object gives the same identity; then each listed interface, and for a Via<I, Through> entry the
// interface I that Through inherits (IOleWindow, IPersist, IDispatch behind another interface); then
// what FindMore finds (the interfaces of parts the object holds, an IID known only at run time). A
// class that refuses a listed interface at run time overrides QueryInterface and calls this one for
// the rest.
//
// Lifetimes:
// - Heap: made by Make or CreateObject, which run FinalConstruct (the set-up that can fail) before
//   anyone gets an interface; the last Release runs FinalRelease, then deletes the object.
// - Counted<Counter>: a Heap object that Counter counts while it lives (Counter::ObjectCreated() and
//   Counter::ObjectDestroyed(), static): how a server module counts its objects for DllCanUnloadNow
//   without this header knowing the module.
// - Scoped: a stack, member or static object owned by its scope; Release never deletes it. Its count
//   starts at 1 (the owner's reference, never released), so a count back at 1 means every other
//   holder has let go; the owner must see that before the object goes out of scope.
// - Member: an object held by another (its owner, given to the constructor) with an identity of its
//   own: QueryInterface answers its own list, AddRef and Release go to the owner (a connection point).
// - Part: a part of its owner that implements some of the owner's interfaces: every IUnknown call
//   goes to the owner, whose FindMore finds the part's interfaces through the part's FindInterface.
//
// AddRef and Release may come on any thread; the rest of an object follows the rules of its class.
#pragma once

#include <unknwn.h>

#include <atomic>
#include <type_traits>
#include <utility>

#include "base/hresult.h"

namespace base {

struct Lifetime {
    struct Heap;
    template <typename Counter>
    struct Counted;
    struct Scoped;
    struct Member;
    struct Part;
};

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

template <typename L>
struct LifetimeTraits {
    static constexpr bool kDeletes = std::is_same_v<L, Lifetime::Heap>;
    static constexpr bool kShared = std::is_same_v<L, Lifetime::Member> || std::is_same_v<L, Lifetime::Part>;
    static void Created() noexcept {}
    static void Destroyed() noexcept {}
};
template <typename Counter>
struct LifetimeTraits<Lifetime::Counted<Counter>> {
    static constexpr bool kDeletes = true;
    static constexpr bool kShared = false;
    static void Created() noexcept { Counter::ObjectCreated(); }
    static void Destroyed() noexcept { Counter::ObjectDestroyed(); }
};

}  // namespace com_object_detail

template <typename Derived, typename L, typename First, typename... Rest>
class ComObject : public com_object_detail::Implements<First, Rest...> {
    static_assert(std::is_same_v<typename com_object_detail::Entry<First>::Through, First>,
                  "the first entry is a listed interface: it answers IUnknown");
    using Traits = com_object_detail::LifetimeTraits<L>;
    static constexpr bool kPart = std::is_same_v<L, Lifetime::Part>;

public:
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    // A new heap object holding one reference for the caller; null when it cannot be built or set up.
    template <typename... Args>
    static Derived* Make(Args&&... args) noexcept;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override {
        if constexpr (kPart) {
            return refs_->QueryInterface(riid, ppv);
        } else {
            RETURN_HR_IF_NULL(E_POINTER, ppv);
            *ppv = IsEqualIID(riid, IID_IUnknown) ? static_cast<IUnknown*>(static_cast<First*>(this))
                                                  : FindInterface(riid);
            if (!*ppv) *ppv = FindMore(riid);
            if (!*ppv) return E_NOINTERFACE;
            AddRef();
            return S_OK;
        }
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override {
        if constexpr (Traits::kShared) {
            return refs_->AddRef();
        } else {
            return ++refs_;
        }
    }
    STDMETHODIMP_(ULONG) Release() noexcept override {
        if constexpr (Traits::kShared) {
            return refs_->Release();
        } else {
            const ULONG left = --refs_;
            if constexpr (Traits::kDeletes) {
                if (left == 0) {
                    // Held at 1 while the object lets go of what it holds and is destroyed, so that a
                    // call back into it from there cannot delete it a second time.
                    refs_ = 1;
                    FinalRelease();
                    delete this;
                }
            }
            return left;
        }
    }

    // The listed interface riid, or null; no reference taken.
    void* FindInterface(REFIID riid) noexcept { return Find<First, Rest...>(riid); }

    // The set-up that can fail, run by Make and CreateObject once the object is built; a failure
    // deletes the object and is what its creator gets.
    [[nodiscard]] virtual HRESULT FinalConstruct() noexcept { return S_OK; }

    // The current count of an object with a count of its own, for tests that check every reference
    // given out came back, and for an owner that tells whether anyone else holds its object.
    ULONG RefCount() const noexcept {
        static_assert(!Traits::kShared, "the count is the owner's");
        return refs_;
    }

protected:
    ComObject() noexcept : refs_(1) {
        static_assert(!Traits::kShared, "a member or part is built with its owner");
        Traits::Created();
    }
    explicit ComObject(IUnknown& owner) noexcept : refs_(&owner) {
        static_assert(Traits::kShared, "only a member or part has an owner");
    }
    virtual ~ComObject() { Traits::Destroyed(); }

    // Run once when the last reference of a deleting lifetime goes, before destruction, while every
    // member is still whole and virtual calls still reach the most derived class.
    virtual void FinalRelease() noexcept {}
    // The interfaces answered besides the listed ones, or null; no reference taken.
    virtual void* FindMore(REFIID) noexcept { return nullptr; }

private:
    template <typename E, typename... More>
    void* Find(REFIID riid) noexcept {
        using Answered = typename com_object_detail::Entry<E>::Answered;
        using Through = typename com_object_detail::Entry<E>::Through;
        if (IsEqualIID(riid, __uuidof(Answered))) return static_cast<Answered*>(static_cast<Through*>(this));
        if constexpr (sizeof...(More) > 0) {
            return Find<More...>(riid);
        } else {
            return nullptr;
        }
    }

    // The count, or the owner that keeps it for a member or part.
    std::conditional_t<Traits::kShared, IUnknown*, std::atomic<ULONG>> refs_;
};

// A new T (a Heap or Counted class) set up by its FinalConstruct, holding one reference for the
// caller: S_OK with *out set; else *out null and the error (the constructor's, the set-up's), the
// object gone.
template <typename T, typename... Args>
[[nodiscard]] HRESULT MakeObject(T** out, Args&&... args) noexcept {
    *out = nullptr;
    T* object = nullptr;
    try {
        object = new T(std::forward<Args>(args)...);
    } catch (...) {
        return HResultFromCaughtException();
    }
    const HRESULT hr = object->FinalConstruct();
    if (FAILED(hr)) {
        object->Release();
        return hr;
    }
    *out = object;
    return S_OK;
}

// A new T's interface riid, as a class factory hands it out; the object goes away again when it
// cannot be set up or has no such interface.
template <typename T, typename... Args>
[[nodiscard]] HRESULT CreateObject(REFIID riid, void** ppv, Args&&... args) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, ppv);
    *ppv = nullptr;
    T* object = nullptr;
    const HRESULT made = MakeObject(&object, std::forward<Args>(args)...);
    if (FAILED(made)) return made;
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

template <typename Derived, typename L, typename First, typename... Rest>
template <typename... Args>
Derived* ComObject<Derived, L, First, Rest...>::Make(Args&&... args) noexcept {
    static_assert(Traits::kDeletes, "only a heap object is made");
    Derived* object = nullptr;
    return SUCCEEDED(MakeObject(&object, std::forward<Args>(args)...)) ? object : nullptr;
}

}  // namespace base
