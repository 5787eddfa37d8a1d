// A window class of the module's own: registered with the module's instance, so that its name is
// private to the module, when a window of it is first made, and unregistered when the module is
// unloaded from a live process. The class's name is its template argument; each class is a type
// of its own. Register may be called on any thread: the first caller to find the class missing
// registers it, and its clean-up is queued once.
#pragma once

#include <windows.h>

#include <atomic>

#include "activex/module.h"
#include "base/hresult.h"

namespace activex {

template <const wchar_t* Name>
class ModuleWindowClass {
public:
    // Registers the class as wc describes it (its size, instance and name are filled in here)
    // unless it is registered already.
    [[nodiscard]] static HRESULT Register(WNDCLASSEXW wc) noexcept {
        if (registered_) return S_OK;
        wc.cbSize = sizeof wc;
        wc.hInstance = Module::Instance();
        wc.lpszClassName = Name;
        RETURN_LAST_ERROR_IF(!::RegisterClassExW(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS);
        if (!registered_.exchange(true)) AtModuleExit(&Unregister);
        return S_OK;
    }

    // The object a window of the class was made for (CreateWindowEx's last argument), from its
    // WM_NCCREATE up to and including its WM_NCDESTROY; null outside that span and once the owner
    // has cut the window off (GWLP_USERDATA set to 0). For the class's window procedure.
    template <class Owner>
    static Owner* OwnerOf(HWND hwnd, UINT msg, LPARAM lp) noexcept {
        if (msg == WM_NCCREATE) {
            const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lp);
            ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* owner = reinterpret_cast<Owner*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (msg == WM_NCDESTROY) ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        return owner;
    }

private:
    static void Unregister() noexcept {
        ::UnregisterClassW(Name, Module::Instance());
        registered_ = false;
    }

    static inline std::atomic<bool> registered_{false};
};

}  // namespace activex
