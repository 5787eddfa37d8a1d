// The notify window's thread checks, compiled in for this program (VANDREL_THREAD_CHECKS=1) whatever
// the build type: a call that belongs on the owning thread but comes from another is reported to
// the failure hook; Post, the one call for any thread, never is.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <thread>

#include "activex/notify_window.h"
#include "base/hresult.h"
#include "tests/support/hresult_matchers.h"

#if !VANDREL_THREAD_CHECKS
#error "this program tests the thread checks: build it with VANDREL_THREAD_CHECKS=1"
#endif

namespace {

std::atomic<int> g_wrongThread{0};

void Record(HRESULT hr, const char*, const char*, int) noexcept {
    if (hr == RPC_E_WRONG_THREAD) ++g_wrongThread;
}

class Handler final : public activex::NotifyWindow::Handler {
public:
    DWORD thread = 0;
    void OnNotify() noexcept override { thread = ::GetCurrentThreadId(); }
};

void PumpMessages() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
}

}  // namespace

// Post from another thread is not reported (a check that flagged it would bury real misuse).
// Destroy from another thread (an owner released against its apartment's rules) is, and still asks
// the window to close on its own thread; a Create on another thread is, and that thread owns the
// window from then on.
TEST(NotifyWindowChecks, OnlyCallsOffTheOwningThreadOtherThanPostAreReported) {
    const base::FailureOriginHook previous = base::SetFailureOriginHook(&Record);
    Handler handler;
    activex::NotifyWindow window(handler);
    ASSERT_HR(S_OK, window.Create());
    std::thread([&] { window.Post(); }).join();
    PumpMessages();
    EXPECT_EQ(::GetCurrentThreadId(), handler.thread);
    EXPECT_EQ(0, g_wrongThread.load());

    std::thread([&] { window.Destroy(); }).join();
    EXPECT_EQ(1, g_wrongThread.load()) << "Destroy on another thread";
    PumpMessages();
    std::thread([&] {
        EXPECT_HR(S_OK, window.Create());
        window.Destroy();
    }).join();
    EXPECT_EQ(2, g_wrongThread.load()) << "Create on another thread; its own Destroy is not";
    base::SetFailureOriginHook(previous);
}
