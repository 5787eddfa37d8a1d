// Local times of UTC cycle times, and the one CSV form of cycles: pure functions, checked against
// fixed texts, also under a locale that writes decimals with a comma.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <clocale>
#include <cmath>
#include <optional>
#include <string>

#include "base/cycle_csv.h"
#include "base/local_time.h"

namespace {

constexpr int64_t kMinute = 60 * 1000 * static_cast<int64_t>(base::kFileTimeUnitsPerMs);

// 2026-12-09 10:15:30.123 UTC in FILETIME units, with 4567 units (0.4567 ms) more.
uint64_t Utc() {
    const SYSTEMTIME t = {2026, 12, 3, 9, 10, 15, 30, 123};
    FILETIME f;
    ::SystemTimeToFileTime(&t, &f);
    return ((static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime) + 4567;
}

struct IsoCase {
    int64_t offsetMinutes;
    const char* text;
};

class Iso8601Of : public testing::TestWithParam<IsoCase> {};

TEST_P(Iso8601Of, TheLocalTimeToTheMillisecondWithItsOffset) {
    EXPECT_EQ(GetParam().text, base::Iso8601(Utc(), GetParam().offsetMinutes * kMinute));
}

INSTANTIATE_TEST_SUITE_P(LocalTime, Iso8601Of,
                         testing::Values(IsoCase{0, "2026-12-09T10:15:30.123+00:00"},
                                         IsoCase{60, "2026-12-09T11:15:30.123+01:00"},
                                         IsoCase{-210, "2026-12-09T06:45:30.123-03:30"},
                                         IsoCase{345, "2026-12-09T16:00:30.123+05:45"},
                                         IsoCase{14 * 60, "2026-12-10T00:15:30.123+14:00"}));

// A zone that changes from +01:00 to +02:00 at a quarter hour of UTC, counting its look-ups; it
// fails once when asked to.
int g_lookups = 0;
bool g_failNext = false;
uint64_t g_change = 0;
bool TestZone(uint64_t utc, int64_t* offset) noexcept {
    ++g_lookups;
    if (g_failNext) {
        g_failNext = false;
        return false;
    }
    *offset = (utc < g_change ? 60 : 120) * kMinute;
    return true;
}

TEST(LocalTime, OffsetsFollowTheZoneAQuarterHourAtATimeAndAFailedLookUpIsNotKept) {
    const uint64_t quarter = base::LocalOffsets::kUnitsPerQuarterHour;
    g_change = (Utc() / quarter + 2) * quarter;
    g_lookups = 0;
    base::LocalOffsets offsets(&TestZone);
    EXPECT_EQ(60 * kMinute, offsets.At(Utc()));
    EXPECT_EQ(60 * kMinute, offsets.At(Utc() + 1000));
    EXPECT_EQ(1, g_lookups) << "one look-up for the quarter hour";
    EXPECT_EQ(60 * kMinute, offsets.At(g_change - 1));
    EXPECT_EQ(120 * kMinute, offsets.At(g_change));
    EXPECT_EQ(3, g_lookups);
    g_failNext = true;
    EXPECT_EQ(0, offsets.At(g_change + quarter)) << "UTC rather than no time";
    EXPECT_EQ(120 * kMinute, offsets.At(g_change + quarter)) << "asked again";
}

TEST(LocalTime, AutomationDateKeepsTheMilliseconds) {
    const SYSTEMTIME t = {2026, 12, 3, 9, 10, 15, 30, 0};
    DATE whole = 0;
    ASSERT_TRUE(::SystemTimeToVariantTime(const_cast<SYSTEMTIME*>(&t), &whole));
    EXPECT_NEAR(whole + 0.123 / 86400, base::AutomationDate(Utc() - 4567), 1e-10);
}

uint64_t FileTimeOf(WORD year, WORD month, WORD day, WORD hour = 0, WORD minute = 0) {
    const SYSTEMTIME t = {year, month, 0, day, hour, minute, 0, 0};
    FILETIME f = {};
    ::SystemTimeToFileTime(&t, &f);
    return (static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
}

uint64_t BackFromDate(uint64_t local) {
    return base::LocalTimeOfAutomationDate(base::AutomationDate(local)).value_or(0);
}

// Every millisecond of the two seconds around midnight comes back from its DATE as it was, over the
// years a DATE's step grows with, not one off; a time between whole milliseconds comes back cut to
// its millisecond as Iso8601 writes it, unless it lies within the DATE's step below the next one.
TEST(LocalTime, AutomationDateComesBackToTheMillisecond) {
    const uint64_t ms = base::kFileTimeUnitsPerMs;
    for (const uint64_t midnight :
         {FileTimeOf(1601, 1, 2), FileTimeOf(1899, 12, 31), FileTimeOf(1990, 1, 1), FileTimeOf(2026, 12, 9),
          FileTimeOf(2100, 1, 1), FileTimeOf(9999, 12, 31)}) {
        for (uint64_t t = midnight - 1000 * ms; t < midnight + 1000 * ms; t += ms) {
            ASSERT_EQ(t, BackFromDate(t))
                << base::Iso8601(t, 0) << " came back as " << base::Iso8601(BackFromDate(t), 0);
        }
    }
    for (uint64_t t = Utc(); t < Utc() + 1000 * ms; t += 997) {  // every place within a millisecond
        if (t % ms < ms - 11) {
            ASSERT_EQ(t - t % ms, BackFromDate(t)) << t % ms << " units into " << base::Iso8601(t, 0);
        }
    }
    EXPECT_EQ(std::nullopt, base::LocalTimeOfAutomationDate(-109206.0)) << "before 1601";
    EXPECT_EQ(std::nullopt, base::LocalTimeOfAutomationDate(1.1e7)) << "past the year 30827";
    EXPECT_EQ(std::nullopt, base::LocalTimeOfAutomationDate(std::nan("")));
}

// A zone whose clock goes back from +02:00 to +01:00 at g_setBack (UTC): the local times of the hour
// before happen twice. Its rules name the later UTC time of such a local time, or the earlier.
uint64_t g_setBack = 0;
bool SetBackZone(uint64_t utc, int64_t* offset) noexcept {
    *offset = (utc < g_setBack ? 120 : 60) * kMinute;
    return true;
}
bool LaterUtc(uint64_t local, uint64_t* utc) noexcept {
    *utc = local - (local - 60 * kMinute >= g_setBack ? 60 : 120) * kMinute;
    return true;
}
bool EarlierUtc(uint64_t local, uint64_t* utc) noexcept {
    *utc = local - (local - 120 * kMinute < g_setBack ? 120 : 60) * kMinute;
    return true;
}

// A cycle of either pass of the hour the clock is set back, read 100 ms after it, gets back the UTC
// time it had (not the other pass's, an hour off), whichever reading the rules name.
TEST(LocalTime, UtcOfALocalTimeIsTheReadingNearTheTimeItWasRead) {
    g_setBack = FileTimeOf(2026, 10, 25, 1);
    for (const base::UtcLookup rules : {&LaterUtc, &EarlierUtc}) {
        base::UtcTimes utcTimes(rules, &SetBackZone);
        for (const int64_t minutes : {-90, -60, -30, -1, 0, 30, 59, 60}) {
            const uint64_t utc = g_setBack + minutes * kMinute + 4567;
            int64_t offset = 0;
            SetBackZone(utc, &offset);
            EXPECT_EQ(utc, utcTimes.At(utc + offset, utc + 100 * base::kFileTimeUnitsPerMs).value_or(0))
                << minutes << " minutes from the change, rules naming the "
                << (rules == &LaterUtc ? "later" : "earlier");
        }
    }
}

// The system's offset is whole quarter hours also at a time between whole milliseconds, not short by
// the part a SYSTEMTIME leaves out (which wrote +01:00 as "+00:59"), and the system's rules take the
// local time back to that time: in this machine's zone, winter and summer, and (in Central Europe)
// both passes of the hour the clock is set back.
TEST(LocalTime, SystemOffsetsAreWholeQuarterHoursAndGoBack) {
    base::UtcTimes utcTimes;
    for (const uint64_t utc : {Utc(), FileTimeOf(2026, 7, 1, 12) + 9999, FileTimeOf(2026, 10, 25, 0, 30) + 1,
                               FileTimeOf(2026, 10, 25, 1, 30) + 1}) {
        int64_t offset = 1;
        ASSERT_TRUE(base::SystemZoneOffset(utc, &offset));
        EXPECT_EQ(0, offset % (15 * kMinute)) << offset << " at " << base::Iso8601(utc, 0);
        EXPECT_EQ(utc, utcTimes.At(utc + offset, utc).value_or(0)) << base::Iso8601(utc, offset);
    }
}

// The same text whatever the locale says of decimals and lists.
TEST(CycleCsv, RowsHeaderAndMarksReadTheSameInACommaDecimalLocale) {
    const LCID thread = ::GetThreadLocale();
    ::SetThreadLocale(MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT));
    const std::string crt = std::setlocale(LC_ALL, nullptr);
    std::setlocale(LC_ALL, "German_Germany.1252");
    const int16_t values[4] = {-32767, 0, 12, 32767};
    const std::string row = base::CsvRow(1234567, Utc(), 60 * kMinute, values, 4);
    const std::string header = base::CsvHeader(4);
    const std::string one = base::CsvLostLine(5, 1), some = base::CsvLostLine(7, 3);
    std::setlocale(LC_ALL, crt.c_str());
    ::SetThreadLocale(thread);
    EXPECT_EQ("1234567,2026-12-09T11:15:30.123+01:00,-32767,0,12,32767\n", row);
    EXPECT_EQ("cycle,time,ch0,ch1,ch2,ch3\n", header);
    EXPECT_EQ("# lost 1 cycle: 5 to 5\n", one);
    EXPECT_EQ("# lost 3 cycles: 7 to 9\n", some);
}

}  // namespace
