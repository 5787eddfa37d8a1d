// Process-wide diagnostic trace: messages queued with a console colour and written by one writer
// thread to the "Debug Out" console and appended to C:\log.log. Every function may be called from
// any thread, also before TraceOpen; while the trace is closed, posts are discarded.
//
// State lives for the whole process: one console, one bounded queue with its lock, one wake event
// and one writer thread, whichever caller opened the trace. The writer runs until the process ends;
// when it starts, the module that holds this code is pinned so that it can never be unloaded under
// the writer. Posting only queues the message, and wakes the writer when it is parked: no post
// does console or file output or waits for it, and none allocates unless its text is long.
#pragma once

#include <cstddef>

// Console character attributes of the trace.
inline constexpr int kTraceWhite = 15;
inline constexpr int kTraceGreen = 10;
inline constexpr int kTraceRed = 12;
inline constexpr int kTraceYellow = 14;

// Opens (or reopens) the trace: gives the process a new console titled "Debug Out", starts the
// writer on the first success and posts the two banners. 1 when the trace is open; 0 when no
// console, wake event or writer thread could be set up, in which case posts stay discarded until
// a later TraceOpen succeeds.
int TraceOpen() noexcept;

// Queues a copy of text with a console attribute.
void TracePost(const char* text, int attribute) noexcept;

// printf-style posts: data messages in red, status messages in yellow. While the trace is closed
// the text is not even formatted.
void TraceData(const char* format, ...) noexcept __attribute__((format(gnu_printf, 1, 2)));
void TraceStatus(const char* format, ...) noexcept __attribute__((format(gnu_printf, 1, 2)));

// For tests and tools. Waits until the writer has output everything posted so far (a steady stream
// of new posts can hold it up until the time-out): 1 when caught up, 0 on time-out.
int TraceWaitDrained(unsigned long timeoutMs) noexcept;
// Messages waiting for the writer, the one being written included.
size_t TraceQueueLength() noexcept;
