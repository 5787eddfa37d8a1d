#include "activex/notify_window.h"

#include "activex/module.h"
#include "activex/window_class.h"
#include "base/hresult.h"

namespace activex {
namespace {

constexpr wchar_t kWindowClass[] = L"ActiveXNotifyWindow";
constexpr UINT kNotifyMessage = WM_APP + 1;
using WindowClass = ModuleWindowClass<kWindowClass>;

}  // namespace

LRESULT CALLBACK NotifyWindow::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
    auto* self = WindowClass::OwnerOf<NotifyWindow>(hwnd, msg, lp);
    if (msg != kNotifyMessage) return ::DefWindowProcW(hwnd, msg, wp, lp);
    if (self) {
        // Cleared first, so that what happens while the handler runs is posted anew; an exchange,
        // not a store, so that a Post that still found the flag set is ordered before the handler's
        // reads and what it announced is seen by them.
        self->pending_.exchange(false, std::memory_order_acq_rel);
        self->handler_.OnNotify();
    }
    return 0;
}

HRESULT NotifyWindow::Create() noexcept {
    VANDREL_CHECK_OWNING_THREAD(thread_);
    VANDREL_BIND_OWNING_THREAD(thread_);
    WNDCLASSEXW wc = {};
    wc.lpfnWndProc = &WindowProc;
    RETURN_IF_FAILED(WindowClass::Register(wc));
    pending_.store(false, std::memory_order_relaxed);
    HWND hwnd = ::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  Module::Instance(), this);
    RETURN_LAST_ERROR_IF(!hwnd);
    hwnd_.store(hwnd, std::memory_order_release);
    return S_OK;
}

void NotifyWindow::Destroy() noexcept {
    const HWND hwnd = hwnd_.exchange(nullptr, std::memory_order_acq_rel);
    if (!hwnd) return;
    VANDREL_CHECK_OWNING_THREAD(thread_);
    // Cut first: a message still waiting then finds no handler. Only the owning thread can destroy
    // the window; from another one (an owner released against the apartment's rules) it is asked to.
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    if (!::DestroyWindow(hwnd)) ::PostMessageW(hwnd, WM_CLOSE, 0, 0);
}

void NotifyWindow::Post() noexcept {
    if (pending_.exchange(true, std::memory_order_acq_rel)) return;
    const HWND hwnd = hwnd_.load(std::memory_order_acquire);
    // A full queue or a window gone: the next Post tries again.
    if (!hwnd || !::PostMessageW(hwnd, kNotifyMessage, 0, 0))
        pending_.store(false, std::memory_order_release);
}

}  // namespace activex
