#include "engine/timer_period.h"

#include <atomic>

namespace engine {
namespace {

using PeriodFunction = MMRESULT(WINAPI*)(UINT);

struct Functions {
    PeriodFunction begin = nullptr;
    PeriodFunction end = nullptr;
};

// Looked up once; a thread that comes meanwhile looks up too and finds the same functions.
const Functions& Found() noexcept {
    static std::atomic<bool> looked{false};
    static Functions found;
    if (!looked.load(std::memory_order_acquire)) {
        if (HMODULE winmm = ::LoadLibraryW(L"winmm.dll")) {
            // Through a generic function pointer: FARPROC's own type says nothing of the signature.
            found.begin = reinterpret_cast<PeriodFunction>(
                reinterpret_cast<void (*)()>(::GetProcAddress(winmm, "timeBeginPeriod")));
            found.end = reinterpret_cast<PeriodFunction>(
                reinterpret_cast<void (*)()>(::GetProcAddress(winmm, "timeEndPeriod")));
        }
        looked.store(true, std::memory_order_release);
    }
    return found;
}

}  // namespace

MMRESULT WINAPI BeginTimerPeriod(UINT period) noexcept {
    const PeriodFunction begin = Found().begin;
    return begin ? begin(period) : TIMERR_NOCANDO;
}

MMRESULT WINAPI EndTimerPeriod(UINT period) noexcept {
    const PeriodFunction end = Found().end;
    return end ? end(period) : TIMERR_NOCANDO;
}

}  // namespace engine
