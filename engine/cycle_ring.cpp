#include "engine/cycle_ring.h"

#include <algorithm>
#include <new>

namespace engine {
namespace {

constexpr std::memory_order kRelaxed = std::memory_order_relaxed;

uint64_t Pack(const int16_t* values) noexcept {
    uint64_t word = 0;
    for (int k = 0; k < 4; ++k) word |= static_cast<uint64_t>(static_cast<uint16_t>(values[k])) << (16 * k);
    return word;
}

void Unpack(uint64_t word, int16_t* values) noexcept {
    for (int k = 0; k < 4; ++k) values[k] = static_cast<int16_t>(static_cast<uint16_t>(word >> (16 * k)));
}

}  // namespace

CycleRing::~CycleRing() {
    delete active_.load();
    delete pending_.load();
    delete retired_.load();
}

void CycleRing::Publish(const Cycle& cycle) noexcept {
    Buffer* buffer = active_.load(kRelaxed);
    // A new buffer is taken only once the host has freed the one given up before, so that the
    // writer never has two to leave behind.
    if (pending_.load(kRelaxed) && !retired_.load(std::memory_order_acquire)) {
        if (Buffer* next = pending_.exchange(nullptr, std::memory_order_acquire)) {
            CopyNewest(*buffer, *next, cycle.number - 1);
            active_.store(next, std::memory_order_release);
            retired_.store(buffer, std::memory_order_release);
            buffer = next;
        }
    }
    Slot& slot = buffer->SlotOf(cycle.number);
    slot.number.store(0, kRelaxed);
    std::atomic_thread_fence(std::memory_order_release);
    slot.time.store(cycle.time, kRelaxed);
    slot.values[0].store(Pack(cycle.values), kRelaxed);
    slot.values[1].store(Pack(cycle.values + 4), kRelaxed);
    slot.channels.store(cycle.channels, kRelaxed);
    slot.number.store(cycle.number, std::memory_order_release);
    newest_.store(cycle.number, std::memory_order_release);
}

HRESULT CycleRing::Resize(size_t capacity) noexcept {
    if (capacity < kMinBufferCycles || capacity > kMaxBufferCycles) return E_INVALIDARG;
    FreeRetired();
    std::unique_ptr<Buffer> buffer(new (std::nothrow) Buffer);
    if (!buffer) return E_OUTOFMEMORY;
    buffer->slots.reset(new (std::nothrow) Slot[capacity + 1]);
    if (!buffer->slots) return E_OUTOFMEMORY;
    buffer->capacity = capacity;
    // A buffer handed over before and not yet taken is replaced.
    delete pending_.exchange(buffer.release(), std::memory_order_acq_rel);
    capacity_ = capacity;
    return S_OK;
}

void CycleRing::Settle() noexcept {
    FreeRetired();
    Buffer* next = pending_.exchange(nullptr, std::memory_order_acquire);
    if (!next) return;
    std::unique_ptr<Buffer> old(active_.load(kRelaxed));
    if (old) CopyNewest(*old, *next, newest_.load(kRelaxed));
    active_.store(next, std::memory_order_release);
}

void CycleRing::Reset() noexcept {
    Settle();
    if (Buffer* buffer = active_.load(kRelaxed)) {
        for (size_t i = 0; i <= buffer->capacity; ++i) buffer->slots[i].number.store(0, kRelaxed);
    }
    newest_.store(0, std::memory_order_release);
    next_ = 1;
    delivered_ = 0;
    lostReported_ = 0;
}

bool CycleRing::ReadNewest(Cycle& out) noexcept {
    FreeRetired();
    for (;;) {
        const uint64_t newest = newest_.load(std::memory_order_acquire);
        if (newest == 0) return false;
        // A failed copy means the writer has moved on; the next round reads a newer cycle.
        if (ReadSlot(*active_.load(std::memory_order_acquire), newest, out)) return true;
    }
}

size_t CycleRing::Unread() noexcept {
    FreeRetired();
    const uint64_t newest = newest_.load(std::memory_order_acquire);
    const Buffer* buffer = active_.load(std::memory_order_acquire);
    if (!buffer || next_ > newest) return 0;
    return static_cast<size_t>(std::min<uint64_t>(newest - next_ + 1, buffer->capacity));
}

ReadBatch CycleRing::Peek(Cycle* out, size_t max) noexcept {
    FreeRetired();
    ReadBatch batch;
    batch.next = next_;
    while (batch.count < max) {
        const uint64_t newest = newest_.load(std::memory_order_acquire);
        if (batch.next > newest) break;
        const Buffer& buffer = *active_.load(std::memory_order_acquire);
        const uint64_t oldest = newest > buffer.capacity ? newest - buffer.capacity + 1 : 1;
        if (batch.next >= oldest && ReadSlot(buffer, batch.next, out[batch.count])) {
            ++batch.count;
            ++batch.next;
            continue;
        }
        // Overwritten before it was read. Cycles lost after a copied one wait for the next batch,
        // so that every loss a batch reports lies before its first cycle.
        if (batch.count > 0) break;
        const uint64_t resume = batch.next < oldest ? oldest : batch.next + 1;
        batch.lost += resume - batch.next;
        batch.next = resume;
    }
    return batch;
}

void CycleRing::Take(const ReadBatch& batch) noexcept {
    next_ = batch.next;
    delivered_ += batch.count;
    lostReported_ += batch.lost;
}

size_t CycleRing::Drain(Cycle* out, size_t max, uint64_t& lost) noexcept {
    const ReadBatch batch = Peek(out, max);
    Take(batch);
    lost = batch.lost;
    return batch.count;
}

uint64_t CycleRing::Lost() noexcept {
    FreeRetired();
    const uint64_t newest = newest_.load(std::memory_order_acquire);
    const Buffer* buffer = active_.load(std::memory_order_acquire);
    const uint64_t capacity = buffer ? buffer->capacity : 0;
    const uint64_t oldest = newest > capacity ? newest - capacity + 1 : 1;
    return lostReported_ + (oldest > next_ ? oldest - next_ : 0);
}

bool CycleRing::ReadSlot(const Buffer& buffer, uint64_t number, Cycle& out) noexcept {
    const Slot& slot = buffer.SlotOf(number);
    if (slot.number.load(std::memory_order_acquire) != number) return false;
    const uint64_t time = slot.time.load(kRelaxed);
    const uint64_t low = slot.values[0].load(kRelaxed);
    const uint64_t high = slot.values[1].load(kRelaxed);
    const int32_t channels = slot.channels.load(kRelaxed);
    std::atomic_thread_fence(std::memory_order_acquire);
    if (slot.number.load(kRelaxed) != number) return false;
    out.number = number;
    out.time = time;
    out.channels = channels;
    Unpack(low, out.values);
    Unpack(high, out.values + 4);
    return true;
}

void CycleRing::CopyNewest(const Buffer& from, Buffer& to, uint64_t newest) noexcept {
    const uint64_t keep = std::min<uint64_t>({from.capacity, to.capacity, newest});
    for (uint64_t number = newest - keep + 1; number <= newest; ++number) {
        const Slot& source = from.SlotOf(number);
        Slot& target = to.SlotOf(number);
        target.time.store(source.time.load(kRelaxed), kRelaxed);
        target.values[0].store(source.values[0].load(kRelaxed), kRelaxed);
        target.values[1].store(source.values[1].load(kRelaxed), kRelaxed);
        target.channels.store(source.channels.load(kRelaxed), kRelaxed);
        target.number.store(source.number.load(kRelaxed), kRelaxed);
    }
}

void CycleRing::FreeRetired() noexcept {
    if (retired_.load(kRelaxed)) delete retired_.exchange(nullptr, std::memory_order_acquire);
}

}  // namespace engine
