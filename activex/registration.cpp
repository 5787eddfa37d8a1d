#include "activex/registration.h"

#include <oleauto.h>
#include <olectl.h>

#include <string>
#include <vector>

#include "activex/class_rows.h"
#include "activex/registry_table.h"
#include "activex/typelib.h"
#include "base/com_ptr.h"
#include "base/hresult.h"
#include "base/module_file.h"
#include "base/registry_view.h"
#include "base/text.h"
#include "base/unique_handle.h"

namespace activex {
namespace {

// The platform key below a type library's locale key that names this build's file, and the one
// the other bitness writes beside it.
constexpr const wchar_t* kPlatformKey = sizeof(void*) == 8 ? L"win64" : L"win32";
constexpr const wchar_t* kOtherPlatformKey = sizeof(void*) == 8 ? L"win32" : L"win64";

// The server path written to the registry: the short (8.3) form where there is one.
std::wstring ServerPath(HINSTANCE module) {
    const std::wstring full = base::ModuleFileName(module);
    if (full.empty()) return full;
    const DWORD need = ::GetShortPathNameW(full.c_str(), nullptr, 0);
    if (need == 0) return full;
    std::wstring shortPath(need, L'\0');
    const DWORD n = ::GetShortPathNameW(full.c_str(), shortPath.data(), need);
    if (n == 0 || n >= need) return full;
    shortPath.resize(n);
    return shortPath;
}

LONG CreateClassesKey(const std::wstring& path, base::UniqueHkey& key) noexcept {
    return ::RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_READ | KEY_WRITE, nullptr, key.put(), nullptr);
}

// Writes a class's rows (class_rows.h, which the installer packages are made from too): creates
// its class key and, when a row lies below it, its ProgID key; writes the default values as one
// key set, then the named values (the control's threading model).
template <size_t N>
[[nodiscard]] HRESULT WriteClassRows(const ClassRow (&rows)[N], const ClassTexts& texts) {
    base::UniqueHkey classKey, progIdKey;
    RETURN_IF_WIN32_ERROR(CreateClassesKey(RowBaseKey(RowBase::kClass, texts), classKey));
    for (const ClassRow& row : rows) {
        if (row.base == RowBase::kProgId && !progIdKey) {
            RETURN_IF_WIN32_ERROR(CreateClassesKey(RowBaseKey(RowBase::kProgId, texts), progIdKey));
        }
    }
    const auto baseKey = [&](const ClassRow& row) {
        return row.base == RowBase::kProgId ? progIdKey.get() : classKey.get();
    };

    std::vector<RegistryEntry> entries;
    for (const ClassRow& row : rows) {
        if (!row.name) entries.push_back({baseKey(row), row.subkey, RowText(row.value, texts).c_str()});
    }
    // Every failure fails the registration, a refused write too: a registration that reports
    // success must have written its table.
    RETURN_IF_WIN32_ERROR(WriteKeySet(entries.data(), entries.size()));

    for (const ClassRow& row : rows) {
        if (!row.name) continue;
        base::UniqueHkey key;
        RETURN_IF_WIN32_ERROR(::RegOpenKeyExW(baseKey(row), row.subkey, 0, KEY_SET_VALUE, key.put()));
        RETURN_IF_WIN32_ERROR(SetStringValue(key.get(), row.name, RowText(row.value, texts).c_str()));
    }
    return S_OK;
}

[[nodiscard]] HRESULT RegisterControl(HINSTANCE module, const ControlRegistration& reg) {
    const std::wstring path = ServerPath(module);
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), path.empty());
    ClassTexts texts;
    RETURN_HR_IF(E_INVALIDARG,
                 !ControlTexts(reg, path, base::StringResource(module, reg.typeNameId), &texts));
    return WriteClassRows(kControlRows, texts);
}

[[nodiscard]] HRESULT RegisterPage(HINSTANCE module, const PageRegistration& reg) {
    const std::wstring path = ServerPath(module);
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), path.empty());
    ClassTexts texts;
    RETURN_HR_IF(E_INVALIDARG, !PageTexts(reg, path, base::StringResource(module, reg.typeNameId), &texts));
    return WriteClassRows(kPageRows, texts);
}

// Removes a class's entries; progId may be null (a class without a ProgID key). A 16-bit server
// registration of the same class keeps the class key and the ProgID: only the 32-bit server and
// its toolbox bitmap go. The ProgID key, which both registry views share, stays while the other
// view still registers the class.
[[nodiscard]] HRESULT RemoveClass(const CLSID& clsidValue, const wchar_t* progId) {
    const std::wstring clsid = base::GuidText(clsidValue);
    RETURN_HR_IF(E_INVALIDARG, clsid.empty());
    const std::wstring classPath = L"CLSID\\" + clsid;
    if (KeyExists(HKEY_CLASSES_ROOT, (classPath + L"\\InprocServer").c_str())) {
        const LONG server = DeleteKeyTree(HKEY_CLASSES_ROOT, (classPath + L"\\InprocServer32").c_str());
        const LONG bitmap = DeleteKeyTree(HKEY_CLASSES_ROOT, (classPath + L"\\ToolboxBitmap32").c_str());
        RETURN_IF_WIN32_ERROR(server);
        RETURN_IF_WIN32_ERROR(bitmap);
        return S_OK;
    }
    RETURN_IF_WIN32_ERROR(DeleteKeyTree(HKEY_CLASSES_ROOT, classPath.c_str()));
    // On 32-bit Windows the other view is this one, which removal has just emptied.
    if (progId && progId[0] && !KeyExists(HKEY_CLASSES_ROOT, classPath.c_str(), base::OtherRegistryView())) {
        RETURN_IF_WIN32_ERROR(DeleteKeyTree(HKEY_CLASSES_ROOT, progId));
    }
    return S_OK;
}

// Names of the direct subkeys of key.
std::vector<std::wstring> SubkeyNames(HKEY key) {
    std::vector<std::wstring> names;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = ARRAYSIZE(name);
        const LONG error = ::RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (error == ERROR_MORE_DATA) continue;  // longer than any key name can be; not ours
        if (error != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    return names;
}

bool IsLocaleKey(const std::wstring& name) noexcept {
    return ::_wcsicmp(name.c_str(), L"HELPDIR") != 0 && ::_wcsicmp(name.c_str(), L"FLAGS") != 0;
}

// What clearing a type library's key left behind.
struct ClearedTypeLib {
    LONG error = ERROR_SUCCESS;
    bool otherBitnessStayed = false;  // a locale key still names the other bitness's file
};

// Clears this platform's entries from HKCR\TypeLib\{LIBID}, every version of it. A locale key that
// also serves a 16-bit library or the other bitness keeps those and loses only this platform's file
// entry; both bitnesses of a control share the key on 64-bit Windows.
ClearedTypeLib ClearTypeLibKey(const wchar_t* libid) {
    ClearedTypeLib result;
    const std::wstring libPath = std::wstring(L"TypeLib\\") + libid;
    base::UniqueHkey libKey;
    LONG& error = result.error;
    error = ::RegOpenKeyExW(HKEY_CLASSES_ROOT, libPath.c_str(), 0, KEY_READ, libKey.put());
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        error = ERROR_SUCCESS;
        return result;
    }
    if (error != ERROR_SUCCESS) return result;

    bool anyLocaleStayed = false;
    for (const std::wstring& version : SubkeyNames(libKey.get())) {
        base::UniqueHkey versionKey;
        error = ::RegOpenKeyExW(libKey.get(), version.c_str(), 0, KEY_READ, versionKey.put());
        if (error != ERROR_SUCCESS) return result;
        bool localeStayed = false;
        for (const std::wstring& locale : SubkeyNames(versionKey.get())) {
            if (!IsLocaleKey(locale)) continue;
            const bool win16 = KeyExists(versionKey.get(), (locale + L"\\win16").c_str());
            const bool other = KeyExists(versionKey.get(), (locale + L"\\" + kOtherPlatformKey).c_str());
            if (win16 || other) {
                error = DeleteKeyTree(versionKey.get(), (locale + L"\\" + kPlatformKey).c_str());
                localeStayed = true;
                result.otherBitnessStayed |= other;
            } else {
                error = DeleteKeyTree(versionKey.get(), locale.c_str());
            }
            if (error != ERROR_SUCCESS) return result;
        }
        versionKey.reset();
        if (localeStayed) {
            anyLocaleStayed = true;
        } else {
            error = DeleteKeyTree(libKey.get(), version.c_str());
            if (error != ERROR_SUCCESS) return result;
        }
    }
    libKey.reset();
    if (!anyLocaleStayed) error = DeleteKeyTree(HKEY_CLASSES_ROOT, libPath.c_str());
    return result;
}

// The IIDs of the dispatch and plain interfaces of a library.
std::vector<IID> InterfaceIds(ITypeLib* lib) {
    std::vector<IID> iids;
    const UINT count = lib->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        base::ComPtr<ITypeInfo> info;
        if (FAILED(lib->GetTypeInfo(i, info.put()))) continue;
        TYPEATTR* attr = nullptr;
        if (FAILED(info->GetTypeAttr(&attr))) continue;
        if (attr->typekind == TKIND_DISPATCH || attr->typekind == TKIND_INTERFACE) {
            iids.push_back(attr->guid);
        }
        info->ReleaseTypeAttr(attr);
    }
    return iids;
}

// Removes HKCR\\Interface\\{IID} of each interface, in this build's registry view and in the other
// one: registering a type library writes the interface keys into both views of a 64-bit system.
LONG RemoveInterfaceKeys(const std::vector<IID>& interfaces) {
    // On 32-bit Windows the second pass is this view again, which the first has emptied.
    for (const REGSAM view : {REGSAM{0}, base::OtherRegistryView()}) {
        base::UniqueHkey parent;
        const LONG error =
            ::RegOpenKeyExW(HKEY_CLASSES_ROOT, L"Interface", 0, KEY_READ | KEY_WRITE | view, parent.put());
        if (error == ERROR_FILE_NOT_FOUND) continue;
        if (error != ERROR_SUCCESS) return error;
        for (const IID& iid : interfaces) {
            const std::wstring text = base::GuidText(iid);
            if (text.empty()) continue;
            const LONG deleted = DeleteKeyTree(parent.get(), text.c_str());
            if (deleted != ERROR_SUCCESS) return deleted;
        }
    }
    return ERROR_SUCCESS;
}

bool CanLoadRegistered(REFGUID libid, WORD major, WORD minor, LCID lcid) noexcept {
    base::ComPtr<ITypeLib> lib;
    return SUCCEEDED(::LoadRegTypeLib(libid, major, minor, lcid, lib.put()));
}

[[nodiscard]] HRESULT UnregisterTypeLib(REFGUID libidValue, WORD major, WORD minor, LCID lcid) {
    const std::wstring libid = base::GuidText(libidValue);
    RETURN_HR_IF(SELFREG_E_TYPELIB, libid.empty());

    bool wasLoaded = false;
    std::vector<IID> interfaces;
    {
        base::ComPtr<ITypeLib> lib;
        if (SUCCEEDED(::LoadRegTypeLib(libidValue, major, minor, lcid, lib.put()))) {
            wasLoaded = true;
            interfaces = InterfaceIds(lib.get());
        }
    }

    const ClearedTypeLib cleared = ClearTypeLibKey(libid.c_str());
    RETURN_HR_IF(SELFREG_E_TYPELIB, cleared.error != ERROR_SUCCESS);

    // Interfaces belong to the library only while no other registration of it remains loadable,
    // the other bitness's included: its marshaling needs them.
    if (wasLoaded && !cleared.otherBitnessStayed && !CanLoadRegistered(libidValue, major, minor, lcid)) {
        RETURN_HR_IF(SELFREG_E_TYPELIB, RemoveInterfaceKeys(interfaces) != ERROR_SUCCESS);
    }
    return S_OK;
}

[[nodiscard]] HRESULT RegisterTypeLibFromModule(HINSTANCE module, REFGUID libid) {
    base::ComPtr<ITypeLib> lib;
    std::wstring path;
    const HRESULT hr = LoadModuleTypeLib(module, libid, lib.put(), &path);
    RETURN_HR_IF(SELFREG_E_TYPELIB, hr == kForeignTypeLib);
    RETURN_IF_FAILED(hr);
    return ::RegisterTypeLib(lib.get(), const_cast<LPOLESTR>(path.c_str()), nullptr);
}

}  // namespace

[[nodiscard]] HRESULT UpdateControlRegistration(HINSTANCE module, const ControlRegistration& reg,
                                                BOOL add) noexcept try {
    return add ? RegisterControl(module, reg) : RemoveClass(*reg.clsid, reg.progId);
}
CATCH_RETURN()

[[nodiscard]] HRESULT UpdatePageRegistration(HINSTANCE module, const PageRegistration& reg, BOOL add) noexcept
    try {
    return add ? RegisterPage(module, reg) : RemoveClass(*reg.clsid, nullptr);
}
CATCH_RETURN()

[[nodiscard]] HRESULT RegisterModuleTypeLib(HINSTANCE module, REFGUID libid) noexcept try {
    return RegisterTypeLibFromModule(module, libid);
}
CATCH_RETURN()

[[nodiscard]] HRESULT UnregisterModuleTypeLib(REFGUID libid, WORD versionMajor, WORD versionMinor,
                                              LCID lcid) noexcept try {
    return UnregisterTypeLib(libid, versionMajor, versionMinor, lcid);
}
CATCH_RETURN()

}  // namespace activex
