// A tiny benchmark runner: each group measures something and adds rows to one printed table.
// Everything runs on the program's main thread.
#pragma once

#include <string>
#include <vector>

namespace bench {

struct Row {
    std::string what;
    double value;
    std::string unit;
    std::string note;
};

using Group = void (*)(std::vector<Row>& rows);

// Registers a group at static initialisation; groups run in registration order.
struct Registrar {
    Registrar(const char* name, Group group);
};

// Monotonic time in nanoseconds.
double NowNs();

// Median of samples (sorted in place).
double Median(std::vector<double>& samples);

// The p-quantile of samples (0 <= p <= 1; sorted in place): the sample below which a fraction p of
// them lie; 0 for none.
double Percentile(std::vector<double>& samples, double p);

// Mean of the middle half of samples (sorted in place): averages whole-unit readings to below a
// unit, leaving out the outliers of a machine that others share.
double MiddleMean(std::vector<double>& samples);

// True when the program was started with --long: groups that would take minutes run at full length.
bool LongRuns();

}  // namespace bench

#define BENCH_GROUP(name)                                        \
    static void name(std::vector<bench::Row>& rows);             \
    static const bench::Registrar name##_registrar(#name, name); \
    static void name(std::vector<bench::Row>& rows)
