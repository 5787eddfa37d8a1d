// Identity of the tests' board-log helper (BoardLog.dll) and its registration for a test's duration.
#pragma once

#include <windows.h>

#include <string>

#include "activex/registry_table.h"
#include "base/unique_handle.h"

namespace testsupport {

// {5D3C8E21-7F4B-4C19-A0D6-3B2E91C4F7A8}
inline constexpr CLSID CLSID_BoardLog = {
    0x5d3c8e21, 0x7f4b, 0x4c19, {0xa0, 0xd6, 0x3b, 0x2e, 0x91, 0xc4, 0xf7, 0xa8}};
inline constexpr wchar_t kBoardLogProgId[] = L"Vandrel.BoardLog";
inline constexpr wchar_t kBoardLogClassKey[] = L"CLSID\\{5D3C8E21-7F4B-4C19-A0D6-3B2E91C4F7A8}";

// Registers BoardLog.dll at path under HKEY_CLASSES_ROOT; true on success.
inline bool RegisterBoardLog(const std::wstring& path) {
    base::UniqueHkey classKey, progId;
    if (::RegCreateKeyExW(HKEY_CLASSES_ROOT, kBoardLogClassKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                          classKey.put(), nullptr) != ERROR_SUCCESS ||
        ::RegCreateKeyExW(HKEY_CLASSES_ROOT, kBoardLogProgId, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                          progId.put(), nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const activex::RegistryEntry entries[] = {
        {classKey.get(), L"InprocServer32", path.c_str()},
        {progId.get(), L"CLSID", L"{5D3C8E21-7F4B-4C19-A0D6-3B2E91C4F7A8}"},
    };
    if (activex::WriteKeySet(entries) != ERROR_SUCCESS) return false;
    base::UniqueHkey server;
    return ::RegOpenKeyExW(classKey.get(), L"InprocServer32", 0, KEY_SET_VALUE, server.put()) ==
               ERROR_SUCCESS &&
           activex::SetStringValue(server.get(), L"ThreadingModel", L"Apartment") == ERROR_SUCCESS;
}

}  // namespace testsupport
