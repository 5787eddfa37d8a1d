// The trace under a sampler at Interval 1, the fastest a host can set, with the log file held
// open by another process: the writer cannot open the log and drains to the console alone. The
// queue must stay within its bound, the writer must catch up once the sampler stops, and the
// memory must stay flat once the queue is full.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "base/unique_handle.h"
#include "engine/channel_sampler.h"
#include "trace/trace.h"
#include "bench/soak/soak.h"

namespace soak {
namespace {

constexpr char kFlagFile[] = "C:\\TRUV_Debug.flag";
constexpr wchar_t kLogFile[] = L"C:\\log.log";
constexpr size_t kQueueBound = 100000;

// Starts "vandrel-soak hold C:\log.log", which keeps the log open until it is ended.
base::UniqueProcess StartHolder() {
    std::wstring command = L"\"" + BinFolder() + L"vandrel-soak.exe\" hold " + kLogFile;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        return {};
    }
    base::UniqueThread thread(pi.hThread);
    return base::UniqueProcess(pi.hProcess);
}

// True once another process holds the log: then an exclusive open fails with a sharing violation.
bool LogHeldElsewhere() {
    base::UniqueFile probe(::CreateFileW(kLogFile, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr));
    return !probe && ::GetLastError() == ERROR_SHARING_VIOLATION;
}

}  // namespace

int HoldFile(const wchar_t* path) {
    // As a log viewer holds a file: open for reading, others may read and write, not delete.
    base::UniqueFile file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_ALWAYS, 0, nullptr));
    if (!file) return 1;
    ::Sleep(INFINITE);
    return 0;
}

int RunTrace(double minutes) {
    // The trace comes on when a sampler is built while the flag file exists.
    base::UniqueFile flag(::CreateFileA(kFlagFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    flag.reset();
    base::UniqueProcess holder = StartHolder();
    bool held = false;
    for (int i = 0; i < 100 && !held; ++i) {
        held = LogHeldElsewhere();
        if (!held) ::Sleep(50);
    }

    int code = 0;
    {
        CChannelSampler sampler;
        ::DeleteFileA(kFlagFile);
        sampler.SetInterval(1);
        const bool started = sampler.Start() != FALSE;

        const DWORD totalMs = static_cast<DWORD>(minutes * 60000);
        // Memory is compared from the end of the first tenth (the queue has filled by then) on.
        const DWORD settleMs = totalMs / 10;
        const DWORD t0 = ::GetTickCount();
        size_t longest = 0;
        Usage settled{}, peak{};
        bool settledTaken = false;
        while (::GetTickCount() - t0 < totalMs) {
            ::Sleep(100);
            longest = std::max(longest, TraceQueueLength());
            const DWORD now = ::GetTickCount() - t0;
            if (!settledTaken && now >= settleMs) {
                settled = MeasureUsage();
                peak = settled;
                settledTaken = true;
            } else if (settledTaken && now % 1000 < 100) {
                const Usage u = MeasureUsage();
                peak.privateBytes = std::max(peak.privateBytes, u.privateBytes);
            }
        }
        sampler.Stop();
        // The writer goes on until everything posted is out (pending drops as their line): under
        // Wine's console that can take minutes.
        const DWORD drainStart = ::GetTickCount();
        const bool drained = TraceWaitDrained(30 * 60000) != 0;
        const DWORD drainSeconds = (::GetTickCount() - drainStart) / 1000;
        const Usage end = MeasureUsage();
        peak.privateBytes = std::max(peak.privateBytes, end.privateBytes);

        const int64_t growth =
            static_cast<int64_t>(peak.privateBytes) - static_cast<int64_t>(settled.privateBytes);
        // The full queue's entries, a few dozen bytes each, and room for the heap's own growth.
        const int64_t memoryLimit = 16 * 1024 * 1024;
        const std::string span = std::to_string(static_cast<int>(minutes * 60)) + " s";
        code = PrintRows({
            {"Interval 1 with trace, log held: sampler started, log held", started && held ? "yes" : "no",
             "yes", started && held},
            {"Interval 1 with trace: longest trace queue in " + span, Number(longest),
             "<= " + Number(kQueueBound + 1), longest <= kQueueBound + 1},
            {"Interval 1 with trace: queue drained after Stop",
             drained ? std::to_string(drainSeconds) + " s" : "no", "<= 30 min", drained},
            {"Interval 1 with trace: private bytes, peak after the first tenth", Bytes(growth),
             "<= +16.0 MiB", settledTaken && growth <= memoryLimit},
        });
    }
    if (holder) {
        ::TerminateProcess(holder.get(), 0);
        ::WaitForSingleObject(holder.get(), 5000);
    }
    return code;
}

}  // namespace soak
