// Local times for times kept in UTC (FILETIME units: 100 ns since 1601-01-01): the time zone's
// offset for a UTC time, looked up once per quarter hour, and a local time written as an automation
// DATE or as ISO 8601 text with its offset. AutomationDate and Iso8601 are pure and callable on any
// thread; a LocalOffsets belongs to the one thread that asks it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace base {

inline constexpr uint64_t kFileTimeUnitsPerMs = 10000;
inline constexpr uint64_t kFileTimeUnitsPerDay = 864000000000ull;

// The zone's offset at utc, local = utc + offset (FILETIME units); false when it cannot be told.
using OffsetLookup = bool (*)(uint64_t utc, int64_t* offset) noexcept;

// The offset by the system's time-zone rules, which know the daylight saving time of the year utc
// falls in.
inline bool SystemZoneOffset(uint64_t utc, int64_t* offset) noexcept {
    const FILETIME universalFile = {static_cast<DWORD>(utc), static_cast<DWORD>(utc >> 32)};
    SYSTEMTIME universal, local;
    FILETIME localFile;
    if (!::FileTimeToSystemTime(&universalFile, &universal) ||
        !::SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local) ||
        !::SystemTimeToFileTime(&local, &localFile)) {
        return false;
    }
    // A SYSTEMTIME ends at the millisecond: the local one is that of utc's whole millisecond.
    *offset = static_cast<int64_t>(
        ((static_cast<uint64_t>(localFile.dwHighDateTime) << 32) | localFile.dwLowDateTime) -
        (utc - utc % kFileTimeUnitsPerMs));
    return true;
}

// Offsets for a stream of UTC times. Every zone's offset is a whole number of quarter hours, and so
// are the local times at which it changes, so one look-up serves a whole quarter hour of UTC.
class LocalOffsets {
public:
    static constexpr uint64_t kUnitsPerQuarterHour = 9000000000ull;

    explicit LocalOffsets(OffsetLookup lookup = &SystemZoneOffset) noexcept : lookup_(lookup) {}

    // The offset at utc; 0 (UTC rather than no time) when the lookup fails.
    int64_t At(uint64_t utc) noexcept {
        const uint64_t quarter = utc / kUnitsPerQuarterHour;
        if (quarter == quarter_) return offset_;
        int64_t offset = 0;
        if (!lookup_(utc, &offset)) return 0;
        quarter_ = quarter;
        offset_ = offset;
        return offset_;
    }

private:
    const OffsetLookup lookup_;
    uint64_t quarter_ = UINT64_MAX;
    int64_t offset_ = 0;
};

// A local time as an automation DATE, to the millisecond (SystemTimeToVariantTime drops them): the
// day and its fraction apart, so that the fraction keeps its precision. Day 0 of a DATE is
// 1899-12-30, 109205 days after 1601-01-01.
inline double AutomationDate(uint64_t local) noexcept {
    constexpr uint64_t kEpochDays = 109205;
    const double days = static_cast<double>(local / kFileTimeUnitsPerDay) - static_cast<double>(kEpochDays);
    return days +
           static_cast<double>(local % kFileTimeUnitsPerDay) / static_cast<double>(kFileTimeUnitsPerDay);
}

// The local time utc + offset as "2026-12-09T10:15:30.123+01:00" (ISO 8601, to the millisecond,
// with the offset; "+00:00" for UTC), which spreadsheets and data tools read as it stands. Empty for
// a time outside the years 1601 to 30827.
inline std::string Iso8601(uint64_t utc, int64_t offset) {
    const uint64_t local = utc + static_cast<uint64_t>(offset);
    const uint64_t whole = local - local % kFileTimeUnitsPerMs;
    const FILETIME file = {static_cast<DWORD>(whole), static_cast<DWORD>(whole >> 32)};
    SYSTEMTIME t;
    if (!::FileTimeToSystemTime(&file, &t)) return std::string();
    const int64_t minutes = offset / static_cast<int64_t>(60 * 1000 * kFileTimeUnitsPerMs);
    const int64_t size = minutes < 0 ? -minutes : minutes;
    char text[40];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%03u%c%02u:%02u", t.wYear, t.wMonth,
                  t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds, minutes < 0 ? '-' : '+',
                  static_cast<unsigned>(size / 60), static_cast<unsigned>(size % 60));
    return text;
}

}  // namespace base
