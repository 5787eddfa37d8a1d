#include "activex/typelib.h"

#include <oleauto.h>

#include <utility>

#include "activex/module.h"
#include "base/hresult.h"
#include "base/locks.h"
#include "base/module_file.h"

namespace activex {
namespace {

TypeLibCache* g_loaded = nullptr;  // list of caches holding a library, under the module lock
bool g_cleanupRegistered = false;

}  // namespace

[[nodiscard]] HRESULT LoadTypeLibFile(const wchar_t* path, REFGUID libid, ITypeLib** out) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, out);
    *out = nullptr;
    RETURN_HR_IF_NULL(E_INVALIDARG, path);
    base::ComPtr<ITypeLib> lib;
    RETURN_IF_FAILED(::LoadTypeLibEx(path, REGKIND_NONE, lib.put()));
    TLIBATTR* attr = nullptr;
    RETURN_IF_FAILED(lib->GetLibAttr(&attr));
    const bool ours = ::IsEqualGUID(attr->guid, libid) != FALSE;
    lib->ReleaseTLibAttr(attr);
    RETURN_HR_IF(kForeignTypeLib, !ours);
    *out = lib.Detach();
    return S_OK;
}

[[nodiscard]] HRESULT LoadModuleTypeLib(HINSTANCE module, REFGUID libid, ITypeLib** out,
                                        std::wstring* path) noexcept try {
    RETURN_HR_IF_NULL(E_POINTER, out);
    *out = nullptr;
    std::wstring file = base::ModuleFileName(module);
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), file.empty());
    RETURN_IF_FAILED(LoadTypeLibFile(file.c_str(), libid, out));
    if (path) *path = std::move(file);
    return S_OK;
}
CATCH_RETURN()

// Loads outside the module's lock (loading from the module file takes the loader lock, which
// DllMain holds while it takes the module's lock) and publishes under it; a racing load is dropped.
HRESULT TypeLibCache::Load(LCID lcid, ITypeLib** out) noexcept {
    {
        base::SrwExclusiveLock lock(ModuleStateLock());
        if (lib_) return lib_.CopyTo(out);
    }
    base::ComPtr<ITypeLib> lib;
    const HRESULT hr = ::LoadRegTypeLib(libid_, major_, minor_, lcid, lib.put());
    if (FAILED(hr) && FAILED(LoadModuleTypeLib(Module::Instance(), libid_, lib.put()))) return hr;
    bool first = false;
    {
        base::SrwExclusiveLock lock(ModuleStateLock());
        if (!lib_) {
            lib_ = std::move(lib);
            next_ = g_loaded;
            g_loaded = this;
            first = !g_cleanupRegistered;
            g_cleanupRegistered = true;
        }
        LOG_IF_FAILED(lib_.CopyTo(out));
    }
    if (first) AtModuleExit(&TypeLibCache::ReleaseAll);
    return S_OK;
}

HRESULT TypeLibCache::GetTypeInfo(REFGUID guid, LCID lcid, ITypeInfo** out) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, out);
    *out = nullptr;
    base::ComPtr<ITypeLib> lib;
    RETURN_IF_FAILED(Load(lcid, lib.put()));
    return lib->GetTypeInfoOfGuid(guid, out);
}

void TypeLibCache::ReleaseAll() noexcept {
    TypeLibCache* list;
    {
        base::SrwExclusiveLock lock(ModuleStateLock());
        list = g_loaded;
        g_loaded = nullptr;
        g_cleanupRegistered = false;
    }
    while (list) {
        TypeLibCache* next = list->next_;
        list->lib_.reset();
        list->next_ = nullptr;
        list = next;
    }
}

}  // namespace activex
