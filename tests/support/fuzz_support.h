// Shared pieces of the bulk tests with hostile input: a seeded generator, the call count taken from
// the environment (a soak run asks for millions), a run of generated cases that stops reporting
// after a few failures, and the process heap in use, for leak checks.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <random>
#include <string>
#include <utility>

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

// One bulk run of generated cases: the seed (VANDREL_FUZZ_SEED, offset per test so that tests
// draw different cases), the count (VANDREL_FUZZ_<countName>) and the failures so far. A broken
// parser fails thousands of cases; the run ends after the first 20, each reported by the caller.
class FuzzRun {
public:
    FuzzRun(uint64_t seedOffset, const char* countName, uint64_t countFallback)
        : seed(FuzzSetting("SEED", 20261208) + seedOffset),
          count(FuzzSetting(countName, countFallback)),
          random(seed) {}

    bool More(uint64_t n) const { return n < count && failures_ < 20; }
    void Failed() { ++failures_; }
    // "<what>: seed <seed>, <count> <noun>, <n> <tally>..." on stdout, so that a soak run can be
    // repeated from its log.
    void Summary(const char* what, const char* noun,
                 std::initializer_list<std::pair<const char*, uint64_t>> tallies) const {
        std::printf("%s: seed %llu, %llu %s", what, static_cast<unsigned long long>(seed),
                    static_cast<unsigned long long>(count), noun);
        for (const auto& [name, n] : tallies)
            std::printf(", %llu %s", static_cast<unsigned long long>(n), name);
        std::printf("\n");
    }

    const uint64_t seed;
    const uint64_t count;
    FuzzRandom random;

private:
    int failures_ = 0;
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
