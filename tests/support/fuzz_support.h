// Shared pieces of the bulk tests with hostile input: a seeded generator, the call count taken from
// the environment (a soak run asks for millions), and the process heap in use, for leak checks.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>

namespace testsupport {

// VANDREL_FUZZ_<name> overrides fallback (a soak run sets VANDREL_FUZZ_CALLS=10000000).
inline uint64_t FuzzSetting(const char* name, uint64_t fallback) {
    const std::string key = std::string("VANDREL_FUZZ_") + name;
    char text[32] = {};
    if (::GetEnvironmentVariableA(key.c_str(), text, sizeof text) == 0) return fallback;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    return end != text && *end == '\0' && value > 0 ? value : fallback;
}

class FuzzRandom {
public:
    explicit FuzzRandom(uint64_t seed) : engine_(seed) {}
    uint32_t Next() { return static_cast<uint32_t>(engine_()); }
    // Uniform in [0, n).
    uint32_t Below(uint32_t n) { return n ? Next() % n : 0; }
    bool OneIn(uint32_t n) { return Below(n) == 0; }
    template <class T, size_t N>
    const T& Pick(const T (&items)[N]) {
        return items[Below(static_cast<uint32_t>(N))];
    }

private:
    std::mt19937_64 engine_;
};

// Bytes in busy blocks of every heap of the process; callers make sure no other thread allocates.
inline SIZE_T HeapBytesInUse() {
    HANDLE heaps[64];
    const DWORD count = ::GetProcessHeaps(64, heaps);
    SIZE_T total = 0;
    for (DWORD i = 0; i < count && i < 64; ++i) {
        if (!::HeapLock(heaps[i])) continue;
        PROCESS_HEAP_ENTRY entry = {};
        while (::HeapWalk(heaps[i], &entry)) {
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) total += entry.cbData;
        }
        ::HeapUnlock(heaps[i]);
    }
    return total;
}

}  // namespace testsupport
