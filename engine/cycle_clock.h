// CycleClock: wall-clock time stamps to the millisecond for a sampler's cycles, on Windows 7.
//
// Windows 7 has no precise system time (GetSystemTimePreciseAsFileTime came with Windows 8), and
// GetSystemTimeAsFileTime moves only with the clock interrupt, every 15.6 ms by default. A stamp is
// the system time at a base point plus the performance counter's progress since, so it resolves
// what the counter resolves. The coarse system time read with each stamp keeps it honest: it is
// never later than the true time, so an estimate behind it is pulled up to it (each such step
// brings the estimate closer to the truth), and an estimate more than kSlackUnits ahead of it means
// the clock was set back or the counter drifted, and the estimate drops back to it. Either way the
// stamp stays within [system time, system time + kSlackUnits].
//
// Pure arithmetic on readings that the caller takes (QueryPerformanceCounter and
// GetSystemTimeAsFileTime, one each per stamp). Not thread-safe: the sampler starts it on the
// host's thread before its sampling thread runs, which alone stamps after that.
#pragma once

#include <cstdint>

namespace engine {

class CycleClock {
public:
    // FILETIME units (100 ns) per millisecond.
    static constexpr uint64_t kUnitsPerMs = 10000;
    // Two periods of the default clock interrupt: a coarse time that lags by less is no reason to
    // doubt the counter.
    static constexpr uint64_t kSlackUnits = 32 * kUnitsPerMs;

    // Takes the base point: counter and systemTime read together; frequency in counts per second.
    void Start(int64_t counter, int64_t frequency, uint64_t systemTime) noexcept {
        frequency_ = frequency > 0 ? frequency : 1;
        Rebase(counter, systemTime);
    }

    // The time at counter in FILETIME units, cut to whole milliseconds; systemTime is the coarse
    // system time read alongside.
    uint64_t Stamp(int64_t counter, uint64_t systemTime) noexcept {
        uint64_t estimate = baseTime_ + UnitsSinceBase(counter);
        if (counter < baseCounter_ || estimate < systemTime || estimate > systemTime + kSlackUnits) {
            Rebase(counter, systemTime);
            estimate = systemTime;
        }
        return estimate - estimate % kUnitsPerMs;
    }

private:
    void Rebase(int64_t counter, uint64_t systemTime) noexcept {
        baseCounter_ = counter;
        baseTime_ = systemTime;
    }

    // Split so that a long run cannot overflow the product.
    uint64_t UnitsSinceBase(int64_t counter) const noexcept {
        const uint64_t counts = counter > baseCounter_ ? static_cast<uint64_t>(counter - baseCounter_) : 0;
        const uint64_t frequency = static_cast<uint64_t>(frequency_);
        return counts / frequency * 10000000u + counts % frequency * 10000000u / frequency;
    }

    int64_t frequency_ = 1;
    int64_t baseCounter_ = 0;
    uint64_t baseTime_ = 0;
};

}  // namespace engine
