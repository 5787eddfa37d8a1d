// The class name and text of a window, for tests that look at windows.
#pragma once

#include <windows.h>

#include <string>

namespace testsupport {

inline std::wstring ClassOf(HWND hwnd) {
    wchar_t name[64] = {};
    ::GetClassNameW(hwnd, name, 64);
    return name;
}

inline std::wstring TextOf(HWND hwnd) {
    wchar_t text[256] = {};
    ::GetWindowTextW(hwnd, text, 256);
    return text;
}

}  // namespace testsupport
