// The file a loaded module was loaded from, whatever the length of its path, files beside the
// program, and the full path of a file name. Any thread.
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

// The path of a file beside this program; empty when the program's own cannot be had.
inline std::wstring BesideProgram(const wchar_t* name) {
    const std::wstring self = ModuleFileName(nullptr);
    if (self.empty()) return {};
    return self.substr(0, self.find_last_of(L'\\') + 1) + name;
}

// name as a full path, a relative one taken from the current folder (which another thread may
// change meanwhile); empty when the system cannot make one of it. Throws std::bad_alloc.
inline std::wstring FullPath(const std::wstring& name) {
    std::wstring full(MAX_PATH, L'\0');
    DWORD n = ::GetFullPathNameW(name.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n > full.size()) {
        full.resize(n);
        n = ::GetFullPathNameW(name.c_str(), n, full.data(), nullptr);
    }
    if (n == 0 || n > full.size()) return {};
    full.resize(n);
    return full;
}

}  // namespace base
