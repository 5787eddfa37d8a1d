// Measurements: a sampler's channel rules put to work on every cycle (engine/measurement_rules.h).
//
// The sampling thread scales each cycle's values and judges them against the limits, so that no
// crossing between two reads of the host is missed; every change of a channel's shown alarm level
// goes into a bounded queue for the host to tell in order. When the host leaves more than
// kQueueCapacity changes untold, the oldest go and are counted (Lost), so the newest stay. The
// last kZeroCycles raw values of each channel are kept for a zero.
//
// Owned by the sampler. The host's thread sets the rules, reads the levels, acknowledges and takes
// the changes; the sampling thread judges. One slim lock guards everything; each holder keeps it
// for a few hundred nanoseconds at most (a cycle's judging, a copy of the rules), and nothing
// here allocates after construction.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "engine/cycle_ring.h"
#include "engine/measurement_rules.h"

namespace engine {

// A change of a channel's shown alarm level.
struct AlarmChange {
    int channel = 0;  // from 0
    AlarmLevel level = AlarmLevel::kNormal;
    double value = 0;  // the scaled value that changed it (the last one, for an acknowledge)
    uint64_t run = 0;  // the run and cycle it came with (the newest, for an acknowledge)
    uint64_t cycle = 0;
    uint64_t time = 0;  // the cycle's time, as engine::Cycle's
    uint64_t sequence = 0;
};

// What the judging of one cycle gave: its values scaled and each channel's shown level after it.
struct MeasuredValues {
    double scaled[kMeasuredChannels] = {};
    AlarmLevel levels[kMeasuredChannels] = {};
};

class Measurements {
public:
    static constexpr size_t kQueueCapacity = 1000;
    static constexpr size_t kZeroCycles = 10;

    Measurements() noexcept { ::InitializeSRWLock(&lock_); }
    Measurements(const Measurements&) = delete;
    Measurements& operator=(const Measurements&) = delete;

    // Host. channel from 0. New rules keep the channel's alarm state; the next cycle is judged by
    // them.
    ChannelRules Rules(int channel) const noexcept;
    void SetRules(int channel, const ChannelRules& rules) noexcept;
    AlarmLevel Shown(int channel) const noexcept;
    // Drops a latched level to the active one; a change is queued with the channel's last value.
    void Acknowledge(int channel) noexcept;
    // The mean of the channel's last kZeroCycles raw values of this run (fewer when the run has
    // fewer); false when it has none.
    bool MeanRaw(int channel, double* mean) const noexcept;

    // Host, no sampling thread running: a new run, every channel normal and without history.
    void BeginRun(uint64_t run) noexcept;

    // Sampling thread: scales and judges cycle.channels values at nowMs, a millisecond clock that
    // never goes back.
    void Judge(const Cycle& cycle, uint64_t nowMs, MeasuredValues* out) noexcept;

    // Any thread: copies up to max waiting changes, oldest first; forgets those up to and
    // including sequence (all for UINT64_MAX); the changes the queue let go of untold.
    size_t Peek(AlarmChange* out, size_t max) const noexcept;
    void Forget(uint64_t sequence) noexcept;
    uint64_t Lost() const noexcept;

private:
    void Queue(const AlarmChange& change) noexcept;

    mutable SRWLOCK lock_;
    ChannelRules rules_[kMeasuredChannels];
    AlarmTracker trackers_[kMeasuredChannels];
    // The last values judged, for an acknowledge's change.
    double lastValue_[kMeasuredChannels] = {};
    uint64_t run_ = 0;
    uint64_t lastCycle_ = 0;
    uint64_t lastTime_ = 0;
    int16_t history_[kZeroCycles][kMeasuredChannels] = {};
    size_t historyCount_[kMeasuredChannels] = {};
    uint64_t judged_ = 0;  // cycles judged this run: the history's next row

    AlarmChange queue_[kQueueCapacity];
    size_t first_ = 0;
    size_t count_ = 0;
    uint64_t sequence_ = 0;
    uint64_t lost_ = 0;
};

}  // namespace engine
