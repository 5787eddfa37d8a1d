// The COM object base of the framework: one reference count, QueryInterface from a table, and the
// module-wide count of live objects that DllCanUnloadNow reads.
//
// An object class derives from ObjectBase and from its interfaces, lists the interfaces in a static
// table of InterfaceEntry rows (the first row answers IUnknown, so identity is kept) and implements
// IUnknown once with ACTIVEX_IUNKNOWN_METHODS. Objects are created only through CreateObject, which
// runs the class's FinalConstruct (the set-up that can fail) before the first QueryInterface and
// hands the first reference to the caller through it. Reference counting is thread-safe;
// everything else follows the apartment of the object's creator.
#pragma once

#include <unknwn.h>

#include <cstddef>
#include <new>

namespace activex {

// One row of an interface table: an IID and how to reach that interface from the object.
template <class C>
struct InterfaceEntry {
    const IID* iid;
    IUnknown* (*cast)(C* self) noexcept;
};

// Via names the base through which I is reached when I is inherited more than once (IPersist,
// IOleWindow) or is the IDispatch behind a dispatch interface.
template <class C, class Via>
IUnknown* CastTo(C* self) noexcept {
    return static_cast<Via*>(self);
}

#define ACTIVEX_INTERFACE(C, I) \
    ::activex::InterfaceEntry<C> { &__uuidof(I), &::activex::CastTo<C, I> }
#define ACTIVEX_INTERFACE_VIA(C, iid, Via) \
    ::activex::InterfaceEntry<C> { &(iid), &::activex::CastTo<C, Via> }

// Looks riid up in table (count rows); IUnknown is answered by the first row.
template <class C>
HRESULT QueryFromTable(C* self, const InterfaceEntry<C>* table, size_t count, REFIID riid,
                       void** ppv) noexcept {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    IUnknown* found = nullptr;
    if (IsEqualIID(riid, IID_IUnknown)) {
        found = table[0].cast(self);
    } else {
        for (size_t i = 0; i < count && !found; ++i) {
            if (IsEqualIID(riid, *table[i].iid)) found = table[i].cast(self);
        }
    }
    if (!found) return E_NOINTERFACE;
    found->AddRef();
    *ppv = found;
    return S_OK;
}

class ObjectBase {
public:
    ObjectBase(const ObjectBase&) = delete;
    ObjectBase& operator=(const ObjectBase&) = delete;

    // Set-up that can fail, run by CreateObject once the object is built; a class with such set-up
    // hides this one. A failure frees the object and is what the creator gets back.
    HRESULT FinalConstruct() noexcept { return S_OK; }

    ULONG AddRefImpl() noexcept { return static_cast<ULONG>(::InterlockedIncrement(&refs_)); }
    ULONG ReleaseImpl() noexcept {
        const LONG left = ::InterlockedDecrement(&refs_);
        if (left == 0) {
            // Keeps the object alive while it lets go of what it holds, so a call back into it
            // from there cannot free it twice.
            refs_ = 1;
            FinalRelease();
            delete this;
        }
        return static_cast<ULONG>(left);
    }

protected:
    ObjectBase() noexcept;
    virtual ~ObjectBase();
    // Called once when the last reference goes, before destruction, while virtual calls still
    // reach the most derived class.
    virtual void FinalRelease() noexcept {}

private:
    volatile LONG refs_ = 0;
};

// Implements IUnknown for a class with a static member function Interfaces(size_t* count).
#define ACTIVEX_IUNKNOWN_METHODS(C)                                          \
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override { \
        size_t count = 0;                                                    \
        const ::activex::InterfaceEntry<C>* table = C::Interfaces(&count);   \
        return ::activex::QueryFromTable<C>(this, table, count, riid, ppv);  \
    }                                                                        \
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return AddRefImpl(); } \
    STDMETHODIMP_(ULONG) Release() noexcept override { return ReleaseImpl(); }

// Creates a T, runs its FinalConstruct and returns its riid interface; the object goes away again
// when either fails.
template <class T, class... Args>
HRESULT CreateObject(REFIID riid, void** ppv, Args&&... args) noexcept {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    T* object = new (std::nothrow) T(static_cast<Args&&>(args)...);
    if (!object) return E_OUTOFMEMORY;
    object->AddRefImpl();
    HRESULT hr = object->FinalConstruct();
    if (SUCCEEDED(hr)) hr = object->QueryInterface(riid, ppv);
    object->ReleaseImpl();
    return hr;
}

}  // namespace activex
