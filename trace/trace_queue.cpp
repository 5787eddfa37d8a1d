#include "trace/trace_queue.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/locks.h"

namespace trace {

Entry* AllocEntry(size_t length, int attribute) noexcept {
    if (length >= MAXDWORD - sizeof(Entry)) return nullptr;
    auto* entry = static_cast<Entry*>(std::malloc(sizeof(Entry) + length));
    if (!entry) return nullptr;
    entry->next = nullptr;
    entry->seq = 0;
    entry->attribute = attribute;
    entry->length = static_cast<DWORD>(length);
    entry->text[length] = '\0';
    return entry;
}

void FreeEntry(Entry* entry) noexcept { std::free(entry); }

int FormatDropLine(char* buffer, size_t size, uint64_t count) noexcept {
    return std::snprintf(buffer, size, "\n*** %llu trace messages dropped ***\n",
                         static_cast<unsigned long long>(count));
}

// The lock is held for a few pointer moves: spinning briefly beats a kernel wait.
Queue::Queue(size_t limit) noexcept : limit_(limit) {
    ::InitializeCriticalSectionAndSpinCount(&lock_, 4000);
}

Queue::~Queue() {
    while (head_) {
        Entry* next = head_->next;
        FreeEntry(head_);
        head_ = next;
    }
    ::DeleteCriticalSection(&lock_);
}

bool Queue::Push(Entry* entry) noexcept {
    {
        base::CriticalSectionLock hold(lock_);
        if (size_ < limit_) {
            const bool wasEmpty = size_ == 0;
            // The drop line goes in first, where the messages are missing.
            AppendDropLine();
            Append(entry);
            return wasEmpty;
        }
        dropped_.fetch_add(1, std::memory_order_relaxed);
    }
    FreeEntry(entry);
    return false;
}

void Queue::QueuePendingDrops() noexcept {
    base::CriticalSectionLock hold(lock_);
    AppendDropLine();
}

void Queue::AppendDropLine() noexcept {
    const uint64_t dropped = dropped_.exchange(0, std::memory_order_relaxed);
    if (dropped == 0) return;
    // The one allocation under the lock, and only right after an overflow.
    char text[64];
    const int n = FormatDropLine(text, sizeof text, dropped);
    Entry* line = n > 0 ? AllocEntry(static_cast<size_t>(n), kDropLineAttribute) : nullptr;
    if (!line) {
        dropped_.fetch_add(dropped, std::memory_order_relaxed);
        return;
    }
    std::memcpy(line->text, text, static_cast<size_t>(n));
    Append(line);
}

void Queue::CountDrop() noexcept { dropped_.fetch_add(1, std::memory_order_relaxed); }

void Queue::Append(Entry* entry) noexcept {
    entry->next = nullptr;
    entry->seq = ++lastSeq_;
    if (tail_) {
        tail_->next = entry;
    } else {
        head_ = entry;
    }
    tail_ = entry;
    ++size_;
}

Entry* Queue::Front() noexcept {
    base::CriticalSectionLock hold(lock_);
    return head_;
}

void Queue::PopFront() noexcept {
    Entry* front;
    {
        base::CriticalSectionLock hold(lock_);
        front = head_;
        if (!front) return;
        head_ = front->next;
        if (!head_) tail_ = nullptr;
        --size_;
    }
    FreeEntry(front);
}

size_t Queue::Size() noexcept {
    base::CriticalSectionLock hold(lock_);
    return size_;
}

uint64_t Queue::LastSeq() noexcept {
    base::CriticalSectionLock hold(lock_);
    return lastSeq_;
}

void Queue::SetLimit(size_t limit) noexcept {
    base::CriticalSectionLock hold(lock_);
    limit_ = limit;
}

}  // namespace trace
