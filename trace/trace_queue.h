// trace::Queue: the bounded first-in first-out queue of trace messages and its lock.
//
// Any number of posting threads call Push; exactly one writer thread calls Take, Release, Park and
// QueuePendingDrops. Texts are copied into blocks that the queue keeps for reuse, so a post makes
// no allocation of its own: a short text is copied under the lock into the newest block, and a
// new block is needed only when the spare ones are used up. A text longer than kLongText gets a
// block of its own, which the poster fills before it takes the lock (NewLongEntry, PushLong).
//
// The writer takes everything queued at once (a Batch) and outputs it without the lock. The
// entries of a batch keep counting towards the bound until the writer releases the batch, so the
// bound limits the memory held exactly as when entries left one by one.
//
// The bound keeps a poster that outpaces the writer from growing the queue without end. A post that
// finds the queue full is dropped and counted; the next post that finds room first queues one line
// that says how many were dropped, then itself (so the queue may hold limit + 1 entries). So a
// message is never dropped while there is room, and a reader of the output sees where messages are
// missing and how many.
//
// Waking: the writer parks (Park, then waits for its event) only after it has found the queue
// empty, and a post tells its caller to signal the writer only when it finds the writer parked.
// Both look under the lock, so a post either lands before the writer's look, which then does not
// park, or finds the writer parked; a writer that is awake costs posters no signal.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace trace {

// One queued message inside a block: this header, then length characters and a zero.
struct Record {
    DWORD length;   // characters of text, without the terminating zero
    int attribute;  // console attribute; only the low 16 bits reach the console
    const char* Text() const noexcept { return reinterpret_cast<const char*>(this + 1); }
    char* Text() noexcept { return reinterpret_cast<char*>(this + 1); }
};

// A piece of queue memory holding records back to back.
struct Block {
    Block* next;
    size_t capacity;  // bytes of records
    size_t used;
    char* Data() noexcept { return reinterpret_cast<char*>(this + 1); }
    const char* Data() const noexcept { return reinterpret_cast<const char*>(this + 1); }
};

// Bytes a record of length characters takes in a block, padding included; 0 when too long.
size_t RecordBytes(size_t length) noexcept;

// Entries taken out by the writer, oldest first. Visit calls fn(const Record&) for each.
struct Batch {
    Block* blocks = nullptr;
    size_t count = 0;      // entries, drop lines included
    uint64_t lastSeq = 0;  // sequence number of the newest entry in the batch
    bool Empty() const noexcept { return count == 0; }
    template <typename Fn>
    void Visit(Fn&& fn) const noexcept {
        for (const Block* b = blocks; b; b = b->next) {
            for (size_t at = 0; at < b->used;) {
                const auto* r = reinterpret_cast<const Record*>(b->Data() + at);
                fn(*r);
                at += RecordBytes(r->length);
            }
        }
    }
};

// A long text's own block, filled by the poster before PushLong. Null block: out of memory.
struct LongEntry {
    Block* block = nullptr;
    char* text = nullptr;  // room for the length given and a zero, which is already there
};

class Queue {
public:
    // Attribute of the line that reports dropped messages.
    static constexpr int kDropLineAttribute = 14;
    // Longer texts get a block of their own; shorter ones share the queue's blocks.
    static constexpr size_t kLongText = 4096;
    // Size of a shared block, and how many emptied ones the queue keeps for reuse.
    static constexpr size_t kBlockBytes = 64 * 1024;
    static constexpr int kSpareBlocks = 4;

    explicit Queue(size_t limit) noexcept;
    ~Queue();  // frees what is still queued; no thread may use the queue any more
    Queue(const Queue&) = delete;
    Queue& operator=(const Queue&) = delete;

    // Poster side, any thread. Queues a copy of text, or counts it as dropped when limit entries
    // are waiting or no memory is left. True when the writer was parked: the caller signals it.
    bool Push(const char* text, size_t length, int attribute) noexcept;
    static LongEntry NewLongEntry(size_t length, int attribute) noexcept;
    // Takes ownership of entry.block (null: counted as dropped); otherwise as Push.
    bool PushLong(LongEntry entry) noexcept;
    // Counts a post that never got as far as the queue (out of memory) as dropped; as Push.
    bool CountDrop() noexcept;

    // Writer side, one thread. Everything queued so far; an empty batch when there is nothing.
    Batch Take() noexcept;
    // Gives a written batch back: its entries stop counting, its blocks are kept or freed.
    void Release(Batch& batch) noexcept;
    // Queues the drop line now if posts were dropped since the last one. The writer calls it when
    // it finds the queue empty, so a count is reported also when no post follows the overflow.
    void QueuePendingDrops() noexcept;
    // Nothing queued and no drop pending.
    bool Idle() noexcept;
    // Marks the writer parked when the queue is idle: true, and the next post (or drop) reports
    // it. False when there is something to do.
    bool Park() noexcept;

    // Entries queued or taken but not yet released.
    size_t Size() noexcept;
    // Sequence number of the newest queued entry (0 before the first): 1, 2, 3... in queue order.
    uint64_t LastSeq() noexcept;
    // Posts dropped since the last drop line was queued.
    uint64_t PendingDrops() const noexcept { return dropped_.load(std::memory_order_relaxed); }
    void SetLimit(size_t limit) noexcept;

private:
    // All with the lock held.
    bool AppendRecord(const char* text, size_t length, int attribute) noexcept;
    void AppendBlock(Block* block) noexcept;
    void AppendDropLine() noexcept;
    void Counted() noexcept;
    bool TakeParked() noexcept;

    CRITICAL_SECTION lock_;
    Block* head_ = nullptr;  // queued, not yet taken
    Block* tail_ = nullptr;
    Block* spare_ = nullptr;
    int spareCount_ = 0;
    size_t queued_ = 0;  // entries in head_..tail_
    size_t size_ = 0;    // queued_ plus the entries of the batch being written
    size_t limit_;
    uint64_t lastSeq_ = 0;
    bool parked_ = false;
    std::atomic<uint64_t> dropped_{0};
};

// Text of the line that reports count dropped messages.
int FormatDropLine(char* buffer, size_t size, uint64_t count) noexcept;

}  // namespace trace
