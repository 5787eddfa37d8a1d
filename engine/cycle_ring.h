// CycleRing: the last N complete cycles of one sampler, for a reader that wants every cycle whole.
//
// One writer, the sampling thread, publishes cycles in number order; one reader, the host's thread,
// does everything else. The writer never waits and allocates nothing: each slot is a small sequence
// lock (the slot's cycle number, cleared while the slot is rewritten, checked by the reader before
// and after its copy), so a reader gets all of one cycle or learns that the cycle was overwritten,
// which it then counts as lost. There is one slot more than the capacity, so the newest N cycles
// stay intact while the next one is being written.
//
// Buffers are allocated and freed on the host's thread only. Resize hands a new buffer over; the
// writer adopts it at its next Publish (copying the newest cycles into it, once) and leaves the old
// one for the host to free on its next call. Settle and Reset are for times when no writer runs.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace engine {

// One complete cycle as the board delivered it.
struct Cycle {
    uint64_t number = 0;     // 1 for the first complete cycle after Start
    uint64_t time = 0;       // when it completed: UTC in FILETIME units (100 ns since 1601), whole ms
    int32_t channels = 0;    // the channel count it was read with: 1, 4 or 8
    int16_t values[8] = {};  // decoded values of channels 0 .. channels-1; 0 beyond
};

// What a Peek found: count cycles copied, and the cycles overwritten unread before the first of
// them. Take takes exactly these.
struct ReadBatch {
    size_t count = 0;
    uint64_t lost = 0;
    uint64_t next = 0;  // the cycle after the batch
};

// The buffer sizes a sampler takes, in cycles. 100,000 cycles are 100 s at 1,000 cycles a second
// and 4 MB.
inline constexpr size_t kDefaultBufferCycles = 1000;
inline constexpr size_t kMinBufferCycles = 1;
inline constexpr size_t kMaxBufferCycles = 100000;

class CycleRing {
public:
    CycleRing() noexcept = default;
    ~CycleRing();
    CycleRing(const CycleRing&) = delete;
    CycleRing& operator=(const CycleRing&) = delete;

    // Writer. cycle.number is Newest() + 1.
    void Publish(const Cycle& cycle) noexcept;

    // The newest published cycle number since the last Reset, 0 for none. Any thread.
    uint64_t Newest() const noexcept { return newest_.load(std::memory_order_acquire); }

    // Host: asks for a buffer of capacity cycles (E_INVALIDARG outside the range, E_OUTOFMEMORY).
    // A running writer adopts it with its next cycle; until then reads see the old capacity.
    [[nodiscard]] HRESULT Resize(size_t capacity) noexcept;
    // Host: the capacity last asked for; 0 before the first Resize.
    size_t Capacity() const noexcept { return capacity_; }
    // Host, no writer running: adopts a buffer Resize handed over, keeping the newest cycles.
    void Settle() noexcept;
    // Host, no writer running: settles, then forgets every cycle; numbering starts over.
    void Reset() noexcept;

    // Host: copies the newest cycle; false when there is none.
    bool ReadNewest(Cycle& out) noexcept;
    // Host: how many cycles a Drain could return now.
    size_t Unread() noexcept;
    // Host: copies up to max unread cycles oldest-first without taking them; a reader that could
    // not keep them (no memory for its result) leaves them unread by not calling Take. The batch's
    // cycles follow each other without a gap; all its losses lie before the first.
    ReadBatch Peek(Cycle* out, size_t max) noexcept;
    // Host: takes what the last Peek found: its cycles count as delivered, its losses as reported.
    void Take(const ReadBatch& batch) noexcept;
    // Host: Peek and Take in one; lost receives the losses reported.
    size_t Drain(Cycle* out, size_t max, uint64_t& lost) noexcept;

    // Host, since the last Reset: the cycles taken, and the cycles lost unread, both those reported
    // and those overwritten that no Take has reported yet.
    uint64_t Delivered() const noexcept { return delivered_; }
    uint64_t Lost() noexcept;

private:
    // A cycle in atomics, so that a reader's copy racing the writer is no data race; number is the
    // sequence word: the cycle held, or 0 while empty or being rewritten.
    struct Slot {
        std::atomic<uint64_t> number{0};
        std::atomic<uint64_t> time{0};
        std::atomic<uint64_t> values[2] = {};  // four 16-bit values each, channel 0 lowest
        std::atomic<int32_t> channels{0};
    };
    struct Buffer {
        size_t capacity = 0;  // cycles kept; there are capacity + 1 slots
        std::unique_ptr<Slot[]> slots;
        Slot& SlotOf(uint64_t number) const noexcept {
            return slots[static_cast<size_t>(number % (capacity + 1))];
        }
    };

    static bool ReadSlot(const Buffer& buffer, uint64_t number, Cycle& out) noexcept;
    // Copies the newest cycles up to newest that both buffers can hold; `to` is not yet shared.
    static void CopyNewest(const Buffer& from, Buffer& to, uint64_t newest) noexcept;
    void FreeRetired() noexcept;

    // Shared with the writer.
    std::atomic<uint64_t> newest_{0};
    std::atomic<Buffer*> active_{nullptr};
    std::atomic<Buffer*> pending_{nullptr};  // handed over by Resize, taken by the writer
    std::atomic<Buffer*> retired_{nullptr};  // left by the writer, freed by the host

    // The host's alone.
    size_t capacity_ = 0;
    uint64_t next_ = 1;  // the oldest cycle the reader has not had
    uint64_t delivered_ = 0;
    uint64_t lostReported_ = 0;
};

}  // namespace engine
