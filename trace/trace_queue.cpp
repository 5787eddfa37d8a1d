#include "trace/trace_queue.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/locks.h"

namespace trace {
namespace {

Block* NewBlock(size_t capacity) noexcept {
    if (capacity > MAXDWORD - sizeof(Block)) return nullptr;
    auto* block = static_cast<Block*>(std::malloc(sizeof(Block) + capacity));
    if (!block) return nullptr;
    block->next = nullptr;
    block->capacity = capacity;
    block->used = 0;
    return block;
}

void FreeBlocks(Block* block) noexcept {
    while (block) {
        Block* next = block->next;
        std::free(block);
        block = next;
    }
}

Record* WriteHeader(char* at, size_t length, int attribute) noexcept {
    auto* r = reinterpret_cast<Record*>(at);
    r->length = static_cast<DWORD>(length);
    r->attribute = attribute;
    r->Text()[length] = '\0';
    return r;
}

}  // namespace

size_t RecordBytes(size_t length) noexcept {
    if (length >= MAXDWORD - 2 * sizeof(Record)) return 0;
    const size_t bytes = sizeof(Record) + length + 1;
    return (bytes + alignof(Record) - 1) & ~(alignof(Record) - 1);
}

int FormatDropLine(char* buffer, size_t size, uint64_t count) noexcept {
    return std::snprintf(buffer, size, "\n*** %llu trace messages dropped ***\n",
                         static_cast<unsigned long long>(count));
}

// The lock is held for a short copy and a few pointer moves: spinning briefly beats a kernel wait.
Queue::Queue(size_t limit) noexcept : limit_(limit) { ::InitializeCriticalSectionAndSpinCount(&lock_, 4000); }

Queue::~Queue() {
    FreeBlocks(head_);
    FreeBlocks(spare_);
    ::DeleteCriticalSection(&lock_);
}

bool Queue::Push(const char* text, size_t length, int attribute) noexcept {
    if (length > kLongText) {
        LongEntry entry = NewLongEntry(length, attribute);
        if (entry.text) std::memcpy(entry.text, text, length);
        return PushLong(entry);
    }
    base::CriticalSectionLock hold(lock_);
    if (size_ < limit_) {
        // The drop line goes in first, where the messages are missing.
        AppendDropLine();
        if (AppendRecord(text, length, attribute)) {
            Counted();
            return TakeParked();
        }
    }
    dropped_.fetch_add(1, std::memory_order_relaxed);
    return TakeParked();
}

LongEntry Queue::NewLongEntry(size_t length, int attribute) noexcept {
    const size_t bytes = RecordBytes(length);
    Block* block = bytes ? NewBlock(bytes) : nullptr;
    if (!block) return {};
    block->used = bytes;
    return {block, WriteHeader(block->Data(), length, attribute)->Text()};
}

bool Queue::PushLong(LongEntry entry) noexcept {
    if (!entry.block) return CountDrop();
    bool wake;
    {
        base::CriticalSectionLock hold(lock_);
        if (size_ < limit_) {
            AppendDropLine();
            AppendBlock(entry.block);
            Counted();
            return TakeParked();
        }
        dropped_.fetch_add(1, std::memory_order_relaxed);
        wake = TakeParked();
    }
    FreeBlocks(entry.block);
    return wake;
}

bool Queue::CountDrop() noexcept {
    base::CriticalSectionLock hold(lock_);
    dropped_.fetch_add(1, std::memory_order_relaxed);
    // A parked writer must wake to report the count.
    return TakeParked();
}

bool Queue::AppendRecord(const char* text, size_t length, int attribute) noexcept {
    const size_t bytes = RecordBytes(length);
    if (!tail_ || tail_->capacity - tail_->used < bytes) {
        Block* block = spare_;
        if (block) {
            spare_ = block->next;
            --spareCount_;
            block->next = nullptr;
            block->used = 0;
        } else if (!(block = NewBlock(kBlockBytes))) {
            return false;
        }
        AppendBlock(block);
    }
    Record* r = WriteHeader(tail_->Data() + tail_->used, length, attribute);
    std::memcpy(r->Text(), text, length);
    tail_->used += bytes;
    return true;
}

void Queue::AppendBlock(Block* block) noexcept {
    if (tail_) {
        tail_->next = block;
    } else {
        head_ = block;
    }
    tail_ = block;
}

void Queue::Counted() noexcept {
    ++queued_;
    ++size_;
    ++lastSeq_;
}

bool Queue::TakeParked() noexcept {
    const bool parked = parked_;
    parked_ = false;
    return parked;
}

void Queue::AppendDropLine() noexcept {
    // Every post comes here: a plain load keeps the usual case free of a locked exchange.
    if (dropped_.load(std::memory_order_relaxed) == 0) return;
    const uint64_t dropped = dropped_.exchange(0, std::memory_order_relaxed);
    if (dropped == 0) return;
    char text[64];
    const int n = FormatDropLine(text, sizeof text, dropped);
    if (n <= 0 || !AppendRecord(text, static_cast<size_t>(n), kDropLineAttribute)) {
        dropped_.fetch_add(dropped, std::memory_order_relaxed);
        return;
    }
    Counted();
}

void Queue::QueuePendingDrops() noexcept {
    base::CriticalSectionLock hold(lock_);
    AppendDropLine();
}

Batch Queue::Take() noexcept {
    base::CriticalSectionLock hold(lock_);
    Batch batch;
    batch.blocks = head_;
    batch.count = queued_;
    batch.lastSeq = lastSeq_;
    head_ = tail_ = nullptr;
    queued_ = 0;
    return batch;
}

void Queue::Release(Batch& batch) noexcept {
    Block* unused = nullptr;
    {
        base::CriticalSectionLock hold(lock_);
        size_ -= batch.count;
        // Shared blocks are kept for the next posts, up to a few; long texts' own blocks go.
        for (Block* b = batch.blocks; b;) {
            Block* next = b->next;
            if (b->capacity == kBlockBytes && spareCount_ < kSpareBlocks) {
                b->next = spare_;
                spare_ = b;
                ++spareCount_;
            } else {
                b->next = unused;
                unused = b;
            }
            b = next;
        }
    }
    FreeBlocks(unused);
    batch = Batch{};
}

bool Queue::Idle() noexcept {
    base::CriticalSectionLock hold(lock_);
    return !head_ && dropped_.load(std::memory_order_relaxed) == 0;
}

bool Queue::Park() noexcept {
    base::CriticalSectionLock hold(lock_);
    if (head_ || dropped_.load(std::memory_order_relaxed) > 0) return false;
    parked_ = true;
    return true;
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
