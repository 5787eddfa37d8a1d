#include "engine/cycle_pause.h"

#include <algorithm>

#include "base/locks.h"

namespace engine {

namespace {

// The pauses of the process that hold the exemption from timer throttling, and whether the system
// took the request made when the first began: it is given back, with the platform of the pause that
// lets go last, only then. Every sampler of a process has the same platform outside the tests.
SRWLOCK g_exemptionLock = SRWLOCK_INIT;
int g_exemptHolders = 0;
bool g_exemptionTaken = false;

BOOL AskThrottling(const SamplerPlatform& platform, ULONG controlMask) noexcept {
    // A state mask of 0 under the control mask: never coarsen the timer; no control mask: the
    // system decides again.
    PROCESS_POWER_THROTTLING_STATE state = {PROCESS_POWER_THROTTLING_CURRENT_VERSION, controlMask, 0};
    return platform.setProcessInformation(::GetCurrentProcess(), ProcessPowerThrottling, &state,
                                          sizeof state);
}

}  // namespace

CyclePause::CyclePause(const SamplerPlatform& platform, HANDLE stop, const std::atomic<bool>& stopRequested,
                       int64_t frequency) noexcept
    : platform_(platform),
      stop_(stop),
      stopRequested_(stopRequested),
      frequency_(std::max<int64_t>(frequency, 1000)),
      countsPerMs_(frequency_ / 1000),
      overshoot_(countsPerMs_) {
    // Where the flag is unknown (before Windows 10 1803) the call fails with ERROR_INVALID_PARAMETER;
    // then, as after any other failure, the pauses wait on the stop event alone.
    timer_.reset(platform_.createTimer(nullptr, nullptr, kHighResolutionTimer, TIMER_ALL_ACCESS));
}

CyclePause::~CyclePause() {
    HoldThrottlingExemption(false);
    HoldFineResolution(false);
}

void CyclePause::Prepare(DWORD interval, bool precise) noexcept {
    const bool fine = interval < kFineTimerBelowMs;
    precise_ = precise && fine && interval > 0;
    HoldFineResolution(fine && !timer_);
    HoldThrottlingExemption(precise_);
}

bool CyclePause::Wait(DWORD ms) noexcept {
    if (precise_ && ms > 0 && ms < kFineTimerBelowMs) return WaitPrecisely(ms);
    return WaitMs(ms) == Woke::kTime;
}

bool CyclePause::WaitPrecisely(DWORD ms) noexcept {
    const int64_t start = Now();
    const int64_t length = static_cast<int64_t>(ms) * countsPerMs_;
    const int64_t wait = length - overshoot_.Margin();
    // Without the timer a wait has whole milliseconds.
    const int64_t asked = timer_ ? wait : wait / countsPerMs_ * countsPerMs_;
    if (asked > 0) {
        if (WaitCounts(asked) == Woke::kStop) return false;
        overshoot_.NoteWait(asked, Now() - start);
    } else {
        overshoot_.NoteSpunWhole();
    }
    while (Now() - start < length) {
        if (stopRequested_.load(std::memory_order_relaxed)) return false;
        platform_.spinYield();
    }
    return true;
}

CyclePause::Woke CyclePause::WaitCounts(int64_t counts) noexcept {
    const DWORD ms = static_cast<DWORD>(counts / countsPerMs_);
    if (!timer_) return WaitOnStop(ms);
    return WaitOnTimer(std::max<int64_t>(counts * 10'000'000 / frequency_, 1), ms);
}

CyclePause::Woke CyclePause::WaitMs(DWORD ms) noexcept {
    if (!timer_ || ms == 0 || ms == INFINITE) return WaitOnStop(ms);
    return WaitOnTimer(static_cast<int64_t>(ms) * 10'000, ms);
}

CyclePause::Woke CyclePause::WaitOnTimer(int64_t units, DWORD ms) noexcept {
    LARGE_INTEGER due;
    due.QuadPart = -units;  // relative
    if (!platform_.setTimer(timer_.get(), &due, 0, nullptr, nullptr, FALSE)) return WaitOnStop(ms);
    const HANDLE handles[2] = {stop_, timer_.get()};
    return Woken(platform_.pauseWait(2, handles, FALSE, INFINITE));
}

CyclePause::Woke CyclePause::WaitOnStop(DWORD ms) noexcept {
    const HANDLE handles[1] = {stop_};
    return Woken(platform_.pauseWait(1, handles, FALSE, ms));
}

// The timer, or the time-out (which a wait that does not wait for the timer gives as well); the stop
// event, or a failed wait, ends the pause as a stop.
CyclePause::Woke CyclePause::Woken(DWORD result) noexcept {
    return result == WAIT_OBJECT_0 + 1 || result == WAIT_TIMEOUT ? Woke::kTime : Woke::kStop;
}

int64_t CyclePause::Now() const noexcept {
    LARGE_INTEGER now;
    platform_.counter(&now);
    return now.QuadPart;
}

void CyclePause::HoldFineResolution(bool fine) noexcept {
    if (fine == fineHeld_) return;
    if (fine) {
        fineHeld_ = platform_.beginTimerPeriod(1) == TIMERR_NOERROR;
    } else {
        platform_.endTimerPeriod(1);
        fineHeld_ = false;
    }
}

void CyclePause::HoldThrottlingExemption(bool exempt) noexcept {
    if (exempt == exemptHeld_) return;
    exemptHeld_ = exempt;
    const base::SrwExclusiveLock lock(g_exemptionLock);
    if (exempt) {
        if (g_exemptHolders++ == 0) {
            g_exemptionTaken =
                AskThrottling(platform_, PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION) != FALSE;
        }
    } else if (--g_exemptHolders == 0 && g_exemptionTaken) {
        AskThrottling(platform_, 0);
        g_exemptionTaken = false;
    }
}

}  // namespace engine
