// Driving a running Mirelo from another process through window messages only, as an operator's
// clicks would: find its form, click buttons, read and type into boxes. Used by the end-to-end
// test and by mirelo-drive. Any thread; every call is a cross-process SendMessage.
#pragma once

#include <windows.h>

#include <string>

#include "testtool/form_layout.h"

namespace mirelo::remote {

// The form window of process processId (0: of any process), or null.
HWND FindForm(DWORD processId = 0) noexcept;

// Waits up to timeoutMs for FindForm to find a visible form.
HWND WaitForForm(DWORD processId, DWORD timeoutMs) noexcept;

// The child window of an array element, or null.
HWND Element(HWND form, ControlArray array, int index) noexcept;

// A click as the button itself makes it (BM_CLICK); FALSE when there is no such element.
bool Click(HWND form, ControlArray array, int index) noexcept;

// The element's text (WM_GETTEXT).
std::wstring Text(HWND form, ControlArray array, int index);

// Replaces the element's text (WM_SETTEXT).
bool SetText(HWND form, ControlArray array, int index, const std::wstring& text) noexcept;

// The form's client area in screen coordinates.
RECT ClientRectOnScreen(HWND form) noexcept;

// The window that has the keyboard focus on the form's thread, or null.
HWND FocusedWindow(HWND form) noexcept;

// A key pressed and released on the focused window, as the keyboard delivers it: WM_KEYDOWN and
// WM_KEYUP posted to that window's queue, so that they pass through the form's message loop (its
// dialog keys, TranslateMessage) like typed keys. False when no window of the form has the focus.
bool PressKey(HWND form, UINT virtualKey) noexcept;

}  // namespace mirelo::remote
