// The module's cache of one type library, shared by every object of the module that answers
// GetTypeInfo, GetIDsOfNames or GetClassInfo. The library is loaded on first use: the registered one
// for the requested locale, or, when it is not registered (in-process use without the registry,
// registration-free activation), the TYPELIB resource 1 of the module itself, provided it carries the
// expected LIBID. The cache is filled under the module's lock and given back when the module is
// unloaded. The type infos it hands out are free-threaded.
#pragma once

#include <oaidl.h>

#include "base/com_ptr.h"

namespace activex {

class TypeLibCache {
public:
    TypeLibCache(const GUID& libid, WORD major, WORD minor) noexcept
        : libid_(libid), major_(major), minor_(minor) {}
    TypeLibCache(const TypeLibCache&) = delete;
    TypeLibCache& operator=(const TypeLibCache&) = delete;

    // The type info of the type (interface or class) guid.
    HRESULT GetTypeInfo(REFGUID guid, LCID lcid, ITypeInfo** out) noexcept;

    const GUID& libid() const noexcept { return libid_; }
    WORD major() const noexcept { return major_; }
    WORD minor() const noexcept { return minor_; }

private:
    HRESULT Load(LCID lcid, ITypeLib** out) noexcept;
    static void ReleaseAll() noexcept;

    const GUID libid_;
    const WORD major_;
    const WORD minor_;
    base::ComPtr<ITypeLib> lib_;
    TypeLibCache* next_ = nullptr;  // caches that hold a library, for ReleaseAll
};

}  // namespace activex
