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

BOOL WINAPI SetProcessInformation(HANDLE process, PROCESS_INFORMATION_CLASS what, LPVOID information,
                                  DWORD size) noexcept {
    using Function = BOOL(WINAPI*)(HANDLE, PROCESS_INFORMATION_CLASS, LPVOID, DWORD);
    // kernel32.dll is in every process for its whole life: no reference of our own is needed.
    static const Function found = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetProcessInformation")));
    if (!found) {
        ::SetLastError(ERROR_PROC_NOT_FOUND);
        return FALSE;
    }
    return found(process, what, information, size);
}

}  // namespace engine
