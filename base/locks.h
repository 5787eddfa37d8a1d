// Scoped holders of the two user-mode locks the project uses; each is taken by its constructor and
// released by its destructor on the same thread.
#pragma once

#include <windows.h>

namespace base {

template <typename Lock, void(WINAPI* Acquire)(Lock*), void(WINAPI* Release)(Lock*)>
class ScopedLock {
public:
    explicit ScopedLock(Lock& lock) noexcept : lock_(lock) { Acquire(&lock_); }
    ~ScopedLock() { Release(&lock_); }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    Lock& lock_;
};

using SrwExclusiveLock = ScopedLock<SRWLOCK, &::AcquireSRWLockExclusive, &::ReleaseSRWLockExclusive>;
using SrwSharedLock = ScopedLock<SRWLOCK, &::AcquireSRWLockShared, &::ReleaseSRWLockShared>;
using CriticalSectionLock = ScopedLock<CRITICAL_SECTION, &::EnterCriticalSection, &::LeaveCriticalSection>;

}  // namespace base
