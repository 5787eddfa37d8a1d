#include "testtool/remote.h"

namespace mirelo::remote {
namespace {

struct FindRequest {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK MatchForm(HWND hwnd, LPARAM param) noexcept {
    auto* request = reinterpret_cast<FindRequest*>(param);
    wchar_t cls[64];
    if (!::GetClassNameW(hwnd, cls, 64) || ::lstrcmpW(cls, kFormClassName) != 0) return TRUE;
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hwnd, &pid);
    if (request->processId != 0 && pid != request->processId) return TRUE;
    request->found = hwnd;
    return FALSE;
}

}  // namespace

HWND FindForm(DWORD processId) noexcept {
    FindRequest request{processId, nullptr};
    ::EnumWindows(&MatchForm, reinterpret_cast<LPARAM>(&request));
    return request.found;
}

HWND WaitForForm(DWORD processId, DWORD timeoutMs) noexcept {
    const ULONGLONG end = ::GetTickCount64() + timeoutMs;
    for (;;) {
        HWND form = FindForm(processId);
        if (form && ::IsWindowVisible(form)) return form;
        if (::GetTickCount64() >= end) return nullptr;
        ::Sleep(50);
    }
}

HWND Element(HWND form, ControlArray array, int index) noexcept {
    if (index < 0 || index >= 0x100) return nullptr;
    return ::GetDlgItem(form, ControlId(array, index));
}

bool Click(HWND form, ControlArray array, int index) noexcept {
    HWND button = Element(form, array, index);
    if (!button) return false;
    ::SendMessageW(button, BM_CLICK, 0, 0);
    return true;
}

std::wstring Text(HWND form, ControlArray array, int index) {
    HWND element = Element(form, array, index);
    if (!element) return {};
    const LRESULT length = ::SendMessageW(element, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const LRESULT got =
        ::SendMessageW(element, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(got));
    return text;
}

bool SetText(HWND form, ControlArray array, int index, const std::wstring& text) noexcept {
    HWND element = Element(form, array, index);
    return element && ::SendMessageW(element, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str())) != 0;
}

RECT ClientRectOnScreen(HWND form) noexcept {
    RECT r{};
    ::GetClientRect(form, &r);
    ::MapWindowPoints(form, nullptr, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

HWND FocusedWindow(HWND form) noexcept {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(form, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

bool PressKey(HWND form, UINT virtualKey) noexcept {
    HWND focus = FocusedWindow(form);
    if (!focus || (focus != form && !::IsChild(form, focus))) return false;
    const UINT scan = ::MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC);
    const LPARAM down = 1 | static_cast<LPARAM>(scan) << 16;
    const LPARAM up = down | static_cast<LPARAM>(0xC0000000u);
    return ::PostMessageW(focus, WM_KEYDOWN, virtualKey, down) &&
           ::PostMessageW(focus, WM_KEYUP, virtualKey, up);
}

}  // namespace mirelo::remote
