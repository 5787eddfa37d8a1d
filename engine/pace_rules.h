// The rules behind a run's pace: the gap between cycles that 99 of 100 of the last ones stay within
// (GapWindow), and how much of a precise pause is left to a spin because the system's waits end late
// (OvershootEstimate). Both count in the performance counter's counts.
//
// Plain values without locks: each is owned by one thread at a time (its owner says which).
#pragma once

#include <cstddef>
#include <cstdint>

namespace engine {

// The last kGaps gaps between consecutive cycles, and the one that a given share of them stays within.
class GapWindow {
public:
    static constexpr size_t kGaps = 1000;

    void Clear() noexcept {
        count_ = 0;
        next_ = 0;
    }
    // A gap of counts; the oldest of a full window is forgotten.
    void Add(int64_t gap) noexcept;
    size_t Size() const noexcept { return count_; }
    // The smallest gap that at least per100 of every 100 gaps in the window are not longer than (the
    // nearest rank: the ceil(n * per100 / 100)th shortest of n); 0 for an empty window.
    int64_t Percentile(unsigned per100) const noexcept;

private:
    int64_t gaps_[kGaps] = {};
    size_t count_ = 0;
    size_t next_ = 0;
};

// How late the system's waits end, learnt from the waits themselves, and the margin a precise pause
// keeps for its spin: a pause of p counts waits p - Margin() and spins the rest on the counter. An
// overshoot longer than the estimate raises it at once (a late wake makes a late cycle); a shorter one
// lowers it by an eighth of the difference, so that a single quick wake does not. A pause that was
// spun whole, its margin at least its length, takes no sample; the estimate then forgets 1/256 of
// itself, so that one late wake (a preempted thread) does not leave every later pause spun whole, while
// a margin that is right is tried again only every few hundred pauses.
class OvershootEstimate {
public:
    // countsPerMs: the counter's counts a millisecond.
    explicit OvershootEstimate(int64_t countsPerMs) noexcept;

    // Counts to leave to the spin: the estimate and a spare tenth of a millisecond.
    int64_t Margin() const noexcept { return estimate_ + spare_; }
    // A wait asked for asked counts ended after took.
    void NoteWait(int64_t asked, int64_t took) noexcept;
    void NoteSpunWhole() noexcept { estimate_ -= estimate_ / 256; }

    int64_t Estimate() const noexcept { return estimate_; }

private:
    int64_t estimate_;
    int64_t spare_;
    int64_t ceiling_;  // past it, a wait's lateness is the thread's, not the timer's
};

}  // namespace engine
