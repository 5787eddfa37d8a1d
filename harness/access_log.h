// The simulated boards' access log (DPSIM_StartLog) as the tests and the benchmarks read it: every
// read of a port, and the reads split into the cycles of each sampling thread. Any thread.
#pragma once

#include <windows.h>

#include <map>
#include <vector>

#include "directport/directport.h"

namespace harness {

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

}  // namespace harness
