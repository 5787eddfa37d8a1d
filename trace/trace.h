// Process-wide diagnostic trace: messages queued with a console colour and written by one writer
// thread to the "Debug Out" console and appended to C:\log.log. Every function may be called from
// any thread, also before TraceOpen; while the trace is closed, posts are discarded.
#pragma once

// Console character attributes of the trace.
inline constexpr int kTraceWhite = 15;
inline constexpr int kTraceGreen = 10;
inline constexpr int kTraceRed = 12;
inline constexpr int kTraceYellow = 14;

// Opens (or reopens) the trace: 1 when it is open, 0 when no console could be set up.
int TraceOpen() noexcept;

// Queues a copy of text with a console attribute; never does output itself.
void TracePost(const char* text, int attribute) noexcept;

// printf-style posts: data messages in red, status messages in yellow.
void TraceData(const char* format, ...) noexcept __attribute__((format(gnu_printf, 1, 2)));
void TraceStatus(const char* format, ...) noexcept __attribute__((format(gnu_printf, 1, 2)));
