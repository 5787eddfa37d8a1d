// What this process holds, for the leak tests and the soak runs. Under Wine GetProcessHandleCount,
// GetGuiResources and PrivateUsage all report 0, so handles are counted by probing every handle
// value. Any thread.
#pragma once

#include <windows.h>
#include <psapi.h>

namespace harness {

inline DWORD CountOpenHandles() {
    DWORD count = 0;
    DWORD flags;
    for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
        if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    }
    return count;
}

inline SIZE_T CommittedBytes() {
    PROCESS_MEMORY_COUNTERS mem = {};
    mem.cb = sizeof mem;
    ::K32GetProcessMemoryInfo(::GetCurrentProcess(), &mem, sizeof mem);
    return mem.PagefileUsage;
}

}  // namespace harness
