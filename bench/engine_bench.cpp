// Engine figures: the read-out path, scaling and judging a cycle's values, the per-byte cost of a
// cycle, what publishing a numbered cycle and draining the ring cost, whether a host draining every
// 100 ms loses cycles, the pace a sampler keeps at short Intervals (with default and precise pauses),
// its CPU share and the gaps between its cycles, how fast Stop returns, and what an Interval-0
// sampler costs in CPU.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "base/unique_handle.h"
#include "bench/bench.h"
#include "directport/directport.h"
#include "engine/channel_sampler.h"
#include "engine/measurement_rules.h"
#include "engine/measurements.h"
#include "harness/access_log.h"

namespace {

constexpr int kBoard = 356;

}  // namespace

BENCH_GROUP(ReadOut) {
    CChannelSampler sampler;
    constexpr int kCalls = 5'000'000;
    volatile int sink = 0;
    const double t0 = bench::NowNs();
    for (int i = 0; i < kCalls; ++i) sink = sink + sampler.GetChnlValue(i & 7);
    const double t1 = bench::NowNs();
    rows.push_back({"GetChnlValue", (t1 - t0) / kCalls, "ns", "per call, 5M calls"});
}

// What the measurement rules add to a cycle of 8 channels: each value scaled and judged against all
// four limits, on a wave that crosses them all, so that levels raise, hold and clear. Nothing there
// allocates (plain values and a tracker of fixed size); the goal is under 100 ns a cycle.
BENCH_GROUP(MeasurementRules) {
    engine::ChannelRules rules[engine::kMeasuredChannels];
    engine::AlarmTracker trackers[engine::kMeasuredChannels];
    for (int c = 0; c < engine::kMeasuredChannels; ++c) {
        rules[c].gain = 0.01 * (c + 1);
        rules[c].offset = -5;
        rules[c].highHigh = 250;
        rules[c].high = 150;
        rules[c].low = -150;
        rules[c].lowLow = -250;
        rules[c].deadband = 2;
        rules[c].onDelayMs = static_cast<uint32_t>(c);
        rules[c].latching = c % 2 == 1;
    }
    constexpr int kCycles = 2'000'000;
    long changes = 0;
    const double t0 = bench::NowNs();
    for (int i = 0; i < kCycles; ++i) {
        for (int c = 0; c < engine::kMeasuredChannels; ++c) {
            const auto raw = static_cast<int16_t>(((i * 37 + c * 4099) & 0xFFFF) - 32768);
            changes += trackers[c].Judge(rules[c], rules[c].Scale(raw), static_cast<uint64_t>(i));
        }
        if (i % 1000 == 0) trackers[i / 1000 % engine::kMeasuredChannels].Acknowledge();
    }
    const double perCycle = (bench::NowNs() - t0) / kCycles;
    rows.push_back({"scale and judge 8 channels, 4 limits each", perCycle, "ns",
                    "per cycle, goal under 100, no allocation; 2M cycles, " + std::to_string(changes) +
                        " level changes"});

    // The same as the sampling thread runs it: under the measurements' lock, with the zero's history
    // and the changes queued, which a host takes now and then.
    engine::Measurements measured;
    for (int c = 0; c < engine::kMeasuredChannels; ++c) measured.SetRules(c, rules[c]);
    measured.BeginRun(1);
    engine::Cycle cycle;
    cycle.channels = engine::kMeasuredChannels;
    engine::MeasuredValues out;
    engine::AlarmChange taken[64];
    const double t2 = bench::NowNs();
    for (int i = 0; i < kCycles; ++i) {
        cycle.number = static_cast<uint64_t>(i) + 1;
        for (int c = 0; c < engine::kMeasuredChannels; ++c)
            cycle.values[c] = static_cast<int16_t>(((i * 37 + c * 4099) & 0xFFFF) - 32768);
        measured.Judge(cycle, static_cast<uint64_t>(i), &out);
        if (i % 256 == 0) {
            const size_t n = measured.Peek(taken, std::size(taken));
            if (n > 0) measured.Forget(taken[n - 1].sequence);
        }
    }
    rows.push_back({"the sampler's measurements of a cycle of 8 channels", (bench::NowNs() - t2) / kCycles,
                    "ns",
                    "per cycle: lock, scale, judge, history, queue; goal under 100; " +
                        std::to_string(measured.Lost()) + " changes let go untaken"});
}

namespace {

// The reads of one cycle of 8 channels as the sampler makes them (two status reads and a data read
// per byte), without the engine; then the sampler's pause. At the sampler's priority, for ms.
DWORD WINAPI BareCycles(LPVOID ms) noexcept {
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
    const ULONGLONG end = ::GetTickCount64() + reinterpret_cast<ULONG_PTR>(ms);
    while (::GetTickCount64() < end) {
        for (int b = 0; b < 16; ++b) {
            DP_InpB(kBoard);
            DP_InpB(kBoard);
            DP_InpB(kBoard + 2);
        }
        ::Sleep(10);
    }
    return 0;
}

// The spans in us from the first read to the last of the logged cycles of 48 reads.
void AddCycleSpans(std::vector<double>& spansUs) {
    for (const auto& cycle : harness::SplitCycles(harness::ReadAccessLog(), 5000)) {
        if (cycle.reads.size() == 48) spansUs.push_back(static_cast<double>(cycle.lastUs - cycle.firstUs));
    }
}

}  // namespace

// The engine's share of a byte is some tens of ns beside some hundreds for the port reads, on a
// machine that others share. So it is the difference between the sampler's cycles and the same
// reads made by a bare loop, taken in turns from the access log's time stamps (whole us, averaged
// over the middle half of many cycles).
BENCH_GROUP(CycleBytes) {
    DPSIM_Reset();
    DPSIM_Configure("356:wave");
    // What one DP_InpB costs on its own, with the access log recording as it does below.
    constexpr int kReads = 2'000'000;
    DPSIM_StartLog(kReads);
    const double t0 = bench::NowNs();
    for (int i = 0; i < kReads; ++i) DP_InpB(kBoard);
    rows.push_back(
        {"DP_InpB (simulated board)", (bench::NowNs() - t0) / kReads, "ns", "per read, access log on"});

    constexpr ULONG_PTR kTurnMs = 1500;
    std::vector<double> engineUs, bareUs;
    for (int turn = 0; turn < 3; ++turn) {
        DPSIM_StartLog(100'000);
        CChannelSampler sampler;
        // Pauses of 10 ms, as the bare loop makes them: well over the 5 ms that splits the log.
        sampler.SetInterval(10);
        sampler.Start();
        ::Sleep(kTurnMs);
        sampler.Stop();
        AddCycleSpans(engineUs);

        DPSIM_StartLog(100'000);
        base::UniqueThread bare(
            ::CreateThread(nullptr, 0, BareCycles, reinterpret_cast<LPVOID>(kTurnMs), 0, nullptr));
        if (bare) ::WaitForSingleObject(bare.get(), INFINITE);
        AddCycleSpans(bareUs);
    }
    DPSIM_StartLog(0);
    const size_t cycles = engineUs.size();
    const double engineByteNs = bench::MiddleMean(engineUs) * 1000.0 / 16.0;
    const double bareByteNs = bench::MiddleMean(bareUs) * 1000.0 / 16.0;
    rows.push_back({"cycle time per byte (3 port reads + engine)", engineByteNs, "ns",
                    std::to_string(cycles) + " cycles, middle half, trace closed"});
    rows.push_back({"the same reads without the engine, per byte", bareByteNs, "ns",
                    std::to_string(bareUs.size()) + " cycles, middle half"});
    rows.push_back({"engine overhead per byte read (trace closed)", engineByteNs - bareByteNs, "ns",
                    "the difference of the two, taken in 3 turns"});
    DPSIM_Reset();
}

// What the sampling thread adds to a cycle after its last byte: the time stamp (two clock reads)
// and the ring's slot, as Publish does them.
BENCH_GROUP(CyclePublication) {
    engine::CycleRing ring;
    if (FAILED(ring.Resize(engine::kDefaultBufferCycles))) return;
    ring.Settle();
    engine::CycleClock clock;
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    clock.Start(engine::CounterNow(), frequency.QuadPart, engine::SystemTimeNow());
    constexpr int kCycles = 1'000'000;
    engine::Cycle cycle;
    cycle.channels = 8;
    const double t0 = bench::NowNs();
    for (int i = 1; i <= kCycles; ++i) {
        cycle.number = static_cast<uint64_t>(i);
        cycle.time = clock.Stamp(engine::CounterNow(), engine::SystemTimeNow());
        ring.Publish(cycle);
    }
    const double perCycle = (bench::NowNs() - t0) / kCycles;
    rows.push_back({"cycle publication (time stamp + ring slot)", perCycle, "ns", "per cycle, 1M cycles"});
    rows.push_back({"cycle publication per byte of an 8-channel cycle", perCycle / 16, "ns",
                    "adds to the overhead above"});
}

BENCH_GROUP(Drain) {
    engine::CycleRing ring;
    if (FAILED(ring.Resize(1000))) return;
    ring.Settle();
    std::vector<engine::Cycle> out(1000);
    std::vector<double> samples;
    engine::Cycle cycle;
    cycle.channels = 8;
    bool whole = true;
    for (int round = 0; round < 200; ++round) {
        for (int i = 0; i < 1000; ++i) {
            ++cycle.number;
            ring.Publish(cycle);
        }
        uint64_t lost = 0;
        const double t0 = bench::NowNs();
        const size_t n = ring.Drain(out.data(), out.size(), lost);
        samples.push_back((bench::NowNs() - t0) / 1000);
        whole = whole && n == 1000 && lost == 0;
    }
    rows.push_back({"drain 1,000 cycles (median)", bench::Median(samples), "us",
                    whole ? "200 drains of a full ring of 1,000" : "A DRAIN CAME SHORT"});
}

// A sampler at Interval 1 (a cycle about every millisecond) and a host that drains every 100 ms, for
// 60 s with --long and 10 s otherwise. Every cycle number is either drained or counted lost.
BENCH_GROUP(HostDrain) {
    DPSIM_Reset();
    DPSIM_Configure("356:count");
    const DWORD runMs = bench::LongRuns() ? 60000 : 10000;
    CChannelSampler sampler;
    sampler.SetInterval(1);
    std::vector<engine::Cycle> out(engine::kDefaultBufferCycles);
    uint64_t drained = 0, lost = 0, gaps = 0, expected = 1;
    const auto drain = [&] {
        uint64_t lostNow = 0;
        const size_t n = sampler.DrainCycles(out.data(), out.size(), lostNow);
        lost += lostNow;
        for (size_t i = 0; i < n; ++i) {
            gaps += out[i].number - expected;
            expected = out[i].number + 1;
        }
        drained += n;
    };
    sampler.Start();
    const ULONGLONG end = ::GetTickCount64() + runMs;
    while (::GetTickCount64() < end) {
        ::Sleep(100);
        drain();
    }
    sampler.Stop();
    drain();
    const uint64_t cycles = sampler.CycleCount();
    const std::string note =
        std::to_string(cycles) + " cycles over " + std::to_string(runMs / 1000) + " s; gaps " +
        std::to_string(gaps) +
        (drained + lost == cycles ? ", every cycle accounted for" : ", CYCLES UNACCOUNTED");
    rows.push_back(
        {"Interval 1, host drains every 100 ms: cycles lost", static_cast<double>(lost), "", note});
    DPSIM_Reset();
}

namespace {

double FileTimeMs(const FILETIME& t) {
    return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e4;
}

// CPU time (user + kernel) the thread has used so far, in ms.
double ThreadCpuMs(HANDLE thread) {
    FILETIME created, exited, kernel, user;
    if (!::GetThreadTimes(thread, &created, &exited, &kernel, &user)) return -1;
    return FileTimeMs(kernel) + FileTimeMs(user);
}

// What one sampler run on the counting board shows: its pace, on the sampler's own figures and at
// the board, and the cycle time behind the pace it should keep.
struct PaceRun {
    double achieved = 0;  // CycleCount over the time between two counted cycles, per second
    double healthRate = 0;
    double gapP99Ms = 0;     // Health().GapPercentile99Ms()
    double cpuPercent = -1;  // the sampling thread's CPU time over the same span, of one core
    double cycleMs = 0;      // median of whole cycles' first to last read
    uint64_t failed = 0;
    uint32_t longestGapMs = 0;
    // From the first read of each cycle to that of the next, at the board.
    std::vector<double> startGapsMs;
    size_t pieces = 0;  // runs of reads with a pause before them
    size_t whole = 0;   // of those, whole cycles of 8 channels
    bool logFull = false;
};

// Waits (polling every millisecond) for the sampler's count to move past seen; the count and the
// time it was seen to move.
std::pair<uint64_t, double> NextCount(const CChannelSampler& sampler, uint64_t seen) {
    const ULONGLONG giveUp = ::GetTickCount64() + 5000;
    for (;;) {
        const uint64_t now = sampler.CycleCount();
        if (now != seen || ::GetTickCount64() > giveUp) return {now, bench::NowNs()};
        ::Sleep(1);
    }
}

// A sampler of 8 channels at interval for about runMs. The achieved rate counts cycles from just
// after one cycle to just after another, so that neither end carries part of a period; the
// first cycles, which come before the first pause, are left out.
PaceRun MeasurePace(LONG interval, DWORD runMs, bool precise = false) {
    constexpr int kLogCapacity = 400'000;  // 48 reads a cycle: 8,000 cycles
    DPSIM_Reset();
    DPSIM_Configure("356:count");
    DPSIM_StartLog(kLogCapacity);
    PaceRun run;
    CChannelSampler sampler;
    sampler.SetInterval(interval);
    sampler.SetPreciseTiming(precise);
    sampler.Start();
    base::UniqueThread thread(::OpenThread(THREAD_QUERY_INFORMATION, FALSE, sampler.GetThreadId()));
    const auto [first, t0] = NextCount(sampler, NextCount(sampler, 0).first);
    const double cpu0 = thread ? ThreadCpuMs(thread.get()) : -1;
    ::Sleep(runMs);
    const auto [last, t1] = NextCount(sampler, sampler.CycleCount());
    const double cpu1 = thread ? ThreadCpuMs(thread.get()) : -1;
    run.healthRate = sampler.Health().Rate();
    run.gapP99Ms = sampler.Health().GapPercentile99Ms();
    sampler.Stop();
    run.achieved = t1 > t0 ? static_cast<double>(last - first) * 1e9 / (t1 - t0) : 0;
    if (cpu0 >= 0 && cpu1 >= 0 && t1 > t0) run.cpuPercent = (cpu1 - cpu0) * 100 / ((t1 - t0) / 1e6);
    run.failed = sampler.Health().FailedAttempts();
    run.longestGapMs = sampler.Health().LongestGapMs();
    run.logFull = DPSIM_ReadCount() > kLogCapacity;

    // Within a cycle the reads follow each other by microseconds; between cycles the sampler
    // pauses its Interval.
    std::vector<double> spansMs;
    LONGLONG previousStartUs = -1;
    for (const auto& cycle : harness::SplitCycles(harness::ReadAccessLog(), interval * 1000 / 2)) {
        ++run.pieces;
        if (cycle.reads.size() == 48) {
            ++run.whole;
            spansMs.push_back(static_cast<double>(cycle.lastUs - cycle.firstUs) / 1000);
        }
        if (previousStartUs >= 0)
            run.startGapsMs.push_back(static_cast<double>(cycle.firstUs - previousStartUs) / 1000);
        previousStartUs = cycle.firstUs;
    }
    run.cycleMs = bench::Median(spansMs);
    DPSIM_Reset();
    return run;
}

std::string Fixed(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

}  // namespace

// Each Interval's achieved rate beside the rate its pauses allow, 1000 / (Interval + cycle time),
// with the cycle time measured at the board in the same run, the sampling thread's share of a core
// and the gap 99 of 100 of the last 1000 stay within (GapPercentile99); at the short Intervals with
// the default pauses and with precise ones; and at Interval 10, the gaps between cycles as the board
// saw them.
BENCH_GROUP(Pace) {
    for (const LONG interval : {1L, 2L, 5L, 10L, 100L}) {
        for (const bool precise : {false, true}) {
            if (precise && interval >= 16) continue;
            // Some 2,000 cycles at the short Intervals, 30 at Interval 100.
            const DWORD runMs = interval >= 100 ? 3000 : 2000;
            PaceRun run = MeasurePace(interval, runMs, precise);
            const std::string name =
                "Interval " + std::to_string(interval) + (precise ? ", precise" : ", default") + ": ";
            rows.push_back({name + "cycles a second, achieved", run.achieved, "1/s",
                            "CycleCount over " + Fixed(runMs / 1000.0, 0) + " s: a cycle every " +
                                Fixed(run.achieved > 0 ? 1000 / run.achieved : 0, 3) +
                                " ms; Health().Rate() " + Fixed(run.healthRate, 1) + "; " +
                                std::to_string(run.failed) + " failed attempts"});
            const double expected = 1000.0 / (interval + run.cycleMs);
            rows.push_back({name + "cycles a second, expected", expected, "1/s",
                            "1000 / (Interval + " + Fixed(run.cycleMs, 3) +
                                " ms, the median first to last read of " + std::to_string(run.whole) +
                                " cycles at the board" + (run.logFull ? ", LOG FULL" : "") + "); achieved " +
                                Fixed(expected > 0 ? run.achieved * 100 / expected : 0, 1) + " %"});
            rows.push_back(
                {name + "sampling thread CPU", run.cpuPercent, "%", "of one core, GetThreadTimes"});
            rows.push_back({name + "gap between cycles, 99th pct", run.gapP99Ms, "ms",
                            "Health().GapPercentile99Ms(), the last 1000 gaps, publication to publication"});
            if (interval != 10 || precise) continue;
            const std::string note = std::to_string(run.startGapsMs.size()) + " gaps, " +
                                     std::to_string(run.whole) + " of " + std::to_string(run.pieces) +
                                     " runs of reads whole cycles";
            rows.push_back({"Interval 10: gap between cycles, median",
                            bench::Percentile(run.startGapsMs, 0.5), "ms",
                            "first read to first read, stamped by the board on the sampling thread"});
            rows.push_back({"Interval 10: gap between cycles, 99th pct",
                            bench::Percentile(run.startGapsMs, 0.99), "ms", note});
            rows.push_back({"Interval 10: gap between cycles, max", bench::Percentile(run.startGapsMs, 1),
                            "ms",
                            "Health().LongestGapMs() " + std::to_string(run.longestGapMs) +
                                " (publication to publication)"});
        }
    }
}

BENCH_GROUP(StopLatency) {
    DPSIM_Reset();
    DPSIM_Configure("356:busy");
    std::vector<double> samples;
    const DWORD delays[] = {5, 50, 300, 1000, 2000};
    for (int round = 0; round < 2; ++round) {
        for (DWORD delay : delays) {
            CChannelSampler sampler;  // Interval 2160, polling a board that never gets ready
            sampler.Start();
            ::Sleep(delay);
            const double t0 = bench::NowNs();
            sampler.Stop();
            samples.push_back((bench::NowNs() - t0) / 1e6);
        }
    }
    const double worst = *std::max_element(samples.begin(), samples.end());
    const double median = bench::Median(samples);
    rows.push_back({"Stop latency, busy board, Interval 2160 (median)", median, "ms",
                    std::to_string(samples.size()) + " stops at 5 ms .. 2 s into the run"});
    rows.push_back({"Stop latency, busy board, Interval 2160 (worst)", worst, "ms", ""});
    DPSIM_Reset();
}

namespace {

std::atomic<long> g_clockReads{0};

BOOL WINAPI CountingCounter(LARGE_INTEGER* now) {
    g_clockReads.fetch_add(1, std::memory_order_relaxed);
    return ::QueryPerformanceCounter(now);
}

}  // namespace

// At Interval 0 every cycle gives up all its slots at once; the thread must still pause between
// cycles rather than spin at raised priority. Cycles are counted by the sampler's clock reads (one
// at a cycle's start and one per given-up slot, 17 with 8 channels).
BENCH_GROUP(IntervalZero) {
    DPSIM_Reset();
    DPSIM_Configure("356:wave");
    CChannelSampler::Platform platform;
    platform.counter = &CountingCounter;
    CChannelSampler sampler(platform);
    sampler.SetInterval(0);
    g_clockReads = 0;
    sampler.Start();
    base::UniqueThread thread(::OpenThread(THREAD_QUERY_INFORMATION, FALSE, sampler.GetThreadId()));
    constexpr DWORD kRunMs = 3000;
    const double cpu0 = thread ? ThreadCpuMs(thread.get()) : -1;
    const long reads0 = g_clockReads.load();
    const double t0 = bench::NowNs();
    ::Sleep(kRunMs);
    const double cpu1 = thread ? ThreadCpuMs(thread.get()) : -1;
    const long reads1 = g_clockReads.load();
    const double wallMs = (bench::NowNs() - t0) / 1e6;
    sampler.Stop();
    const double cyclesPerSecond = (reads1 - reads0) / 17.0 / (wallMs / 1000);
    rows.push_back({"Interval 0: sampling thread CPU", cpu0 < 0 ? -1 : (cpu1 - cpu0) * 100 / wallMs, "%",
                    "of one core, target under 5; over " + std::to_string(kRunMs) + " ms"});
    rows.push_back(
        {"Interval 0: cycles", cyclesPerSecond, "1/s", "a pause of at least 10 ms between cycles"});
    DPSIM_Reset();
}
