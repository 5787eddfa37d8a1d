// Where a COM class is registered, seen from this process: on 64-bit Windows the class keys live
// once per registry view (64-bit and 32-bit), and a process sees only its own bitness's view by
// default. Plain functions; any thread.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <string>

#include "base/text.h"
#include "base/unique_handle.h"

namespace base {

// Whether this is a 32-bit process on 64-bit Windows.
inline bool IsWow64Process() noexcept {
    BOOL wow64 = FALSE;
    return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
}

// The registry view of the other bitness, or 0 on 32-bit Windows, which has a single view.
inline REGSAM OtherRegistryView() noexcept {
    if (sizeof(void*) == 8) return KEY_WOW64_32KEY;
    return IsWow64Process() ? KEY_WOW64_64KEY : 0;
}

// The bitness the other view serves, for messages: 32 or 64.
inline int OtherBitness() noexcept { return sizeof(void*) == 8 ? 32 : 64; }
inline int OwnBitness() noexcept { return sizeof(void*) == 8 ? 64 : 32; }

// Whether clsid has an in-process server registered in the given view (0: this process's own).
inline bool HasInprocServer(REFCLSID clsid, REGSAM view) {
    const std::wstring text = GuidText(clsid);
    if (text.empty()) return false;
    const std::wstring path = L"CLSID\\" + text + L"\\InprocServer32";
    UniqueHkey key;
    return ::RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ | view, key.put()) == ERROR_SUCCESS;
}

// Whether a class that this process cannot create is registered for the other bitness only.
inline bool RegisteredForOtherBitnessOnly(REFCLSID clsid) {
    const REGSAM other = OtherRegistryView();
    return other != 0 && !HasInprocServer(clsid, 0) && HasInprocServer(clsid, other);
}

// The CLSID that progId names in the given view; false when it names none.
inline bool ClsidOfProgId(const wchar_t* progId, REGSAM view, CLSID* clsid) {
    UniqueHkey key;
    if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, (std::wstring(progId) + L"\\CLSID").c_str(), 0, KEY_READ | view,
                        key.put()) != ERROR_SUCCESS) {
        return false;
    }
    wchar_t text[64] = {};
    DWORD bytes = sizeof text - sizeof(wchar_t);
    if (::RegQueryValueExW(key.get(), nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &bytes) !=
        ERROR_SUCCESS) {
        return false;
    }
    return SUCCEEDED(::CLSIDFromString(text, clsid));
}

}  // namespace base
