#include "engine/timer_period.h"

namespace engine {

// Looked up by the first caller; a thread that comes meanwhile waits for it, since the static's
// initialisation is thread-safe.
const TimerPeriodPair& FoundTimerPeriod() noexcept {
    static const TimerPeriodPair found = [] {
        TimerPeriodPair pair = {nullptr, nullptr};
        if (HMODULE winmm = ::LoadLibraryW(L"winmm.dll")) {
            // Through a generic function pointer: FARPROC's own type says nothing of the signature.
            pair.begin = reinterpret_cast<TimerPeriodFunction>(
                reinterpret_cast<void (*)()>(::GetProcAddress(winmm, "timeBeginPeriod")));
            pair.end = reinterpret_cast<TimerPeriodFunction>(
                reinterpret_cast<void (*)()>(::GetProcAddress(winmm, "timeEndPeriod")));
        }
        return pair;
    }();
    return found;
}

MMRESULT WINAPI BeginTimerPeriod(UINT period) noexcept {
    const TimerPeriodFunction begin = FoundTimerPeriod().begin;
    return begin ? begin(period) : TIMERR_NOCANDO;
}

MMRESULT WINAPI EndTimerPeriod(UINT period) noexcept {
    const TimerPeriodFunction end = FoundTimerPeriod().end;
    return end ? end(period) : TIMERR_NOCANDO;
}

}  // namespace engine
