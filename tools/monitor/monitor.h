// vandrel-monitor: prints the channel values of a registered Vandrel control, one line per interval.
// Argument parsing, line formatting and the sampling loop are plain functions, so that tests drive
// them with a fake control. Everything runs on the program's main thread, a single-threaded
// apartment that owns the control; only the stop event is signalled from elsewhere (Ctrl+C).
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/com_ptr.h"

namespace monitor {

// The control's ProgID: a client's own copy, which tests/control/identity_test.cpp holds against the
// control's.
inline constexpr wchar_t kProgId[] = L"VANDREL.VandrelCtrl.1";
// GetChnlValue's answer for an invalid index or readings that are not fresh.
inline constexpr SHORT kNoValue = 32767;
// Intervals in a row without one fresh value after which the board counts as not answering.
inline constexpr int kNoAnswerIntervals = 5;

enum ExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

struct Options {
    // Unset settings keep the control's own (port 356, 2160 ms, 8 channels).
    std::optional<LONG> address;
    std::optional<LONG> interval;  // milliseconds
    std::optional<LONG> channels;  // 1, 4 or 8
    ULONGLONG durationMs = 0;      // 0: until Ctrl+C
    bool csv = false;
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

// Lines end in "\n". The text form pads columns for a console; the CSV form has a header row.
std::string FormatBanner(const Settings& settings);
std::string FormatHeader(LONG channels, bool csv);
std::string FormatRow(ULONGLONG elapsedMs, const std::vector<SHORT>& values, bool csv);

// A Vandrel control called late-bound: member names looked up once through IDispatch.
class Control {
public:
    enum Member { kInterval, kAddress, kChannelNumber, kGetChnlValue, kStart, kStop, kMemberCount };

    // Takes a reference on dispatch and looks up the members; fails when one is missing.
    HRESULT Bind(IDispatch* dispatch) noexcept;

    HRESULT Put(Member property, LONG value) noexcept;
    HRESULT Get(Member property, LONG* value) noexcept;
    HRESULT Start(bool* started) noexcept;
    HRESULT Stop() noexcept;
    HRESULT GetChnlValue(LONG index, SHORT* value) noexcept;

private:
    HRESULT Call(Member member, WORD flags, const VARIANT* args, UINT argCount, VARIANT* result) noexcept;

    base::ComPtr<IDispatch> dispatch_;
    DISPID ids_[kMemberCount] = {};
};

using Writer = std::function<void(const std::string&)>;

// Applies the options, starts sampling and writes the banner, the header and a row per interval
// (the first after half an interval) until the duration ends, stop is signalled, or no fresh value
// came for kNoAnswerIntervals intervals. A started control is stopped in every case. Errors go to err as one
// line each. Returns the process exit code.
int Run(Control& control, const Options& options, HANDLE stop, const Writer& out, const Writer& err) noexcept;

// One line for a failed COM call: what failed, the HRESULT and the system's text for it.
std::string DescribeFailure(const char* what, HRESULT hr);

// One line for a control that could be found but not created: DirectPort.dll (the board's
// port-input library that Vandrel.ocx imports) not found, or any other failure as DescribeFailure.
std::string DescribeCreateFailure(HRESULT hr);

}  // namespace monitor
