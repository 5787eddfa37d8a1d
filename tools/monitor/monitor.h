// vandrel-monitor: prints the channel values of a registered Vandrel control, one line per interval
// with the control's status, or (--csv) every cycle once in the CSV form of base/cycle_csv.h,
// marking the cycles the control's buffer lost; with --record, the control records every cycle to a
// file of that form meanwhile. With --settings, the control loads its channels' settings first; a
// table of channels with settings shows their names, units, scaled values and alarms. After the
// run, a line with the pace the control kept, where the control tells it. Argument parsing, line
// formatting and the sampling loop are plain functions, so that tests drive them with a fake
// control and a zone of their own. Everything runs on the program's main thread, a single-threaded
// apartment that owns the control; only the stop event is signalled from elsewhere (Ctrl+C).
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/com_ptr.h"
#include "base/local_time.h"
#include "base/variant.h"

namespace monitor {

// GetChnlValue's answer for an invalid index or readings that are not fresh.
inline constexpr SHORT kNoValue = 32767;
// Intervals in a row without one fresh value (or, with --csv, drains without a cycle) after which
// the board counts as not answering.
inline constexpr int kNoAnswerIntervals = 5;
// With --csv, the cycles are drained once per interval, but at least this often.
inline constexpr ULONGLONG kMaxDrainMs = 100;

enum ExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

struct Options {
    // Unset settings keep the control's own (port 356, 2160 ms, 8 channels).
    std::optional<LONG> address;
    std::optional<LONG> interval;  // milliseconds
    std::optional<LONG> channels;  // 1, 4 or 8
    ULONGLONG durationMs = 0;      // 0: until Ctrl+C
    bool csv = false;
    std::wstring record;    // the control's record file, as given; empty records nothing
    std::wstring settings;  // the channels' settings file, as given; empty loads none
    bool help = false;
};

// Parses the arguments after the program name ("--name value" or "--name=value"). On failure
// returns false and a one-line message in error.
bool ParseArguments(const std::vector<std::wstring>& args, Options* options, std::string* error);

std::string UsageText();

// The one line for a control registered only for the other bitness (32 or 64): a process loads only
// an in-process server of its own bitness.
std::string WrongBitnessText(int ownBits, int controlBits);

// The settings in effect, read back from the control.
struct Settings {
    LONG address = 0;
    LONG interval = 0;
    LONG channels = 0;
};

// One cycle as ReadCycles gives it.
struct CycleRow {
    LONGLONG number = 0;
    DATE time = 0;  // local, without its offset
    std::vector<SHORT> values;
};

// Lines end in "\n". The table pads columns for a console and gives the control's status (its
// Status value as a word) before the values. The CSV lines are base/cycle_csv.h's.
std::string FormatBanner(const Settings& settings);
std::string FormatHeader(LONG channels);
std::string FormatRow(ULONGLONG elapsedMs, const std::vector<SHORT>& values, LONG status);
// The table of scaled values, for channels with settings: a column for each sampled channel, headed
// by its name (else "chN") and its unit, e.g. "Oven [\u00B0C]". Columns are as wide as their headings,
// at least as wide as any value, so that the rows line up; the text is narrowed to codePage (the
// console's) after padding, so that a heading with characters beyond ASCII lines up too.
struct ScaledValue {
    std::optional<double> value;  // none: stale
    LONG alarm = 0;               // the channel's AlarmState, -2 to 2
};
std::wstring ChannelHeading(LONG index, const std::wstring& name, const std::wstring& unit);
std::string FormatScaledHeader(const std::vector<std::wstring>& headings, UINT codePage);
// A value in alarm is marked after it: "!" for a high or low level, "!!" for high-high or low-low.
std::string FormatScaledRow(ULONGLONG elapsedMs, const std::vector<std::wstring>& headings,
                            const std::vector<ScaledValue>& values, LONG status);

// The line on stderr, without "\n", for cycles the control's buffer overwrote before they were
// drained: first .. first+count-1 (the CSV marks them with a line of its own).
std::string LostCyclesText(LONGLONG first, LONG count);

// How a run kept its pace, as far as the control tells it (a control older than these members
// tells none of them).
struct RunHealth {
    std::optional<LONG> cycles;        // CycleCount
    std::optional<double> rate;        // CycleRate: cycles a second over the last 100 cycles
    std::optional<LONG> longestGapMs;  // LongestGap
    std::optional<LONG> failed;        // FailedCycles
    std::optional<double> gapP99Ms;    // GapPercentile99: 99 of 100 of the last 1000 gaps within it
};

// The closing line of a run, without "\n", e.g. "Vandrel control stopped after 412 cycles: 97.3
// cycles a second over the last 100, longest gap 12 ms, 99 % of gaps within 10.31 ms, 0 failed
// attempts"; what a run of fewer than two cycles has no figure for is left out. Empty when the control
// told nothing.
std::string HealthText(const RunHealth& health);

// A Vandrel control called late-bound: member names looked up once through IDispatch.
class Control {
public:
    enum Member {
        kInterval,
        kAddress,
        kChannelNumber,
        kGetChnlValue,
        kStart,
        kStop,
        kStatus,
        kReadCycles,
        // Optional from here on: members that older controls lack.
        kCycleCount,
        kCycleRate,
        kLongestGap,
        kFailedCycles,
        kRecordFile,
        kRecordLost,
        kRecording,
        kLastError,
        kChannelName,
        kChannelUnit,
        kChannelGain,
        kChannelOffset,
        kChannelValue,
        kHighHighLimit,
        kHighLimit,
        kLowLimit,
        kLowLowLimit,
        kAlarmState,
        kLoadSettings,
        kGapPercentile99,
        kMemberCount
    };
    static constexpr int kFirstOptional = kCycleCount;

    // Takes a reference on dispatch and looks up the members; fails when a member before
    // kFirstOptional is missing, or when looking one up fails otherwise than with an unknown name.
    [[nodiscard]] HRESULT Bind(IDispatch* dispatch) noexcept;
    // Whether the bound control has member: always for those before kFirstOptional.
    bool Has(Member member) const noexcept { return dispatch_ && ids_[member] != DISPID_UNKNOWN; }

    // A member that raises an exception fails with the error it names; a text put hands on what
    // the control said of it in *description (empty when it said nothing).
    [[nodiscard]] HRESULT Put(Member property, LONG value) noexcept;
    [[nodiscard]] HRESULT Put(Member property, const std::wstring& value, std::wstring* description) noexcept;
    [[nodiscard]] HRESULT Get(Member property, LONG* value) noexcept;
    [[nodiscard]] HRESULT Get(Member property, double* value) noexcept;
    [[nodiscard]] HRESULT Get(Member property, bool* value) noexcept;
    // A channel's property (channel 1 to 8), as the control gives it.
    [[nodiscard]] HRESULT Get(Member property, LONG channel, base::Variant* value) noexcept;
    [[nodiscard]] HRESULT LoadSettings(const std::wstring& path, std::wstring* description) noexcept;
    [[nodiscard]] HRESULT Start(bool* started) noexcept;
    [[nodiscard]] HRESULT Stop() noexcept;
    [[nodiscard]] HRESULT GetChnlValue(LONG index, SHORT* value) noexcept;
    // Appends up to max unread cycles, oldest first; lost receives the cycles lost before them.
    [[nodiscard]] HRESULT ReadCycles(LONG max, std::vector<CycleRow>* rows, LONG* lost) noexcept;

private:
    [[nodiscard]] HRESULT Call(Member member, WORD flags, const VARIANT* args, UINT argCount, VARIANT* result,
                               std::wstring* description = nullptr) noexcept;

    base::ComPtr<IDispatch> dispatch_;
    DISPID ids_[kMemberCount] = {};
};

using Writer = std::function<void(const std::string&)>;

// The time zone the CSV's times are told in: the system's. ReadCycles gives local times alone, and
// the zone's rules give their UTC times and offsets back (see base::UtcTimes).
struct Zone {
    base::UtcLookup toUtc = &base::SystemZoneUtc;
    base::OffsetLookup offsetAt = &base::SystemZoneOffset;
};

// Applies the options, starts sampling and writes the banner, the header and a row per interval
// (the first after half an interval) until the duration ends, stop is signalled, or no fresh value
// came for kNoAnswerIntervals intervals. With --csv: the header, then the cycles drained once per
// interval (at least every kMaxDrainMs), and after Stop the rest, each cycle once; a gap in the
// numbers is marked where it is and also told to err. A started control is stopped in every case.
// With --settings, the control loads the file (as a full path) before anything else is read from
// it. The table shows scaled values (ChannelValue, AlarmState) when the control has settings for a
// sampled channel: a name, a unit, a gain or offset other than 1 and 0, or an alarm limit;
// otherwise, and with --csv, raw counts as ever. With --record, the control's RecordFile is set
// before Start and cleared when the run ends, in every case, which completes the file; cycles the
// recording lost are told to err. A run that ended well closes with the HealthText line read after
// Stop, to out (to err with --csv, whose out is CSV alone). Errors go to err as one line each. The
// table's text is in codePage. Returns the process exit code.
int Run(Control& control, const Options& options, HANDLE stop, const Writer& out, const Writer& err,
        const Zone& zone = Zone(), UINT codePage = CP_UTF8) noexcept;

// One line for a failed COM call: what failed, the HRESULT and why: the reason given (the control's
// text), or else the system's text for the HRESULT.
std::string DescribeFailure(const std::string& what, HRESULT hr, const std::wstring& given = std::wstring());

// One line for a control that could be found but not created: DirectPort.dll (the board's
// port-input library that Vandrel.ocx imports) not found, or any other failure as DescribeFailure.
std::string DescribeCreateFailure(HRESULT hr);

}  // namespace monitor
