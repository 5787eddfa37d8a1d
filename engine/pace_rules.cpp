#include "engine/pace_rules.h"

#include <algorithm>
#include <iterator>

namespace engine {

namespace {

constexpr int64_t kInitialEstimateUs = 500;
constexpr int64_t kSpareUs = 100;
// Windows' waits end up to a millisecond late with timeBeginPeriod(1) and with a high-resolution
// timer alike; a later end is a preempted thread, which a margin cannot help.
constexpr int64_t kCeilingUs = 2000;

int64_t Us(int64_t us, int64_t countsPerMs) noexcept { return us * countsPerMs / 1000; }

}  // namespace

void GapWindow::Add(int64_t gap) noexcept {
    gaps_[next_] = gap;
    next_ = (next_ + 1) % kGaps;
    if (count_ < kGaps) ++count_;
}

int64_t GapWindow::Percentile(unsigned per100) const noexcept {
    const size_t n = Size();
    if (n == 0) return 0;
    int64_t sorted[kGaps];
    std::copy(gaps_, gaps_ + n, sorted);
    const size_t rank = std::clamp<size_t>((n * std::min(per100, 100u) + 99) / 100, 1, n);
    std::nth_element(sorted, sorted + rank - 1, sorted + n);
    return sorted[rank - 1];
}

OvershootEstimate::OvershootEstimate(int64_t countsPerMs) noexcept
    : estimate_(Us(kInitialEstimateUs, countsPerMs)),
      spare_(Us(kSpareUs, countsPerMs)),
      ceiling_(Us(kCeilingUs, countsPerMs)) {}

void OvershootEstimate::NoteWait(int64_t asked, int64_t took) noexcept {
    const int64_t late = std::clamp<int64_t>(took - asked, 0, ceiling_);
    estimate_ = late > estimate_ ? late : estimate_ - (estimate_ - late) / 8;
}

}  // namespace engine
