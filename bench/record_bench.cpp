// Recording figures: how many rows a second the record file's writer sustains, what recording adds
// to the sampling thread's cycle, and whether a host that sleeps for half a minute loses cycles
// from its file. The first two drive an engine::CycleRecorder through a CChannelSampler on the
// simulated board; the last drives the built Vandrel.ocx beside the program, as a host does.
#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/com_ptr.h"
#include "base/late_bound.h"
#include "base/module_file.h"
#include "base/unique_handle.h"
#include "base/variant.h"
#include "bench/bench.h"
#include "bench/soak/soak_control.h"
#include "directport/directport.h"
#include "engine/channel_sampler.h"
#include "engine/cycle_clock.h"
#include "engine/cycle_queue.h"
#include "engine/cycle_recorder.h"
#include "engine/cycle_ring.h"

namespace {

// A file in the temporary folder, and the files a rollover would name after it, gone.
std::wstring FreshTempFile(const wchar_t* name) {
    wchar_t folder[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, folder);
    const std::wstring path = std::wstring(folder) + name;
    ::DeleteFileW(path.c_str());
    for (int n = 2; n < 10; ++n) {
        const std::wstring numbered = path.substr(0, path.size() - 4) + L"-" + std::to_wstring(n) + L".csv";
        ::DeleteFileW(numbered.c_str());
    }
    return path;
}

// What a record file holds: its rows of cycles, whether their numbers run 1, 2, 3 ... (one run),
// and its lines that mark lost cycles.
struct FileCount {
    uint64_t rows = 0;
    uint64_t lostLines = 0;
    bool inOrder = true;
    bool opened = false;
};

FileCount CountFile(const std::wstring& path) {
    FileCount count;
    base::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (!file || !::GetFileSizeEx(file.get(), &size)) return count;
    std::string text(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!text.empty() &&
        !::ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr)) {
        return count;
    }
    text.resize(read);
    count.opened = true;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        if (text[at] == '#') {
            ++count.lostLines;
        } else if (text[at] >= '0' && text[at] <= '9') {
            ++count.rows;
            count.inOrder = count.inOrder && std::strtoull(text.c_str() + at, nullptr, 10) == count.rows;
        }
        at = end + 1;
    }
    return count;
}

double FileTimeMs(const FILETIME& t) {
    return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e4;
}

// CPU time (user + kernel) the thread has used so far, in ms; -1 when it cannot be told.
double ThreadCpuMs(HANDLE thread) {
    FILETIME created, exited, kernel, user;
    if (!thread || !::GetThreadTimes(thread, &created, &exited, &kernel, &user)) return -1;
    return FileTimeMs(kernel) + FileTimeMs(user);
}

// The sampler's pause between cycles left out: a cycle follows the last at once, so the writer gets
// more rows than it can take. The stop request still ends the thread.
DWORD WINAPI NoPause(DWORD, const HANDLE* stopFirst, BOOL, DWORD) noexcept {
    return ::WaitForSingleObject(stopFirst[0], 0);
}

// The writer's writes, timed: the first one waits for release, so that a backlog builds up in the
// queue; the next write carries the whole backlog.
struct TimedWrites {
    HANDLE release = nullptr;
    int calls = 0;
    double firstEndNs = 0;     // the held-up write returned
    double secondStartNs = 0;  // the backlog formatted
    double secondEndNs = 0;    // and written
    size_t secondRows = 0;
    size_t secondBytes = 0;
};
TimedWrites g_writes;

BOOL WINAPI TimedWriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written,
                           LPOVERLAPPED overlapped) noexcept {
    const int call = ++g_writes.calls;
    const double start = bench::NowNs();
    if (call == 1) ::WaitForSingleObject(g_writes.release, 60000);
    const BOOL ok = ::WriteFile(file, data, size, written, overlapped);
    const double end = bench::NowNs();
    if (call == 1) {
        g_writes.firstEndNs = end;
    } else if (call == 2) {
        g_writes.secondStartNs = start;
        g_writes.secondEndNs = end;
        const char* text = static_cast<const char*>(data);
        g_writes.secondRows = static_cast<size_t>(std::count(text, text + size, '\n'));
        g_writes.secondBytes = size;
    }
    return ok;
}

}  // namespace

// (a) What the writer sustains. A sampler without pauses feeds the recorder rows of 8 channels (the
// longest) for 6 s; the recorder's first write is held up for 3 s, and the rows that piled up
// meanwhile, formatted and written in one go, give the writer's own rate. The rest of the run says
// whether it kept up with the sampler: every cycle must be in the file, none lost.
BENCH_GROUP(RecordWriter) {
    DPSIM_Reset();
    DPSIM_Configure("356:wave");
    CChannelSampler::Platform samplerPlatform;
    samplerPlatform.pauseWait = &NoPause;
    CChannelSampler sampler(samplerPlatform);
    sampler.SetInterval(100);  // the budget of a cycle; the free lock is taken at once
    engine::RecorderPlatform recorderPlatform;
    recorderPlatform.writeFile = &TimedWriteFile;
    engine::CycleRecorder recorder(sampler, recorderPlatform);
    base::UniqueEvent release(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    g_writes = TimedWrites();
    g_writes.release = release.get();
    const std::wstring path = FreshTempFile(L"vandrel-bench-writer.csv");
    if (FAILED(recorder.Record(path, engine::kMaxBufferCycles, 8))) {
        rows.push_back({"record file not opened", 0, "", "temporary folder"});
        return;
    }
    constexpr DWORD kHoldMs = 3000, kRunMs = 6000;
    const double t0 = bench::NowNs();
    sampler.Start();
    ::Sleep(kHoldMs);
    // The writer goes on at once, not at the end of its period: its wake-up is set before the
    // held-up write returns.
    recorder.Flush();
    ::SetEvent(release.get());
    ::Sleep(kRunMs - kHoldMs);
    sampler.Stop();
    recorder.Close();
    const double seconds = (bench::NowNs() - t0) / 1e9;
    const uint64_t cycles = sampler.CycleCount();
    const uint64_t lost = recorder.Lost();
    const FileCount file = CountFile(path);
    ::DeleteFileW(path.c_str());
    DPSIM_Reset();

    if (g_writes.secondRows > 0) {
        const double formatMs = (g_writes.secondStartNs - g_writes.firstEndNs) / 1e6;
        const double writeMs = (g_writes.secondEndNs - g_writes.secondStartNs) / 1e6;
        const double backlog = static_cast<double>(g_writes.secondRows);
        rows.push_back({"record writer: rows a second, draining a backlog",
                        backlog / (formatMs + writeMs) * 1000, "1/s",
                        std::to_string(g_writes.secondRows) + " rows of 8 channels, " +
                            std::to_string(g_writes.secondBytes / g_writes.secondRows) + " bytes each"});
        rows.push_back(
            {"record writer: formatting per row", formatMs * 1e6 / backlog, "ns", "from the queue to text"});
        rows.push_back({"record writer: writing per row", writeMs * 1e6 / backlog, "ns",
                        "one WriteFile of " + std::to_string(g_writes.secondBytes / 1024) + " KiB"});
    }
    const bool whole = file.rows + lost == cycles && file.inOrder;
    rows.push_back({"record writer behind a sampler without pauses: rows lost", static_cast<double>(lost), "",
                    std::to_string(cycles) + " cycles in " + std::to_string(static_cast<int>(seconds + 0.5)) +
                        " s, first write held 3 s" +
                        (whole ? ", every cycle in the file" : ", ROWS UNACCOUNTED")});
}

// (a2) A small queue on a disk that keeps up: a sampler at Interval 1 records with a queue of
// BufferSize 10, 20 and 50 cycles to an ordinary file, for 5 s each (60 s with --long). The writer
// is woken as the queue fills, so none may be lost.
BENCH_GROUP(RecordSmallQueue) {
    DPSIM_Reset();
    DPSIM_Configure("356:count");
    const DWORD runMs = bench::LongRuns() ? 60000 : 5000;
    for (const size_t queueCycles : {10, 20, 50}) {
        CChannelSampler sampler;
        sampler.SetInterval(1);
        engine::CycleRecorder recorder(sampler);
        const std::wstring path = FreshTempFile(L"vandrel-bench-small-queue.csv");
        if (FAILED(recorder.Record(path, queueCycles, 8))) {
            rows.push_back({"record file not opened", 0, "", "temporary folder"});
            break;
        }
        sampler.Start();
        ::Sleep(runMs);
        sampler.Stop();
        recorder.Close();
        const uint64_t cycles = sampler.CycleCount();
        const FileCount file = CountFile(path);
        ::DeleteFileW(path.c_str());
        const bool whole = file.rows + recorder.Lost() == cycles && file.inOrder;
        rows.push_back({"record queue of " + std::to_string(queueCycles) + " at Interval 1: cycles lost",
                        static_cast<double>(recorder.Lost()), "",
                        std::to_string(cycles) + " cycles in " + std::to_string(runMs / 1000) + " s" +
                            (whole ? ", every cycle in the file or counted" : ", ROWS UNACCOUNTED")});
    }
    DPSIM_Reset();
}

// (b) What recording adds to the sampling thread, two ways, each in one run. The publication of a
// cycle as the sampling thread makes it (time stamp, ring slot), without and with the push into the
// recorder's queue, in blocks of 1,000 taken in turns (the queue is emptied between blocks, as the
// writer does). And a sampler without pauses, recording in every other turn of 1 s: its thread's
// CPU time per cycle in each kind of turn. Without pauses the thread is always busy, so its CPU time
// is what its cycles cost, whatever else the machine runs, and Wine's 10 ms steps of CPU time are
// small beside it.
BENCH_GROUP(RecordOverhead) {
    engine::CycleRing ring;
    if (FAILED(ring.Resize(engine::kDefaultBufferCycles))) return;
    ring.Settle();
    engine::CycleQueue queue(engine::kDefaultBufferCycles);
    engine::CycleClock clock;
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    clock.Start(engine::CounterNow(), frequency.QuadPart, engine::SystemTimeNow());
    engine::Cycle cycle;
    cycle.channels = 8;
    std::vector<double> plainNs, tappedNs;
    engine::QueuedCycle popped;
    for (int block = 0; block < 1000; ++block) {
        const bool tapped = block % 2 == 1;
        const double t0 = bench::NowNs();
        for (int i = 0; i < 1000; ++i) {
            ++cycle.number;
            cycle.time = clock.Stamp(engine::CounterNow(), engine::SystemTimeNow());
            ring.Publish(cycle);
            if (tapped) queue.Push(cycle);
        }
        (tapped ? tappedNs : plainNs).push_back((bench::NowNs() - t0) / 1000);
        while (queue.Pop(popped)) {}
    }
    const double plain = bench::Median(plainNs);
    const double tapped = bench::Median(tappedNs);
    rows.push_back({"cycle publication, not recording (median)", plain, "ns",
                    "time stamp + ring slot, blocks of 1,000"});
    rows.push_back(
        {"cycle publication, recording (median)", tapped, "ns", "+ the push into the recorder's queue"});
    rows.push_back({"recording's share of a cycle's publication", tapped - plain, "ns",
                    "the difference of the two, 500 blocks each, in turns"});

    DPSIM_Reset();
    DPSIM_Configure("356:wave");
    CChannelSampler::Platform platform;
    platform.pauseWait = &NoPause;
    CChannelSampler sampler(platform);
    sampler.SetInterval(100);
    engine::CycleRecorder recorder(sampler);
    const std::wstring path = FreshTempFile(L"vandrel-bench-overhead.csv");
    sampler.Start();
    base::UniqueThread thread(::OpenThread(THREAD_QUERY_INFORMATION, FALSE, sampler.GetThreadId()));
    constexpr int kTurns = 10;
    constexpr DWORD kTurnMs = 1000;
    double cpuMs[2] = {}, cycles[2] = {};
    bool recorded = true;
    ::Sleep(200);  // past the first cycles
    for (int turn = 0; turn < kTurns; ++turn) {
        const int recording = turn % 2;
        if (recording)
            recorded = SUCCEEDED(recorder.Record(path, engine::kDefaultBufferCycles, 8)) && recorded;
        const double cpu0 = ThreadCpuMs(thread.get());
        const uint64_t n0 = sampler.CycleCount();
        ::Sleep(kTurnMs);
        cpuMs[recording] += ThreadCpuMs(thread.get()) - cpu0;
        cycles[recording] += static_cast<double>(sampler.CycleCount() - n0);
        if (recording) recorder.Close();
    }
    sampler.Stop();
    ::DeleteFileW(path.c_str());
    if (!thread || cycles[0] == 0 || cycles[1] == 0) {
        rows.push_back({"sampling thread CPU per cycle not measured", 0, "", "no thread or no cycles"});
        return;
    }
    const auto note = [&](int k) {
        return std::to_string(static_cast<long long>(cycles[k])) + " cycles, " +
               std::to_string(static_cast<long long>(cpuMs[k])) + " ms CPU in " + std::to_string(kTurns / 2) +
               " turns of " + std::to_string(kTurnMs / 1000) + " s";
    };
    const double plainUs = cpuMs[0] * 1000 / cycles[0];
    const double recordingUs = cpuMs[1] * 1000 / cycles[1];
    rows.push_back({"sampling thread CPU per cycle, not recording", plainUs, "us", "no pauses; " + note(0)});
    rows.push_back({"sampling thread CPU per cycle, recording", recordingUs, "us",
                    "no pauses; " + note(1) + (recorded ? "" : "; A RECORDING FAILED")});
    rows.push_back({"recording's share of the sampling thread's CPU per cycle", recordingUs - plainUs, "us",
                    "the difference, turns taken in one run"});
    DPSIM_Reset();
}

namespace {

// A late-bound member by name, as a script host finds it.
DISPID IdOf(IDispatch* control, const wchar_t* name) {
    DISPID id = DISPID_UNKNOWN;
    LOG_IF_FAILED(base::GetDispId(control, name, &id));
    return id;
}

LONG GetLong(IDispatch* control, DISPID id) {
    base::Variant value;
    if (FAILED(base::GetProperty(control, id, value.ptr())) ||
        FAILED(::VariantChangeType(value.ptr(), value.ptr(), 0, VT_I4))) {
        return -1;
    }
    return value.get().lVal;
}

// Handles the thread's messages until ms have passed, as a host's idle loop does.
void PumpFor(DWORD ms) {
    const ULONGLONG end = ::GetTickCount64() + ms;
    for (ULONGLONG now = ::GetTickCount64(); now < end; now = ::GetTickCount64()) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
}

}  // namespace

// (c) The control at Interval 1 records to a file for 60 s with --long (6 s otherwise) while its
// host's thread sleeps for the middle half, neither reading nor handling messages: every cycle of
// the run must be in the file. The ReadCycles buffer (1,000 cycles) overflows meanwhile, for
// comparison.
BENCH_GROUP(RecordHostAsleep) {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HMODULE ocx = ::LoadLibraryW(base::BesideProgram(L"Vandrel.ocx").c_str());
    auto ctrl = ocx ? soak::CreateFromModule(ocx) : base::ComPtr<IDispatch>();
    if (!ctrl) {
        rows.push_back({"Vandrel.ocx not loaded", 0, "", "build vandrel_ocx first"});
        return;
    }
    DPSIM_Reset();
    DPSIM_Configure("356:wave");
    const DISPID recordFile = IdOf(ctrl.get(), L"RecordFile");
    const std::wstring path = FreshTempFile(L"vandrel-bench-asleep.csv");
    const DWORD runMs = bench::LongRuns() ? 60000 : 6000;
    const DWORD sleepMs = runMs / 2;

    HRESULT hr = soak::PutInterval(ctrl.get(), 1);
    if (SUCCEEDED(hr)) hr = base::PutProperty(ctrl.get(), recordFile, base::Variant(path.c_str()).get());
    const bool started = SUCCEEDED(hr) && soak::InvokeStart(ctrl.get());
    const double t0 = bench::NowNs();
    PumpFor((runMs - sleepMs) / 2);
    ::Sleep(sleepMs);
    PumpFor((runMs - sleepMs) / 2);
    LOG_IF_FAILED(soak::InvokeStop(ctrl.get()));
    const double seconds = (bench::NowNs() - t0) / 1e9;
    const LONG cycles = GetLong(ctrl.get(), IdOf(ctrl.get(), L"CycleCount"));
    const LONG recordLost = GetLong(ctrl.get(), IdOf(ctrl.get(), L"RecordLost"));
    const LONG bufferLost = GetLong(ctrl.get(), IdOf(ctrl.get(), L"LostCycles"));
    const LONG longestGap = GetLong(ctrl.get(), IdOf(ctrl.get(), L"LongestGap"));
    // The file is complete when the put returns.
    LOG_IF_FAILED(base::PutProperty(ctrl.get(), recordFile, base::Variant(L"").get()));
    ctrl.reset();
    const FileCount file = CountFile(path);
    ::DeleteFileW(path.c_str());
    DPSIM_Reset();
    if (!started || !file.opened) {
        rows.push_back({"host asleep: no recording", 0, "",
                        started ? "record file not found" : "RecordFile or Start failed"});
        return;
    }

    const std::string span =
        std::to_string(runMs / 1000) + " s, host asleep " + std::to_string(sleepMs / 1000) + " s";
    const std::string note = std::to_string(cycles) + " cycles, " + std::to_string(file.rows) + " rows" +
                             (file.inOrder ? " in order" : " OUT OF ORDER") + ", RecordLost " +
                             std::to_string(recordLost) + ", " + std::to_string(file.lostLines) +
                             " lost lines; ReadCycles buffer lost " + std::to_string(bufferLost);
    rows.push_back({"Interval 1 for " + span + ": cycles not in the file",
                    static_cast<double>(cycles) - static_cast<double>(file.rows), "", note});
    rows.push_back({"Interval 1 through the control: cycles a second", cycles / seconds, "1/s",
                    "8 channels; longest gap " + std::to_string(longestGap) + " ms"});
}
