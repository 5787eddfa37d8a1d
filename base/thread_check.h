// A check, in the manner of an assertion, that an object meant for one thread is called on it: a
// call on another thread is reported to the failure hook (base/hresult.h) as RPC_E_WRONG_THREAD with
// the caller's file and line, which a debug build's hook writes to the debugger's output. The object
// goes on as it would without the check.
//
// VANDREL_THREAD_CHECKS says whether the checks are compiled in: 1 in a build without NDEBUG, and in
// any build that defines it as 1 (the test program that exercises them); 0 otherwise, where
// VANDREL_BIND_OWNING_THREAD and VANDREL_CHECK_OWNING_THREAD compile to nothing. A class keeps its
// OwningThread member either way, so that it is laid out the same whatever a program defines.
//
// An OwningThread is bound on the thread that becomes its owner; any thread may check it.
#pragma once

#include <windows.h>

#include <atomic>

#include "base/hresult.h"

#ifndef VANDREL_THREAD_CHECKS
#ifdef NDEBUG
#define VANDREL_THREAD_CHECKS 0
#else
#define VANDREL_THREAD_CHECKS 1
#endif
#endif

namespace base {

class OwningThread {
public:
    // Makes the calling thread the owner.
    void Bind() noexcept { id_.store(::GetCurrentThreadId(), std::memory_order_relaxed); }
    // Whether the calling thread is the owner, or none is bound yet (no thread has id 0).
    bool IsCurrent() const noexcept {
        const DWORD id = id_.load(std::memory_order_relaxed);
        return id == 0 || id == ::GetCurrentThreadId();
    }

private:
    std::atomic<DWORD> id_{0};
};

}  // namespace base

#if VANDREL_THREAD_CHECKS
#define VANDREL_BIND_OWNING_THREAD(owner) (owner).Bind()
#define VANDREL_CHECK_OWNING_THREAD(owner) \
    ((owner).IsCurrent() ? (void)0         \
                         : (void)VANDREL_FAILURE_ORIGIN_(RPC_E_WRONG_THREAD, "not on the owning thread"))
#else
#define VANDREL_BIND_OWNING_THREAD(owner)  ((void)0)
#define VANDREL_CHECK_OWNING_THREAD(owner) ((void)0)
#endif
