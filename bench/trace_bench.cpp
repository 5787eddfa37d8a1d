// Trace figures: what a post costs the posting thread with the trace closed and open, what the
// trace adds to a sampling cycle, how many entries per second the writer brings to the console and
// the log, and what its two outputs cost on their own.
//
// The trace cannot be closed once open, so everything with the trace open runs in a second process
// (this program again, told by an environment variable): the engine groups of this process keep
// measuring with the trace closed. The child needs a display for its console; it appends to
// C:\log.log, which is removed afterwards when it did not exist before.
#include <windows.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "base/unique_handle.h"
#include "bench/bench.h"
#include "directport/directport.h"
#include "engine/channel_sampler.h"
#include "harness/access_log.h"
#include "harness/child_process.h"
#include "trace/trace.h"

namespace {

constexpr char kChildVariable[] = "VANDREL_BENCH_TRACE_CHILD";
constexpr char kLog[] = "C:\\log.log";
// Well under the queue bound, so no post is dropped.
constexpr int kBatch = 2000;
constexpr int kRounds = 20;

// Median ns per post over rounds of kBatch data posts of a byte, as the sampling thread makes them.
// Each round starts when the writer is about one round behind, so it posts while the writer is
// writing; rounds stop early after some seconds when the writer is slow.
double NsPerPost() {
    std::vector<double> samples;
    const ULONGLONG until = ::GetTickCount64() + 10000;
    for (int round = 0; round < kRounds && ::GetTickCount64() < until; ++round) {
        const double t0 = bench::NowNs();
        for (int i = 0; i < kBatch; ++i) TraceData("%d ", i & 0xFF);
        samples.push_back((bench::NowNs() - t0) / kBatch);
        while (TraceQueueLength() > static_cast<size_t>(kBatch) && ::GetTickCount64() < until) ::Sleep(0);
    }
    TraceWaitDrained(600000);
    return bench::Median(samples);
}

// Median time per byte of complete cycles (16 bytes, 48 port reads) of a sampler at Interval 20.
double CycleNsPerByte() {
    DPSIM_Reset();
    DPSIM_Configure("356:wave");
    constexpr int kLogSize = 100'000;
    DPSIM_StartLog(kLogSize);
    {
        CChannelSampler sampler;
        sampler.SetInterval(20);
        sampler.Start();
        ::Sleep(1000);
        sampler.Stop();
    }
    const std::vector<DPSIM_ACCESS> log = harness::ReadAccessLog();
    DPSIM_Reset();
    std::vector<double> perByte;
    for (const auto& cycle : harness::SplitCycles(log, 5000)) {
        if (cycle.reads.size() == 48)
            perByte.push_back(static_cast<double>(cycle.lastUs - cycle.firstUs) * 1000.0 / 16);
    }
    return bench::Median(perByte);
}

void Row(const char* what, double value, const char* unit, const std::string& note) {
    std::printf("row\t%s\t%f\t%s\t%s\n", what, value, unit, note.c_str());
}

void MeasureWithTheTraceOpen() {
    // The same cycles with the trace still closed, in this process just before, as the baseline.
    const double closedCycle = CycleNsPerByte();
    Row("cycle time per byte, trace closed (same process)", closedCycle, "ns",
        "3 port reads + engine; Interval 20");
    if (TraceOpen() != 1) {
        Row("TraceOpen failed (no display?): open figures skipped", 0, "", "");
        return;
    }
    TraceWaitDrained(60000);
    Row("TraceData(\"%d \", byte), trace open", NsPerPost(), "ns",
        "per post, rounds of " + std::to_string(kBatch) + ", writer draining");

    const double openCycle = CycleNsPerByte();
    Row("cycle time per byte, trace open", openCycle, "ns", "3 port reads + engine + one post; Interval 20");
    Row("cycle time per byte, trace open / closed", closedCycle > 0 ? openCycle / closedCycle : 0, "x",
        "same process, one after the other");
    TraceWaitDrained(600000);

    constexpr int kEntries = 20 * kBatch;
    const double t0 = bench::NowNs();
    for (int i = 0; i < kEntries; ++i) TraceData("%d ", i & 0xFF);
    TraceWaitDrained(600000);
    Row("writer throughput, console + C:\\log.log", kEntries / ((bench::NowNs() - t0) / 1e9), "1/s",
        std::to_string(kEntries) + " entries of 2..4 bytes");

    // The writer's two outputs on their own, per entry: the console's three calls, one file write.
    base::UniqueFile console(::CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                           nullptr));
    constexpr int kWrites = 1000;
    DWORD written = 0;
    double t = bench::NowNs();
    for (int i = 0; i < kWrites; ++i) {
        ::SetConsoleTextAttribute(console.get(), kTraceRed);
        ::WriteConsoleA(console.get(), "12 ", 4, &written, nullptr);
        ::SetConsoleTextAttribute(console.get(), kTraceWhite);
    }
    Row("console output of one entry (attribute, text, attribute)", (bench::NowNs() - t) / kWrites / 1000,
        "us", "Wine's console on Xvfb");

    wchar_t dir[MAX_PATH];
    ::GetTempPathW(MAX_PATH, dir);
    const std::wstring path = std::wstring(dir) + L"vandrel-trace-bench.tmp";
    {
        base::UniqueFile f(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
        t = bench::NowNs();
        for (int i = 0; i < kWrites * 10; ++i) ::WriteFile(f.get(), "12 ", 3, &written, nullptr);
        Row("log output of one entry (one unbuffered WriteFile)",
            (bench::NowNs() - t) / (kWrites * 10) / 1000, "us", "");
    }
    ::DeleteFileW(path.c_str());
}

// In the child, measure and end before main runs the groups of the parent.
const bool g_isChild = [] {
    if (::GetEnvironmentVariableA(kChildVariable, nullptr, 0) == 0) return false;
    MeasureWithTheTraceOpen();
    std::fflush(stdout);
    ::ExitProcess(0);
}();

}  // namespace

BENCH_GROUP(TracePosts) {
    // This process never opens the trace.
    constexpr int kCalls = 5'000'000;
    const double t0 = bench::NowNs();
    for (int i = 0; i < kCalls; ++i) TraceData("%d ", i & 0xFF);
    rows.push_back({"TraceData(\"%d \", byte), trace closed", (bench::NowNs() - t0) / kCalls, "ns",
                    "per post, nothing formatted or queued"});

    const bool hadLog = ::GetFileAttributesA(kLog) != INVALID_FILE_ATTRIBUTES;
    const harness::ChildResult child = harness::RunSelf("", kChildVariable, "1", 600000);
    if (!hadLog) ::DeleteFileA(kLog);
    std::istringstream lines(child.out);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string tag, what, value, unit, note;
        if (!std::getline(fields, tag, '\t') || tag != "row") continue;
        std::getline(fields, what, '\t');
        std::getline(fields, value, '\t');
        std::getline(fields, unit, '\t');
        std::getline(fields, note);
        rows.push_back({what, std::stod(value), unit, note});
    }
    if (child.exitCode != 0) rows.push_back({"trace child failed", double(child.exitCode), "", ""});
}
