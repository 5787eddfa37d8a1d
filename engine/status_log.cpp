#include "engine/status_log.h"

#include "base/locks.h"

namespace engine {

void StatusLog::Push(const StatusChange& change) noexcept {
    base::SrwExclusiveLock hold(lock_);
    if (count_ > 0) {
        StatusChange& newest = entries_[(first_ + count_ - 1) % kCapacity];
        if (newest.status == change.status) {
            const uint64_t sequence = newest.sequence;
            newest = change;
            newest.sequence = sequence;
            return;
        }
    }
    if (count_ == kCapacity) {
        first_ = (first_ + 1) % kCapacity;
        --count_;
    }
    StatusChange& entry = entries_[(first_ + count_) % kCapacity];
    entry = change;
    entry.sequence = ++lastSequence_;
    ++count_;
}

size_t StatusLog::Peek(StatusChange* out, size_t max) const noexcept {
    base::SrwExclusiveLock hold(lock_);
    size_t n = 0;
    for (; n < count_ && n < max; ++n) out[n] = entries_[(first_ + n) % kCapacity];
    return n;
}

void StatusLog::Forget(uint64_t sequence) noexcept {
    base::SrwExclusiveLock hold(lock_);
    while (count_ > 0 && entries_[first_].sequence <= sequence) {
        first_ = (first_ + 1) % kCapacity;
        --count_;
    }
}

}  // namespace engine
