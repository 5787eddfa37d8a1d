// RunHealth: how well a run keeps its pace, from the performance counter at each cycle: the rate
// over the last kRateCycles cycles, the longest gap between two consecutive cycles and the gap that
// 99 of 100 of the last GapWindow::kGaps stay within; and the cycle attempts that failed.
//
// The sampling thread notes each cycle and each failed attempt; any thread reads the figures, which
// are atomics, but for the last gaps, which a lock guards. Reset runs while no sampling thread does
// (in Start, before the thread runs).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include <windows.h>

#include "base/locks.h"
#include "engine/pace_rules.h"

namespace engine {

class RunHealth {
public:
    static constexpr size_t kRateCycles = 100;

    // frequency: the counter's counts a second.
    void Reset(int64_t frequency) noexcept {
        cycles_ = 0;
        rate_.store(0, std::memory_order_relaxed);
        longestGapMs_.store(0, std::memory_order_relaxed);
        failed_.store(0, std::memory_order_relaxed);
        const base::SrwExclusiveLock lock(gapsLock_);
        frequency_ = frequency > 0 ? frequency : 1;
        gaps_.Clear();
    }

    // Sampling thread: a cycle was published when the counter read counter.
    void NoteCycle(int64_t counter) noexcept {
        const uint64_t number = ++cycles_;
        int64_t& slot = recent_[number % kRateCycles];
        if (number >= 2) {
            const int64_t gap = counter - recent_[(number - 1) % kRateCycles];
            {
                const base::SrwExclusiveLock lock(gapsLock_);
                gaps_.Add(gap);
            }
            const uint64_t gapMs =
                gap > 0 ? (static_cast<uint64_t>(gap) * 1000u + static_cast<uint64_t>(frequency_) / 2) /
                              static_cast<uint64_t>(frequency_)
                        : 0;
            if (gapMs > longestGapMs_.load(std::memory_order_relaxed)) {
                longestGapMs_.store(gapMs > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(gapMs),
                                    std::memory_order_relaxed);
            }
            // The slot still holds the cycle kRateCycles before this one, once there is one; until
            // then the span starts at the run's first cycle.
            const uint64_t span = number > kRateCycles ? kRateCycles : number - 1;
            const int64_t from = number > kRateCycles ? slot : recent_[1 % kRateCycles];
            if (counter > from) {
                const double rate = static_cast<double>(span) * static_cast<double>(frequency_) /
                                    static_cast<double>(counter - from);
                uint64_t bits;
                std::memcpy(&bits, &rate, sizeof bits);
                rate_.store(bits, std::memory_order_relaxed);
            }
        }
        slot = counter;
    }

    // Sampling thread: an attempt failed.
    void NoteFailure() noexcept { failed_.fetch_add(1, std::memory_order_relaxed); }

    // Cycles a second over the last kRateCycles cycles of the run; 0 before its second cycle.
    double Rate() const noexcept {
        const uint64_t bits = rate_.load(std::memory_order_relaxed);
        double rate;
        std::memcpy(&rate, &bits, sizeof rate);
        return rate;
    }
    uint32_t LongestGapMs() const noexcept { return longestGapMs_.load(std::memory_order_relaxed); }
    uint64_t FailedAttempts() const noexcept { return failed_.load(std::memory_order_relaxed); }
    // The gap between cycles that 99 of 100 of the last GapWindow::kGaps stay within, in
    // milliseconds; 0 before the run's second cycle.
    double GapPercentile99Ms() const noexcept {
        GapWindow gaps;
        int64_t frequency;
        {
            const base::SrwSharedLock lock(gapsLock_);
            gaps = gaps_;
            frequency = frequency_;
        }
        return static_cast<double>(gaps.Percentile(99)) * 1000.0 / static_cast<double>(frequency);
    }

private:
    // The sampling thread's own; frequency_ also the readers', under the lock.
    int64_t frequency_ = 1;
    uint64_t cycles_ = 0;
    int64_t recent_[kRateCycles] = {};  // the counter at the last cycles, by number

    std::atomic<uint64_t> rate_{0};  // a double's bits (0.0 is all zero)
    std::atomic<uint32_t> longestGapMs_{0};
    std::atomic<uint64_t> failed_{0};
    mutable SRWLOCK gapsLock_ = SRWLOCK_INIT;
    GapWindow gaps_;
};

}  // namespace engine
