// CyclePause: the pause between a sampling thread's cycles, the best wait the system offers, ended
// at once by the stop event.
//
// Where Windows has a high-resolution waitable timer (Windows 10 1803 and later) every pause but an
// unlimited one waits on it and on the stop event. Elsewhere (Windows 7) the pause is a wait on the
// stop event, and while the Interval is below kFineTimerBelowMs the pause holds 1 ms timer resolution
// (timeBeginPeriod(1)), which Windows otherwise rounds a short wait up to its 15.6 ms tick without.
//
// Precise timing, while asked for and the Interval is 1 to kFineTimerBelowMs - 1, waits for most of a
// pause and spins the rest on the performance counter, yielding the processor at each look, with a
// margin learnt from how late its waits end (engine/pace_rules.h). While it applies, the process also
// asks Windows not to coarsen its timer resolution when its windows are hidden or minimized
// (PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION): the request is the process's, so it is counted
// for all the pauses of the process and given back to the system when the last one no longer holds it.
//
// Made, used and destroyed by one sampling thread; destruction gives back what the pause holds.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "base/unique_handle.h"
#include "engine/pace_rules.h"
#include "engine/sampler_platform.h"

namespace engine {

class CyclePause {
public:
    // Below this Interval a run asks for fine timing: 1 ms resolution, and precise pauses if asked.
    static constexpr DWORD kFineTimerBelowMs = 16;

    // stop: the stop event; stopRequested: the flag set before it, which a spin watches. frequency:
    // the performance counter's counts a second.
    CyclePause(const SamplerPlatform& platform, HANDLE stop, const std::atomic<bool>& stopRequested,
               int64_t frequency) noexcept;
    ~CyclePause();
    CyclePause(const CyclePause&) = delete;
    CyclePause& operator=(const CyclePause&) = delete;

    // What the pauses from now on serve: the run's Interval and whether precise timing is asked.
    void Prepare(DWORD interval, bool precise) noexcept;
    // Pauses ms (INFINITE: until the stop); false when the stop event ended it, or a failed wait.
    bool Wait(DWORD ms) noexcept;

    bool HighResolution() const noexcept { return timer_.valid(); }

private:
    enum class Woke { kTime, kStop };

    // A wait of counts on the timer, or of their whole milliseconds without one.
    Woke WaitCounts(int64_t counts) noexcept;
    Woke WaitMs(DWORD ms) noexcept;
    // On the timer set to units of 100 ns and the stop event; on the stop event for ms when the
    // timer cannot be set.
    Woke WaitOnTimer(int64_t units, DWORD ms) noexcept;
    Woke WaitOnStop(DWORD ms) noexcept;
    static Woke Woken(DWORD result) noexcept;
    bool WaitPrecisely(DWORD ms) noexcept;
    int64_t Now() const noexcept;
    void HoldFineResolution(bool fine) noexcept;
    void HoldThrottlingExemption(bool exempt) noexcept;

    const SamplerPlatform& platform_;
    const HANDLE stop_;
    const std::atomic<bool>& stopRequested_;
    const int64_t frequency_;
    const int64_t countsPerMs_;
    base::UniqueTimer timer_;
    OvershootEstimate overshoot_;
    bool precise_ = false;
    bool fineHeld_ = false;
    bool exemptHeld_ = false;
};

}  // namespace engine
