// Numbered, timed rows of 16-bit readings as CSV text, the one form every writer of such rows uses:
// a header line "cycle,time,ch0,ch1,...", a line per cycle "17,2026-12-09T10:15:30.123+01:00,-5,12",
// and a line that marks cycles missing from the file where they are missing,
// "# lost 3 cycles: 4 to 6", or, for the ends of runs that could not be told apart,
// "# lost 40 cycles at the ends of 3 runs". Rows may carry more columns after the readings (scaled
// values), named in the header by text that is quoted as RFC 4180 asks when it holds a comma, a
// quote or a line end. UTF-8, ',' between fields and '.' before the milliseconds and in every
// number whatever the user's locale, each line
// ended by "\n" (a stream in text mode writes it as CRLF; spreadsheets and data tools read either).
// Pure functions of their arguments; any thread. They throw std::bad_alloc.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "base/local_time.h"

namespace base {

// A field as it stands, or in quotes with its quotes doubled.
inline std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

// extra: the names of the columns after the readings (UTF-8), or null for none.
inline std::string CsvHeader(int channels, const std::string* extra = nullptr, int extraCount = 0) {
    std::string line = "cycle,time";
    for (int k = 0; k < channels; ++k) line += ",ch" + std::to_string(k);
    for (int k = 0; k < extraCount; ++k) line += "," + CsvField(extra[k]);
    return line + "\n";
}

// A number that reads back as the same double where 15 digits do, with '.' in any locale.
inline std::string CsvNumber(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", value);
    // The C runtime is shared with the host, which may have set a locale with a decimal comma.
    for (char& c : text) c = c == ',' ? '.' : c;
    return text;
}

// utc in FILETIME units, offset the local time's from it (see base/local_time.h).
// extra: count more values after the readings, or null for none.
inline std::string CsvRow(uint64_t number, uint64_t utc, int64_t offset, const int16_t* values, int count,
                          const double* extra = nullptr) {
    std::string line = std::to_string(number) + "," + Iso8601(utc, offset);
    for (int k = 0; k < count; ++k) line += "," + std::to_string(values[k]);
    for (int k = 0; extra && k < count; ++k) line += "," + CsvNumber(extra[k]);
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
