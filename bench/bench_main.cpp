#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "bench/bench.h"

namespace bench {
namespace {

std::vector<std::pair<const char*, Group>>& Groups() {
    static std::vector<std::pair<const char*, Group>> groups;
    return groups;
}

bool g_longRuns = false;

}  // namespace

Registrar::Registrar(const char* name, Group group) { Groups().emplace_back(name, group); }

double NowNs() {
    static const double nsPerCount = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return 1e9 / static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * nsPerCount;
}

double MiddleMean(std::vector<double>& samples) {
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    const size_t from = samples.size() / 4;
    const size_t to = samples.size() - from;
    double sum = 0;
    for (size_t i = from; i < to; ++i) sum += samples[i];
    return sum / static_cast<double>(to - from);
}

bool LongRuns() { return g_longRuns; }

double Percentile(std::vector<double>& samples, double p) {
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    return samples[std::min(samples.size() - 1,
                            static_cast<size_t>(p * static_cast<double>(samples.size())))];
}

double Median(std::vector<double>& samples) {
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

}  // namespace bench

// vandrel-bench [--long] [GROUP...]: the groups named (all without a name), in their order.
int main(int argc, char** argv) {
    std::vector<std::string> chosen;
    for (int k = 1; k < argc; ++k) {
        if (std::strcmp(argv[k], "--long") == 0) {
            bench::g_longRuns = true;
        } else {
            chosen.emplace_back(argv[k]);
        }
    }
    std::vector<bench::Row> rows;
    for (const auto& [name, group] : bench::Groups()) {
        if (!chosen.empty() && std::find(chosen.begin(), chosen.end(), name) == chosen.end()) continue;
        std::fprintf(stderr, "running %s ...\n", name);
        group(rows);
    }
    std::printf("| %-58s | %14s | %-6s | %s\n", "measurement", "value", "unit", "note");
    std::printf("|%s|%s|%s|%s\n", std::string(60, '-').c_str(), std::string(16, '-').c_str(),
                std::string(8, '-').c_str(), std::string(6, '-').c_str());
    for (const bench::Row& r : rows) {
        std::printf("| %-58s | %14.1f | %-6s | %s\n", r.what.c_str(), r.value, r.unit.c_str(),
                    r.note.c_str());
    }
    return 0;
}
