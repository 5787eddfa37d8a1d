// Placeholder trace: the engine's messages go nowhere yet.
#include "trace/trace.h"

int TraceOpen() noexcept { return 0; }

void TracePost(const char*, int) noexcept {}

void TraceData(const char*, ...) noexcept {}

void TraceStatus(const char*, ...) noexcept {}
