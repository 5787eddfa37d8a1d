// The module's cache of one type library, shared by every object of the module that answers
// GetTypeInfo, GetIDsOfNames or GetClassInfo. The library is loaded on first use: the registered one
// for the requested locale, or, when it is not registered (in-process use without the registry,
// registration-free activation), the TYPELIB resource 1 of the module itself, provided it carries the
// expected LIBID. The cache is filled under the module's lock and given back when the module is
// unloaded. The type infos it hands out are free-threaded.
#pragma once

#include <oaidl.h>

#include <string>

#include "base/com_ptr.h"

namespace activex {

// The answer of the loaders below for a library with another LIBID.
inline constexpr HRESULT kForeignTypeLib = TYPE_E_LIBNOTREGISTERED;

// Loads the type library in file path (a module's TYPELIB resource 1, or a .tlb file) without
// registering it, provided its LIBID is libid: S_OK with *out set; kForeignTypeLib for another
// library; else the loader's error. Any thread.
[[nodiscard]] HRESULT LoadTypeLibFile(const wchar_t* path, REFGUID libid, ITypeLib** out) noexcept;

// The same for the file a loaded module came from, named by its full file name however long (a path
// cut at MAX_PATH would name another file); *path, if given, gets that name.
// HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND) when the name cannot be had.
[[nodiscard]] HRESULT LoadModuleTypeLib(HINSTANCE module, REFGUID libid, ITypeLib** out,
                                        std::wstring* path = nullptr) noexcept;

class TypeLibCache {
public:
    TypeLibCache(const GUID& libid, WORD major, WORD minor) noexcept
        : libid_(libid), major_(major), minor_(minor) {}
    TypeLibCache(const TypeLibCache&) = delete;
    TypeLibCache& operator=(const TypeLibCache&) = delete;

    // The type info of the type (interface or class) guid.
    [[nodiscard]] HRESULT GetTypeInfo(REFGUID guid, LCID lcid, ITypeInfo** out) noexcept;

private:
    [[nodiscard]] HRESULT Load(LCID lcid, ITypeLib** out) noexcept;
    static void ReleaseAll() noexcept;

    const GUID libid_;
    const WORD major_;
    const WORD minor_;
    base::ComPtr<ITypeLib> lib_;
    TypeLibCache* next_ = nullptr;  // caches that hold a library, for ReleaseAll
};

}  // namespace activex
