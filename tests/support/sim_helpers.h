// Test helpers around the simulated boards of DirectPort.dll and the samplers that read them.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <vector>

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

inline size_t AccessLogSize() { return static_cast<size_t>(DPSIM_ReadLog(nullptr, 0)); }

inline std::vector<DPSIM_ACCESS> ReadAccessLog() {
    std::vector<DPSIM_ACCESS> log(AccessLogSize());
    log.resize(DPSIM_ReadLog(log.data(), static_cast<int>(log.size())));
    return log;
}

// One sampling cycle as seen at the board: a run of one thread's reads with no pause between them.
struct BoardCycle {
    DWORD thread = 0;
    LONGLONG firstUs = 0;
    LONGLONG lastUs = 0;
    std::vector<DPSIM_ACCESS> reads;
    int DataReads(LONG dataPort) const {
        int n = 0;
        for (const auto& r : reads) n += r.port == dataPort;
        return n;
    }
};

// Splits each thread's reads into cycles wherever that thread paused for more than gapUs.
inline std::vector<BoardCycle> SplitCycles(const std::vector<DPSIM_ACCESS>& log, LONGLONG gapUs) {
    std::vector<BoardCycle> cycles;
    std::map<DWORD, size_t> open;  // thread -> index of its current cycle
    for (const DPSIM_ACCESS& r : log) {
        auto it = open.find(r.threadId);
        if (it == open.end() || r.timeUs - cycles[it->second].lastUs > gapUs) {
            cycles.push_back({r.threadId, r.timeUs, r.timeUs, {}});
            open[r.threadId] = cycles.size() - 1;
            it = open.find(r.threadId);
        }
        BoardCycle& c = cycles[it->second];
        c.lastUs = r.timeUs;
        c.reads.push_back(r);
    }
    return cycles;
}

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
