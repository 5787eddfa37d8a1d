// StatusLog: the status changes of a sampler that its host has not yet taken, oldest first, so that
// a host that is busy for a while still hears every change in order, one that came and went too.
//
// A small bounded queue: a change that repeats the newest waiting status only brings that entry up
// to date, and when the queue is full the oldest entry goes, so the newest stay. Each entry carries a
// sequence number; the host peeks at the entries, tells them, and forgets those it told by number,
// so that an entry the queue dropped meanwhile cannot make it forget one it has not told.
//
// Push runs on the thread that changed the status (the sampling thread, or the host's inside Start
// and Stop); Peek and Forget on any thread. A slim lock guards the entries; it is held only to
// copy a few of them, so the sampling thread is never held up for longer than that.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "engine/sampler_status.h"

namespace engine {

struct StatusChange {
    SamplerStatus status = SamplerStatus::kStopped;
    HRESULT error = S_OK;  // the last error when the status changed
    uint64_t run = 0;      // the run it belongs to (Start begins the next one)
    uint64_t cycle = 0;    // the newest cycle of that run at the change, 0 for none
    uint64_t sequence = 0;
};

class StatusLog {
public:
    static constexpr size_t kCapacity = 16;

    StatusLog() noexcept { ::InitializeSRWLock(&lock_); }
    StatusLog(const StatusLog&) = delete;
    StatusLog& operator=(const StatusLog&) = delete;

    void Push(const StatusChange& change) noexcept;
    // Copies up to max waiting changes, oldest first; returns how many.
    size_t Peek(StatusChange* out, size_t max) const noexcept;
    // Forgets the waiting changes up to and including sequence (all of them for UINT64_MAX).
    void Forget(uint64_t sequence) noexcept;

private:
    mutable SRWLOCK lock_;
    StatusChange entries_[kCapacity];
    size_t first_ = 0;
    size_t count_ = 0;
    uint64_t lastSequence_ = 0;
};

}  // namespace engine
