// Four samplers in two processes at one simulated board, each process with two, at different
// intervals. Each child records its process's port reads (the board's access log, with times that
// compare between processes) and saves them; the parent merges both logs, splits them into
// sampling cycles and checks that no two cycles overlapped (the port lock kept them apart), that
// every cycle ended within its budget (one interval: it released the lock in time) and that every
// sampler kept getting its turns. A sampler that waited a whole interval for the lock goes on
// without it, so an overlap with a cycle that outlasted the waiter's interval is the protocol's
// time-out at work (a machine too loaded to finish a cycle in time), not a broken lock; the
// table tells the two apart.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "base/unique_handle.h"
#include "directport/directport.h"
#include "engine/channel_sampler.h"
#include "engine/sample_math.h"
#include "bench/soak/soak.h"

namespace soak {
namespace {

// Reads per cycle at a ready board with eight channels: two status reads and a data read per byte.
constexpr int kReadsPerCycle = 48;
constexpr int kDataReadsPerCycle = 16;
constexpr LONG kBoardAddress = 356;  // the samplers' default board
constexpr LONG kIntervals[2][2] = {{20, 40}, {30, 50}};

struct Sampler {
    int process;
    DWORD thread;
    LONG interval;
};

struct Cycle {
    int sampler;
    LONGLONG firstUs, lastUs;
    int dataReads;
};

std::vector<DPSIM_ACCESS> ReadLogFile(const std::wstring& path) {
    std::vector<DPSIM_ACCESS> log;
    std::FILE* file = ::_wfopen(path.c_str(), L"rb");
    if (!file) return log;
    DPSIM_ACCESS a;
    while (std::fread(&a, sizeof a, 1, file) == 1) log.push_back(a);
    std::fclose(file);
    return log;
}

}  // namespace

// The child: two samplers on the default board for the given time, then the log saved to logPath
// (raw records, the first two naming the samplers' threads and intervals). Exit code 0 when the
// log kept every read.
int RunSamplerPair(double minutes, LONG intervalA, LONG intervalB, const wchar_t* logPath) {
    const double cycles = minutes * 60000.0 * (1.0 / intervalA + 1.0 / intervalB);
    DPSIM_StartLog(static_cast<int>(cycles * kReadsPerCycle * 1.5) + 100000);
    CChannelSampler a, b;
    a.SetInterval(intervalA);
    b.SetInterval(intervalB);
    if (!a.Start() || !b.Start()) return 1;
    ::Sleep(static_cast<DWORD>(minutes * 60000));
    a.Stop();
    b.Stop();
    std::vector<DPSIM_ACCESS> log(static_cast<size_t>(DPSIM_ReadLog(nullptr, 0)));
    log.resize(static_cast<size_t>(DPSIM_ReadLog(log.data(), static_cast<int>(log.size()))));
    const bool complete = static_cast<LONGLONG>(log.size()) == DPSIM_ReadCount();
    std::FILE* file = ::_wfopen(logPath, L"wb");
    if (!file) return 1;
    // Header records: the sampler's thread in threadId, its interval in value.
    DPSIM_ACCESS header[2] = {{a.GetThreadId(), 0, 0, -1, intervalA}, {b.GetThreadId(), 0, 0, -1, intervalB}};
    bool ok = std::fwrite(header, sizeof header, 1, file) == 1;
    if (!log.empty()) ok = ok && std::fwrite(log.data(), sizeof log[0], log.size(), file) == log.size();
    ok = std::fclose(file) == 0 && ok;
    return ok && complete ? 0 : 1;
}

int RunSamplers(double minutes) {
    const std::wstring self = BinFolder() + L"vandrel-soak.exe";
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    base::UniqueProcess children[2];
    std::wstring logs[2];
    for (int p = 0; p < 2; ++p) {
        logs[p] = std::wstring(temp) + L"vandrel-soak-board" + std::to_wstring(p) + L".bin";
        std::wstring command = L"\"" + self + L"\" sampler-pair " + std::to_wstring(minutes) + L" " +
                               std::to_wstring(kIntervals[p][0]) + L" " + std::to_wstring(kIntervals[p][1]) +
                               L" \"" + logs[p] + L"\"";
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                              &pi)) {
            PrintRow({"four samplers: child process", "not started", "started", false});
            return 1;
        }
        base::UniqueThread thread(pi.hThread);
        children[p].reset(pi.hProcess);
    }
    DWORD codes[2] = {1, 1};
    for (int p = 0; p < 2; ++p) {
        if (::WaitForSingleObject(children[p].get(), static_cast<DWORD>(minutes * 60000) + 120000) !=
            WAIT_OBJECT_0) {
            ::TerminateProcess(children[p].get(), 1);
        }
        ::GetExitCodeProcess(children[p].get(), &codes[p]);
    }

    // Samplers by (process, thread); reads of other threads of a child do not occur.
    std::vector<Sampler> samplers;
    std::map<std::pair<int, DWORD>, int> byThread;
    std::vector<std::pair<int, DPSIM_ACCESS>> reads;  // (sampler, read)
    for (int p = 0; p < 2; ++p) {
        std::vector<DPSIM_ACCESS> log = ReadLogFile(logs[p]);
        ::DeleteFileW(logs[p].c_str());
        if (log.size() < 2) continue;
        for (int h = 0; h < 2; ++h) {
            byThread[{p, log[h].threadId}] = static_cast<int>(samplers.size());
            samplers.push_back({p, log[h].threadId, log[h].value});
        }
        for (size_t i = 2; i < log.size(); ++i) {
            auto it = byThread.find({p, log[i].threadId});
            if (it != byThread.end()) reads.emplace_back(it->second, log[i]);
        }
    }
    std::stable_sort(reads.begin(), reads.end(),
                     [](const auto& x, const auto& y) { return x.second.timeUs < y.second.timeUs; });

    // A sampler's cycle ends with its sixteenth data byte, or where it paused for half its
    // interval (a cycle cut short by Stop): between cycles it waits a whole interval.
    const LONG dataPort = engine::DataPort(kBoardAddress);
    std::vector<Cycle> cycles;
    std::vector<int> open(samplers.size(), -1);
    for (const auto& [s, r] : reads) {
        const LONGLONG gapUs = samplers[static_cast<size_t>(s)].interval * 500LL;
        int& c = open[static_cast<size_t>(s)];
        if (c < 0 || cycles[static_cast<size_t>(c)].dataReads == kDataReadsPerCycle ||
            r.timeUs - cycles[static_cast<size_t>(c)].lastUs > gapUs) {
            cycles.push_back({s, r.timeUs, r.timeUs, 0});
            c = static_cast<int>(cycles.size()) - 1;
        }
        cycles[static_cast<size_t>(c)].lastUs = r.timeUs;
        if (r.port == dataPort) ++cycles[static_cast<size_t>(c)].dataReads;
    }
    std::sort(cycles.begin(), cycles.end(),
              [](const Cycle& x, const Cycle& y) { return x.firstUs < y.firstUs; });

    const LONGLONG startUs = cycles.empty() ? 0 : cycles.front().firstUs;
    int overlaps = 0, timedOut = 0;
    LONGLONG reach = -1, reachFirst = -1;
    int reachSampler = -1;
    double worstShare = 0;  // longest cycle as a share of its sampler's interval
    LONGLONG longestUs = 0;
    std::vector<int> perSampler(samplers.size(), 0);
    for (const Cycle& c : cycles) {
        if (reachSampler >= 0 && reachSampler != c.sampler && c.firstUs <= reach) {
            // The later sampler had waited at most its interval before it began.
            const bool late =
                c.firstUs - reachFirst >= samplers[static_cast<size_t>(c.sampler)].interval * 1000LL;
            if (late) {
                ++timedOut;
            } else {
                ++overlaps;
            }
            // The details for whoever looks into a failed row (scripts/soak keeps only stdout).
            std::fprintf(
                stderr,
                "overlap at +%.3f s: sampler %d (cycle %d, %.2f ms) began during sampler %d's cycle%s\n",
                static_cast<double>(c.firstUs - startUs) / 1e6, c.sampler,
                perSampler[static_cast<size_t>(c.sampler)] + 1,
                static_cast<double>(c.lastUs - c.firstUs) / 1000.0, reachSampler,
                late ? " after its time-out" : "");
        }
        if (c.lastUs > reach) {
            reach = c.lastUs;
            reachFirst = c.firstUs;
            reachSampler = c.sampler;
        }
        const LONGLONG us = c.lastUs - c.firstUs;
        longestUs = std::max(longestUs, us);
        worstShare = std::max(worstShare, static_cast<double>(us) /
                                              (samplers[static_cast<size_t>(c.sampler)].interval * 1000.0));
        ++perSampler[static_cast<size_t>(c.sampler)];
    }
    // Turns: each sampler's cycles against what its interval allows in the time (a cycle every
    // interval plus the cycle itself and the scheduler's slack).
    double leastTurns = samplers.empty() ? 0 : 1e9;
    for (size_t s = 0; s < samplers.size(); ++s) {
        const double possible = minutes * 60000.0 / samplers[s].interval;
        leastTurns = std::min(leastTurns, perSampler[s] / possible);
    }

    char share[32], turns[32], longest[32];
    std::snprintf(share, sizeof share, "%.0f %%", worstShare * 100);
    std::snprintf(turns, sizeof turns, "%.0f %%", leastTurns * 100);
    std::snprintf(longest, sizeof longest, "%.2f ms", static_cast<double>(longestUs) / 1000.0);
    const bool logsComplete = codes[0] == 0 && codes[1] == 0 && samplers.size() == 4;
    const std::string span = std::to_string(static_cast<int>(minutes * 60)) + " s";
    return PrintRows({
        {"four samplers, two processes, " + span + ": complete access logs",
         logsComplete ? Number(reads.size()) + " reads" : "incomplete", "complete", logsComplete},
        {"four samplers: cycles overlapping one that held the lock (of " + Number(cycles.size()) + ")",
         std::to_string(overlaps), "0", logsComplete && overlaps == 0},
        {"four samplers: overlaps after the waiter's time-out (lock held too long)", std::to_string(timedOut),
         "-", true},
        {"four samplers: longest cycle holding the lock (" + std::string(longest) + ")", share,
         "< 100 % of interval", logsComplete && worstShare < 1.0},
        {"four samplers: fewest cycles of one sampler, of its intervals", turns, ">= 50 %",
         logsComplete && leastTurns >= 0.5},
    });
}

}  // namespace soak
