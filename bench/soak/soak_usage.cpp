#include <windows.h>

#include <cstdio>
#include <cstring>

#include "base/module_file.h"
#include "bench/soak/soak.h"
#include "harness/process_usage.h"

namespace soak {
namespace {

// The kB figures of the named fields of the Wine process's /proc status, summed.
uint64_t ProcStatusKb(const char* const* fields, int count) {
    std::FILE* status = std::fopen("Z:\\proc\\self\\status", "r");
    if (!status) return 0;
    uint64_t sum = 0;
    char line[256];
    while (std::fgets(line, sizeof line, status)) {
        for (int i = 0; i < count; ++i) {
            const size_t n = std::strlen(fields[i]);
            if (std::strncmp(line, fields[i], n) == 0 && line[n] == ':') {
                sum += std::strtoull(line + n + 1, nullptr, 10);
            }
        }
    }
    std::fclose(status);
    return sum;
}

}  // namespace

void PrintRow(const Row& row) {
    std::printf("| %-62s | %16s | %-16s | %-4s |\n", row.what.c_str(), row.figure.c_str(), row.limit.c_str(),
                row.pass ? "pass" : "FAIL");
    std::fflush(stdout);
}

int PrintRows(const std::vector<Row>& rows) {
    int code = 0;
    for (const Row& r : rows) {
        PrintRow(r);
        if (!r.pass) code = 1;
    }
    return code;
}

std::vector<Row> GrowthRows(const std::string& phase, const Usage& before, const Usage& after) {
    const int64_t handleGrowth = static_cast<int64_t>(after.handles) - static_cast<int64_t>(before.handles);
    const int64_t memoryGrowth =
        static_cast<int64_t>(after.privateBytes) - static_cast<int64_t>(before.privateBytes);
    // A leak of one handle per round would show thousands; of 100 bytes per round, a megabyte.
    const int64_t memoryLimit = 1024 * 1024;
    return {
        {phase + ": handles " + std::to_string(before.handles) + " -> " + std::to_string(after.handles),
         (handleGrowth >= 0 ? "+" : "") + std::to_string(handleGrowth), "<= +10", handleGrowth <= 10},
        {phase + ": private bytes " + Bytes(static_cast<int64_t>(before.privateBytes)).substr(1) + " ->",
         Bytes(memoryGrowth), "<= +1.0 MiB", memoryGrowth <= memoryLimit},
    };
}

Usage MeasureUsage() {
    static const char* const kPrivate[] = {"RssAnon", "VmSwap"};
    Usage u;
    u.handles = harness::CountOpenHandles();
    u.privateBytes = ProcStatusKb(kPrivate, 2) * 1024;
    // Outside Wine there is no /proc: the committed private bytes stand in.
    if (u.privateBytes == 0) u.privateBytes = harness::CommittedBytes();
    return u;
}

std::string Bytes(int64_t bytes) {
    char text[32];
    const double magnitude = static_cast<double>(bytes < 0 ? -bytes : bytes);
    const char sign = bytes < 0 ? '-' : '+';
    if (magnitude >= 1024.0 * 1024.0) {
        std::snprintf(text, sizeof text, "%c%.1f MiB", sign, magnitude / (1024.0 * 1024.0));
    } else {
        std::snprintf(text, sizeof text, "%c%.0f KiB", sign, magnitude / 1024.0);
    }
    return text;
}

std::string Number(uint64_t n) {
    std::string digits = std::to_string(n);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<size_t>(at), ",");
    return digits;
}

std::wstring BinFolder() { return base::BesideProgram(L""); }

}  // namespace soak
