#include "tools/monitor/monitor.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <cwchar>
#include <cwctype>
#include <type_traits>

#include "base/cycle_csv.h"
#include "base/hresult.h"
#include "base/late_bound.h"
#include "base/module_file.h"
#include "base/text.h"
#include "base/variant.h"

namespace monitor {
namespace {

constexpr LONG kMaxPort = 0xFFFF;
constexpr LONG kMaxIntervalMs = 3600000;
constexpr double kMaxDurationSeconds = 366.0 * 24 * 3600;

// A whole number, decimal or with "0x" hexadecimal, within [low, high].
bool ParseWhole(const std::wstring& text, LONG low, LONG high, LONG* value) {
    const auto parsed = base::ParseWholeNumber(std::wstring_view(text), static_cast<uint32_t>(high));
    if (!parsed || *parsed < static_cast<uint32_t>(low)) return false;
    *value = static_cast<LONG>(*parsed);
    return true;
}

bool ParseSeconds(const std::wstring& text, ULONGLONG* ms) {
    if (text.empty() || !(std::iswdigit(text[0]) || text[0] == L'.')) return false;
    wchar_t* end = nullptr;
    const double seconds = std::wcstod(text.c_str(), &end);
    if (*end != L'\0' || !std::isfinite(seconds) || seconds <= 0 || seconds > kMaxDurationSeconds) {
        return false;
    }
    *ms = static_cast<ULONGLONG>(std::llround(seconds * 1000.0));
    return *ms > 0;
}

// Waits until the tick count reaches deadline, handling the thread's window messages meanwhile
// (the control lives in this thread's apartment). True when stop was signalled first, also when
// the deadline had passed already: a loop that fell behind must not read one more row after a stop.
bool WaitUntil(ULONGLONG deadline, HANDLE stop) noexcept {
    for (;;) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline) return stop && ::WaitForSingleObject(stop, 0) == WAIT_OBJECT_0;
        const DWORD wait = static_cast<DWORD>(deadline - now);
        const DWORD r =
            ::MsgWaitForMultipleObjects(stop ? 1 : 0, stop ? &stop : nullptr, FALSE, wait, QS_ALLINPUT);
        if (stop && r == WAIT_OBJECT_0) return true;
        if (r == WAIT_FAILED) return true;
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
}

// The word for each of the control's statuses (its type library's VandrelStatus).
const char* const kStatusWords[] = {"stopped",    "waiting",   "sampling", "no board",
                                    "incomplete", "lock busy", "failed"};

// The members' names, in the order of Control::Member.
const wchar_t* const kMemberNames[Control::kMemberCount] = {
    L"Interval",    L"Address",       L"ChannelNumber", L"GetChnlValue",   L"Start",       L"Stop",
    L"Status",      L"ReadCycles",    L"CycleCount",    L"CycleRate",      L"LongestGap",  L"FailedCycles",
    L"RecordFile",  L"RecordLost",    L"Recording",     L"LastError",      L"ChannelName", L"ChannelUnit",
    L"ChannelGain", L"ChannelOffset", L"ChannelValue",  L"HighHighLimit",  L"HighLimit",   L"LowLimit",
    L"LowLowLimit", L"AlarmState",    L"LoadSettings",  L"GapPercentile99"};

// A scaled value takes at most this many characters, besides its alarm mark; a longer one is
// shown with fewer digits.
constexpr size_t kScaledDigitsWidth = 10;
constexpr size_t kAlarmMarkWidth = 2;

// Characters as a console counts them: one for each UTF-16 unit but the second of a pair.
size_t ShownLength(const std::wstring& text) {
    return static_cast<size_t>(
        std::count_if(text.begin(), text.end(), [](wchar_t c) { return c < 0xDC00 || c > 0xDFFF; }));
}

std::wstring PadLeft(const std::wstring& text, size_t width) {
    const size_t length = ShownLength(text);
    return length >= width ? text : std::wstring(width - length, L' ') + text;
}

// The value in at most width characters: "%.6g", with fewer digits where that is longer.
std::string FitNumber(double value, size_t width) {
    std::string text;
    for (int digits = 6; digits >= 1; --digits) {
        text = base::Format("%.*g", digits, value);
        if (text.size() <= width) break;
    }
    return text;
}

// Each column's width for its values, the alarm mark left out.
size_t ValueWidth(const std::wstring& heading) { return std::max(kScaledDigitsWidth, ShownLength(heading)); }

std::string Elapsed(ULONGLONG elapsedMs) {
    return base::Format("%llu.%03llu", elapsedMs / 1000, elapsedMs % 1000);
}

std::string StatusWord(LONG status) {
    const bool known = status >= 0 && status < static_cast<LONG>(std::size(kStatusWords));
    return known ? kStatusWords[status] : base::Format("%ld", static_cast<long>(status));
}

}  // namespace

bool ParseArguments(const std::vector<std::wstring>& args, Options* options, std::string* error) {
    *options = Options{};
    for (size_t i = 0; i < args.size(); ++i) {
        std::wstring name = args[i];
        std::optional<std::wstring> value;
        const size_t equals = name.find(L'=');
        if (name.rfind(L"--", 0) == 0 && equals != std::wstring::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
        }
        if (name == L"--help" || name == L"-h" || name == L"/?") {
            options->help = true;
            continue;
        }
        if (name == L"--csv") {
            if (value) {
                *error = "--csv takes no value";
                return false;
            }
            options->csv = true;
            continue;
        }
        const bool file = name == L"--record" || name == L"--settings";
        if (name != L"--address" && name != L"--interval" && name != L"--channels" && name != L"--duration" &&
            !file) {
            *error = name.rfind(L"-", 0) == 0 ? "unknown option '" + base::PrintableAscii(name) + "'"
                                              : "unexpected argument '" + base::PrintableAscii(name) + "'";
            return false;
        }
        if (!value) {
            if (i + 1 >= args.size()) {
                *error = base::PrintableAscii(name) + " needs a value";
                return false;
            }
            value = args[++i];
            // Most likely an option written where the file name was forgotten.
            if (file && value->rfind(L"-", 0) == 0) {
                const std::string option = base::PrintableAscii(name);
                *error = option + " needs a file name, not '" + base::PrintableAscii(*value) + "' (write " +
                         option + "=FILE for a name that begins with '-')";
                return false;
            }
        }
        if (file && value->empty()) {
            *error = base::PrintableAscii(name) + " needs a file name";
            return false;
        }
        LONG number = 0;
        if (name == L"--address") {
            if (!ParseWhole(*value, 0, kMaxPort, &number)) {
                *error = "--address needs an I/O port number from 0 to 65535 (or 0x0 to 0xFFFF), not '" +
                         base::PrintableAscii(*value) + "'";
                return false;
            }
            options->address = number;
        } else if (name == L"--interval") {
            if (!ParseWhole(*value, 1, kMaxIntervalMs, &number)) {
                *error = "--interval needs a whole number of milliseconds from 1 to 3600000, not '" +
                         base::PrintableAscii(*value) + "'";
                return false;
            }
            options->interval = number;
        } else if (name == L"--channels") {
            if (!ParseWhole(*value, 1, 8, &number) || (number != 1 && number != 4 && number != 8)) {
                *error = "--channels must be 1, 4 or 8, not '" + base::PrintableAscii(*value) + "'";
                return false;
            }
            options->channels = number;
        } else if (name == L"--record") {
            options->record = *value;
        } else if (name == L"--settings") {
            options->settings = *value;
        } else {
            if (!ParseSeconds(*value, &options->durationMs)) {
                *error = "--duration needs a positive number of seconds, not '" +
                         base::PrintableAscii(*value) + "'";
                return false;
            }
        }
    }
    return true;
}

std::string WrongBitnessText(int ownBits, int controlBits) {
    const std::string own = std::to_string(ownBits), control = std::to_string(controlBits);
    return "vandrel-monitor: the Vandrel control is registered for " + control +
           "-bit programs only, and this vandrel-monitor is " + own + "-bit; run the " + control +
           "-bit vandrel-monitor.exe that comes with that Vandrel.ocx, or register the " + own +
           "-bit Vandrel.ocx with regsvr32";
}

std::string UsageText() {
    return "Usage: vandrel-monitor [--address PORT] [--interval MS] [--channels 1|4|8]\n"
           "                       [--duration SECONDS] [--csv] [--record FILE]\n"
           "                       [--settings FILE]\n"
           "Samples a board through the registered Vandrel control (VANDREL.VandrelCtrl.1) and\n"
           "prints the channel values once per interval until the duration ends or Ctrl+C.\n"
           "  --address PORT      the board's status port, decimal or 0x hex (control default 356)\n"
           "  --interval MS       sampling interval in milliseconds (control default 2160)\n"
           "  --channels N        channels to read: 1, 4 or 8 (control default 8)\n"
           "  --duration SECONDS  stop after this time (default: run until Ctrl+C)\n"
           "  --csv               every cycle once, comma-separated: cycle number, local time\n"
           "                      (2026-12-09T10:15:30.123+01:00), values; where cycles were\n"
           "                      lost unread, a line '# lost N cycles: FIRST to LAST' (and a\n"
           "                      line on stderr)\n"
           "  --record FILE       the control records every cycle to FILE meanwhile, in the\n"
           "                      same CSV form (appended to a file that exists); the file is\n"
           "                      complete when vandrel-monitor ends\n"
           "  --settings FILE     the control loads its channels' settings (names, units,\n"
           "                      gain and offset, alarm limits) from FILE before it starts\n"
           "Readings that are not fresh show as 'stale'; the status column is the control's Status.\n"
           "Channels with settings are shown by name and unit with their scaled values (--csv\n"
           "keeps the raw counts); a value in alarm ends in '!' (high or low limit) or '!!'\n"
           "(high-high or low-low limit).\n"
           "A closing line gives the cycles, their rate, the longest gap and the failed attempts\n"
           "that the control counted (on stderr with --csv).\n"
           "Exit status: 0 done, 1 failure, 2 bad arguments.\n";
}

std::string FormatBanner(const Settings& s) {
    return base::Format("Vandrel control at port %ld (0x%lX), %ld channel%s, every %ld ms; Ctrl+C stops.\n",
                        static_cast<long>(s.address), static_cast<unsigned long>(s.address),
                        static_cast<long>(s.channels), s.channels == 1 ? "" : "s",
                        static_cast<long>(s.interval));
}

std::string FormatHeader(LONG channels) {
    std::string line = base::Format("%9s  %-10s", "time/s", "status");
    for (LONG k = 0; k < channels; ++k)
        line += base::Format("%8s", base::Format("ch%ld", static_cast<long>(k)).c_str());
    return line + "\n";
}

std::string FormatRow(ULONGLONG elapsedMs, const std::vector<SHORT>& values, LONG status) {
    std::string line = base::Format("%9s  %-10s", Elapsed(elapsedMs).c_str(), StatusWord(status).c_str());
    for (SHORT v : values)
        line += base::Format("%8s", v == kNoValue ? "stale" : base::Format("%d", v).c_str());
    return line + "\n";
}

std::wstring ChannelHeading(LONG index, const std::wstring& name, const std::wstring& unit) {
    std::wstring heading = name.empty() ? base::Format(L"ch%ld", static_cast<long>(index)) : name;
    if (!unit.empty()) heading += L" [" + unit + L"]";
    // A line break or tab in a name would break the table's lines and columns.
    std::replace_if(
        heading.begin(), heading.end(), [](wchar_t c) { return c < 0x20 || c == 0x7F; }, L'?');
    return heading;
}

std::string FormatScaledHeader(const std::vector<std::wstring>& headings, UINT codePage) {
    const std::string start = base::Format("%9s  %-10s", "time/s", "status");
    std::wstring line(start.begin(), start.end());
    for (const std::wstring& heading : headings) {
        line += L"  " + PadLeft(heading, ValueWidth(heading)) + std::wstring(kAlarmMarkWidth, L' ');
    }
    while (!line.empty() && line.back() == L' ') line.pop_back();
    return base::Narrow(line, codePage) + "\n";
}

std::string FormatScaledRow(ULONGLONG elapsedMs, const std::vector<std::wstring>& headings,
                            const std::vector<ScaledValue>& values, LONG status) {
    std::string line = base::Format("%9s  %-10s", Elapsed(elapsedMs).c_str(), StatusWord(status).c_str());
    for (size_t k = 0; k < values.size() && k < headings.size(); ++k) {
        const size_t width = ValueWidth(headings[k]);
        const ScaledValue& v = values[k];
        const char* mark = v.alarm == 0 ? "" : v.alarm == 1 || v.alarm == -1 ? "!" : "!!";
        line += base::Format("  %*s%-*s", static_cast<int>(width),
                             v.value ? FitNumber(*v.value, width).c_str() : "stale",
                             static_cast<int>(kAlarmMarkWidth), mark);
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line + "\n";
}

std::string LostCyclesText(LONGLONG first, LONG count) {
    return base::Format(
        "vandrel-monitor: lost %ld cycle%s (%lld to %lld): the control's buffer overflowed before they were "
        "read",
        static_cast<long>(count), count == 1 ? "" : "s", static_cast<long long>(first),
        static_cast<long long>(first + count - 1));
}

std::string HealthText(const RunHealth& health) {
    // A rate and a gap need two cycles; a control that tells no count may have them.
    const bool twoCycles = !health.cycles || *health.cycles >= 2;
    std::vector<std::string> parts;
    if (health.rate && twoCycles && *health.rate > 0) {
        // Over fewer cycles the rate is the whole run's.
        const bool lastHundred = health.cycles && *health.cycles > 100;
        parts.push_back(
            base::Format("%.1f cycles a second%s", *health.rate, lastHundred ? " over the last 100" : ""));
    }
    if (health.longestGapMs && twoCycles) {
        parts.push_back(base::Format("longest gap %ld ms", static_cast<long>(*health.longestGapMs)));
    }
    if (health.gapP99Ms && twoCycles && *health.gapP99Ms > 0) {
        // Over fewer than 1000 gaps the window is the whole run's.
        const bool lastThousand = health.cycles && *health.cycles > 1000;
        parts.push_back(base::Format("99 %% of %sgaps within %.2f ms", lastThousand ? "the last 1000 " : "",
                                     *health.gapP99Ms));
    }
    if (health.failed) {
        parts.push_back(base::Format("%ld failed attempt%s", static_cast<long>(*health.failed),
                                     *health.failed == 1 ? "" : "s"));
    }
    if (!health.cycles && parts.empty()) return std::string();
    std::string text = "Vandrel control stopped";
    if (health.cycles) {
        text += base::Format(" after %ld cycle%s", static_cast<long>(*health.cycles),
                             *health.cycles == 1 ? "" : "s");
    }
    for (size_t i = 0; i < parts.size(); ++i) text += (i == 0 ? ": " : ", ") + parts[i];
    return text;
}

std::string DescribeFailure(const std::string& what, HRESULT hr, const std::wstring& given) {
    // The system's text in the ANSI code page, as its narrow message functions give it; the
    // control's own text, which may hold any character, as printable ASCII on one line.
    std::string reason =
        given.empty() ? base::Narrow(base::SystemMessage(hr), CP_ACP) : base::PrintableAscii(given);
    while (!reason.empty() &&
           (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' ' || reason.back() == '.')) {
        reason.pop_back();
    }
    // Put together rather than formatted: what may name a long path.
    return "vandrel-monitor: " + what + " failed (" +
           base::Format("0x%08lX", static_cast<unsigned long>(hr)) + (reason.empty() ? "" : ": " + reason) +
           ")";
}

std::string DescribeCreateFailure(HRESULT hr) {
    if (hr == HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)) {
        return "vandrel-monitor: Vandrel.ocx could not be loaded because DirectPort.dll, the board's "
               "port-input library, was not found; install the board's DirectPort.dll (or the "
               "installer's Simulated board feature)";
    }
    return DescribeFailure("creating the Vandrel control", hr);
}

HRESULT Control::Bind(IDispatch* dispatch) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, dispatch);
    for (int m = 0; m < kMemberCount; ++m) {
        const HRESULT hr = base::GetDispId(dispatch, kMemberNames[m], &ids_[m]);
        if (m >= kFirstOptional && hr == DISP_E_UNKNOWNNAME) {
            ids_[m] = DISPID_UNKNOWN;  // an older control
            continue;
        }
        RETURN_IF_FAILED(hr);
    }
    dispatch_ = base::ComPtr<IDispatch>(dispatch);
    return S_OK;
}

HRESULT Control::Call(Member member, WORD flags, const VARIANT* args, UINT argCount, VARIANT* result,
                      std::wstring* description) noexcept try {
    RETURN_HR_IF(E_UNEXPECTED, !dispatch_);
    base::DispException exception;
    const HRESULT hr =
        base::InvokeById(dispatch_.get(), ids_[member], flags, args, argCount, result, nullptr, &exception);
    if (hr != DISP_E_EXCEPTION) return hr;
    if (description && exception.description.get()) *description = exception.description.get();
    return exception.error;
}
CATCH_RETURN()

HRESULT Control::Put(Member property, LONG value) noexcept {
    base::Variant arg(value);
    return Call(property, DISPATCH_PROPERTYPUT, arg.ptr(), 1, nullptr);
}

HRESULT Control::Put(Member property, const std::wstring& value, std::wstring* description) noexcept {
    description->clear();
    base::Variant arg(value.c_str());
    RETURN_HR_IF(E_OUTOFMEMORY, !arg.get().bstrVal);
    return Call(property, DISPATCH_PROPERTYPUT, arg.ptr(), 1, nullptr, description);
}

HRESULT Control::Get(Member property, LONG* value) noexcept {
    base::Variant result;
    RETURN_IF_FAILED(Call(property, DISPATCH_PROPERTYGET, nullptr, 0, result.ptr()));
    RETURN_IF_FAILED(result.ChangeType(VT_I4));
    *value = result.get().lVal;
    return S_OK;
}

HRESULT Control::Get(Member property, double* value) noexcept {
    base::Variant result;
    RETURN_IF_FAILED(Call(property, DISPATCH_PROPERTYGET, nullptr, 0, result.ptr()));
    RETURN_IF_FAILED(result.ChangeType(VT_R8));
    *value = result.get().dblVal;
    return S_OK;
}

HRESULT Control::Get(Member property, bool* value) noexcept {
    base::Variant result;
    RETURN_IF_FAILED(Call(property, DISPATCH_PROPERTYGET, nullptr, 0, result.ptr()));
    RETURN_IF_FAILED(result.ChangeType(VT_BOOL));
    *value = result.get().boolVal != VARIANT_FALSE;
    return S_OK;
}

HRESULT Control::Get(Member property, LONG channel, base::Variant* value) noexcept {
    value->reset();
    base::Variant arg(channel);
    return Call(property, DISPATCH_PROPERTYGET, arg.ptr(), 1, value->ptr());
}

HRESULT Control::LoadSettings(const std::wstring& path, std::wstring* description) noexcept {
    description->clear();
    base::Variant arg(path.c_str());
    RETURN_HR_IF(E_OUTOFMEMORY, !arg.get().bstrVal);
    return Call(kLoadSettings, DISPATCH_METHOD, arg.ptr(), 1, nullptr, description);
}

HRESULT Control::Start(bool* started) noexcept {
    base::Variant result;
    RETURN_IF_FAILED(Call(kStart, DISPATCH_METHOD, nullptr, 0, result.ptr()));
    RETURN_IF_FAILED(result.ChangeType(VT_BOOL));
    *started = result.get().boolVal != VARIANT_FALSE;
    return S_OK;
}

HRESULT Control::Stop() noexcept { return Call(kStop, DISPATCH_METHOD, nullptr, 0, nullptr); }

HRESULT Control::GetChnlValue(LONG index, SHORT* value) noexcept {
    base::Variant arg(index);
    base::Variant result;
    RETURN_IF_FAILED(Call(kGetChnlValue, DISPATCH_METHOD, arg.ptr(), 1, result.ptr()));
    RETURN_IF_FAILED(result.ChangeType(VT_I2));
    *value = result.get().iVal;
    return S_OK;
}

HRESULT Control::ReadCycles(LONG max, std::vector<CycleRow>* rows, LONG* lost) noexcept try {
    *lost = 0;
    VARIANT args[2];
    args[0].vt = VT_I4;
    args[0].lVal = max;
    args[1].vt = VT_BYREF | VT_I4;  // Lost
    args[1].plVal = lost;
    base::Variant result;
    RETURN_IF_FAILED(Call(kReadCycles, DISPATCH_METHOD, args, 2, result.ptr()));
    SAFEARRAY* array = result.get().parray;
    RETURN_HR_IF(DISP_E_TYPEMISMATCH,
                 result.vt() != (VT_ARRAY | VT_VARIANT) || ::SafeArrayGetDim(array) != 2);
    LONG lastRow = -1, lastColumn = -1;
    RETURN_IF_FAILED(::SafeArrayGetUBound(array, 1, &lastRow));
    RETURN_IF_FAILED(::SafeArrayGetUBound(array, 2, &lastColumn));
    auto cell = [&](LONG row, LONG column, VARTYPE vt, base::Variant& value) noexcept {
        LONG index[2] = {row, column};
        const HRESULT hr = ::SafeArrayGetElement(array, index, value.put());
        return SUCCEEDED(hr) ? value.ChangeType(vt) : hr;
    };
    for (LONG r = 0; r <= lastRow; ++r) {
        CycleRow row;
        base::Variant v;
        RETURN_IF_FAILED(cell(r, 0, VT_R8, v));
        row.number = static_cast<LONGLONG>(v.get().dblVal);
        RETURN_IF_FAILED(cell(r, 1, VT_DATE, v));
        row.time = v.get().date;
        for (LONG c = 2; c <= lastColumn; ++c) {
            RETURN_IF_FAILED(cell(r, c, VT_I2, v));
            row.values.push_back(v.get().iVal);
        }
        rows->push_back(std::move(row));
    }
    return S_OK;
}
CATCH_RETURN()

namespace {

std::string NoAnswerText(const Settings& settings) {
    return base::Format(
        "vandrel-monitor: no answer from the board at port %ld (0x%lX) for %d intervals; is there a board at "
        "that address?",
        static_cast<long>(settings.address), static_cast<unsigned long>(settings.address),
        kNoAnswerIntervals);
}

// How the table shows the channels: raw counts, or (with headings) scaled values.
struct Table {
    std::vector<std::wstring> headings;  // one a sampled channel, or none
    UINT codePage = CP_UTF8;
};

std::string MemberName(Control::Member member) { return base::PrintableAscii(kMemberNames[member]); }

// A sampled channel's property: a failure is told to err.
bool ReadChannel(Control& control, Control::Member member, LONG index, VARTYPE vt, base::Variant* value,
                 const Writer& err) {
    HRESULT hr = control.Get(member, index + 1, value);
    const bool null = SUCCEEDED(hr) && (value->vt() == VT_NULL || value->vt() == VT_EMPTY);
    if (SUCCEEDED(hr) && !null) hr = value->ChangeType(vt);
    if (FAILED(hr)) {
        err(DescribeFailure(
            base::Format("reading %s(%ld)", MemberName(member).c_str(), static_cast<long>(index + 1)), hr));
        return false;
    }
    return true;
}

// The headings of a table of scaled values when a sampled channel has settings; none when the control
// has no ChannelValue or nothing is set, and the table shows raw counts as it always did. False after a
// failure, told to err.
bool ReadHeadings(Control& control, LONG channels, std::vector<std::wstring>* headings, const Writer& err) {
    headings->clear();
    if (!control.Has(Control::kChannelValue)) return true;
    bool set = false;
    std::vector<std::wstring> found;
    for (LONG k = 0; k < channels; ++k) {
        std::wstring texts[2];
        const Control::Member textMembers[] = {Control::kChannelName, Control::kChannelUnit};
        for (int i = 0; i < 2; ++i) {
            base::Variant v;
            if (!control.Has(textMembers[i])) continue;
            if (!ReadChannel(control, textMembers[i], k, VT_BSTR, &v, err)) return false;
            if (v.vt() == VT_BSTR && v.get().bstrVal) texts[i] = v.get().bstrVal;
            set |= !texts[i].empty();
        }
        const struct {
            Control::Member member;
            double unset;
        } scales[] = {{Control::kChannelGain, 1.0}, {Control::kChannelOffset, 0.0}};
        for (const auto& scale : scales) {
            base::Variant v;
            if (!control.Has(scale.member)) continue;
            if (!ReadChannel(control, scale.member, k, VT_R8, &v, err)) return false;
            set |= v.vt() == VT_R8 && v.get().dblVal != scale.unset;
        }
        // A channel with alarm limits alone is worth its marks.
        for (Control::Member limit :
             {Control::kHighHighLimit, Control::kHighLimit, Control::kLowLimit, Control::kLowLowLimit}) {
            base::Variant v;
            if (!control.Has(limit)) continue;
            if (!ReadChannel(control, limit, k, VT_R8, &v, err)) return false;
            set |= v.vt() == VT_R8;
        }
        found.push_back(ChannelHeading(k, texts[0], texts[1]));
    }
    if (set) *headings = std::move(found);
    return true;
}

// One row of raw counts; fresh tells whether any was.
bool ReadRaw(Control& control, LONG channels, std::vector<SHORT>* values, bool* fresh, const Writer& err) {
    values->assign(static_cast<size_t>(channels), kNoValue);
    for (LONG k = 0; k < channels; ++k) {
        const HRESULT hr = control.GetChnlValue(k, &(*values)[static_cast<size_t>(k)]);
        if (FAILED(hr)) {
            err(DescribeFailure("reading a channel", hr));
            return false;
        }
        *fresh |= (*values)[static_cast<size_t>(k)] != kNoValue;
    }
    return true;
}

// One row of scaled values and their alarm levels; fresh tells whether any value was.
bool ReadScaled(Control& control, LONG channels, std::vector<ScaledValue>* values, bool* fresh,
                const Writer& err) {
    values->assign(static_cast<size_t>(channels), ScaledValue{});
    for (LONG k = 0; k < channels; ++k) {
        ScaledValue& cell = (*values)[static_cast<size_t>(k)];
        base::Variant v;
        if (!ReadChannel(control, Control::kChannelValue, k, VT_R8, &v, err)) return false;
        if (v.vt() == VT_R8) cell.value = v.get().dblVal;
        *fresh |= cell.value.has_value();
        if (!control.Has(Control::kAlarmState)) continue;
        if (!ReadChannel(control, Control::kAlarmState, k, VT_I4, &v, err)) return false;
        if (v.vt() == VT_I4) cell.alarm = v.get().lVal;
    }
    return true;
}

int Sample(Control& control, const Options& options, const Settings& settings, const Table& table,
           HANDLE stop, const Writer& out, const Writer& err) {
    const bool scaled = !table.headings.empty();
    out(FormatBanner(settings));
    out(scaled ? FormatScaledHeader(table.headings, table.codePage) : FormatHeader(settings.channels));
    const ULONGLONG interval = static_cast<ULONGLONG>(settings.interval > 0 ? settings.interval : 1);
    const ULONGLONG begin = ::GetTickCount64();
    // The sampler publishes at Start and then about once per interval: reading half an interval
    // after each publication keeps the rows clear of the moment the values change, where a row
    // would show a set twice or miss one.
    ULONGLONG due = interval / 2;
    int silent = 0;
    for (;; due += interval) {
        // After a long stall (a suspended process), carry on from now instead of catching up.
        const ULONGLONG elapsed = ::GetTickCount64() - begin;
        if (elapsed > due + interval) due = elapsed;
        if (options.durationMs && due > options.durationMs) return kExitOk;
        if (WaitUntil(begin + due, stop)) return kExitOk;

        std::vector<SHORT> raw;
        std::vector<ScaledValue> values;
        bool fresh = false;
        if (!(scaled ? ReadScaled(control, settings.channels, &values, &fresh, err)
                     : ReadRaw(control, settings.channels, &raw, &fresh, err))) {
            return kExitFailed;
        }
        LONG status = 0;
        const HRESULT hr = control.Get(Control::kStatus, &status);
        if (FAILED(hr)) {
            err(DescribeFailure("reading Status", hr));
            return kExitFailed;
        }
        const ULONGLONG now = ::GetTickCount64() - begin;
        out(scaled ? FormatScaledRow(now, table.headings, values, status) : FormatRow(now, raw, status));
        silent = fresh ? 0 : silent + 1;
        if (silent >= kNoAnswerIntervals) {
            err(NoAnswerText(settings));
            return kExitFailed;
        }
    }
}

// Writes every cycle once: what each drain brings, and the gaps it reports as lost where they are.
class CsvWriter {
public:
    CsvWriter(Control& control, const Zone& zone, const Writer& out, const Writer& err)
        : control_(control), utcTimes_(zone.toUtc, zone.offsetAt), out_(out), err_(err) {}

    // Writes the cycles that came since the last drain; how many came, or -1 for a failure (told to
    // err).
    LONGLONG Drain() {
        std::vector<CycleRow> rows;
        LONG lost = 0;
        const HRESULT hr = control_.ReadCycles(kMaxCycles, &rows, &lost);
        if (FAILED(hr)) {
            err_(DescribeFailure("ReadCycles", hr));
            return -1;
        }
        if (lost > 0) {
            out_(base::CsvLostLine(static_cast<uint64_t>(next_), static_cast<uint64_t>(lost)));
            err_(LostCyclesText(next_, lost));
        }
        next_ += lost;
        // The cycles were stamped a moment ago (a drain takes what came since the last): where the
        // clock was set back, their local times are those of the pass nearer to now.
        FILETIME now;
        ::GetSystemTimeAsFileTime(&now);
        const uint64_t hint = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
        for (const CycleRow& row : rows) {
            const std::optional<uint64_t> local = base::LocalTimeOfAutomationDate(row.time);
            const std::optional<uint64_t> utc = local ? utcTimes_.At(*local, hint) : std::nullopt;
            if (!utc) {
                err_(base::Format(
                    "vandrel-monitor: cycle %lld came with a time that is no local time here (%.9f)",
                    static_cast<long long>(row.number), row.time));
                return -1;
            }
            out_(base::CsvRow(static_cast<uint64_t>(row.number), *utc, static_cast<int64_t>(*local - *utc),
                              row.values.data(), static_cast<int>(row.values.size())));
            next_ = row.number + 1;
        }
        return static_cast<LONGLONG>(rows.size());
    }

private:
    static constexpr LONG kMaxCycles = 100000;  // the most one call takes

    Control& control_;
    base::UtcTimes utcTimes_;
    const Writer& out_;
    const Writer& err_;
    LONGLONG next_ = 1;  // the number of the cycle expected next
};

// Reads what the control tells of the run's pace, each member it has; false after a failure, told
// to err.
bool ReadHealth(Control& control, RunHealth* health, const Writer& err) {
    const auto read = [&](Control::Member member, const char* what, auto& field) {
        if (!control.Has(member)) return true;
        typename std::remove_reference_t<decltype(field)>::value_type value{};
        const HRESULT hr = control.Get(member, &value);
        if (FAILED(hr)) {
            err(DescribeFailure(what, hr));
            return false;
        }
        field = value;
        return true;
    };
    return read(Control::kCycleCount, "reading CycleCount", health->cycles) &&
           read(Control::kCycleRate, "reading CycleRate", health->rate) &&
           read(Control::kLongestGap, "reading LongestGap", health->longestGapMs) &&
           read(Control::kGapPercentile99, "reading GapPercentile99", health->gapP99Ms) &&
           read(Control::kFailedCycles, "reading FailedCycles", health->failed);
}

// Drains once per interval, but at least every kMaxDrainMs, until the duration ends or stop.
int Collect(CsvWriter& csv, const Options& options, const Settings& settings, HANDLE stop,
            const Writer& err) {
    const ULONGLONG interval = static_cast<ULONGLONG>(settings.interval > 0 ? settings.interval : 1);
    const ULONGLONG period = std::min(interval, kMaxDrainMs);
    const ULONGLONG begin = ::GetTickCount64();
    ULONGLONG silentMs = 0;
    for (ULONGLONG due = period;; due += period) {
        const ULONGLONG elapsed = ::GetTickCount64() - begin;
        if (elapsed > due + period) due = elapsed;
        if (options.durationMs && due > options.durationMs) return kExitOk;
        if (WaitUntil(begin + due, stop)) return kExitOk;
        const LONGLONG came = csv.Drain();
        if (came < 0) return kExitFailed;
        silentMs = came > 0 ? 0 : silentMs + period;
        if (silentMs >= kNoAnswerIntervals * interval) {
            err(NoAnswerText(settings));
            return kExitFailed;
        }
    }
}

// Starts the control, samples until the run ends, stops the control, and reads what it tells of
// the run when the run ended well.
int SampleRun(Control& control, const Options& options, const Settings& settings, const Table& table,
              HANDLE stop, const Zone& zone, const Writer& out, const Writer& err, RunHealth* health) {
    bool started = false;
    HRESULT hr = control.Start(&started);
    if (FAILED(hr)) {
        err(DescribeFailure("Start", hr));
        return kExitFailed;
    }
    if (!started) {
        err("vandrel-monitor: the control did not start sampling (Start returned False)");
        return kExitFailed;
    }
    int result;
    CsvWriter csv(control, zone, out, err);
    try {
        if (options.csv) {
            out(base::CsvHeader(settings.channels));
            result = Collect(csv, options, settings, stop, err);
        } else {
            result = Sample(control, options, settings, table, stop, out, err);
        }
    } catch (...) {
        result = kExitFailed;
    }
    hr = control.Stop();
    if (FAILED(hr) && result == kExitOk) {
        err(DescribeFailure("Stop", hr));
        result = kExitFailed;
    }
    // The cycles of the run stay readable after Stop: the last ones are written too.
    for (LONGLONG came = 1; options.csv && result == kExitOk && came > 0;) {
        came = csv.Drain();
        if (came < 0) result = kExitFailed;
    }
    // So does its health, whole once the sampler has ended.
    if (result == kExitOk && !ReadHealth(control, health, err)) result = kExitFailed;
    return result;
}

// Has the control load the channels' settings from the file, by its full path; false after a failure,
// told to err as the control tells it (its text names the file, the key and the line).
bool LoadSettingsFile(Control& control, const std::wstring& file, const Writer& err) {
    if (!control.Has(Control::kLoadSettings)) {
        err("vandrel-monitor: this Vandrel control has no channel settings (it has no LoadSettings); "
            "--settings needs a newer Vandrel.ocx");
        return false;
    }
    // A name the system cannot make a full path of goes as it is: the control then says what is wrong.
    std::wstring path = base::FullPath(file);
    if (path.empty()) path = file;
    std::wstring description;
    const HRESULT hr = control.LoadSettings(path, &description);
    if (SUCCEEDED(hr)) return true;
    while (!description.empty() && std::wcschr(L"\r\n .", description.back())) description.pop_back();
    const std::string reason = base::PrintableAscii(description);
    err(reason.empty() ? DescribeFailure("loading the settings from '" + base::PrintableAscii(path) + "'", hr)
                       : "vandrel-monitor: " + reason);
    return false;
}

std::string RecordName(const Options& options) { return "'" + base::PrintableAscii(options.record) + "'"; }

// Clears RecordFile, which completes the file, and tells the cycles the recording lost. A recording
// that stopped before the run ended (a write failed) fails a run that ended well.
int EndRecording(Control& control, const Options& options, int result, const Writer& err) {
    bool recording = true;
    if (result == kExitOk && control.Has(Control::kRecording)) {
        const HRESULT hr = control.Get(Control::kRecording, &recording);
        if (FAILED(hr)) {
            err(DescribeFailure("reading Recording", hr));
            result = kExitFailed;
        }
    }
    std::wstring description;
    HRESULT hr = control.Put(Control::kRecordFile, std::wstring(), &description);
    if (FAILED(hr) && result == kExitOk) {
        err(DescribeFailure("closing the record file " + RecordName(options), hr, description));
        result = kExitFailed;
    }
    LONG lost = 0;
    hr = control.Has(Control::kRecordLost) ? control.Get(Control::kRecordLost, &lost) : S_OK;
    if (FAILED(hr) && result == kExitOk) {
        err(DescribeFailure("reading RecordLost", hr));
        result = kExitFailed;
    }
    if (lost > 0) {
        err("vandrel-monitor: the recording to " + RecordName(options) + " lost " + std::to_string(lost) +
            (lost == 1 ? " cycle" : " cycles") +
            ": the disk fell behind; lines '# lost' in the file mark where");
    }
    if (result == kExitOk && !recording) {
        // The control noted why as its last error, unless a failed cycle came after.
        LONG error = S_OK;
        const bool told =
            control.Has(Control::kLastError) && SUCCEEDED(control.Get(Control::kLastError, &error));
        err(told && FAILED(error)
                ? DescribeFailure("recording to " + RecordName(options), error)
                : "vandrel-monitor: recording to " + RecordName(options) + " stopped before the run ended");
        result = kExitFailed;
    }
    return result;
}

}  // namespace

int Run(Control& control, const Options& options, HANDLE stop, const Writer& out, const Writer& err,
        const Zone& zone, UINT codePage) noexcept {
    try {
        const struct {
            const std::optional<LONG>& value;
            Control::Member member;
            const char* what;
        } puts[] = {{options.interval, Control::kInterval, "setting Interval"},
                    {options.address, Control::kAddress, "setting Address"},
                    {options.channels, Control::kChannelNumber, "setting ChannelNumber"}};
        for (const auto& p : puts) {
            if (!p.value) continue;
            const HRESULT hr = control.Put(p.member, *p.value);
            if (FAILED(hr)) {
                err(DescribeFailure(p.what, hr));
                return kExitFailed;
            }
        }
        if (!options.settings.empty() && !LoadSettingsFile(control, options.settings, err)) {
            return kExitFailed;
        }
        Settings settings;
        HRESULT hr = control.Get(Control::kAddress, &settings.address);
        if (SUCCEEDED(hr)) hr = control.Get(Control::kInterval, &settings.interval);
        if (SUCCEEDED(hr)) hr = control.Get(Control::kChannelNumber, &settings.channels);
        if (FAILED(hr)) {
            err(DescribeFailure("reading the settings", hr));
            return kExitFailed;
        }
        if (settings.channels < 1 || settings.channels > 8) {
            err(base::Format("vandrel-monitor: the control reports %ld channels",
                             static_cast<long>(settings.channels)));
            return kExitFailed;
        }
        Table table{{}, codePage};
        if (!options.csv && !ReadHeadings(control, settings.channels, &table.headings, err))
            return kExitFailed;
        // Set before Start, once the settings are, so that the file has every cycle of the run under
        // the header of its channels.
        const bool record = !options.record.empty();
        if (record) {
            if (!control.Has(Control::kRecordFile)) {
                err("vandrel-monitor: this Vandrel control cannot record (it has no RecordFile); --record "
                    "needs a newer Vandrel.ocx");
                return kExitFailed;
            }
            std::wstring description;
            hr = control.Put(Control::kRecordFile, options.record, &description);
            if (FAILED(hr)) {
                err(DescribeFailure("recording to " + RecordName(options), hr, description));
                return kExitFailed;
            }
        }
        RunHealth health;
        int result;
        try {
            result = SampleRun(control, options, settings, table, stop, zone, out, err, &health);
        } catch (...) {
            result = kExitFailed;
        }
        if (record) result = EndRecording(control, options, result, err);
        const std::string closing = result == kExitOk ? HealthText(health) : std::string();
        if (!closing.empty()) {
            if (options.csv) {
                err(closing);
            } else {
                out(closing + "\n");
            }
        }
        return result;
    } catch (...) {
        return kExitFailed;
    }
}

}  // namespace monitor
