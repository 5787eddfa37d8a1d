// CycleClock: wall-clock time stamps to the millisecond for a sampler's cycles, on Windows 7.
//
// Windows 7 has no precise system time (GetSystemTimePreciseAsFileTime came with Windows 8), and
// GetSystemTimeAsFileTime moves only with the clock interrupt, every 15.6 ms by default. A stamp is
// the system time at a base point plus the performance counter's progress since, so it resolves
// what the counter resolves. The coarse system time read with each stamp keeps it honest: it is
// never later than the true time, so an estimate behind it is behind the truth. But the counter's
// crystal is not the clock's: 50 ppm apart is ordinary, 3 ms a minute, and an estimate that only
// followed the counter would drift away from the clock. Dropping a lead back to the coarse time
// would put cycles in order by number out of order by time, so a lead is shed by slewing instead:
// the estimate runs a little slow until the lead is gone.
//
// E is the estimate in FILETIME units, S the coarse time read with it; a stamp is E cut to whole
// milliseconds. Within a run (Start to the next Start):
// - E never decreases, but for the step that follows the clock set back (below).
// - E >= S: an estimate behind the coarse time is pulled up to it, a step forward that brings it
//   closer to the truth. The first such steps come within a second of Start, as stamps land just
//   after the clock's ticks; later ones are small: the drift since the last, or how much nearer a
//   tick a stamp landed than any before it.
// - E <= S + kSlackUnits, two ticks of the clock, unless keeping to it would take a step back. An
//   estimate over the band comes down to the band's top, but not below the last stamp's E plus
//   half the progress since: after the clock is set back by under a second, E runs at half the
//   counter's speed for twice its excess over the band, each stamp later than the one before.
//   (After a pause in stamping, or with a counter fast by more than the slew below, the band's top
//   is later than the last stamp, and E comes down to it at once.) The lead that is left is shed
//   as drift is.
// - Inside the band E runs at the counter's speed, or 1/kSlewDivisor slower (0.5 ms a second)
//   while it sheds a lead. The lead is measured each second of counter time as the least E - S of
//   that second's stamps, since the coarse time is truest just after a tick. A least lead over
//   kLeadUnits is shed from then on, at that rate; one of kLeadUnits or less is the phase of the
//   clock's ticks, not drift. So at cycles of 10 ms, once settled, a stamp keeps within about a
//   millisecond of the true time and a second of stamps is a second to within 2 ms, one of them
//   the cut to whole ms. Sparser cycles land near a tick less often, and both widen to a few ms.
// A deliberate change of the clock is followed at the next stamp: set forward, the coarse time is
// ahead of E and E is pulled up to it; set back, the coarse time is more than kSetBackUnits behind
// E, and E steps back to it. That is what counts as deliberate: a set-back of more than a second
// (and the ms or so that E may be short of the coarse time) always is, one of under
// 1 s - kSlackUnits never is, and in between it depends on where in the band E was.
//
// A counter that goes back holds E where it was and counts on from there. The counter's progress
// is turned into time without overflow for any gap a run meets (centuries) at any frequency up to
// 1.8e12 counts a second.
//
// Pure arithmetic on readings that the caller takes (CounterNow and SystemTimeNow below, one each
// per stamp). A sampler holds one by value. Not thread-safe: the
// sampler starts it on the host's thread before its sampling thread runs, which alone stamps after
// that.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <limits>

namespace engine {

// The two readings a stamp is made of: the performance counter, and the coarse system time in
// FILETIME units. Any thread.
inline int64_t CounterNow() noexcept {
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return now.QuadPart;
}

inline uint64_t SystemTimeNow() noexcept {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

class CycleClock {
public:
    // FILETIME units (100 ns) per millisecond.
    static constexpr uint64_t kUnitsPerMs = 10000;
    // Two periods of the default clock interrupt: a coarse time that lags by less is no reason to
    // doubt the counter.
    static constexpr uint64_t kSlackUnits = 32 * kUnitsPerMs;
    // A least lead over the coarse time that is left alone: with stamps every 10 ms against ticks
    // every 15.6 ms, some stamp of every second lands within a millisecond of a tick.
    static constexpr uint64_t kLeadUnits = 1 * kUnitsPerMs;
    // The coarse time further behind the estimate than this: the clock was set back.
    static constexpr uint64_t kSetBackUnits = 1000 * kUnitsPerMs;
    // Shedding a lead inside the band, the estimate runs 1/kSlewDivisor slow: 0.5 ms a second, ten
    // times the drift of an ordinary crystal, and too little to see in the spacing of cycles.
    static constexpr uint64_t kSlewDivisor = 2000;
    // Over the band it runs at half speed at most: stamps keep half the counter's resolution and an
    // excess of one second is gone in two.
    static constexpr uint64_t kCatchUpDivisor = 2;

    // Takes the base point: counter and systemTime read together; frequency in counts per second.
    void Start(int64_t counter, int64_t frequency, uint64_t systemTime) noexcept {
        frequency_ = frequency > 0 ? frequency : 1;
        Restart(counter, systemTime);
    }

    // The time at counter in FILETIME units, cut to whole milliseconds; systemTime is the coarse
    // system time read alongside.
    uint64_t Stamp(int64_t counter, uint64_t systemTime) noexcept {
        if (counter < counter_) Restart(counter, estimate_);
        const uint64_t progress = UnitsSinceBase(counter);
        const uint64_t shed = debt_ == 0 ? 0 : std::min(progress / kSlewDivisor, debt_);
        uint64_t estimate = baseTime_ + progress - shed;
        if (estimate < systemTime || estimate - systemTime > kSetBackUnits) {
            estimate = systemTime;
            Rebase(counter, estimate, 0);
        } else if (estimate - systemTime > kSlackUnits) {
            estimate =
                std::max(systemTime + kSlackUnits, estimate_ + (estimate - estimate_) / kCatchUpDivisor);
            Rebase(counter, estimate, 0);
        } else {
            minLead_ = std::min(minLead_, estimate - systemTime);
            if (CountsSince(windowStart_, counter) >= static_cast<uint64_t>(frequency_)) {
                Rebase(counter, estimate, minLead_ > kLeadUnits ? minLead_ - kLeadUnits : 0);
                windowStart_ = counter;
                minLead_ = kNoLead;
            }
        }
        counter_ = counter;
        estimate_ = estimate;
        return estimate - estimate % kUnitsPerMs;
    }

private:
    static constexpr uint64_t kUnitsPerSecond = 1000 * kUnitsPerMs;
    static constexpr uint64_t kNoLead = std::numeric_limits<uint64_t>::max();

    void Restart(int64_t counter, uint64_t time) noexcept {
        Rebase(counter, time, 0);
        windowStart_ = counter;
        minLead_ = kNoLead;
        counter_ = counter;
        estimate_ = time;
    }

    // From counter on, the estimate runs from time and sheds debt at 1/kSlewDivisor of its progress.
    void Rebase(int64_t counter, uint64_t time, uint64_t debt) noexcept {
        baseCounter_ = counter;
        baseTime_ = time;
        debt_ = debt;
    }

    // Unsigned, so that no pair of counter readings overflows; counter is not before since.
    static uint64_t CountsSince(int64_t since, int64_t counter) noexcept {
        return static_cast<uint64_t>(counter) - static_cast<uint64_t>(since);
    }

    // The counter's progress since the base point in FILETIME units, split so that the product
    // cannot overflow. The base moves on every second or so, and then one division does.
    uint64_t UnitsSinceBase(int64_t counter) const noexcept {
        const uint64_t counts = CountsSince(baseCounter_, counter);
        const uint64_t frequency = static_cast<uint64_t>(frequency_);
        if (counts < frequency) return counts * kUnitsPerSecond / frequency;
        return counts / frequency * kUnitsPerSecond + counts % frequency * kUnitsPerSecond / frequency;
    }

    int64_t frequency_ = 1;
    // The last stamp's counter and estimate, in full units.
    int64_t counter_ = 0;
    uint64_t estimate_ = 0;
    // The estimate at baseCounter_ and the lead it sheds from there.
    int64_t baseCounter_ = 0;
    uint64_t baseTime_ = 0;
    uint64_t debt_ = 0;
    // This second's stamps began at windowStart_ and their least E - S is minLead_.
    int64_t windowStart_ = 0;
    uint64_t minLead_ = kNoLead;
};

}  // namespace engine
