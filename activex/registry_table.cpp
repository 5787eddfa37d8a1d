#include "activex/registry_table.h"

#include <cwchar>

#include "base/unique_handle.h"

namespace activex {

LONG SetStringValue(HKEY key, const wchar_t* name, const wchar_t* value) noexcept {
    const DWORD bytes = static_cast<DWORD>((std::wcslen(value) + 1) * sizeof(wchar_t));
    return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), bytes);
}

LONG WriteKeySet(const RegistryEntry* entries, size_t count) noexcept {
    for (size_t i = 0; i < count; ++i) {
        const RegistryEntry& e = entries[i];
        LONG error;
        if (e.subkey[0] == L'\0') {
            error = SetStringValue(e.key, nullptr, e.value);
        } else {
            base::UniqueHkey sub;
            error = ::RegCreateKeyExW(e.key, e.subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                                      nullptr, sub.put(), nullptr);
            if (error == ERROR_SUCCESS) error = SetStringValue(sub.get(), nullptr, e.value);
        }
        if (error != ERROR_SUCCESS) return error;
    }
    return ERROR_SUCCESS;
}

LONG DeleteKeyTree(HKEY key, const wchar_t* subkey) noexcept {
    if (!subkey || subkey[0] == L'\0') return ERROR_INVALID_PARAMETER;
    const LONG error = ::RegDeleteTreeW(key, subkey);
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ERROR_SUCCESS : error;
}

bool KeyExists(HKEY key, const wchar_t* subkey, REGSAM view) noexcept {
    base::UniqueHkey opened;
    return ::RegOpenKeyExW(key, subkey, 0, KEY_READ | view, opened.put()) == ERROR_SUCCESS;
}

}  // namespace activex
