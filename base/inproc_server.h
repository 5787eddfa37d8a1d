// Why an in-process server could not be created, where COM's answer hides it. A server whose own
// imports cannot be found fails with ERROR_MOD_NOT_FOUND on Windows but with E_ACCESSDENIED under
// Wine; loading the server module again tells the two causes apart. Called on the thread that
// tried to create the object, after the failure.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <string>

#include "base/module_file.h"
#include "base/text.h"

namespace base {

// The InprocServer32 path registered for clsid in this process's registry view, with environment
// strings expanded; empty when none.
inline std::wstring InprocServerPath(REFCLSID clsid) {
    const std::wstring guid = GuidText(clsid);
    if (guid.empty()) return {};
    const std::wstring key = L"CLSID\\" + guid + L"\\InprocServer32";
    wchar_t path[MAX_PATH];
    DWORD bytes = sizeof path;
    // RRF_RT_REG_SZ takes REG_EXPAND_SZ too, expanded; asking for REG_EXPAND_SZ itself is refused
    // unless expansion is turned off.
    if (::RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, path, &bytes) !=
        ERROR_SUCCESS) {
        return {};
    }
    return path;
}

// hr, or HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND) when the failure came from a module the server
// imports (a class that is not registered stays so): the server file (the registered one, else
// unregisteredPath, the file an activation context names) exists but loading it reports a missing module.
[[nodiscard]] inline HRESULT ExplainCreateFailure(REFCLSID clsid, HRESULT hr,
                                                  const std::wstring& unregisteredPath) {
    const HRESULT modNotFound = HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    if (SUCCEEDED(hr) || hr == modNotFound || hr == REGDB_E_CLASSNOTREG || hr == CO_E_CLASSSTRING) return hr;
    std::wstring path = InprocServerPath(clsid);
    if (path.empty()) path = unregisteredPath;
    if (path.empty() || ::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return hr;
    const HMODULE module = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module) {
        ::FreeLibrary(module);
        return hr;
    }
    return ::GetLastError() == ERROR_MOD_NOT_FOUND ? modNotFound : hr;
}

}  // namespace base
