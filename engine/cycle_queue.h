// CycleQueue: the cycles a sampler hands to a recorder, in order, for a reader that writes them all
// (engine/cycle_recorder.h). One writer, the sampling thread, never waits: when the reader has
// fallen behind by the whole capacity, a cycle is dropped and counted, and the count rides along
// with the next entry the queue takes, so the reader learns where cycles went missing. One reader
// thread takes entries out. An entry is a cycle, or the end of a run (which carries the drops that
// came after the run's last queued cycle).
//
// Owned by the recorder. The sampler pushes through a pointer the recorder sets and clears
// (CChannelSampler::SetTap), so the queue outlives every push.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "engine/cycle_ring.h"

namespace engine {

struct QueuedCycle {
    Cycle cycle;              // number 0: the end of a run
    uint64_t lostBefore = 0;  // cycles of its run dropped between the entry before and this one
    // Cycles dropped at the end of runs before, whose own end found the queue full.
    uint64_t lostAtRunEnd = 0;
};

class CycleQueue {
public:
    // Valid() tells whether the capacity could be allocated.
    explicit CycleQueue(size_t capacity) noexcept
        : slots_(new (std::nothrow) QueuedCycle[capacity]), capacity_(slots_ ? capacity : 0) {}
    CycleQueue(const CycleQueue&) = delete;
    CycleQueue& operator=(const CycleQueue&) = delete;

    bool Valid() const noexcept { return capacity_ > 0; }

    // Writer: a cycle, or the end of a run (the run's drops since its last queued cycle).
    void Push(const Cycle& cycle) noexcept { Put(cycle); }
    void EndRun() noexcept {
        if (pendingDrops_ == 0) return;
        Put(Cycle{});
        // No room for the end either: its drops go with the next entry, apart from the next run's.
        endDrops_ += pendingDrops_;
        pendingDrops_ = 0;
    }
    // Writer, or any thread once the writer no longer pushes: drops not yet handed on.
    uint64_t PendingDrops() const noexcept { return pendingDrops_ + endDrops_; }

    // Reader: the oldest entry; false when there is none.
    bool Pop(QueuedCycle& out) noexcept {
        const uint64_t read = read_.load(std::memory_order_relaxed);
        if (read == write_.load(std::memory_order_acquire)) return false;
        out = slots_[static_cast<size_t>(read % capacity_)];
        read_.store(read + 1, std::memory_order_release);
        return true;
    }

    // Any thread: the entries taken so far (the index of the next one), and the cycles dropped.
    uint64_t Taken() const noexcept { return write_.load(std::memory_order_acquire); }
    uint64_t Dropped() const noexcept { return dropped_.load(std::memory_order_relaxed); }
    // Reader: the index of the next entry Pop returns.
    uint64_t NextToRead() const noexcept { return read_.load(std::memory_order_relaxed); }

private:
    void Put(const Cycle& cycle) noexcept {
        const uint64_t write = write_.load(std::memory_order_relaxed);
        if (write - read_.load(std::memory_order_acquire) >= capacity_) {
            if (cycle.number != 0) {
                ++pendingDrops_;
                dropped_.fetch_add(1, std::memory_order_relaxed);
            }
            return;
        }
        slots_[static_cast<size_t>(write % capacity_)] = {cycle, pendingDrops_, endDrops_};
        pendingDrops_ = 0;
        endDrops_ = 0;
        write_.store(write + 1, std::memory_order_release);
    }

    const std::unique_ptr<QueuedCycle[]> slots_;
    const size_t capacity_;
    std::atomic<uint64_t> write_{0};
    std::atomic<uint64_t> read_{0};
    uint64_t pendingDrops_ = 0;  // the writer's
    uint64_t endDrops_ = 0;      // the writer's
    std::atomic<uint64_t> dropped_{0};
};

}  // namespace engine
