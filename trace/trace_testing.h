// Seams of the process-wide trace for its tests: a small queue bound so an overflow is quick to
// provoke, and set-up failures that cannot be caused from outside. Not for production callers.
// Any thread, like the trace's own functions.
#pragma once

#include <cstddef>

// Replaces the queue bound, now if the trace has a queue, else from its first TraceOpen on.
void TraceSetQueueLimitForTesting(size_t limit) noexcept;

// Makes the next creations of the wake event and of the writer thread fail while set.
void TraceFailStartForTesting(bool failEvent, bool failThread) noexcept;

// While set, the writer takes nothing more out of the queue (an entry it is writing is finished), so
// a test can fill the queue, overflow it and raise the bound at points it chooses.
void TraceHoldWriterForTesting(bool hold) noexcept;
