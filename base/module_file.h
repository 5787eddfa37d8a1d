// The file a loaded module was loaded from, whatever the length of its path. Any thread.
#pragma once

#include <windows.h>

#include <string>

namespace base {

// The full file name of module (null: the program); empty when it cannot be had whole, since a cut
// path names another file or none. Throws std::bad_alloc.
inline std::wstring ModuleFileName(HMODULE module) {
    constexpr size_t kLongestPath = 32768;  // UNICODE_STRING's limit, "\\?\" paths included
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        if (path.size() >= kLongestPath) return {};
        path.resize(path.size() * 2);
    }
}

}  // namespace base
