// The process-wide trace, each scenario in a fresh child process (the trace cannot be closed once
// open). A child runs one InChild test: it posts and checks the console it got; after it has ended,
// and so let go of C:\log.log, the parent checks the log.
#include <windows.h>

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "base/unique_handle.h"
#include "engine/channel_sampler.h"
#include "harness/child_process.h"
#include "tests/support/call_site.h"
#include "tests/support/child_tests.h"
#include "tests/support/file_text.h"
#include "tests/support/run_process.h"
#include "tests/support/sim_helpers.h"
#include "trace/trace.h"
#include "trace/trace_testing.h"

namespace {

constexpr char kLog[] = "C:\\log.log";
constexpr char kFlag[] = "C:\\TRUV_Debug.flag";
constexpr char kBanners[] = "TRUV Debug Out. \nTRUV Vandrel trace, version 1.0.0\n";
constexpr DWORD kDrainMs = 60000;

// --- parent side ----------------------------------------------------------------------------------

using testsupport::FileExists;
using testsupport::ReadFileText;

void WriteFileText(const char* path, const std::string& text) {
    base::UniqueFile f(::CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    ::WriteFile(f.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// Every test starts and ends without the flag file and the log, so no other test program (or the
// next test) finds the trace switched on or an old log.
class TraceProcess : public testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    static void Clean() {
        ::DeleteFileA(kFlag);
        ::DeleteFileA(kLog);
    }

    // Runs InChild.<name> in a new process; fails the test when it fails there or did not run.
    static void RunChild(const char* name, testsupport::CallSite caller = testsupport::CallSite::Here()) {
        const testsupport::CallerTrace fromCaller(caller);
        const harness::ChildResult r =
            harness::RunSelf(std::string("--child --gtest_filter=InChild.") + name);
        EXPECT_EQ(0u, r.exitCode) << r.out;
        EXPECT_NE(std::string::npos, r.out.find("[  PASSED  ] 1 test")) << r.out;
    }
};

// --- child side -----------------------------------------------------------------------------------

int ThreadCount() {
    base::UniqueFile snap(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 te{};
    te.dwSize = sizeof te;
    int n = 0;
    for (BOOL ok = ::Thread32First(snap.get(), &te); ok; ok = ::Thread32Next(snap.get(), &te)) {
        n += te.th32OwnerProcessID == ::GetCurrentProcessId();
    }
    return n;
}

std::string ConsoleTitle() {
    char title[256] = {};
    ::GetConsoleTitleA(title, sizeof title);
    return title;
}

// The screen buffer of the process's console as written so far.
struct Screen {
    int width = 0;
    COORD cursor{};
    WORD attribute = 0;
    std::string chars;
    std::vector<WORD> attrs;

    static Screen Read() {
        Screen s;
        base::UniqueFile out(::CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                           nullptr));
        CONSOLE_SCREEN_BUFFER_INFO info{};
        if (!::GetConsoleScreenBufferInfo(out.get(), &info)) return s;
        s.width = info.dwSize.X;
        s.cursor = info.dwCursorPosition;
        s.attribute = info.wAttributes;
        const DWORD cells = static_cast<DWORD>(s.width) * (info.dwCursorPosition.Y + 1);
        s.chars.resize(cells);
        s.attrs.resize(cells);
        DWORD got = 0;
        ::ReadConsoleOutputCharacterA(out.get(), s.chars.data(), cells, COORD{0, 0}, &got);
        ::ReadConsoleOutputAttribute(out.get(), s.attrs.data(), cells, COORD{0, 0}, &got);
        return s;
    }
    bool Contains(const std::string& text, WORD attr) const {
        for (size_t at = chars.find(text); at != std::string::npos; at = chars.find(text, at + 1)) {
            bool coloured = true;
            for (size_t i = 0; i < text.size(); ++i) coloured = coloured && attrs[at + i] == attr;
            if (coloured) return true;
        }
        return false;
    }
};

// Checks the screen against entries written from its top left corner: each text with its zero
// character, in its attribute, a line feed moving to the next line; the cursor right after.
void ExpectScreen(const std::vector<std::pair<std::string, WORD>>& entries,
                  testsupport::CallSite caller = testsupport::CallSite::Here()) {
    const testsupport::CallerTrace fromCaller(caller);
    const Screen s = Screen::Read();
    ASSERT_GT(s.width, 40);
    int x = 0, y = 0;
    for (const auto& [text, attr] : entries) {
        for (const char c : text + '\0') {
            if (c == '\n') {
                x = 0;
                ++y;
                continue;
            }
            const size_t cell = static_cast<size_t>(y) * s.width + x++;
            ASSERT_LT(cell, s.chars.size()) << text;
            EXPECT_EQ(c, s.chars[cell]) << "cell " << x - 1 << "," << y << " of \"" << text << '"';
            EXPECT_EQ(attr, s.attrs[cell]) << "cell " << x - 1 << "," << y << " of \"" << text << '"';
        }
    }
    EXPECT_EQ(x, s.cursor.X);
    EXPECT_EQ(y, s.cursor.Y);
    EXPECT_EQ(15, s.attribute) << "the attribute goes back to bright white after every entry";
}

const std::pair<std::string, WORD> kBanner1{"TRUV Debug Out. \n", 15};
const std::pair<std::string, WORD> kBanner2{"TRUV Vandrel trace, version 1.0.0\n", 10};

}  // namespace

// --- closed trace ---------------------------------------------------------------------------------

TEST(InChild, PostsBeforeOpen) {
    TracePost("early", kTraceWhite);
    TraceData("%d ", 1);
    TraceStatus("early status\n");
    EXPECT_EQ(0u, TraceQueueLength());
    ASSERT_EQ(1, TraceOpen());
    TracePost("after", kTraceYellow);
    ASSERT_EQ(1, TraceWaitDrained(kDrainMs));
    EXPECT_EQ(0u, TraceQueueLength());
    ExpectScreen({kBanner1, kBanner2, {"after", 14}});
}
TEST_F(TraceProcess, PostsBeforeOpenAreDiscarded) {
    RunChild("PostsBeforeOpen");
    EXPECT_EQ(std::string(kBanners) + "after", ReadFileText(kLog));
}

TEST(InChild, SamplersWithoutTrace) {
    const HWND console = ::GetConsoleWindow();
    const int threads = ThreadCount();
    {
        testsupport::SimBoards sim("356:wave");
        CChannelSampler a, b;
        a.SetInterval(20);
        ASSERT_TRUE(a.Start());
        ::Sleep(200);
        a.Stop();
    }
    EXPECT_EQ(0u, TraceQueueLength());
    EXPECT_EQ(threads, ThreadCount()) << "no writer thread";
    EXPECT_EQ(console, ::GetConsoleWindow());
    EXPECT_NE("Debug Out", ConsoleTitle());
}
TEST_F(TraceProcess, NoConsoleWriterOrLogWithoutTheFlagFile) {
    RunChild("SamplersWithoutTrace");
    EXPECT_FALSE(FileExists(kLog));
}
TEST_F(TraceProcess, AFlagFileHeldOpenElsewhereCountsAsAbsent) {
    WriteFileText(kFlag, "");
    base::UniqueFile held(::CreateFileA(kFlag, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    RunChild("SamplersWithoutTrace");
    EXPECT_FALSE(FileExists(kLog));
}

// Without a wake event or a writer, TraceOpen reports 0 and posts are discarded instead of piling
// up for a writer that never comes; the next TraceOpen tries again.
TEST(InChild, FailedStartIsRetried) {
    const int threads = ThreadCount();
    TraceFailStartForTesting(true, false);
    EXPECT_EQ(0, TraceOpen());
    TracePost("lost 1", kTraceWhite);
    TraceFailStartForTesting(false, true);
    EXPECT_EQ(0, TraceOpen());
    TracePost("lost 2", kTraceWhite);
    EXPECT_EQ(0u, TraceQueueLength());
    EXPECT_EQ(threads, ThreadCount());

    TraceFailStartForTesting(false, false);
    ASSERT_EQ(1, TraceOpen());
    EXPECT_EQ(threads + 1, ThreadCount());
    TraceData("%s", "kept");
    ASSERT_EQ(1, TraceWaitDrained(kDrainMs));
    ExpectScreen({kBanner1, kBanner2, {"kept", 12}});
}
TEST_F(TraceProcess, FailedWriterStartLeavesTheTraceClosed) {
    RunChild("FailedStartIsRetried");
    EXPECT_EQ(std::string(kBanners) + "kept", ReadFileText(kLog));
}

// The first TraceOpen has no console output of its own to give up: it must close nothing. Closing
// a handle that was never opened fails with ERROR_INVALID_HANDLE (and raises an exception where
// strict handle checking is on), so the error code is what a stray close leaves behind.
TEST(InChild, FirstOpenClosesNoHandle) {
    ::SetLastError(ERROR_SUCCESS);
    ASSERT_EQ(1, TraceOpen());
    EXPECT_NE(static_cast<DWORD>(ERROR_INVALID_HANDLE), ::GetLastError());
}
TEST_F(TraceProcess, TheFirstOpenClosesNoHandle) { RunChild("FirstOpenClosesNoHandle"); }

// --- output ---------------------------------------------------------------------------------------

TEST(InChild, ColoursAndZeroCharacters) {
    ASSERT_EQ(1, TraceOpen());
    EXPECT_EQ("Debug Out", ConsoleTitle());
    TraceData("%d ", 7);
    TracePost("", kTraceRed);
    TraceStatus("Get %s", "TRUV.Vandrel.IOEvent");
    TraceStatus("success\n");
    TracePost("odd", 0x100F0);  // only the low 16 bits reach the console
    ASSERT_EQ(1, TraceWaitDrained(kDrainMs));
    ExpectScreen({kBanner1,
                  kBanner2,
                  {"7 ", 12},
                  {"", 12},
                  {"Get TRUV.Vandrel.IOEvent", 14},
                  {"success\n", 14},
                  {"odd", 0xF0}});
}
TEST_F(TraceProcess, ConsoleShowsEachEntryWithItsZeroAndTheLogTheTextAlone) {
    RunChild("ColoursAndZeroCharacters");
    EXPECT_EQ(std::string(kBanners) + "7 Get TRUV.Vandrel.IOEventsuccess\nodd", ReadFileText(kLog));
}

TEST_F(TraceProcess, TheLogIsAppendedToAndNeverTruncated) {
    const std::string run = std::string(kBanners) + "7 Get TRUV.Vandrel.IOEventsuccess\nodd";
    WriteFileText(kLog, "earlier content\n");
    RunChild("ColoursAndZeroCharacters");
    RunChild("ColoursAndZeroCharacters");
    EXPECT_EQ("earlier content\n" + run + run, ReadFileText(kLog));
}

// A second TraceOpen: a new console with both banners, the same writer, and what was queued before
// it still reaches the log.
TEST(InChild, SecondOpen) {
    ASSERT_EQ(1, TraceOpen());
    const int threads = ThreadCount();
    for (int i = 0; i < 300; ++i) TraceData("a%d;", i);
    ASSERT_EQ(1, TraceOpen());
    EXPECT_EQ(threads, ThreadCount());
    EXPECT_EQ("Debug Out", ConsoleTitle());
    TraceStatus("b");
    ASSERT_EQ(1, TraceWaitDrained(kDrainMs));
    const Screen s = Screen::Read();
    EXPECT_TRUE(s.Contains("TRUV Debug Out. ", 15));
    EXPECT_TRUE(s.Contains("TRUV Vandrel trace, version 1.0.0", 10));
    EXPECT_TRUE(s.Contains("b", 14));
}
TEST_F(TraceProcess, SecondOpenKeepsOneWriterAndTheQueue) {
    RunChild("SecondOpen");
    std::string expected = kBanners;
    for (int i = 0; i < 300; ++i) expected += "a" + std::to_string(i) + ";";
    EXPECT_EQ(expected + kBanners + "b", ReadFileText(kLog));
}

// Mirelo's way: a GUI program started without redirected standard handles, inheriting none, opens
// the trace, and its console shows the posts in their colour.
TEST_F(TraceProcess, AGuiProgramWithoutRedirectedHandlesGetsAWorkingConsole) {
    std::wstring command = L"\"" + testsupport::BinFolder() + L"trace_gui_child.exe\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(
        ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    const base::UniqueProcess process(pi.hProcess);
    const base::UniqueThread thread(pi.hThread);
    if (::WaitForSingleObject(process.get(), kDrainMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.get(), 99);
        FAIL() << "the GUI program did not end";
    }
    DWORD code = 0xFFFFFFFF;
    ::GetExitCodeProcess(process.get(), &code);
    EXPECT_EQ(0u, code) << "1: TraceOpen failed, 2: no console window, 3: not drained, 4: text missing";
    EXPECT_EQ(std::string(kBanners) + "from a GUI program\n", ReadFileText(kLog));
}

// --- concurrency ----------------------------------------------------------------------------------

constexpr int kPosters = 8;
constexpr int kPostsEach = 400;  // Wine's console takes about a millisecond per entry

TEST(InChild, ManyPosters) {
    ASSERT_EQ(1, TraceOpen());
    base::UniqueEvent go(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::vector<std::thread> posters;
    for (int t = 0; t < kPosters; ++t) {
        posters.emplace_back([t, &go] {
            ::WaitForSingleObject(go.get(), INFINITE);
            for (int i = 0; i < kPostsEach; ++i) TraceData("<%d:%d:%s>", t, i, "payload");
        });
    }
    ::SetEvent(go.get());
    for (auto& p : posters) p.join();
    ASSERT_EQ(1, TraceWaitDrained(kDrainMs));
}
TEST_F(TraceProcess, ManyThreadsPostingKeepEachThreadsOrderAndEveryEntryWhole) {
    RunChild("ManyPosters");
    const std::string log = ReadFileText(kLog);
    ASSERT_EQ(0u, log.find(kBanners));
    const std::string body = log.substr(std::strlen(kBanners));
    const std::regex entry("<(\\d+):(\\d+):payload>");
    std::vector<int> next(kPosters, 0);
    size_t matched = 0;
    for (std::sregex_iterator it(body.begin(), body.end(), entry), end; it != end; ++it) {
        ASSERT_EQ(matched, static_cast<size_t>(it->position())) << "something between entries";
        matched += it->length();
        const int t = std::stoi((*it)[1]);
        ASSERT_EQ(next[t]++, std::stoi((*it)[2])) << "thread " << t;
    }
    EXPECT_EQ(body.size(), matched);
    EXPECT_EQ(std::vector<int>(kPosters, kPostsEach), next);
}

// A post that lands while the writer has just found the queue empty must still be written without
// a further post. Each round posts again the moment the writer has taken the queue's last entry
// out, a little later every round, so the posts sweep over the writer's look at the empty queue.
TEST(InChild, NoLostWakeUp) {
    ASSERT_EQ(1, TraceOpen());
    ASSERT_EQ(1, TraceWaitDrained(kDrainMs));
    for (int round = 0; round < 1000; ++round) {
        TraceData("%d", round);
        while (TraceQueueLength() != 0) {}
        for (volatile int spin = 0; spin < round % 400; spin = spin + 1) {}
        TraceData(";");
        ASSERT_EQ(1, TraceWaitDrained(2000)) << "round " << round;
    }
}
TEST_F(TraceProcess, APostRacingTheEmptyQueueIsNotLeftWaiting) { RunChild("NoLostWakeUp"); }

// A single post after a quiet spell, when the writer has stopped looking and parked, must wake it:
// the line end of a cycle on a board that never gets ready, the last line before sampling stops.
TEST(InChild, PostAfterAQuietSpell) {
    ASSERT_EQ(1, TraceOpen());
    ASSERT_EQ(1, TraceWaitDrained(kDrainMs));
    ::Sleep(500);  // ten times as long as the writer lingers
    TraceStatus("after a quiet spell\n");
    // A woken writer takes milliseconds; the bound only ends a hang.
    ASSERT_EQ(1, TraceWaitDrained(10000)) << "the parked writer was not woken";
}
TEST_F(TraceProcess, APostAfterAQuietSpellWakesTheParkedWriter) {
    RunChild("PostAfterAQuietSpell");
    EXPECT_EQ(std::string(kBanners) + "after a quiet spell\n", ReadFileText(kLog));
}

// --- log unavailable and overflow -----------------------------------------------------------------

constexpr char kHeldEvent[] = "Local\\VandrelTraceTestDrainedWhileHeld";
constexpr char kReleasedEvent[] = "Local\\VandrelTraceTestLogReleased";

TEST(InChild, LogHeldElsewhere) {
    base::UniqueEvent drained(::CreateEventA(nullptr, TRUE, FALSE, kHeldEvent));
    base::UniqueEvent released(::CreateEventA(nullptr, TRUE, FALSE, kReleasedEvent));
    ASSERT_EQ(1, TraceOpen());
    for (int i = 0; i < 100; ++i) TraceData("held%d ", i);
    ASSERT_EQ(1, TraceWaitDrained(kDrainMs)) << "the queue drains to the console without the log";
    EXPECT_EQ(0u, TraceQueueLength());
    EXPECT_TRUE(Screen::Read().Contains("held99 ", 12));
    ::SetEvent(drained.get());
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(released.get(), kDrainMs));
    TraceStatus("after");
    ASSERT_EQ(1, TraceWaitDrained(kDrainMs));
}
TEST_F(TraceProcess, ALogHeldByAnotherProcessDoesNotStopTheWriter) {
    base::UniqueEvent drained(::CreateEventA(nullptr, TRUE, FALSE, kHeldEvent));
    base::UniqueEvent released(::CreateEventA(nullptr, TRUE, FALSE, kReleasedEvent));
    base::UniqueFile held(::CreateFileA(kLog, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(held);
    std::thread child([] { RunChild("LogHeldElsewhere"); });
    const bool sawDrain = ::WaitForSingleObject(drained.get(), kDrainMs) == WAIT_OBJECT_0;
    held.reset();
    ::SetEvent(released.get());
    child.join();
    ASSERT_TRUE(sawDrain);
    EXPECT_EQ("after", ReadFileText(kLog)) << "retried at the next drain";
}

constexpr int kBurst = 20000;

TEST(InChild, Overflow) {
    TraceSetQueueLimitForTesting(32);
    ASSERT_EQ(1, TraceOpen());
    for (int i = 0; i < kBurst; ++i) TraceData("<%d>", i);
    ASSERT_EQ(1, TraceWaitDrained(kDrainMs));
    EXPECT_EQ(0u, TraceQueueLength());
}
TEST_F(TraceProcess, AnOverflowingQueueDropsAndCountsExactly) {
    RunChild("Overflow");
    const std::string log = ReadFileText(kLog);
    ASSERT_EQ(0u, log.find(kBanners));
    const std::string body = log.substr(std::strlen(kBanners));
    // Every message is either in the log, in order, or counted by the drop line at its place.
    const std::regex token("<(\\d+)>|\n\\*\\*\\* (\\d+) trace messages dropped \\*\\*\\*\n");
    int expected = 0, dropLines = 0;
    size_t matched = 0;
    for (std::sregex_iterator it(body.begin(), body.end(), token), end; it != end; ++it) {
        ASSERT_EQ(matched, static_cast<size_t>(it->position()));
        matched += it->length();
        if ((*it)[1].matched) {
            ASSERT_EQ(expected, std::stoi((*it)[1]));
            ++expected;
        } else {
            ++dropLines;
            expected += std::stoi((*it)[2]);
        }
    }
    EXPECT_EQ(body.size(), matched);
    EXPECT_EQ(kBurst, expected);
    EXPECT_GT(dropLines, 0);
}

// --- output identity ------------------------------------------------------------------------------

namespace {

// A whole screen buffer: its size, cursor, current attribute and every cell.
struct Buffer {
    COORD size{};
    COORD cursor{};
    WORD attribute = 0;
    std::vector<CHAR_INFO> cells;

    static Buffer Read(HANDLE h) {
        Buffer b;
        CONSOLE_SCREEN_BUFFER_INFO info{};
        if (!::GetConsoleScreenBufferInfo(h, &info)) return b;
        b.size = info.dwSize;
        b.cursor = info.dwCursorPosition;
        b.attribute = info.wAttributes;
        b.cells.resize(static_cast<size_t>(b.size.X) * b.size.Y);
        // A few rows a call: the console copies each request through one message.
        for (SHORT top = 0; top < b.size.Y; top += 50) {
            const SHORT rows = std::min<SHORT>(50, b.size.Y - top);
            SMALL_RECT rect{0, top, static_cast<SHORT>(b.size.X - 1), static_cast<SHORT>(top + rows - 1)};
            if (!::ReadConsoleOutputW(h, &b.cells[static_cast<size_t>(top) * b.size.X], COORD{b.size.X, rows},
                                      COORD{0, 0}, &rect)) {
                b.cells.clear();
                return b;
            }
        }
        return b;
    }
    bool Write(HANDLE h) const {
        if (!::SetConsoleScreenBufferSize(h, size)) return false;
        for (SHORT top = 0; top < size.Y; top += 50) {
            const SHORT rows = std::min<SHORT>(50, size.Y - top);
            SMALL_RECT rect{0, top, static_cast<SHORT>(size.X - 1), static_cast<SHORT>(top + rows - 1)};
            if (!::WriteConsoleOutputW(h, &cells[static_cast<size_t>(top) * size.X], COORD{size.X, rows},
                                       COORD{0, 0}, &rect)) {
                return false;
            }
        }
        return ::SetConsoleCursorPosition(h, cursor) && ::SetConsoleTextAttribute(h, attribute);
    }
};

void ExpectSameBuffer(const Buffer& expected, const Buffer& actual,
                      testsupport::CallSite caller = testsupport::CallSite::Here()) {
    const testsupport::CallerTrace fromCaller(caller);
    ASSERT_FALSE(expected.cells.empty());
    ASSERT_EQ(expected.cells.size(), actual.cells.size());
    EXPECT_EQ(expected.cursor.X, actual.cursor.X);
    EXPECT_EQ(expected.cursor.Y, actual.cursor.Y);
    EXPECT_EQ(expected.attribute, actual.attribute);
    int mismatches = 0;
    for (size_t i = 0; i < expected.cells.size() && mismatches < 10; ++i) {
        const CHAR_INFO& e = expected.cells[i];
        const CHAR_INFO& a = actual.cells[i];
        if (e.Char.UnicodeChar != a.Char.UnicodeChar || e.Attributes != a.Attributes) {
            ++mismatches;
            ADD_FAILURE() << "cell " << i % expected.size.X << "," << i / expected.size.X << ": expected U+"
                          << std::hex << e.Char.UnicodeChar << " in " << e.Attributes << ", got U+"
                          << a.Char.UnicodeChar << " in " << a.Attributes;
        }
    }
}

// What the writer has always done with one entry: its colour, the text with its zero character in
// pieces of 8192, bright white again. Replayed on a second screen buffer, it is the reference.
void WriteEntryTheOriginalWay(HANDLE h, const std::string& text, int attribute) {
    ::SetConsoleTextAttribute(h, static_cast<WORD>(attribute & 0xFFFF));
    const char* p = text.c_str();
    DWORD left = static_cast<DWORD>(text.size()) + 1;
    while (left > 0) {
        DWORD written = 0;
        if (!::WriteConsoleA(h, p, std::min<DWORD>(left, 8192), &written, nullptr) || written == 0) break;
        p += written;
        left -= written;
    }
    ::SetConsoleTextAttribute(h, kTraceWhite);
}

std::string LongText(size_t length, int seed) {
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        text += i % 997 == 996 ? '\n' : static_cast<char>('A' + (i * 7 + seed) % 26);
    }
    return text;
}

std::string DropLineText(int count) {
    return "\n*** " + std::to_string(count) + " trace messages dropped ***\n";
}

struct Shown {
    std::string text;
    int attribute;
};

// The scripted sequence: colours one after another and in runs, texts with control characters,
// entries longer than one console piece, and two gaps, one reported by the next post that finds
// room and one by the writer when the queue runs empty. With post set, it posts (in the child);
// either way it returns the entries that must come out, banners first.
std::vector<Shown> Script(bool post, testsupport::CallSite caller = testsupport::CallSite::Here()) {
    const testsupport::CallerTrace fromCaller(caller);
    std::vector<Shown> out{{"TRUV Debug Out. \n", kTraceWhite},
                           {"TRUV Vandrel trace, version 1.0.0\n", kTraceGreen}};
    auto put = [&](const std::string& text, int attribute, bool kept = true) {
        if (post) TracePost(text.c_str(), attribute);
        if (kept) out.push_back({text, attribute});
    };
    auto wait = [&] {
        if (post) {
            EXPECT_EQ(1, TraceWaitDrained(kDrainMs));
        }
    };
    // Held since before TraceOpen, with room for 20: the banners and 18 posts fill the queue.
    for (int i = 0; i < 18; ++i) put(std::to_string(i) + " ", i % 5 == 4 ? kTraceYellow : kTraceRed);
    for (int i = 0; i < 5; ++i) put("lost ", kTraceRed, false);
    if (post) TraceSetQueueLimitForTesting(1000);
    out.push_back({DropLineText(5), 14});
    put("after the gap\n", kTraceYellow);
    put("", kTraceRed);
    put("tab\there\rCR\bBS ", kTraceRed);
    put("white ", kTraceWhite);
    put("on blue", 0x1E);
    put("odd", 0x100F0);
    put("red before a long one ", kTraceRed);
    put(LongText(20000, 1), kTraceRed);
    put(LongText(8191, 2), kTraceRed);  // with its zero: exactly one piece
    put(" short", kTraceRed);
    put(LongText(8192, 3), kTraceYellow);
    put("\n", kTraceRed);
    if (post) TraceHoldWriterForTesting(false);
    wait();
    for (int i = 0; i < 40; ++i) put(std::to_string(i * 37 % 256) + " ", kTraceRed);
    put("4chnl over", kTraceRed);
    put("\n", kTraceRed);
    wait();
    // Full again, and nothing posted after the gap: the writer reports it itself.
    if (post) {
        TraceHoldWriterForTesting(true);
        TraceSetQueueLimitForTesting(3);
    }
    put("a ", kTraceRed);
    put("b ", kTraceYellow);
    put("c ", kTraceRed);
    put("d ", kTraceRed, false);
    put("e ", kTraceRed, false);
    out.push_back({DropLineText(2), 14});
    if (post) TraceHoldWriterForTesting(false);
    wait();
    if (post) TraceSetQueueLimitForTesting(1000);
    put("end\n", kTraceYellow);
    wait();
    return out;
}

constexpr COORD kScreenSize{100, 900};

}  // namespace

TEST(InChild, OutputIdentity) {
    TraceSetQueueLimitForTesting(20);
    TraceHoldWriterForTesting(true);
    ASSERT_EQ(1, TraceOpen());
    base::UniqueFile screen(::CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                          nullptr));
    ASSERT_TRUE(screen);
    ASSERT_TRUE(::SetConsoleScreenBufferSize(screen.get(), kScreenSize));
    base::UniqueFile reference(::CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE,
                                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                           CONSOLE_TEXTMODE_BUFFER, nullptr));
    ASSERT_TRUE(reference);
    // Nothing is written yet: the reference starts as a copy of the untouched screen.
    ASSERT_TRUE(Buffer::Read(screen.get()).Write(reference.get()));

    const std::vector<Shown> expected = Script(true);
    for (const Shown& e : expected) WriteEntryTheOriginalWay(reference.get(), e.text, e.attribute);
    const Buffer want = Buffer::Read(reference.get());
    ASSERT_LT(want.cursor.Y, kScreenSize.Y - 1) << "the script must not scroll the screen";
    ExpectSameBuffer(want, Buffer::Read(screen.get()));
}
TEST_F(TraceProcess, ConsoleAndLogShowTheScriptedSequenceAsTheyAlwaysHave) {
    RunChild("OutputIdentity");
    std::string expected;
    for (const Shown& e : Script(false)) expected += e.text;
    const std::string log = ReadFileText(kLog);
    EXPECT_EQ(expected.size(), log.size());
    EXPECT_TRUE(expected == log) << "the log differs from the scripted sequence";
}

// --- end to end -----------------------------------------------------------------------------------

// Raw words 0x1234, 0x8001, 0x00FF, 0x7FFE: low byte first.
constexpr char kFourChannelBoard[] = "356:words=0x1234/0x8001/0x00FF/0x7FFE/0/0/0/0";
constexpr char kCycle[] = "52 18 1 128 255 0 254 127 4chnl over\n";

TEST(InChild, TracedSampler) {
    testsupport::SimBoards sim(kFourChannelBoard);
    ASSERT_TRUE(sim.Configured());
    CChannelSampler sampler;  // finds the flag file and opens the trace
    sampler.SetChannelNumber(4);
    sampler.SetInterval(30);
    ASSERT_TRUE(sampler.Start());
    ASSERT_TRUE(testsupport::WaitUntil([&] { return sampler.GetChnlValue(0) == 0x1234; }));
    sampler.Stop();
    ASSERT_EQ(1, TraceWaitDrained(kDrainMs));
    const Screen s = Screen::Read();
    EXPECT_TRUE(s.Contains("Build TRUV.Vandrel.IOEvent", 14));
    EXPECT_TRUE(s.Contains("52 ", 12));
}
TEST_F(TraceProcess, TheFlagFileTracesEverySamplingCycle) {
    WriteFileText(kFlag, "");
    RunChild("TracedSampler");
    const std::string log = ReadFileText(kLog);
    const std::string head = std::string(kBanners) + "Build TRUV.Vandrel.IOEvent" + "success\n";
    ASSERT_EQ(0u, log.find(head)) << log;
    // Whole cycles, line by line; Stop may have cut the last one short, which then traced the
    // bytes it read and the line end only.
    const std::string cycles = log.substr(head.size());
    ASSERT_FALSE(cycles.empty());
    ASSERT_EQ('\n', cycles.back()) << log;
    const std::string whole = kCycle;
    const std::string bytes = whole.substr(0, whole.find("4chnl"));
    size_t lines = 0;
    for (size_t at = 0, end; at < cycles.size(); at = end + 1, ++lines) {
        end = cycles.find('\n', at);
        const std::string line = cycles.substr(at, end + 1 - at);
        if (line == whole) continue;
        EXPECT_EQ(cycles.size(), end + 1) << "only the last cycle may be cut short: " << log;
        EXPECT_EQ(0u, bytes.find(line.substr(0, line.size() - 1))) << log;
    }
    EXPECT_GE(lines, 1u);
}

int main(int argc, char** argv) {
    testsupport::InitGoogleTestWithChildren(&argc, argv);
    return RUN_ALL_TESTS();
}
