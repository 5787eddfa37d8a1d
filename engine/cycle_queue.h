// CycleQueue: the cycles a sampler hands to a recorder, in order, for a reader that writes them all
// (engine/cycle_recorder.h). One writer, the sampling thread, never waits: when the reader has
// fallen behind by the whole capacity, a cycle is dropped and counted, and the count rides along
// with the next entry the queue takes, so the reader learns where cycles went missing. One reader
// thread takes entries out; the writer wakes it through an event once a quarter of the capacity
// waits, so that a small queue is drained long before it fills. An entry is a cycle, or the end of a
// run (which carries the drops that came after the run's last queued cycle, and that cycle's
// number). A few slots beyond the capacity are kept for ends, so that a reader that stalls across
// several Stop and Start still learns each run's losses apart; ends past those are added up, and
// ride along with the next entry as a count of cycles and of runs.
//
// Owned by the recorder. The sampler pushes through a pointer the recorder sets and clears
// (CChannelSampler::SetTap), so the queue outlives every push.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "engine/cycle_ring.h"
#include "engine/measurements.h"

namespace engine {

struct QueuedCycle {
    Cycle cycle;              // number 0: the end of a run
    MeasuredValues measured;  // the cycle's values scaled, and the alarm levels after it
    uint64_t lostBefore = 0;  // cycles of its run dropped between the entry before and this one
    uint64_t runLast = 0;     // an end: the number of its run's last cycle
    // Runs that ended before this entry when even the room kept for ends was taken, and the cycles
    // dropped at their ends.
    uint64_t endsLost = 0;
    uint64_t ends = 0;
};

// Drops the queue has not handed on in an entry: those of the run under way since its last queued
// cycle (the last of them numbered runLast), and the ends added up.
struct QueueRemainder {
    uint64_t runLost = 0;
    uint64_t runLast = 0;
    uint64_t endsLost = 0;
    uint64_t ends = 0;
};

class CycleQueue {
public:
    static constexpr size_t kEndSlots = 8;

    // Valid() tells whether the capacity could be allocated. wake, when given, is an event the
    // queue sets for its reader; the owner keeps it open as long as the queue.
    explicit CycleQueue(size_t capacity, HANDLE wake = nullptr) noexcept
        : slots_(new (std::nothrow) QueuedCycle[capacity + kEndSlots]),
          capacity_(slots_ ? capacity : 0),
          wakeAt_(capacity >= 8 ? capacity / 4 : 1),
          wake_(wake) {}
    CycleQueue(const CycleQueue&) = delete;
    CycleQueue& operator=(const CycleQueue&) = delete;

    bool Valid() const noexcept { return capacity_ > 0; }

    // Writer: a cycle, or the end of a run.
    void Push(const Cycle& cycle, const MeasuredValues& measured = {}) noexcept {
        lastOffered_ = cycle.number;
        if (Put({cycle, measured, pendingDrops_, 0, heldEndsLost_, heldEnds_}, capacity_)) {
            pendingDrops_ = 0;
        } else {
            ++pendingDrops_;
            dropped_.fetch_add(1, std::memory_order_relaxed);
        }
    }
    void EndRun() noexcept {
        if (pendingDrops_ == 0) return;
        if (!Put({Cycle{}, {}, pendingDrops_, lastOffered_, heldEndsLost_, heldEnds_},
                 capacity_ + kEndSlots)) {
            heldEndsLost_ += pendingDrops_;
            ++heldEnds_;
        }
        pendingDrops_ = 0;
    }
    // Writer, or any thread once the writer no longer pushes.
    QueueRemainder Remainder() const noexcept {
        return {pendingDrops_, lastOffered_, heldEndsLost_, heldEnds_};
    }

    // Reader: the oldest entry; false when there is none.
    bool Pop(QueuedCycle& out) noexcept {
        const uint64_t read = read_.load(std::memory_order_relaxed);
        if (read == write_.load(std::memory_order_acquire)) return false;
        out = slots_[static_cast<size_t>(read % (capacity_ + kEndSlots))];
        read_.store(read + 1, std::memory_order_release);
        return true;
    }
    // Reader: whether as much waits as makes the writer wake it.
    bool Due() const noexcept { return Taken() - NextToRead() >= wakeAt_; }

    // Any thread: the entries taken so far (the index of the next one), and the cycles dropped.
    uint64_t Taken() const noexcept { return write_.load(std::memory_order_acquire); }
    uint64_t Dropped() const noexcept { return dropped_.load(std::memory_order_relaxed); }
    // Reader: the index of the next entry Pop returns.
    uint64_t NextToRead() const noexcept { return read_.load(std::memory_order_relaxed); }

private:
    // False when as many entries wait as limit. The fill grows by one a put at most, so it meets
    // wakeAt_ on its way up whatever the reader does meanwhile.
    bool Put(const QueuedCycle& entry, size_t limit) noexcept {
        const uint64_t write = write_.load(std::memory_order_relaxed);
        const uint64_t read = read_.load(std::memory_order_acquire);
        if (write - read >= limit) return false;
        slots_[static_cast<size_t>(write % (capacity_ + kEndSlots))] = entry;
        heldEndsLost_ = 0;
        heldEnds_ = 0;
        write_.store(write + 1, std::memory_order_release);
        if (wake_ && write + 1 - read == wakeAt_) ::SetEvent(wake_);
        return true;
    }

    const std::unique_ptr<QueuedCycle[]> slots_;
    const size_t capacity_;
    const uint64_t wakeAt_;
    const HANDLE wake_;
    std::atomic<uint64_t> write_{0};
    std::atomic<uint64_t> read_{0};
    // The writer's.
    uint64_t pendingDrops_ = 0;
    uint64_t lastOffered_ = 0;
    uint64_t heldEndsLost_ = 0;  // the ends that found no room, added up
    uint64_t heldEnds_ = 0;
    std::atomic<uint64_t> dropped_{0};
};

}  // namespace engine
