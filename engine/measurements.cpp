#include "engine/measurements.h"

#include <algorithm>

#include "base/locks.h"

namespace engine {

ChannelRules Measurements::Rules(int channel) const noexcept {
    base::SrwSharedLock hold(lock_);
    return rules_[channel];
}

void Measurements::SetRules(int channel, const ChannelRules& rules) noexcept {
    base::SrwExclusiveLock hold(lock_);
    rules_[channel] = rules;
}

AlarmLevel Measurements::Shown(int channel) const noexcept {
    base::SrwSharedLock hold(lock_);
    return trackers_[channel].Shown();
}

void Measurements::Acknowledge(int channel) noexcept {
    base::SrwExclusiveLock hold(lock_);
    AlarmTracker& tracker = trackers_[channel];
    if (!tracker.Acknowledge()) return;
    Queue({channel, tracker.Shown(), lastValue_[channel], run_, lastCycle_, lastTime_, 0});
}

bool Measurements::MeanRaw(int channel, double* mean) const noexcept {
    base::SrwSharedLock hold(lock_);
    const size_t count = historyCount_[channel];
    if (count == 0) return false;
    double sum = 0;
    for (size_t k = 0; k < count; ++k) sum += history_[k][channel];
    *mean = sum / static_cast<double>(count);
    return true;
}

void Measurements::BeginRun(uint64_t run) noexcept {
    base::SrwExclusiveLock hold(lock_);
    for (AlarmTracker& tracker : trackers_) tracker.Reset();
    std::fill(std::begin(historyCount_), std::end(historyCount_), size_t{0});
    std::fill(std::begin(lastValue_), std::end(lastValue_), 0.0);
    run_ = run;
    lastCycle_ = 0;
    lastTime_ = 0;
    judged_ = 0;
}

void Measurements::Judge(const Cycle& cycle, uint64_t nowMs, MeasuredValues* out) noexcept {
    base::SrwExclusiveLock hold(lock_);
    const size_t row = static_cast<size_t>(judged_++ % kZeroCycles);
    const int channels = std::min(cycle.channels, kMeasuredChannels);
    for (int k = 0; k < channels; ++k) {
        const double value = rules_[k].Scale(cycle.values[k]);
        out->scaled[k] = value;
        lastValue_[k] = value;
        history_[row][k] = cycle.values[k];
        historyCount_[k] = std::min(historyCount_[k] + 1, kZeroCycles);
        AlarmTracker& tracker = trackers_[k];
        if (tracker.Judge(rules_[k], value, nowMs))
            Queue({k, tracker.Shown(), value, run_, cycle.number, cycle.time, 0});
        out->levels[k] = tracker.Shown();
    }
    lastCycle_ = cycle.number;
    lastTime_ = cycle.time;
}

// Under the lock.
void Measurements::Queue(const AlarmChange& change) noexcept {
    if (count_ == kQueueCapacity) {
        first_ = (first_ + 1) % kQueueCapacity;
        --count_;
        ++lost_;
    }
    AlarmChange& entry = queue_[(first_ + count_) % kQueueCapacity];
    entry = change;
    entry.sequence = ++sequence_;
    ++count_;
}

size_t Measurements::Peek(AlarmChange* out, size_t max) const noexcept {
    base::SrwSharedLock hold(lock_);
    const size_t count = std::min(max, count_);
    for (size_t k = 0; k < count; ++k) out[k] = queue_[(first_ + k) % kQueueCapacity];
    return count;
}

void Measurements::Forget(uint64_t sequence) noexcept {
    base::SrwExclusiveLock hold(lock_);
    while (count_ > 0 && queue_[first_].sequence <= sequence) {
        first_ = (first_ + 1) % kQueueCapacity;
        --count_;
    }
}

uint64_t Measurements::Lost() const noexcept {
    base::SrwSharedLock hold(lock_);
    return lost_;
}

}  // namespace engine
