// Failing fast in test programs. A step that hangs (a stop request that never arrives, a thread that
// never ends) ends the program under a watchdog with a message naming the test within seconds,
// instead of running into the CTest time-out with nothing said. A crash ends it with a message
// instead of waking Wine's debugger. A helper whose result the rest of a test needs (a created
// object, an interface) ends the test when it cannot deliver, as an ASSERT would.
//
// A Watchdog is armed by its constructor and disarmed by its destructor, both on the test's thread;
// its own thread only waits and, when the time is up, reports and ends the process. The process is
// ended at once (TerminateProcess): the hung thread may hold a lock that an orderly exit would need.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

#include "base/unique_handle.h"

namespace testsupport {

// How long a sampler's Stop may take before the test counts as hung: a stop is answered within one
// status poll or one wait, so seconds mean it never will be.
inline constexpr DWORD kStopLimitMs = 5000;

class Watchdog {
public:
    Watchdog(const char* what, DWORD limitMs) : limitMs_(limitMs) {
        const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
        message_ = std::string("watchdog: ") + what + " did not finish within " + std::to_string(limitMs) +
                   " ms" + (test ? std::string(" in ") + test->test_suite_name() + "." + test->name() : "") +
                   "; the test program is ended\n";
        disarmed_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (disarmed_) thread_.reset(::CreateThread(nullptr, 0, &Watch, this, 0, nullptr));
        if (!thread_) ADD_FAILURE() << "the watchdog could not be armed";
    }
    ~Watchdog() {
        if (!thread_) return;
        ::SetEvent(disarmed_.get());
        ::WaitForSingleObject(thread_.get(), INFINITE);
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    static DWORD WINAPI Watch(LPVOID param) noexcept {
        auto* self = static_cast<Watchdog*>(param);
        if (::WaitForSingleObject(self->disarmed_.get(), self->limitMs_) == WAIT_OBJECT_0) return 0;
        std::fflush(stdout);
        std::fputs(self->message_.c_str(), stderr);
        std::fflush(stderr);
        ::TerminateProcess(::GetCurrentProcess(), 3);
        return 0;
    }

    const DWORD limitMs_;
    std::string message_;
    base::UniqueEvent disarmed_;
    base::UniqueThread thread_;
};

// Runs step under a watchdog of limitMs.
template <typename Step>
void WithinMs(DWORD limitMs, const char* what, Step&& step) {
    Watchdog dog(what, limitMs);
    step();
}

// Ends the test that calls it, from any helper (gtest reports the exception as a failure of the
// test and goes on with the next one). For helpers that return a value, where ASSERT cannot be used.
[[noreturn]] inline void EndTest(const std::string& why) {
    ADD_FAILURE() << why;
    throw std::runtime_error("precondition failed: " + why);
}

namespace detail {

inline LONG WINAPI ReportCrash(EXCEPTION_POINTERS* info) noexcept {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::fflush(stdout);
    std::fprintf(stderr, "crash: exception 0x%08lX at %p in %s.%s; the test program is ended\n",
                 info && info->ExceptionRecord ? info->ExceptionRecord->ExceptionCode : 0UL,
                 info && info->ExceptionRecord ? info->ExceptionRecord->ExceptionAddress : nullptr,
                 test ? test->test_suite_name() : "?", test ? test->name() : "?");
    std::fflush(stderr);
    ::TerminateProcess(::GetCurrentProcess(), 4);
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace detail

// A watchdog over every test of the program (one that runs longer than limitMs ends it), and a
// crash report in place of the debugger. Call it from main, or from a namespace-scope initialiser
// (const bool x = WatchEveryTest(...)) in a program whose main is shared.
inline bool WatchEveryTest(DWORD limitMs) {
    ::SetUnhandledExceptionFilter(&detail::ReportCrash);
    class Listener : public testing::EmptyTestEventListener {
    public:
        explicit Listener(DWORD limitMs) : limitMs_(limitMs) {}
        void OnTestStart(const testing::TestInfo&) override {
            dog_ = std::make_unique<Watchdog>("the test", limitMs_);
        }
        void OnTestEnd(const testing::TestInfo&) override { dog_.reset(); }

    private:
        const DWORD limitMs_;
        std::unique_ptr<Watchdog> dog_;
    };
    testing::UnitTest::GetInstance()->listeners().Append(new Listener(limitMs));
    return true;
}

}  // namespace testsupport
