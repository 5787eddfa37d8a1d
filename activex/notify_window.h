// A message-only window through which any thread asks the thread that made it to run a handler
// there, from that thread's message loop. Requests coalesce: Post sends a message only when none is
// waiting, so a burst of posts is one call of the handler, and a thread that never pumps messages
// has at most one waiting. No message goes out while nobody posts.
//
// Made, destroyed and handled on its owning thread; Post on any thread. A Post racing with Destroy
// is harmless: the message goes to no window, or to one that ignores it. Destroy called on another
// thread detaches the handler at once and leaves the window for its own thread to close.
//
// Where thread checks are compiled in (base/thread_check.h), Create on another thread than an
// earlier Create, and Destroy of a window on another thread than its Create, are reported. The
// handler needs no check: Windows runs a window's procedure only on the thread that made it.
#pragma once

#include <windows.h>

#include <atomic>

#include "base/thread_check.h"

namespace activex {

class NotifyWindow {
public:
    class Handler {
    public:
        // On the owning thread, once per message; a Post during the call sends a new message.
        virtual void OnNotify() noexcept = 0;

    protected:
        ~Handler() = default;
    };

    explicit NotifyWindow(Handler& handler) noexcept : handler_(handler) {}
    ~NotifyWindow() { Destroy(); }
    NotifyWindow(const NotifyWindow&) = delete;
    NotifyWindow& operator=(const NotifyWindow&) = delete;

    // Makes the window on the calling thread, which becomes the owning thread.
    [[nodiscard]] HRESULT Create() noexcept;
    void Destroy() noexcept;

    // Any thread.
    void Post() noexcept;

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept;

    Handler& handler_;
    std::atomic<HWND> hwnd_{nullptr};
    std::atomic<bool> pending_{false};
    base::OwningThread thread_;  // the thread of Create
};

}  // namespace activex
