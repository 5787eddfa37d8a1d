// Registry entries as data: a key set is a table of default string values written in one loop,
// and removal treats a key that is already gone as removed. Used by self-registration on the
// thread of DllRegisterServer/DllUnregisterServer; the caller owns every key handle it passes.
#pragma once

#include <windows.h>

#include <cstddef>

namespace activex {

// One entry of a key set: the default string value of subkey below key ("" names key itself).
struct RegistryEntry {
    HKEY key;
    const wchar_t* subkey;
    const wchar_t* value;
};

// Writes the entries in table order, replacing what is there; the first write that fails ends the
// set. Returns ERROR_SUCCESS or the error of that write.
LONG WriteKeySet(const RegistryEntry* entries, size_t count) noexcept;

template <size_t N>
LONG WriteKeySet(const RegistryEntry (&entries)[N]) noexcept {
    return WriteKeySet(entries, N);
}

// Sets the named string value (stored with its terminator).
LONG SetStringValue(HKEY key, const wchar_t* name, const wchar_t* value) noexcept;

// Deletes subkey of key with everything below it. A key that is already absent counts as deleted.
// An empty or null subkey is refused (ERROR_INVALID_PARAMETER): it would name key itself and
// wipe all that lies below it.
LONG DeleteKeyTree(HKEY key, const wchar_t* subkey) noexcept;

// Whether subkey of key exists (can be opened for reading); view may name a registry view
// (KEY_WOW64_32KEY, KEY_WOW64_64KEY).
bool KeyExists(HKEY key, const wchar_t* subkey, REGSAM view = 0) noexcept;

}  // namespace activex
