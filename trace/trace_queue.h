// trace::Queue: the bounded first-in first-out queue of trace messages and its lock.
//
// Any number of posting threads call Push; exactly one writer thread calls Front and PopFront. The
// front entry stays in the queue while the writer outputs it, and only the writer removes entries,
// so the pointer that Front returns stays valid without the lock until PopFront. Each entry is one
// allocation (header and text together), made by the poster before it takes the lock.
//
// The bound keeps a poster that outpaces the writer from growing the queue without end. A post that
// finds the queue full is dropped and counted; the next post that finds room first queues one line
// that says how many were dropped, then itself (so the queue may hold limit + 1 entries). So a message is never dropped while there is room,
// and a reader of the output sees where messages are missing and how many.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace trace {

struct Entry {
    Entry* next;
    uint64_t seq;    // 1, 2, 3... in queue order: lets a caller wait until its posts are written
    int attribute;   // console attribute; only the low 16 bits reach the console
    DWORD length;    // characters of text, without the terminating zero
    char text[1];    // length characters and a zero; the allocation extends past the struct
};

// An entry with room for length characters and the terminating zero, or null when out of memory.
// The text is left for the caller to fill; text[length] is already zero.
Entry* AllocEntry(size_t length, int attribute) noexcept;
void FreeEntry(Entry* entry) noexcept;

class Queue {
public:
    // Attribute of the line that reports dropped messages.
    static constexpr int kDropLineAttribute = 14;

    explicit Queue(size_t limit) noexcept;
    ~Queue();  // frees what is still queued; no thread may use the queue any more
    Queue(const Queue&) = delete;
    Queue& operator=(const Queue&) = delete;

    // Poster side, any thread. Takes ownership of entry: queues it, or frees and counts it as
    // dropped when limit entries are waiting. True when the queue was empty before: only then
    // may the writer be waiting or about to wait, since it waits only after finding the queue
    // empty and takes entries out in order.
    bool Push(Entry* entry) noexcept;
    // Counts a post that never became an entry (allocation failed) as dropped.
    void CountDrop() noexcept;
    // Queues the drop line now if posts were dropped since the last one. The writer calls it when
    // it finds the queue empty, so a count is reported also when no post follows the overflow.
    void QueuePendingDrops() noexcept;

    // Writer side, one thread. The oldest entry, or null when the queue is empty.
    Entry* Front() noexcept;
    // Removes and frees the oldest entry.
    void PopFront() noexcept;

    size_t Size() noexcept;
    // Sequence number of the newest queued entry (0 before the first).
    uint64_t LastSeq() noexcept;
    // Posts dropped since the last drop line was queued.
    uint64_t PendingDrops() const noexcept { return dropped_.load(std::memory_order_relaxed); }
    void SetLimit(size_t limit) noexcept;

private:
    // Both with the lock held.
    void Append(Entry* entry) noexcept;
    void AppendDropLine() noexcept;

    CRITICAL_SECTION lock_;
    Entry* head_ = nullptr;
    Entry* tail_ = nullptr;
    size_t size_ = 0;
    size_t limit_;
    uint64_t lastSeq_ = 0;
    std::atomic<uint64_t> dropped_{0};
};

// Text of the line that reports count dropped messages.
int FormatDropLine(char* buffer, size_t size, uint64_t count) noexcept;

}  // namespace trace
