#include "activex/control_window.h"

#include <utility>

#include "activex/module.h"
#include "activex/window_class.h"
#include "base/hresult.h"

namespace activex {
namespace {

constexpr wchar_t kWindowClass[] = L"ActiveXControlWindow";
using WindowClass = ModuleWindowClass<kWindowClass>;

}  // namespace

LRESULT CALLBACK ControlWindow::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
    auto* self = WindowClass::OwnerOf<ControlWindow>(hwnd, msg, lp);
    if (!self) return ::DefWindowProcW(hwnd, msg, wp, lp);
    if (msg == WM_PAINT) {
        self->OnPaint(hwnd);
        return 0;
    }
    LRESULT result = 0;
    if (self->picture_.WindowMessage(hwnd, msg, wp, lp, &result)) return result;
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}

void ControlWindow::OnPaint(HWND hwnd) noexcept {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(hwnd, &ps);
    if (!dc) return;
    RECT client;
    ::GetClientRect(hwnd, &client);
    picture_.Draw(dc, client, ps.rcPaint);
    ::EndPaint(hwnd, &ps);
}

HRESULT ControlWindow::Create(HWND parent, const RECT& pos, const RECT& clip) noexcept {
    WNDCLASSEXW wc = {};
    wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    wc.lpfnWndProc = &WindowProc;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    RETURN_IF_FAILED(WindowClass::Register(wc));
    hwnd_ = ::CreateWindowExW(0, kWindowClass, L"", WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, pos.left,
                              pos.top, pos.right - pos.left, pos.bottom - pos.top, parent, nullptr,
                              Module::Instance(), this);
    RETURN_LAST_ERROR_IF(!hwnd_);
    SetRects(pos, clip);
    return S_OK;
}

void ControlWindow::Destroy() noexcept {
    if (hwnd_) ::DestroyWindow(std::exchange(hwnd_, nullptr));
}

void ControlWindow::SetRects(const RECT& pos, const RECT& clip) noexcept {
    if (!hwnd_) return;
    ::MoveWindow(hwnd_, pos.left, pos.top, pos.right - pos.left, pos.bottom - pos.top, TRUE);
    RECT visible;
    ::IntersectRect(&visible, &pos, &clip);
    if (::EqualRect(&visible, &pos)) {
        ::SetWindowRgn(hwnd_, nullptr, TRUE);
        return;
    }
    ::OffsetRect(&visible, -pos.left, -pos.top);
    HRGN region = ::CreateRectRgnIndirect(&visible);
    // The window owns the region once it is set.
    if (region && !::SetWindowRgn(hwnd_, region, TRUE)) ::DeleteObject(region);
}

void ControlWindow::Show(bool visible) noexcept {
    if (hwnd_) ::ShowWindow(hwnd_, visible ? SW_SHOWNA : SW_HIDE);
}

bool ControlWindow::Invalidate() noexcept {
    if (!hwnd_) return false;
    ::InvalidateRect(hwnd_, nullptr, TRUE);
    return true;
}

}  // namespace activex
