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
std::atomic<HANDLE> g_wake{nullptr};  // manual-reset; set by posters, reset by the writer
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

// Takes an entry that a poster made (or null when its allocation failed) into the queue. The wake
// event is signalled only when the writer may be waiting: under Wine every signal is a round trip
// to the server, which would cost more than the rest of the post.
void Enqueue(trace::Entry* entry) noexcept {
    trace::Queue* queue = g_queue.load(std::memory_order_acquire);
    bool wake = true;
    if (entry) {
        wake = queue->Push(entry);
    } else {
        queue->CountDrop();
    }
    if (wake) ::SetEvent(g_wake.load(std::memory_order_acquire));
}

void PostFormatted(int attribute, const char* format, va_list args) noexcept {
    if (!format || !IsOpen()) return;
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length < 0) return;
    trace::Entry* entry = trace::AllocEntry(static_cast<size_t>(length), attribute);
    if (entry) std::vsnprintf(entry->text, static_cast<size_t>(length) + 1, format, args);
    Enqueue(entry);
}

// --- writer ----------------------------------------------------------------------------------------

// The log is opened without sharing and only ever appended to. A log that cannot be opened or
// positioned at its end counts as unavailable for this drain.
base::UniqueFile OpenLog() noexcept {
    base::UniqueFile log(::CreateFileA(kLogFile, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    if (log && !::SetFilePointerEx(log.get(), LARGE_INTEGER{}, nullptr, FILE_END)) log.reset();
    return log;
}

// The text with its terminating zero, in the entry's colour; the colour goes back to white after.
// Failures are ignored: the console may have been replaced by a TraceOpen a moment ago.
void WriteToConsole(const trace::Entry& entry) noexcept {
    const HANDLE console = ConsoleHandle();
    if (console == INVALID_HANDLE_VALUE) return;
    ::SetConsoleTextAttribute(console, static_cast<WORD>(entry.attribute & 0xFFFF));
    const char* text = entry.text;
    DWORD left = entry.length + 1;
    while (left > 0) {
        DWORD written = 0;
        if (!::WriteConsoleA(console, text, left < kConsoleChunk ? left : kConsoleChunk, &written,
                             nullptr) ||
            written == 0) {
            break;
        }
        text += written;
        left -= written;
    }
    ::SetConsoleTextAttribute(console, static_cast<WORD>(kTraceWhite));
}

// The text alone, nothing added. After a failed write the log is given up until the next drain.
void WriteToLog(base::UniqueFile& log, const trace::Entry& entry) noexcept {
    if (!log || entry.length == 0) return;
    DWORD written = 0;
    if (!::WriteFile(log.get(), entry.text, entry.length, &written, nullptr) ||
        written != entry.length) {
        log.reset();
    }
}

// Outputs entries oldest first until the queue is empty. Each entry stays queued while it is
// written; posters append meanwhile without waiting for the output.
void Drain(trace::Queue& queue, HANDLE wake, base::UniqueFile& log) noexcept {
    for (;;) {
        while (g_holdWriter.load(std::memory_order_acquire)) ::Sleep(1);
        trace::Entry* entry = queue.Front();
        if (!entry) {
            queue.QueuePendingDrops();
            ::ResetEvent(wake);
            // A post that landed between the look above and this reset had set the event, which
            // the reset has just cleared: look again, or that post would wait for the next one.
            entry = queue.Front();
            if (!entry) return;
        }
        WriteToConsole(*entry);
        WriteToLog(log, *entry);
        const uint64_t seq = entry->seq;
        queue.PopFront();
        g_writtenSeq.store(seq, std::memory_order_release);
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
        ::WaitForSingleObject(wake, INFINITE);
        if (!log) log = OpenLog();
        Drain(queue, wake, log);
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
        const HANDLE wake = g_failEvent ? nullptr : ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (!wake) return false;
        g_wake.store(wake, std::memory_order_release);
    }
    if (!g_writer) {
        // The writer never ends, so its code must stay mapped: pin the module that holds it.
        HMODULE self = nullptr;
        if (!::GetModuleHandleExW(
                GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                reinterpret_cast<LPCWSTR>(&TraceWriterThread), &self)) {
            return false;
        }
        g_writer = g_failThread ? nullptr
                                : ::CreateThread(nullptr, 0, TraceWriterThread, nullptr, 0, nullptr);
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
    const size_t length = std::strlen(text);
    trace::Entry* entry = trace::AllocEntry(length, attribute);
    if (entry) std::memcpy(entry->text, text, length);
    Enqueue(entry);
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
    while (g_writtenSeq.load(std::memory_order_acquire) < queue->LastSeq() ||
           queue->PendingDrops() > 0) {
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
