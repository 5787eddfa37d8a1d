// Local times for times kept in UTC (FILETIME units: 100 ns since 1601-01-01): the time zone's
// offset for a UTC time, looked up once per quarter hour, and a local time written as an automation
// DATE or as ISO 8601 text with its offset; and the way back, for a reader given the DATE alone: the
// local time a DATE stands for, and the UTC time of a local time. AutomationDate,
// LocalTimeOfAutomationDate and Iso8601 are pure and callable on any thread; a LocalOffsets or a
// UtcTimes belongs to the one thread that asks it.
#pragma once

#include <windows.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
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

// Day 0 of a DATE is 1899-12-30, 109205 days after 1601-01-01.
inline constexpr uint64_t kAutomationDateEpochDays = 109205;

// A local time as an automation DATE, to the millisecond (SystemTimeToVariantTime drops them): the
// day and its fraction apart, so that the fraction keeps its precision.
inline double AutomationDate(uint64_t local) noexcept {
    const double days =
        static_cast<double>(local / kFileTimeUnitsPerDay) - static_cast<double>(kAutomationDateEpochDays);
    return days +
           static_cast<double>(local % kFileTimeUnitsPerDay) / static_cast<double>(kFileTimeUnitsPerDay);
}

// The local time a DATE from AutomationDate stands for, cut to its whole millisecond as Iso8601
// writes it; nullopt for a DATE before 1601 or past the year 30827, or no number. The day and its
// fraction apart again: taking the day off is exact, and the fraction keeps what the DATE holds. A
// DATE holds a time to within half the step between neighbouring doubles (6.3 FILETIME units,
// 0.63 us, from 1989 to 2079), the error on either side; one step and a unit more are added before
// the cut, so that a time on a whole millisecond comes back as it was. A time that close below the
// next millisecond (1 in about 1000 of arbitrary times) comes back as that one: the DATE cannot tell.
inline std::optional<uint64_t> LocalTimeOfAutomationDate(double date) noexcept {
    // FileTimeToSystemTime takes FILETIME values below 2^63, days below this.
    constexpr double kEndDays = 10675199;
    if (!std::isfinite(date)) return std::nullopt;
    const double day = std::floor(date);
    const double days = day + static_cast<double>(kAutomationDateEpochDays);
    if (days < 0 || days >= kEndDays) return std::nullopt;
    const double unitsPerDay = static_cast<double>(kFileTimeUnitsPerDay);
    const double step = (std::nextafter(date, HUGE_VAL) - date) * unitsPerDay;
    const auto units = static_cast<uint64_t>((date - day) * unitsPerDay + step + 1);
    return static_cast<uint64_t>(days) * kFileTimeUnitsPerDay + units - units % kFileTimeUnitsPerMs;
}

// The UTC time of a local time, utc = local - offset; false when it cannot be told.
using UtcLookup = bool (*)(uint64_t local, uint64_t* utc) noexcept;

// The UTC time by the system's time-zone rules (TzSpecificLocalTimeToSystemTime). A local time of
// the hour that the clock is set back at the end of daylight saving time happens twice, and the
// rules name one of the two (UtcTimes finds both).
inline bool SystemZoneUtc(uint64_t local, uint64_t* utc) noexcept {
    const FILETIME localFile = {static_cast<DWORD>(local), static_cast<DWORD>(local >> 32)};
    SYSTEMTIME localTime, universal;
    FILETIME universalFile;
    if (!::FileTimeToSystemTime(&localFile, &localTime) ||
        !::TzSpecificLocalTimeToSystemTime(nullptr, &localTime, &universal) ||
        !::SystemTimeToFileTime(&universal, &universalFile)) {
        return false;
    }
    // The part of a millisecond a SYSTEMTIME leaves out comes back.
    *utc = ((static_cast<uint64_t>(universalFile.dwHighDateTime) << 32) | universalFile.dwLowDateTime) +
           local % kFileTimeUnitsPerMs;
    return true;
}

// UTC times for a stream of local times. Where the clock was set back, a local time names two UTC
// times, an offset apart: the zone's rules name one, and the other is found as an offset in force
// a few hours either side of it that reads as the same local time. Of the two, At takes the one
// nearer to a time the caller knows to be close (the time a fresh cycle is read: right unless it
// is half the change, 30 minutes, old). Every offset and the local times it changes at are whole
// quarter hours, so the readings of a local quarter hour are looked up once.
class UtcTimes {
public:
    explicit UtcTimes(UtcLookup toUtc = &SystemZoneUtc, OffsetLookup offsetAt = &SystemZoneOffset) noexcept
        : toUtc_(toUtc), offsetAt_(offsetAt) {}

    // The UTC time of local, the one nearer to hint where there are two; nullopt when the zone's
    // rules cannot tell.
    std::optional<uint64_t> At(uint64_t local, uint64_t hint) noexcept {
        const uint64_t quarter = local / LocalOffsets::kUnitsPerQuarterHour;
        if (quarter != quarter_ && !LookUp(local)) return std::nullopt;
        quarter_ = quarter;
        uint64_t best = local - static_cast<uint64_t>(offsets_[0]);
        for (int i = 1; i < count_; ++i) {
            const uint64_t other = local - static_cast<uint64_t>(offsets_[i]);
            if (Distance(other, hint) < Distance(best, hint)) best = other;
        }
        return best;
    }

private:
    // Far enough either side of a change to see the offset on its other side.
    static constexpr uint64_t kReach = 3 * 4 * LocalOffsets::kUnitsPerQuarterHour;

    static uint64_t Distance(uint64_t a, uint64_t b) noexcept { return a > b ? a - b : b - a; }

    bool LookUp(uint64_t local) noexcept {
        uint64_t utc = 0;
        if (!toUtc_(local, &utc)) return false;
        offsets_[0] = static_cast<int64_t>(local - utc);
        count_ = 1;
        for (const uint64_t side : {utc - kReach, utc + kReach}) {
            int64_t other = 0, check = 0;
            if (count_ == 1 && utc > kReach && offsetAt_(side, &other) && other != offsets_[0] &&
                offsetAt_(local - static_cast<uint64_t>(other), &check) && check == other) {
                offsets_[count_++] = other;
            }
        }
        return true;
    }

    const UtcLookup toUtc_;
    const OffsetLookup offsetAt_;
    uint64_t quarter_ = UINT64_MAX;
    int64_t offsets_[2] = {};  // the readings of the local quarter hour, the rules' first
    int count_ = 0;
};

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
