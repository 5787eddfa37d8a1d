// What a sampler asks of the system, each with the contract of the Windows function named; tests
// substitute their own. Constant data.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include "engine/timer_period.h"

namespace engine {

// CreateWaitableTimerExW's flag for a timer that keeps to a fraction of a millisecond (Windows 10
// 1803 and later; before, the call fails with ERROR_INVALID_PARAMETER). The SDK we build with lacks it.
inline constexpr DWORD kHighResolutionTimer = 0x2;

struct SamplerPlatform {
    // The millisecond tick counter (GetTickCount): the readings' age.
    DWORD(WINAPI* tick)() = ::GetTickCount;
    // The clock of a cycle's budget and of a precise pause (QueryPerformanceCounter), fine enough to
    // bound a cycle of 1 ms: the tick moves in steps of up to 15.6 ms on Windows.
    BOOL(WINAPI* counter)(LARGE_INTEGER*) = ::QueryPerformanceCounter;
    // The stop event (CreateEventW).
    HANDLE(WINAPI* createEvent)(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCWSTR) = ::CreateEventW;
    // The sampling thread (CreateThread).
    HANDLE(WINAPI* createThread)
    (LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD) = ::CreateThread;
    // The pause between cycles: a wait on the stop event, with a time-out or together with the pause's
    // timer (WaitForMultipleObjects).
    DWORD(WINAPI* pauseWait)(DWORD, const HANDLE*, BOOL, DWORD) = ::WaitForMultipleObjects;
    // The pause's high-resolution timer (CreateWaitableTimerExW, asked with kHighResolutionTimer)
    // and its due time (SetWaitableTimer).
    HANDLE(WINAPI* createTimer)(LPSECURITY_ATTRIBUTES, LPCWSTR, DWORD, DWORD) = ::CreateWaitableTimerExW;
    BOOL(WINAPI* setTimer)
    (HANDLE, const LARGE_INTEGER*, LONG, PTIMERAPCROUTINE, LPVOID, BOOL) = ::SetWaitableTimer;
    // The system timer's resolution asked for and given back (timeBeginPeriod, timeEndPeriod), where
    // there is no high-resolution timer.
    MMRESULT(WINAPI* beginTimerPeriod)(UINT) = &engine::BeginTimerPeriod;
    MMRESULT(WINAPI* endTimerPeriod)(UINT) = &engine::EndTimerPeriod;
    // What a precise pause does between two looks at the counter (SwitchToThread).
    BOOL(WINAPI* spinYield)() = ::SwitchToThread;
    // The process's power throttling of its timer resolution, asked while a precise run lasts
    // (SetProcessInformation; engine::SetProcessInformation finds it at run time).
    BOOL(WINAPI* setProcessInformation)
    (HANDLE, PROCESS_INFORMATION_CLASS, LPVOID, DWORD) = &engine::SetProcessInformation;
};

}  // namespace engine
