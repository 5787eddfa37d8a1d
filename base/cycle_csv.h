// Numbered, timed rows of 16-bit readings as CSV text, the one form every writer of such rows uses:
// a header line "cycle,time,ch0,ch1,...", a line per cycle "17,2026-12-09T10:15:30.123+01:00,-5,12",
// and a line that marks cycles missing from the file where they are missing,
// "# lost 3 cycles: 4 to 6", or, for the ends of runs that could not be told apart,
// "# lost 40 cycles at the ends of 3 runs". UTF-8 (ASCII in fact), ',' between fields and '.' before the
// milliseconds whatever the user's locale (nothing here formats a floating-point number), each line
// ended by "\n" (a stream in text mode writes it as CRLF; spreadsheets and data tools read either).
// Pure functions of their arguments; any thread. They throw std::bad_alloc.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "base/local_time.h"

namespace base {

inline std::string CsvHeader(int channels) {
    std::string line = "cycle,time";
    for (int k = 0; k < channels; ++k) line += ",ch" + std::to_string(k);
    return line + "\n";
}

// utc in FILETIME units, offset the local time's from it (see base/local_time.h).
inline std::string CsvRow(uint64_t number, uint64_t utc, int64_t offset, const int16_t* values, int count) {
    std::string line = std::to_string(number) + "," + Iso8601(utc, offset);
    for (int k = 0; k < count; ++k) line += "," + std::to_string(values[k]);
    return line + "\n";
}

// first .. first + count - 1 are missing.
inline std::string CsvLostLine(uint64_t first, uint64_t count) {
    return "# lost " + std::to_string(count) + (count == 1 ? " cycle: " : " cycles: ") +
           std::to_string(first) + " to " + std::to_string(first + count - 1) + "\n";
}

inline std::string CsvLostAtRunEndsLine(uint64_t count, uint64_t runs) {
    return "# lost " + std::to_string(count) + (count == 1 ? " cycle" : " cycles") + " at the ends of " +
           std::to_string(runs) + (runs == 1 ? " run\n" : " runs\n");
}

}  // namespace base
