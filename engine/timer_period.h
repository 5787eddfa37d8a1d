// The system timer's resolution, asked for and given back with winmm.dll's timeBeginPeriod and
// timeEndPeriod, found the first time a run needs them. The control does not import winmm.dll: a
// host that never samples faster than the clock tick never loads it, and the module loads and
// unloads without it. Once found, winmm.dll stays loaded for the rest of the process (it is a
// system library; loading and unloading it with each of ours would cost its set-up every time).
// Any thread; the contracts are those of timeBeginPeriod and timeEndPeriod (TIMERR_NOCANDO when
// winmm.dll or the function is missing).
//
// Beside them SetProcessInformation, which Windows 7 lacks, found in kernel32.dll the same way.
#pragma once

#include <windows.h>
#include <mmsystem.h>

namespace engine {

using TimerPeriodFunction = MMRESULT(WINAPI*)(UINT);

// The pair the two below call, looked up in winmm.dll by the first call of any of the three (null
// where missing), then constant.
struct TimerPeriodPair {
    TimerPeriodFunction begin;
    TimerPeriodFunction end;
};
const TimerPeriodPair& FoundTimerPeriod() noexcept;

MMRESULT WINAPI BeginTimerPeriod(UINT period) noexcept;
MMRESULT WINAPI EndTimerPeriod(UINT period) noexcept;

// SetProcessInformation's contract; FALSE with ERROR_PROC_NOT_FOUND where kernel32.dll lacks it.
BOOL WINAPI SetProcessInformation(HANDLE process, PROCESS_INFORMATION_CLASS what, LPVOID information,
                                  DWORD size) noexcept;

}  // namespace engine
