// Test helpers around the simulated boards of DirectPort.dll and the samplers that read them; the
// boards' access log, which the benchmarks read too, is harness/access_log.h.
#pragma once

#include <windows.h>

#include <functional>

#include "directport/directport.h"

namespace testsupport {

// Configures the simulated boards for one test and puts the defaults back afterwards.
class SimBoards {
public:
    explicit SimBoards(const char* config, int logCapacity = 0) {
        DPSIM_Reset();
        configured_ = DPSIM_Configure(config) == 1;
        if (logCapacity > 0) DPSIM_StartLog(logCapacity);
    }
    ~SimBoards() { DPSIM_Reset(); }
    SimBoards(const SimBoards&) = delete;
    SimBoards& operator=(const SimBoards&) = delete;
    bool Configured() const { return configured_; }

private:
    bool configured_ = false;
};

// Stands in for CreateEventW in a sampler's set-up: fails as a system out of resources does.
inline HANDLE WINAPI NoEventLeft(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCWSTR) {
    ::SetLastError(ERROR_NO_SYSTEM_RESOURCES);
    return nullptr;
}

// Polls pred every millisecond for up to timeoutMs.
inline bool WaitUntil(const std::function<bool()>& pred, DWORD timeoutMs = 5000) {
    const ULONGLONG end = ::GetTickCount64() + timeoutMs;
    while (!pred()) {
        if (::GetTickCount64() > end) return false;
        ::Sleep(1);
    }
    return true;
}

}  // namespace testsupport
