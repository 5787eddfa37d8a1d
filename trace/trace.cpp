#include "trace/trace.h"

#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "base/locks.h"
#include "base/unique_handle.h"
#include "trace/trace_format.h"
#include "trace/trace_queue.h"
#include "trace/trace_testing.h"

namespace {

constexpr char kLogFile[] = "C:\\log.log";
constexpr char kConsoleTitle[] = "Debug Out";
constexpr char kFirstBanner[] = "TRUV Debug Out. \n";
constexpr char kSecondBanner[] = "TRUV Vandrel trace, version 1.0.0\n";
// Generous: some megabytes of short messages, seconds of a sampler's output at full speed.
constexpr size_t kQueueLimit = 100000;
// Large texts reach the console in pieces of this many characters.
constexpr DWORD kConsoleChunk = 8192;
constexpr uintptr_t kClosed = ~uintptr_t{0};  // INVALID_HANDLE_VALUE as a constant

// Everything below is set up by TraceOpen under g_openLock and never torn down: the writer runs
// until the process ends. All of it is constant-initialised, so a sampler built during static
// initialisation finds it ready. The console handle is the open flag: it is stored last, after
// the queue, the event and the writer exist, with release order, and posters load it with acquire
// order before they touch the queue or the event.
SRWLOCK g_openLock = SRWLOCK_INIT;
std::atomic<uintptr_t> g_console{kClosed};
std::atomic<trace::Queue*> g_queue{nullptr};
std::atomic<HANDLE> g_wake{nullptr};  // auto-reset; set by the post that finds the writer parked
HANDLE g_writer = nullptr;            // never closed
// The console output that TraceOpen opened itself; kClosed, the file owner's empty value, when none.
uintptr_t g_ownConsole = kClosed;
std::atomic<uint64_t> g_writtenSeq{0};
size_t g_queueLimit = kQueueLimit;
bool g_failEvent = false;
bool g_failThread = false;
std::atomic<bool> g_holdWriter{false};

HANDLE ConsoleHandle() noexcept {
    return reinterpret_cast<HANDLE>(g_console.load(std::memory_order_acquire));
}
bool IsOpen() noexcept { return g_console.load(std::memory_order_acquire) != kClosed; }
// Publishes the console output handle (INVALID_HANDLE_VALUE: closed) and gives up the one that
// TraceOpen opened for the console before, which belongs to a console that is gone. Called with
// g_openLock held.
void StoreConsole(HANDLE h, base::UniqueFile own = {}) noexcept {
    g_console.store(reinterpret_cast<uintptr_t>(h), std::memory_order_release);
    const base::UniqueFile previous(reinterpret_cast<HANDLE>(g_ownConsole));
    g_ownConsole = reinterpret_cast<uintptr_t>(own.release());
}

// The new console's output. The standard output handle is that only when the process's standard
// handles were not redirected at its start; otherwise it still leads to the pipe or file, and the
// console's own screen buffer is opened instead.
HANDLE NewConsoleOutput(base::UniqueFile& own) noexcept {
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out && out != INVALID_HANDLE_VALUE && ::GetConsoleMode(out, &mode)) return out;
    own.reset(::CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr));
    return own.get();
}

// Posts whose text is shorter than this are formatted on the poster's stack and copied into the
// queue; longer ones are formatted again, straight into an entry of their own.
constexpr size_t kShortText = 256;

// The wake event is signalled only when the writer is parked: under Wine every signal is a round
// trip to the server, which would cost more than the rest of the post.
void Wake(bool parked) noexcept {
    if (parked) ::SetEvent(g_wake.load(std::memory_order_acquire));
}

void PostFormatted(int attribute, const char* format, va_list args) noexcept {
    if (!format || !IsOpen()) return;
    trace::Queue* queue = g_queue.load(std::memory_order_acquire);
    char text[kShortText];
    va_list first;
    va_copy(first, args);
    int length = trace::FormatPlainInts(text, sizeof text, format, first);
    va_end(first);
    if (length < 0) {
        va_copy(first, args);
        length = std::vsnprintf(text, sizeof text, format, first);
        va_end(first);
    }
    if (length < 0) return;
    if (static_cast<size_t>(length) < sizeof text) {
        Wake(queue->Push(text, static_cast<size_t>(length), attribute));
        return;
    }
    trace::LongEntry entry = trace::Queue::NewLongEntry(static_cast<size_t>(length), attribute);
    if (entry.text) std::vsnprintf(entry.text, static_cast<size_t>(length) + 1, format, args);
    Wake(queue->PushLong(entry));
}

// --- writer ----------------------------------------------------------------------------------------

// After the queue runs empty the writer looks again about every millisecond for this long before
// it parks: a sampler at a short Interval then never pays for a wake-up signal, and the writer
// takes each burst of posts as one batch.
constexpr ULONGLONG kLingerMs = 50;
// The log's text is gathered up to this many bytes per WriteFile.
constexpr size_t kLogBuffer = 64 * 1024;

// The log is opened without sharing and only ever appended to. A log that cannot be opened or
// positioned at its end counts as unavailable for this drain.
base::UniqueFile OpenLog() noexcept {
    base::UniqueFile log(
        ::CreateFileA(kLogFile, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (log && !::SetFilePointerEx(log.get(), LARGE_INTEGER{}, nullptr, FILE_END)) log.reset();
    return log;
}

// The writer's output of one batch. On the console a run of entries of one colour becomes one
// attribute change, the texts each with its terminating zero in as few writes as fit in pieces of
// kConsoleChunk characters (an entry longer than that in pieces from its start, as on its own),
// and attribute 15 at the run's end: the same screen as an attribute change, a write and
// attribute 15 for every entry. The log gets the texts alone, gathered into few writes. Used by
// the writer thread only.
class BatchOutput {
public:
    explicit BatchOutput(base::UniqueFile& log) noexcept : log_(log) {}
    BatchOutput(const BatchOutput&) = delete;
    BatchOutput& operator=(const BatchOutput&) = delete;

    void Add(const trace::Record& r) noexcept {
        const WORD attribute = static_cast<WORD>(r.attribute & 0xFFFF);
        if (inRun_ && attribute != runAttribute_) EndRun();
        if (!inRun_) {
            inRun_ = true;
            runAttribute_ = attribute;
            console_ = ConsoleHandle();
            if (console_ != INVALID_HANDLE_VALUE) ::SetConsoleTextAttribute(console_, runAttribute_);
        }
        const size_t bytes = size_t{r.length} + 1;
        if (bytes > kConsoleChunk) {
            FlushConsole();
            WriteConsolePieces(r.Text(), bytes);
        } else {
            if (pieceUsed_ + bytes > kConsoleChunk) FlushConsole();
            std::memcpy(piece_ + pieceUsed_, r.Text(), bytes);
            pieceUsed_ += bytes;
        }
        AddToLog(r.Text(), r.length);
    }

    // Ends the colour run and writes what is gathered.
    void Finish() noexcept {
        EndRun();
        FlushLog();
    }

private:
    void EndRun() noexcept {
        if (!inRun_) return;
        FlushConsole();
        if (console_ != INVALID_HANDLE_VALUE)
            ::SetConsoleTextAttribute(console_, static_cast<WORD>(kTraceWhite));
        inRun_ = false;
    }

    void FlushConsole() noexcept {
        WriteConsolePieces(piece_, pieceUsed_);
        pieceUsed_ = 0;
    }

    // Failures are ignored: the console may have been replaced by a TraceOpen a moment ago. A run
    // that outlives its console goes on in the new one, in its colour.
    void WriteConsolePieces(const char* text, size_t left) noexcept {
        if (left == 0) return;
        const HANDLE now = ConsoleHandle();
        if (now != console_) {
            console_ = now;
            if (console_ != INVALID_HANDLE_VALUE) ::SetConsoleTextAttribute(console_, runAttribute_);
        }
        if (console_ == INVALID_HANDLE_VALUE) return;
        while (left > 0) {
            const DWORD chunk = left < kConsoleChunk ? static_cast<DWORD>(left) : kConsoleChunk;
            DWORD written = 0;
            if (!::WriteConsoleA(console_, text, chunk, &written, nullptr) || written == 0) break;
            text += written;
            left -= written;
        }
    }

    void AddToLog(const char* text, size_t length) noexcept {
        if (!log_ || length == 0) return;
        if (logUsed_ + length > kLogBuffer) FlushLog();
        if (length > kLogBuffer) {
            WriteLog(text, length);
            return;
        }
        std::memcpy(logBuffer_ + logUsed_, text, length);
        logUsed_ += length;
    }

    void FlushLog() noexcept {
        WriteLog(logBuffer_, logUsed_);
        logUsed_ = 0;
    }

    // After a failed write the log is given up until the next drain.
    void WriteLog(const char* text, size_t length) noexcept {
        if (!log_ || length == 0) return;
        DWORD written = 0;
        if (!::WriteFile(log_.get(), text, static_cast<DWORD>(length), &written, nullptr) ||
            written != length) {
            log_.reset();
        }
    }

    base::UniqueFile& log_;
    HANDLE console_ = INVALID_HANDLE_VALUE;
    bool inRun_ = false;
    WORD runAttribute_ = 0;
    size_t pieceUsed_ = 0;
    size_t logUsed_ = 0;
    char piece_[kConsoleChunk];
    char logBuffer_[kLogBuffer];
};

// Outputs batches, oldest first, until the queue is empty. Posters append meanwhile without
// waiting for the output.
void Drain(trace::Queue& queue, base::UniqueFile& log) noexcept {
    for (;;) {
        while (g_holdWriter.load(std::memory_order_acquire)) ::Sleep(1);
        trace::Batch batch = queue.Take();
        if (batch.Empty()) {
            queue.QueuePendingDrops();
            batch = queue.Take();
            if (batch.Empty()) return;
        }
        {
            BatchOutput out(log);
            batch.Visit([&out](const trace::Record& r) { out.Add(r); });
            out.Finish();
        }
        const uint64_t seq = batch.lastSeq;
        queue.Release(batch);
        g_writtenSeq.store(seq, std::memory_order_release);
    }
}

// Returns when there is something to write: at once, within a millisecond while the writer
// lingers, or when a post wakes the parked writer.
void WaitForPosts(trace::Queue& queue, HANDLE wake) noexcept {
    const ULONGLONG until = ::GetTickCount64() + kLingerMs;
    while (queue.Idle()) {
        if (::GetTickCount64() >= until) {
            if (queue.Park()) ::WaitForSingleObject(wake, INFINITE);
            return;
        }
        ::Sleep(1);
    }
}

// Runs until the process ends. The log is held open between drains and reopened after each; when
// it is unavailable, the writer still drains to the console so nothing piles up, and tries the log
// again when it wakes for the next drain.
DWORD WINAPI TraceWriterThread(LPVOID) noexcept {
    trace::Queue& queue = *g_queue.load(std::memory_order_acquire);
    const HANDLE wake = g_wake.load(std::memory_order_acquire);
    for (;;) {
        base::UniqueFile log = OpenLog();
        WaitForPosts(queue, wake);
        if (!log) log = OpenLog();
        Drain(queue, log);
    }
}

// The queue, the wake event and the writer, each made once; a failure leaves the rest for a later
// TraceOpen to try again. Called with g_openLock held.
bool EnsureWriter() noexcept {
    if (!g_queue.load(std::memory_order_relaxed)) {
        auto* queue = new (std::nothrow) trace::Queue(g_queueLimit);
        if (!queue) return false;
        g_queue.store(queue, std::memory_order_release);
    }
    if (!g_wake.load(std::memory_order_relaxed)) {
        const HANDLE wake = g_failEvent ? nullptr : ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (!wake) return false;
        g_wake.store(wake, std::memory_order_release);
    }
    if (!g_writer) {
        // The writer never ends, so its code must stay mapped: pin the module that holds it.
        HMODULE self = nullptr;
        if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                                  reinterpret_cast<LPCWSTR>(&TraceWriterThread), &self)) {
            return false;
        }
        g_writer =
            g_failThread ? nullptr : ::CreateThread(nullptr, 0, TraceWriterThread, nullptr, 0, nullptr);
        if (!g_writer) return false;
    }
    return true;
}

}  // namespace

int TraceOpen() noexcept {
    base::SrwExclusiveLock hold(g_openLock);
    ::FreeConsole();
    if (!::AllocConsole()) return 0;
    base::UniqueFile own;
    const HANDLE out = NewConsoleOutput(own);
    if (out == INVALID_HANDLE_VALUE) {
        StoreConsole(INVALID_HANDLE_VALUE);
        return 0;
    }
    ::SetConsoleTitleA(kConsoleTitle);
    // Without a writer, queued posts would only pile up: the trace stays closed instead.
    if (!EnsureWriter()) {
        StoreConsole(INVALID_HANDLE_VALUE);
        return 0;
    }
    StoreConsole(out, std::move(own));
    TracePost(kFirstBanner, kTraceWhite);
    TracePost(kSecondBanner, kTraceGreen);
    return 1;
}

void TracePost(const char* text, int attribute) noexcept {
    if (!text || !IsOpen()) return;
    Wake(g_queue.load(std::memory_order_acquire)->Push(text, std::strlen(text), attribute));
}

void TraceData(const char* format, ...) noexcept {
    va_list args;
    va_start(args, format);
    PostFormatted(kTraceRed, format, args);
    va_end(args);
}

void TraceStatus(const char* format, ...) noexcept {
    va_list args;
    va_start(args, format);
    PostFormatted(kTraceYellow, format, args);
    va_end(args);
}

int TraceWaitDrained(unsigned long timeoutMs) noexcept {
    trace::Queue* queue = g_queue.load(std::memory_order_acquire);
    if (!queue) return 1;
    const ULONGLONG end = ::GetTickCount64() + timeoutMs;
    // Pending drops count as unwritten: the writer turns them into a line when it finds the queue
    // empty.
    while (g_writtenSeq.load(std::memory_order_acquire) < queue->LastSeq() || queue->PendingDrops() > 0) {
        if (::GetTickCount64() >= end) return 0;
        ::Sleep(1);
    }
    return 1;
}

size_t TraceQueueLength() noexcept {
    trace::Queue* queue = g_queue.load(std::memory_order_acquire);
    return queue ? queue->Size() : 0;
}

void TraceSetQueueLimitForTesting(size_t limit) noexcept {
    base::SrwExclusiveLock hold(g_openLock);
    g_queueLimit = limit;
    if (trace::Queue* queue = g_queue.load(std::memory_order_relaxed)) queue->SetLimit(limit);
}

void TraceFailStartForTesting(bool failEvent, bool failThread) noexcept {
    base::SrwExclusiveLock hold(g_openLock);
    g_failEvent = failEvent;
    g_failThread = failThread;
}

void TraceHoldWriterForTesting(bool hold) noexcept { g_holdWriter.store(hold, std::memory_order_release); }
