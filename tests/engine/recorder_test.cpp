// The recorder against a running sampler and the counting board: what the file holds after a kill,
// a slow disk, a size limit, refused paths, a failed write and a switch of files. Each test writes
// in a folder of its own below the temporary folder.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/module_file.h"
#include "base/unique_handle.h"
#include "engine/channel_sampler.h"
#include "engine/cycle_recorder.h"
#include "tests/support/fail_fast.h"
#include "tests/support/hresult_matchers.h"
#include "tests/support/sim_helpers.h"

using testsupport::SimBoards;
using testsupport::WaitUntil;

namespace {

namespace fs = std::filesystem;

constexpr char kHeader[] = "cycle,time,ch0,ch1,ch2,ch3,ch4,ch5,ch6,ch7";

// What a record file holds: its lines, each row's number, each mark of lost cycles, and whether
// every complete line is a header, a row or a mark; and all of these in the file's order.
struct RecordFile {
    std::vector<std::string> lines;  // complete lines
    bool partialLast = false;        // the file ends in a line without its end
    std::vector<uint64_t> numbers;
    struct Mark {
        uint64_t first, count;
        uint64_t ends;  // runs whose ends it adds up, 0 for a numbered mark
    };
    std::vector<Mark> marks;
    std::vector<Mark> items;  // rows (count 1) and marks in order
    size_t headers = 0;
    std::string fault;

    explicit RecordFile(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        size_t start = 0;
        for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            lines.push_back(text.substr(start, end - start));
        partialLast = start < text.size();
        static const std::regex row(
            "([0-9]+),[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}"
            "[+-][0-9]{2}:[0-9]{2}(,-?[0-9]+){8}");
        static const std::regex mark("# lost ([0-9]+) cycles?: ([0-9]+) to ([0-9]+)");
        static const std::regex ends("# lost ([0-9]+) cycles? at the ends of ([0-9]+) runs?");
        for (const std::string& line : lines) {
            std::smatch m;
            if (std::regex_match(line, m, row)) {
                numbers.push_back(std::stoull(m[1]));
                items.push_back({numbers.back(), 1, 0});
            } else if (std::regex_match(line, m, mark)) {
                marks.push_back({std::stoull(m[2]), std::stoull(m[1]), 0});
                if (marks.back().first + marks.back().count - 1 != std::stoull(m[3]))
                    fault = "miscounted: " + line;
                items.push_back(marks.back());
            } else if (std::regex_match(line, m, ends)) {
                marks.push_back({0, std::stoull(m[1]), std::stoull(m[2])});
                items.push_back(marks.back());
            } else if (line == kHeader) {
                ++headers;
            } else if (fault.empty()) {
                fault = "not a row: " + line;
            }
        }
    }
    bool StartsWithHeader() const { return !lines.empty() && lines[0].rfind("cycle,time,", 0) == 0; }
    uint64_t Marked() const {
        uint64_t sum = 0;
        for (const Mark& m : marks) sum += m.count;
        return sum;
    }
};

// A folder of the test's own, emptied first.
fs::path Folder() {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    const fs::path folder = fs::temp_directory_path() / "vandrel-recorder" / test->name();
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    fs::create_directories(folder);
    return folder;
}

void StopSoon(CChannelSampler& s) {
    testsupport::WithinMs(testsupport::kStopLimitMs, "Stop", [&] { s.Stop(); });
}

// Numbers consecutive from first but for the gaps the marks explain, each where it happened; a row
// or a mark that starts again at 1, or follows the ends of runs added up, begins the next run. runs,
// when given, gets the cycles each numbered run accounts for.
std::string CheckSequence(const RecordFile& f, uint64_t first, std::vector<uint64_t>* runs = nullptr) {
    uint64_t next = first;
    const auto endRun = [&] {
        if (runs && next > 1) runs->push_back(next - 1);
        next = 1;
    };
    for (const RecordFile::Mark& item : f.items) {
        if (item.ends > 0) {
            endRun();
            continue;
        }
        if (item.first == 1 && next != 1) endRun();
        if (item.first != next)
            return (item.count == 1 ? "row " : "a mark at ") + std::to_string(item.first) + " where " +
                   std::to_string(next);
        next += item.count;
    }
    endRun();
    return "";
}

// A write held until the test opens the gate (a disk that stalls); with g_failHeld the held write
// then fails as on a full disk, and the writes after it go through.
HANDLE g_gate = nullptr;
std::atomic<bool> g_held{false};
std::atomic<bool> g_failHeld{false};
BOOL WINAPI HeldWrite(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    g_held = true;
    ::WaitForSingleObject(g_gate, INFINITE);
    if (g_failHeld.exchange(false)) {
        *written = 0;
        ::SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    return ::WriteFile(file, data, size, written, overlapped);
}
// Declared after the recorder, so that it opens before the recorder's close waits for its writer.
struct Gate {
    base::UniqueEvent event{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    Gate() {
        g_gate = event.get();
        g_held = false;
        g_failHeld = false;
    }
    ~Gate() { Open(); }
    void Open() { ::SetEvent(event.get()); }
};

// A time zone that cannot be told, slowly, for the first lookups: the writer asks again for every
// row, and each row takes longer than a cycle.
std::atomic<int> g_slowLookups{0};
bool SlowUnknownZone(uint64_t, int64_t*) noexcept {
    if (g_slowLookups.fetch_sub(1) > 0) ::Sleep(8);
    return false;
}

std::atomic<int> g_writes{0};
std::atomic<int> g_failFrom{INT_MAX};
BOOL WINAPI SlowWrite(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    ::Sleep(150);
    return ::WriteFile(file, data, size, written, overlapped);
}
// From the g_failFrom-th write on, the disk is full: a write stores what fitted, all but its last byte, and
// fails.
BOOL WINAPI WriteUntilFull(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    if (++g_writes >= g_failFrom) {
        ::WriteFile(file, data, size - 1, written, overlapped);
        ::SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    return ::WriteFile(file, data, size, written, overlapped);
}

}  // namespace

// The second process of the kill test: records at full speed until it is killed.
int ChildRecord(const char* path) {
    SimBoards sim("356:count");
    CChannelSampler s;
    s.SetInterval(1);
    engine::CycleRecorder recorder(s);
    const std::string narrow(path);
    if (FAILED(recorder.Record(std::wstring(narrow.begin(), narrow.end()), 1000, 8)) || !s.Start()) return 2;
    ::Sleep(INFINITE);
    return 0;
}

// A host killed while it records leaves whole rows, numbered from 1, but for a last line in part.
TEST(Recorder, AHostKilledWhileRecordingLeavesWholeRowsNumberedFromOne) {
    const fs::path file = Folder() / "killed.csv";
    std::wstring command =
        L"\"" + base::ModuleFileName(nullptr) + L"\" --child-record \"" + file.wstring() + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(
        ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    base::UniqueProcess child(pi.hProcess);
    base::UniqueThread childThread(pi.hThread);
    const bool wrote = WaitUntil(
        [&] {
            std::error_code ignored;
            return fs::exists(file) && fs::file_size(file, ignored) > 20000;
        },
        30000);
    ::TerminateProcess(child.get(), 9);
    ::WaitForSingleObject(child.get(), 10000);
    ASSERT_TRUE(wrote) << "the child recorded nothing";
    const RecordFile f(file);
    EXPECT_EQ("", f.fault);
    EXPECT_TRUE(f.StartsWithHeader());
    ASSERT_GT(f.numbers.size(), 100u);
    EXPECT_EQ("", CheckSequence(f, 1));
    EXPECT_TRUE(f.marks.empty());
}

// Every cycle of a run at Interval 1 is written or marked where it was lost, and rows and marks add
// up to the run. A disk slower than the cycles loses what the queue cannot hold; one that keeps up
// loses nothing even with a queue of a few cycles, as the writer is woken when the queue fills, not
// only by its period.
TEST(Recorder, EveryCycleIsWrittenOrMarkedAndOnlyASlowDiskLosesAny) {
    const struct {
        const char* disk;
        decltype(engine::RecorderPlatform::writeFile) write;
        size_t queue;
    } kDisks[] = {{"slow", &SlowWrite, 8}, {"keeping up", &::WriteFile, 16}};
    for (const auto& d : kDisks) {
        SCOPED_TRACE(d.disk);
        SimBoards sim("356:count");
        const fs::path file = Folder() / "run.csv";
        CChannelSampler s;
        s.SetInterval(1);
        engine::RecorderPlatform platform;
        platform.writeFile = d.write;
        engine::CycleRecorder recorder(s, platform);
        ASSERT_HR(S_OK, recorder.Record(file.wstring(), d.queue, 8));
        ASSERT_TRUE(s.Start());
        ASSERT_TRUE(WaitUntil([&] { return s.CycleCount() > 800; }, 20000));
        StopSoon(s);
        recorder.Close();
        const RecordFile f(file);
        EXPECT_EQ("", f.fault);
        EXPECT_EQ("", CheckSequence(f, 1));
        EXPECT_EQ(recorder.Lost(), f.Marked());
        EXPECT_EQ(s.CycleCount(), f.numbers.size() + f.Marked()) << "every cycle written or marked";
        if (d.write == &SlowWrite) {
            EXPECT_GT(recorder.Lost(), 100u);
        } else {
            EXPECT_EQ(0u, recorder.Lost());
        }
    }
}

// A disk that stalls across three runs: the first loses its end, the second and third every cycle
// (the third is still sampling when the file is closed). Each loss is marked with its own run's
// numbers, none merged with another's.
TEST(Recorder, RunsWhoseCyclesWereAllLostAreMarkedWithTheirOwnNumbers) {
    SimBoards sim("356:count");
    const fs::path file = Folder() / "runs.csv";
    CChannelSampler s;
    s.SetInterval(1);
    engine::RecorderPlatform stalled;
    stalled.writeFile = &HeldWrite;
    engine::CycleRecorder recorder(s, stalled);
    Gate gate;
    ASSERT_HR(S_OK, recorder.Record(file.wstring(), 4, 8));
    std::vector<uint64_t> ran;
    for (int run = 0; run < 3; ++run) {
        ASSERT_TRUE(s.Start());
        ASSERT_TRUE(WaitUntil([&] { return s.CycleCount() > 20; }));
        if (run < 2) {
            StopSoon(s);
            ran.push_back(s.CycleCount());
        }
    }
    std::thread opener([&] {
        ::Sleep(200);
        gate.Open();
    });
    recorder.Close();
    opener.join();
    StopSoon(s);
    const RecordFile f(file);
    EXPECT_EQ("", f.fault);
    std::vector<uint64_t> runs;
    EXPECT_EQ("", CheckSequence(f, 1, &runs));
    ASSERT_EQ(3u, runs.size());
    EXPECT_EQ(ran[0], runs[0]);
    EXPECT_EQ(ran[1], runs[1]);
    EXPECT_GT(runs[2], 20u);
    EXPECT_EQ(recorder.Lost(), f.Marked());
    EXPECT_EQ(ran[0] + ran[1] + runs[2], f.numbers.size() + f.Marked());
}

// Past the limit the rows go on in name-3.csv when name-2.csv exists, which stays as it was; each
// file starts with the header and keeps to the limit.
TEST(Recorder, RollsOverAtTheLimitAndNeverOverwrites) {
    SimBoards sim("356:count");
    const fs::path folder = Folder();
    std::ofstream(folder / "run-2.csv") << "keep\n";
    CChannelSampler s;
    s.SetInterval(1);
    engine::CycleRecorder recorder(s);
    recorder.SetLimitBytes(100);
    EXPECT_EQ(engine::CycleRecorder::kMinLimitBytes, recorder.LimitBytes());
    ASSERT_HR(S_OK, recorder.Record((folder / "run.csv").wstring(), 1000, 8));
    ASSERT_TRUE(s.Start());
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(folder / "run-5.csv"); }, 20000));
    StopSoon(s);
    recorder.Close();
    std::ifstream kept(folder / "run-2.csv");
    EXPECT_EQ("keep", std::string(std::istreambuf_iterator<char>(kept), {}).substr(0, 4));
    uint64_t next = 1;
    for (const char* name : {"run.csv", "run-3.csv", "run-4.csv"}) {
        const RecordFile f(folder / name);
        EXPECT_TRUE(f.StartsWithHeader()) << name;
        EXPECT_LE(fs::file_size(folder / name), 4096u) << name;
        EXPECT_EQ("", CheckSequence(f, next)) << name;
        next += f.numbers.size();
    }
}

// A path that cannot be opened is refused with the system's error and the recording goes on where
// it was.
TEST(Recorder, RefusesAPathItCannotOpenAndChangesNothing) {
    SimBoards sim("356:count");
    const fs::path folder = Folder();
    const fs::path good = folder / "good.csv";
    base::UniqueFile held(::CreateFileW((folder / "held.csv").c_str(), GENERIC_WRITE, 0, nullptr,
                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);
    CChannelSampler s;
    s.SetInterval(2);
    engine::CycleRecorder recorder(s);
    ASSERT_HR(S_OK, recorder.Record(good.wstring(), 1000, 8));
    ASSERT_TRUE(s.Start());
    const struct {
        fs::path path;
        HRESULT error;
    } kRefused[] = {{folder / "no such folder" / "x.csv", HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)},
                    {folder, HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)},
                    {folder / "held.csv", HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION)}};
    for (const auto& c : kRefused) {
        EXPECT_HR(c.error, recorder.Record(c.path.wstring(), 1000, 8)) << c.path;
        EXPECT_TRUE(recorder.Recording());
        EXPECT_EQ(good.wstring(), recorder.Path());
    }
    ASSERT_TRUE(WaitUntil([&] { return s.CycleCount() > 20; }));
    StopSoon(s);
    recorder.Close();
    const RecordFile f(good);
    EXPECT_EQ("", CheckSequence(f, 1));
    EXPECT_EQ(s.CycleCount(), f.numbers.size());
}

// A write that fails ends the recording and says why in the sampler's LastError; the file keeps
// whole rows only, sampling goes on, and setting the same file again goes on recording into it.
TEST(Recorder, AFailedWriteEndsTheRecordingAndSamplingGoesOn) {
    SimBoards sim("356:count");
    const fs::path folder = Folder();
    CChannelSampler s;
    s.SetInterval(2);
    engine::RecorderPlatform full;
    full.writeFile = &WriteUntilFull;
    g_writes = 0;
    g_failFrom = 3;
    engine::CycleRecorder recorder(s, full);
    ASSERT_HR(S_OK, recorder.Record((folder / "full.csv").wstring(), 1000, 8));
    ASSERT_TRUE(s.Start());
    ASSERT_TRUE(WaitUntil([&] { return !recorder.Recording(); }));
    EXPECT_HR(HRESULT_FROM_WIN32(ERROR_DISK_FULL), s.LastError());
    const RecordFile written(folder / "full.csv");
    EXPECT_FALSE(written.partialLast) << "what fitted of the failed write stays";
    EXPECT_EQ("", written.fault);
    EXPECT_EQ("", CheckSequence(written, 1));
    EXPECT_EQ(engine::SamplerStatus::kSampling, s.Status());
    const uint64_t at = s.CycleCount();
    ASSERT_TRUE(WaitUntil([&] { return s.CycleCount() > at + 5; })) << "sampling goes on";
    g_failFrom = INT_MAX;
    // The same name again goes on in that file, as after freeing space.
    ASSERT_HR(S_OK, recorder.Record((folder / "full.csv").wstring(), 1000, 8));
    EXPECT_TRUE(recorder.Recording());
    ASSERT_TRUE(WaitUntil(
        [&] { return RecordFile(folder / "full.csv").numbers.size() > written.numbers.size() + 3; }));
    StopSoon(s);
    recorder.Close();
}

// A file that exists is appended to without a second header, after its last whole line: a row cut
// by a killed host is cut off, not glued to the first new one. A switch goes on in the next file
// from the cycle after the last one of the file before.
TEST(Recorder, AppendsToAFileThatExistsAndSwitchesBetweenTwoCycles) {
    SimBoards sim("356:count");
    const fs::path folder = Folder();
    for (const char* name : {"first.csv", "second.csv", "third.csv"})
        std::ofstream(folder / name, std::ios::binary) << kHeader << "\n5,2026-12-09T10:15:30.12";
    CChannelSampler s;
    s.SetInterval(1);
    engine::CycleRecorder recorder(s);
    ASSERT_HR(S_OK, recorder.Record((folder / "first.csv").wstring(), 1000, 8));
    ASSERT_TRUE(s.Start());
    ASSERT_TRUE(WaitUntil([&] { return s.CycleCount() > 30; }));
    ASSERT_HR(S_OK, recorder.Record((folder / "second.csv").wstring(), 1000, 8));
    ASSERT_TRUE(WaitUntil([&] { return s.CycleCount() > 60; }));
    StopSoon(s);
    recorder.Close();
    const RecordFile first(folder / "first.csv"), second(folder / "second.csv");
    for (const RecordFile* f : {&first, &second}) {
        EXPECT_EQ("", f->fault);
        EXPECT_EQ(1u, f->headers);
    }
    EXPECT_EQ("", CheckSequence(first, 1));
    ASSERT_FALSE(second.numbers.empty());
    EXPECT_EQ("", CheckSequence(second, first.numbers.back() + 1));
    EXPECT_EQ(s.CycleCount(), first.numbers.size() + second.numbers.size());
    // Closed before any cycle: the cut row is gone all the same.
    ASSERT_HR(S_OK, recorder.Record((folder / "third.csv").wstring(), 1000, 8));
    recorder.Close();
    const RecordFile third(folder / "third.csv");
    EXPECT_EQ(std::vector<std::string>{kHeader}, third.lines);
    EXPECT_FALSE(third.partialLast);
}

// A switch asked while the writer is in the middle of a long pass (rows slower than cycles) still
// cuts at the cycle asked: the old file does not go on with the cycles after it.
TEST(Recorder, ASwitchInALongPassCutsAtTheCycleAsked) {
    SimBoards sim("356:count");
    const fs::path folder = Folder();
    CChannelSampler s;
    s.SetInterval(5);
    engine::RecorderPlatform slow;
    slow.zoneOffset = &SlowUnknownZone;
    g_slowLookups = 100;
    engine::CycleRecorder recorder(s, slow);
    ASSERT_HR(S_OK, recorder.Record((folder / "first.csv").wstring(), 1000, 8));
    ASSERT_TRUE(s.Start());
    ASSERT_TRUE(WaitUntil([&] { return s.CycleCount() > 30; }));
    const uint64_t asked = s.CycleCount();
    ASSERT_HR(S_OK, recorder.Record((folder / "second.csv").wstring(), 1000, 8));
    ASSERT_TRUE(WaitUntil([&] { return s.CycleCount() > asked + 40; }));
    StopSoon(s);
    recorder.Close();
    const RecordFile first(folder / "first.csv"), second(folder / "second.csv");
    ASSERT_FALSE(first.numbers.empty());
    EXPECT_LE(first.numbers.back(), asked + 2) << "a cycle or two may come while the call begins";
    EXPECT_EQ("", CheckSequence(second, first.numbers.back() + 1));
}

// A file set while the writer's write fails: the failed recording ends (its error stays in
// LastError) and the new file is recorded to, by one writer.
TEST(Recorder, AFileSetWhileAWriteFailsIsRecordedTo) {
    SimBoards sim("356:count");
    const fs::path folder = Folder();
    CChannelSampler s;
    s.SetInterval(2);
    engine::RecorderPlatform failing;
    failing.writeFile = &HeldWrite;
    engine::CycleRecorder recorder(s, failing);
    Gate gate;
    g_failHeld = true;
    ASSERT_HR(S_OK, recorder.Record((folder / "first.csv").wstring(), 1000, 8));
    ASSERT_TRUE(s.Start());
    ASSERT_TRUE(WaitUntil([&] { return g_held.load(); }));
    std::thread failer([&] {
        ::Sleep(100);
        gate.Open();
    });
    const HRESULT switched = recorder.Record((folder / "second.csv").wstring(), 1000, 8);
    failer.join();
    EXPECT_HR(S_OK, switched);
    EXPECT_TRUE(recorder.Recording());
    EXPECT_EQ((folder / "second.csv").wstring(), recorder.Path());
    EXPECT_HR(HRESULT_FROM_WIN32(ERROR_DISK_FULL), s.LastError());
    ASSERT_TRUE(WaitUntil([&] { return RecordFile(folder / "second.csv").numbers.size() > 20; }));
    StopSoon(s);
    recorder.Close();
    const RecordFile second(folder / "second.csv");
    EXPECT_TRUE(second.StartsWithHeader());
    EXPECT_EQ("", CheckSequence(second, second.numbers.front()));
    EXPECT_EQ(0u, RecordFile(folder / "first.csv").lines.size()) << "the failed write taken back";
}
