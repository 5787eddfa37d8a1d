// vandrel-monitor: its argument parsing and lines as plain functions, its sampling loop against a
// fake control that records every dispatch call, and the program itself for what needs no control.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "base/com_object.h"
#include "base/registry_view.h"
#include "base/text.h"
#include "base/unique_handle.h"
#include "client/vandrel_ids.h"
#include "harness/run_process.h"
#include "tests/activex/registry_snapshot.h"
#include "tests/support/call_site.h"
#include "tests/support/run_process.h"
#include "tests/support/hresult_matchers.h"
#include "tools/monitor/monitor.h"

using monitor::Control;
using monitor::Options;

namespace {

// --- arguments -------------------------------------------------------------------------------

std::vector<std::wstring> Split(const std::wstring& line) {
    std::vector<std::wstring> args;
    size_t start = 0;
    while (start < line.size()) {
        size_t end = line.find(L' ', start);
        if (end == std::wstring::npos) end = line.size();
        if (end > start) args.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    return args;
}

struct GoodArgs {
    const wchar_t* line;
    LONG address, interval, channels;  // -1: not given
    ULONGLONG durationMs;
    bool csv;
    const wchar_t* record = L"";
    const wchar_t* settings = L"";
};
class MonitorArguments : public testing::TestWithParam<GoodArgs> {};

TEST_P(MonitorArguments, Accepted) {
    Options o;
    std::string error = "untouched";
    ASSERT_TRUE(monitor::ParseArguments(Split(GetParam().line), &o, &error)) << error;
    EXPECT_EQ(GetParam().address, o.address.value_or(-1));
    EXPECT_EQ(GetParam().interval, o.interval.value_or(-1));
    EXPECT_EQ(GetParam().channels, o.channels.value_or(-1));
    EXPECT_EQ(GetParam().durationMs, o.durationMs);
    EXPECT_EQ(GetParam().csv, o.csv);
    EXPECT_EQ(GetParam().record, o.record);
    EXPECT_EQ(GetParam().settings, o.settings);
    EXPECT_FALSE(o.help);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, MonitorArguments,
    testing::Values(
        GoodArgs{L"", -1, -1, -1, 0, false},
        GoodArgs{L"--address 370 --interval 500 --channels 4 --duration 10 --csv", 370, 500, 4, 10000, true},
        GoodArgs{L"--address=0x164 --interval=1 --channels=1 --duration=2.5", 356, 1, 1, 2500, false},
        GoodArgs{L"--address 0XFFFF --channels 8 --duration .25", 0xFFFF, -1, 8, 250, false},
        GoodArgs{L"--interval 100 --interval 3600000", -1, 3600000, -1, 0, false},
        GoodArgs{L"--address 0", 0, -1, -1, 0, false},
        GoodArgs{L"--record C:\\data\\run.csv --csv", -1, -1, -1, 0, true, L"C:\\data\\run.csv"},
        GoodArgs{L"--record=-odd.csv", -1, -1, -1, 0, false, L"-odd.csv"},
        GoodArgs{L"--settings oven.ini --record run.csv", -1, -1, -1, 0, false, L"run.csv", L"oven.ini"},
        GoodArgs{L"--settings=-odd.ini", -1, -1, -1, 0, false, L"", L"-odd.ini"}));

struct BadArgs {
    const wchar_t* line;
    const char* message;  // part of the one-line message
};
class MonitorBadArguments : public testing::TestWithParam<BadArgs> {};

TEST_P(MonitorBadArguments, RefusedWithOneLine) {
    Options o;
    std::string error;
    EXPECT_FALSE(monitor::ParseArguments(Split(GetParam().line), &o, &error));
    EXPECT_NE(std::string::npos, error.find(GetParam().message)) << error;
    EXPECT_EQ(std::string::npos, error.find('\n'));
}

INSTANTIATE_TEST_SUITE_P(
    Lines, MonitorBadArguments,
    testing::Values(
        BadArgs{L"--channels 3", "--channels must be 1, 4 or 8, not '3'"},
        BadArgs{L"--channels four", "not 'four'"}, BadArgs{L"--interval 0", "--interval needs"},
        BadArgs{L"--interval -5", "not '-5'"}, BadArgs{L"--interval 3600001", "from 1 to 3600000"},
        BadArgs{L"--interval 12ms", "not '12ms'"}, BadArgs{L"--address 65536", "--address needs"},
        BadArgs{L"--address 0x", "not '0x'"}, BadArgs{L"--address -1", "not '-1'"},
        BadArgs{L"--address -0", "not '-0'"}, BadArgs{L"--address 0x-0", "not '0x-0'"},
        BadArgs{L"--address 99999999999999999999", "--address needs"},
        BadArgs{L"--duration 0", "--duration needs a positive"}, BadArgs{L"--duration -1", "not '-1'"},
        BadArgs{L"--duration nan", "not 'nan'"}, BadArgs{L"--duration 1e99", "not '1e99'"},
        BadArgs{L"--interval", "--interval needs a value"}, BadArgs{L"--csv=yes", "--csv takes no value"},
        BadArgs{L"--rate 5", "unknown option '--rate'"}, BadArgs{L"356", "unexpected argument '356'"},
        BadArgs{L"--record", "--record needs a value"}, BadArgs{L"--record=", "--record needs a file name"},
        BadArgs{L"--record --csv", "--record needs a file name, not '--csv' (write --record=FILE"},
        BadArgs{L"--settings", "--settings needs a value"},
        BadArgs{L"--settings=", "--settings needs a file name"},
        BadArgs{L"--settings --csv", "--settings needs a file name, not '--csv' (write --settings=FILE"}));

TEST(MonitorArgumentsHelp, AskedForInAnyOfItsForms) {
    for (const wchar_t* form : {L"--help", L"-h", L"/?"}) {
        Options o;
        std::string error;
        ASSERT_TRUE(monitor::ParseArguments({form}, &o, &error));
        EXPECT_TRUE(o.help);
    }
}

// --- lines -----------------------------------------------------------------------------------

TEST(MonitorLines, TextColumnsLineUpWithTheHeaderAndShowTheStatus) {
    EXPECT_EQ("   time/s  status         ch0     ch1     ch2     ch3\n", monitor::FormatHeader(4));
    EXPECT_EQ("    2.160  sampling         0  -32767   32766   stale\n",
              monitor::FormatRow(2160, {0, -32767, 32766, 32767}, 2));
    EXPECT_EQ(monitor::FormatHeader(4).size(), monitor::FormatRow(0, {1, 2, 3, 4}, 4).size());
    EXPECT_EQ("12345.007  no board        -1\n", monitor::FormatRow(12345007, {-1}, 3));
    EXPECT_EQ("    0.000  9               -1\n", monitor::FormatRow(0, {-1}, 9))
        << "a status of a newer control";
}

DATE DateOf(WORD year, WORD month, WORD day, double secondsIntoDay) {
    SYSTEMTIME midnight = {year, month, 0, day, 0, 0, 0, 0};
    DATE date = 0;
    ::SystemTimeToVariantTime(&midnight, &date);
    return date + secondsIntoDay / 86400;
}

TEST(MonitorLines, LostCyclesOnStderrNameTheNumbers) {
    EXPECT_EQ(
        "vandrel-monitor: lost 3 cycles (4 to 6): the control's buffer overflowed before they were read",
        monitor::LostCyclesText(4, 3));
}

// A short run's rate is the whole run's, and a run of fewer than two cycles has no rate or gap.
TEST(MonitorLines, HealthTextGivesWhatTheControlToldAndMeans) {
    EXPECT_EQ(
        "Vandrel control stopped after 412 cycles: 97.3 cycles a second over the last 100, "
        "longest gap 12 ms, 0 failed attempts",
        monitor::HealthText({412, 97.26, 12, 0, std::nullopt}));
    EXPECT_EQ(
        "Vandrel control stopped after 100 cycles: 5.0 cycles a second, longest gap 201 ms, 1 failed attempt",
        monitor::HealthText({100, 5.0, 201, 1, std::nullopt}));
    EXPECT_EQ("Vandrel control stopped after 1 cycle: 3 failed attempts",
              monitor::HealthText({1, 0.0, 0, 3, std::nullopt}));
    EXPECT_EQ("Vandrel control stopped: 9.5 cycles a second",
              monitor::HealthText({std::nullopt, 9.5, std::nullopt, std::nullopt, std::nullopt}));
    EXPECT_EQ("", monitor::HealthText({}));
    // The percentile's window is the last 1000 gaps; a run of fewer has it over all of them.
    EXPECT_EQ(
        "Vandrel control stopped after 412 cycles: longest gap 12 ms, 99 % of gaps within 10.31 ms, "
        "0 failed attempts",
        monitor::HealthText({412, std::nullopt, 12, 0, 10.314}));
    EXPECT_EQ("Vandrel control stopped after 5000 cycles: 99 % of the last 1000 gaps within 1.20 ms",
              monitor::HealthText({5000, std::nullopt, std::nullopt, std::nullopt, 1.2}));
    EXPECT_EQ("Vandrel control stopped after 1 cycle", monitor::HealthText({1, 0.0, 0, std::nullopt, 0.0}));
}

TEST(MonitorLines, BannerNamesTheSettingsInEffect) {
    EXPECT_EQ("Vandrel control at port 356 (0x164), 8 channels, every 2160 ms; Ctrl+C stops.\n",
              monitor::FormatBanner({356, 2160, 8}));
    EXPECT_EQ("Vandrel control at port 370 (0x172), 1 channel, every 50 ms; Ctrl+C stops.\n",
              monitor::FormatBanner({370, 50, 1}));
}

TEST(MonitorLines, FailureNamesTheStepAndTheCode) {
    const std::string line = monitor::DescribeFailure("setting Interval", DISP_E_OVERFLOW);
    EXPECT_EQ(0u, line.find("vandrel-monitor: setting Interval failed (0x8002000A"));
    EXPECT_EQ(std::string::npos, line.find('\n'));
}

// A Win32 error as an HRESULT comes with the system's text for it, without the sentence's full stop
// and line break, which would stand inside the parentheses or end the line early.
TEST(MonitorLines, FailureOfAWin32ErrorCarriesTheSystemsTextInOneLine) {
    const std::string line = monitor::DescribeFailure("Start", E_ACCESSDENIED);
    const std::string head = "vandrel-monitor: Start failed (0x80070005: ";
    ASSERT_EQ(0u, line.find(head)) << line;
    ASSERT_GT(line.size(), head.size() + 1) << "no text for the error: " << line;
    EXPECT_EQ(')', line.back()) << line;
    EXPECT_EQ(std::string::npos, line.find_first_of("\r\n")) << line;
    const char last = line[line.size() - 2];
    EXPECT_TRUE(last != '.' && last != ' ') << line;
}

TEST(MonitorLines, CreateFailureSaysWhatIsMissingInOneLine) {
    struct Case {
        HRESULT hr;
        const char* part;
    } cases[] = {{HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND),
                  "because DirectPort.dll, the board's port-input library, was not found"},
                 {E_ACCESSDENIED, "creating the Vandrel control failed (0x80070005"}};
    for (const auto& c : cases) {
        const std::string line = monitor::DescribeCreateFailure(c.hr);
        EXPECT_NE(std::string::npos, line.find(c.part)) << line;
        EXPECT_EQ(std::string::npos, line.find('\n')) << line;
    }
}

// --- the loop, against a fake control ----------------------------------------------------------

// One answer of ReadCycles: the cycles first .. first+count-1, after lost ones; given only once Stop
// was called when afterStop.
struct Batch {
    LONG lost, first, count;
    bool afterStop;
};

// A control's dispatch interface that records each call as text, answers with the DISPIDs of the
// real control, and refuses what the real dispatch layer refuses.
class FakeControl final : public base::ComObject<FakeControl, base::Lifetime::Scoped, IDispatch> {
public:
    std::vector<std::string> calls;
    LONG interval = 2160, address = 356, channels = 8;
    bool startResult = true;
    HRESULT putResult = S_OK;
    std::function<SHORT(LONG index, int readNumber)> value = [](LONG k, int) { return SHORT(k * 100 - 50); };
    int reads = 0;
    std::vector<std::wstring> missingNames;  // what an older control lacks
    LONG status = 2;
    LONG cycleCount = 412, longestGap = 12, failedCycles = 0;
    double cycleRate = 97.26, gapP99 = 10.31;
    HRESULT rateResult = S_OK;
    std::vector<Batch> batches;
    bool stopped = false;
    std::wstring recordFile;
    HRESULT recordRefusal = S_OK;  // raised with a description, as the real control does
    bool recordingFails = false;   // Recording turns false while the run goes on, as after a failed write
    LONG recordLost = 0, lastError = HRESULT_FROM_WIN32(ERROR_DISK_FULL);
    // A channel's settings and what it reads; at first as a control without settings has them.
    struct Channel {
        std::wstring name, unit;
        double gain = 1, offset = 0;
        std::optional<double> highLimit, value;  // none: Null
        LONG alarm = 0;
    };
    std::array<Channel, 8> channel;
    HRESULT loadResult = S_OK;  // raised with loadText, as the real control does
    std::wstring loadText;

    // Cycle n: its number, a time n seconds into 2026-12-08, and n in every channel.
    monitor::CycleRow RowOf(LONG n) const {
        return {n, DateOf(2026, 12, 8, n),
                std::vector<SHORT>(static_cast<size_t>(channels), static_cast<SHORT>(n))};
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
        *n = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (count != 1) return E_INVALIDARG;
        for (const auto& [name, id] : client::kMembers) {
            const auto missing =
                std::find_if(missingNames.begin(), missingNames.end(),
                             [&](const std::wstring& m) { return _wcsicmp(name, m.c_str()) == 0; });
            if (_wcsicmp(name, names[0]) == 0 && missing == missingNames.end()) {
                ids[0] = id;
                return S_OK;
            }
        }
        ids[0] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* p, VARIANT* result,
                                     EXCEPINFO* excep, UINT*) override {
        if (id >= client::kDispidChannelName && id <= client::kDispidAlarmState &&
            flags == DISPATCH_PROPERTYGET) {
            if (p->cArgs != 1 || p->rgvarg[0].vt != VT_I4) return DISP_E_BADPARAMCOUNT;
            const LONG n = p->rgvarg[0].lVal;
            if (n < 1 || n > 8) return DISP_E_BADINDEX;
            return AnswerChannel(id, channel[static_cast<size_t>(n - 1)], result);
        }
        if (id == client::kDispidLoadSettings && flags == DISPATCH_METHOD) {
            if (p->cArgs != 1 || p->rgvarg[0].vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
            calls.push_back("LoadSettings " + base::PrintableAscii(p->rgvarg[0].bstrVal));
            if (SUCCEEDED(loadResult)) return S_OK;
            excep->scode = loadResult;
            excep->bstrDescription = ::SysAllocString(loadText.c_str());
            return DISP_E_EXCEPTION;
        }
        if (id == 21 && flags == DISPATCH_PROPERTYPUT) {
            if (p->cArgs != 1 || p->cNamedArgs != 1 || p->rgvarg[0].vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
            const std::wstring path = p->rgvarg[0].bstrVal ? p->rgvarg[0].bstrVal : L"";
            calls.push_back("put RecordFile " + base::PrintableAscii(path));
            if (!path.empty() && FAILED(recordRefusal)) {
                excep->scode = recordRefusal;
                excep->bstrDescription = ::SysAllocString(L"No such folder.");
                return DISP_E_EXCEPTION;
            }
            recordFile = path;
            return S_OK;
        }
        if ((id == 13 || id == 23 || id == 24) && (flags & DISPATCH_PROPERTYGET)) {
            calls.push_back(id == 13 ? "get LastError" : id == 23 ? "get RecordLost" : "get Recording");
            result->vt = id == 24 ? VT_BOOL : VT_I4;
            if (id == 24)
                result->boolVal = !recordFile.empty() && !recordingFails ? VARIANT_TRUE : VARIANT_FALSE;
            if (id != 24) result->lVal = id == 13 ? lastError : recordLost;
            return S_OK;
        }
        LONG* property = id == 1 ? &interval : id == 2 ? &address : id == 6 ? &channels : nullptr;
        const char* name = id == 1 ? "Interval" : id == 2 ? "Address" : id == 6 ? "ChannelNumber" : "";
        if (property && flags == DISPATCH_PROPERTYPUT) {
            if (p->cArgs != 1 || p->cNamedArgs != 1 || p->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
                return DISP_E_PARAMNOTFOUND;
            }
            if (p->rgvarg[0].vt != VT_I4) return DISP_E_TYPEMISMATCH;
            calls.push_back(std::string("put ") + name + " " + std::to_string(p->rgvarg[0].lVal));
            if (FAILED(putResult)) return putResult;
            *property = p->rgvarg[0].lVal;
            return S_OK;
        }
        if (property && (flags & DISPATCH_PROPERTYGET)) {
            calls.push_back(std::string("get ") + name);
            result->vt = VT_I4;
            result->lVal = *property;
            return S_OK;
        }
        if ((id == 9 || (id >= 18 && id <= 20)) && (flags & DISPATCH_PROPERTYGET)) {  // the health members
            const char* const names[] = {"CycleCount", "CycleRate", "LongestGap", "FailedCycles"};
            calls.push_back(std::string("get ") + names[id == 9 ? 0 : id - 17]);
            result->vt = id == 18 ? VT_R8 : VT_I4;
            if (id == 18) result->dblVal = cycleRate;
            if (id != 18) result->lVal = id == 9 ? cycleCount : id == 19 ? longestGap : failedCycles;
            return id == 18 ? rateResult : S_OK;
        }
        if (id == client::kDispidGapPercentile99 && (flags & DISPATCH_PROPERTYGET)) {
            calls.push_back("get GapPercentile99");
            result->vt = VT_R8;
            result->dblVal = gapP99;
            return S_OK;
        }
        if (id == 11 && (flags & DISPATCH_PROPERTYGET)) {
            result->vt = VT_I4;
            result->lVal = status;
            return S_OK;
        }
        if (id == 8 && (flags & DISPATCH_METHOD) && p->cArgs == 2 && p->rgvarg[0].vt == (VT_BYREF | VT_I4)) {
            calls.push_back("ReadCycles");
            Batch batch = {0, 0, 0, false};
            if (!batches.empty() && (stopped || !batches.front().afterStop)) {
                batch = batches.front();
                batches.erase(batches.begin());
            }
            *p->rgvarg[0].plVal = batch.lost;
            SAFEARRAYBOUND bounds[2] = {{static_cast<ULONG>(batch.count), 0},
                                        {static_cast<ULONG>(2 + channels), 0}};
            SAFEARRAY* rows = ::SafeArrayCreate(VT_VARIANT, 2, bounds);
            for (LONG r = 0; r < batch.count; ++r) {
                const monitor::CycleRow row = RowOf(batch.first + r);
                for (LONG c = 0; c < 2 + channels; ++c) {
                    LONG at[2] = {r, c};
                    VARIANT cell;
                    cell.vt = c == 0 ? VT_I4 : c == 1 ? VT_DATE : VT_I2;
                    if (c == 0) cell.lVal = static_cast<LONG>(row.number);
                    if (c == 1) cell.date = row.time;
                    if (c > 1) cell.iVal = row.values[c - 2];
                    ::SafeArrayPutElement(rows, at, &cell);
                }
            }
            result->vt = VT_ARRAY | VT_VARIANT;
            result->parray = rows;
            return S_OK;
        }
        if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
        if (id == 4 && p->cArgs == 0) {
            calls.push_back("Start");
            result->vt = VT_BOOL;
            result->boolVal = startResult ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        }
        if (id == 5 && p->cArgs == 0) {
            calls.push_back("Stop");
            stopped = true;
            return S_OK;
        }
        if (id == 3 && p->cArgs == 1 && p->rgvarg[0].vt == VT_I4) {
            result->vt = VT_I2;
            result->iVal = value(p->rgvarg[0].lVal, reads++);
            return S_OK;
        }
        return DISP_E_BADPARAMCOUNT;
    }

private:
    static HRESULT AnswerChannel(DISPID id, const Channel& c, VARIANT* result) {
        const auto number = [&](const std::optional<double>& v) {
            result->vt = v ? VT_R8 : VT_NULL;
            if (v) result->dblVal = *v;
        };
        switch (id) {
            case client::kDispidChannelName:
            case client::kDispidChannelUnit:
                result->vt = VT_BSTR;
                result->bstrVal =
                    ::SysAllocString((id == client::kDispidChannelName ? c.name : c.unit).c_str());
                break;
            case client::kDispidChannelGain: number(c.gain); break;
            case client::kDispidChannelOffset: number(c.offset); break;
            case client::kDispidChannelValue: number(c.value); break;
            case client::kDispidHighLimit: number(c.highLimit); break;
            case client::kDispidAlarmState:
                result->vt = VT_I4;
                result->lVal = c.alarm;
                break;
            default: number(std::nullopt);  // the other limits: none
        }
        return S_OK;
    }
};

// A zone at +01:00 all year: the CSV's times read the same on every machine.
constexpr int64_t kHourUnits = 3600 * 1000 * static_cast<int64_t>(base::kFileTimeUnitsPerMs);
bool PlusOneOffset(uint64_t, int64_t* offset) noexcept {
    *offset = kHourUnits;
    return true;
}
bool PlusOneUtc(uint64_t local, uint64_t* utc) noexcept {
    *utc = local - kHourUnits;
    return true;
}

class MonitorLoop : public testing::Test {
protected:
    int Run(const Options& o, HANDLE stop = nullptr,
            testsupport::CallSite caller = testsupport::CallSite::Here()) {
        const testsupport::CallerTrace fromCaller(caller);
        Control control;
        const HRESULT hr = control.Bind(&fake);
        EXPECT_HR(S_OK, hr);
        if (FAILED(hr)) return -1;
        return monitor::Run(
            control, o, stop, [this](const std::string& s) { out += s; },
            [this](const std::string& s) { err.push_back(s); }, monitor::Zone{&PlusOneUtc, &PlusOneOffset});
    }
    FakeControl fake;  // records every call but GetChnlValue, which it counts in reads
    std::string out;
    std::vector<std::string> err;
};

// What a run that ended well reads last, once the control has stopped.
const std::vector<std::string> kHealthReads = {"get CycleCount", "get CycleRate", "get LongestGap",
                                               "get GapPercentile99", "get FailedCycles"};
// What the fake control tells of its run.
const monitor::RunHealth kFakeHealth = {412, 97.26, 12, 0, 10.31};

std::vector<std::string> Joined(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(MonitorLoop, SetsTheGivenSettingsReadsThemBackThenSamplesAndStops) {
    Options o;
    o.interval = 20;
    o.address = 0x170;
    o.channels = 4;
    o.durationMs = 100;
    EXPECT_EQ(monitor::kExitOk, Run(o));
    EXPECT_EQ(Joined({"put Interval 20", "put Address 368", "put ChannelNumber 4", "get Address",
                      "get Interval", "get ChannelNumber", "Start", "Stop"},
                     kHealthReads),
              fake.calls);
    EXPECT_TRUE(err.empty());
    const auto lines = testsupport::SplitLines(out);
    ASSERT_EQ(8u, lines.size()) << out;  // banner, header, rows at 10, 30, 50, 70 and 90 ms, closing line
    EXPECT_EQ("Vandrel control at port 368 (0x170), 4 channels, every 20 ms; Ctrl+C stops.", lines[0]);
    EXPECT_EQ(monitor::FormatHeader(4), lines[1] + "\n");
    EXPECT_EQ(monitor::HealthText(kFakeHealth), lines.back());
    for (size_t i = 2; i + 1 < lines.size(); ++i) {
        EXPECT_NE(std::string::npos, lines[i].find("     -50      50     150     250")) << lines[i];
    }
    EXPECT_EQ(20, fake.reads);
}

TEST_F(MonitorLoop, UnsetSettingsStayTheControlsOwn) {
    Options o;
    o.durationMs = 1;  // shorter than the first drain: only the one after Stop, which finds no cycle
    o.csv = true;
    EXPECT_EQ(monitor::kExitOk, Run(o));
    EXPECT_EQ(Joined({"get Address", "get Interval", "get ChannelNumber", "Start", "Stop", "ReadCycles"},
                     kHealthReads),
              fake.calls);
    EXPECT_EQ("cycle,time,ch0,ch1,ch2,ch3,ch4,ch5,ch6,ch7\n", out);
}

// Every cycle once, in order, in the form the control records: those the drains bring while
// sampling, a gap marked where it is and reported with the numbers lost, and the cycles still
// waiting when the control stops. The times are the local times ReadCycles gives, with the zone's
// offset.
TEST_F(MonitorLoop, CsvWritesEveryCycleOnceAndMarksTheCyclesLost) {
    Options o;
    o.interval = 20;
    o.channels = 2;
    o.durationMs = 100;
    o.csv = true;
    fake.batches = {{0, 1, 3, false}, {3, 7, 2, false}, {0, 9, 1, true}};
    EXPECT_EQ(monitor::kExitOk, Run(o));
    EXPECT_EQ(
        "cycle,time,ch0,ch1\n"
        "1,2026-12-08T00:00:01.000+01:00,1,1\n"
        "2,2026-12-08T00:00:02.000+01:00,2,2\n"
        "3,2026-12-08T00:00:03.000+01:00,3,3\n"
        "# lost 3 cycles: 4 to 6\n"
        "7,2026-12-08T00:00:07.000+01:00,7,7\n"
        "8,2026-12-08T00:00:08.000+01:00,8,8\n"
        "9,2026-12-08T00:00:09.000+01:00,9,9\n",
        out)
        << "the closing line is kept out of the CSV";
    EXPECT_EQ((std::vector<std::string>{monitor::LostCyclesText(4, 3), monitor::HealthText(kFakeHealth)}),
              err);
    const auto stop = std::find(fake.calls.begin(), fake.calls.end(), "Stop");
    EXPECT_EQ(Joined({"Stop", "ReadCycles", "ReadCycles"}, kHealthReads),
              std::vector<std::string>(stop, fake.calls.end()))
        << "drained after Stop until none came";
}

// A control from before CycleCount, CycleRate, LongestGap and FailedCycles, or without one of them:
// the run is as before, and the closing line gives what there is.
struct OlderControl {
    const char* name;
    std::vector<std::wstring> missing;
    bool csv;
    const char* closing;  // "" for none
};
class MonitorOlderControl : public MonitorLoop, public testing::WithParamInterface<OlderControl> {};
TEST_P(MonitorOlderControl, StillSamples) {
    fake.missingNames = GetParam().missing;
    Options o;
    o.interval = 20;
    o.durationMs = 50;
    o.csv = GetParam().csv;
    EXPECT_EQ(monitor::kExitOk, Run(o)) << "bound and sampled";
    // The closing line is the last of its stream, and nothing else is written to err.
    const auto lines = o.csv ? err : testsupport::SplitLines(out);
    const bool closed = !lines.empty() && lines.back().rfind("Vandrel control stopped", 0) == 0;
    EXPECT_EQ(GetParam().closing, closed ? lines.back() : "") << out;
    EXPECT_EQ(o.csv && closed ? 1u : 0u, err.size());
}
INSTANTIATE_TEST_SUITE_P(
    Monitor, MonitorOlderControl,
    testing::Values(
        OlderControl{"NoHealthTable",
                     {L"CycleCount", L"CycleRate", L"LongestGap", L"GapPercentile99", L"FailedCycles"},
                     false,
                     ""},
        OlderControl{"NoHealthCsv",
                     {L"CycleCount", L"CycleRate", L"LongestGap", L"GapPercentile99", L"FailedCycles"},
                     true,
                     ""},
        OlderControl{"NoRate",
                     {L"CycleRate"},
                     false,
                     "Vandrel control stopped after 412 cycles: longest gap 12 ms, 99 % of gaps within "
                     "10.31 ms, 0 failed attempts"},
        OlderControl{"NoGapPercentile",
                     {L"GapPercentile99"},
                     false,
                     "Vandrel control stopped after 412 cycles: 97.3 cycles a second over the last 100, "
                     "longest gap 12 ms, 0 failed attempts"},
        OlderControl{"NoRecording",
                     {L"RecordFile", L"RecordLost", L"Recording"},
                     true,
                     "Vandrel control stopped after 412 cycles: 97.3 cycles a second over the last 100, "
                     "longest gap 12 ms, 99 % of gaps within 10.31 ms, 0 failed attempts"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(MonitorLoop, AFailedHealthReadFailsTheRunWithOneLine) {
    fake.rateResult = E_FAIL;
    Options o;
    o.interval = 20;
    o.durationMs = 50;
    EXPECT_EQ(monitor::kExitFailed, Run(o));
    ASSERT_EQ(1u, err.size());
    EXPECT_EQ(0u, err[0].find("vandrel-monitor: reading CycleRate failed (0x80004005")) << err[0];
    EXPECT_EQ(std::string::npos, out.find("Vandrel control stopped"));
}

// --record: RecordFile is set before Start, once the settings are, and cleared after Stop, which
// completes the file; cycles the recording lost are told on stderr, before the closing line.
class MonitorRecord : public MonitorLoop, public testing::WithParamInterface<bool> {};
TEST_P(MonitorRecord, SetsTheFileBeforeStartAndClearsItAfterStop) {
    fake.recordLost = GetParam() ? 17 : 0;
    Options o;
    o.interval = 20;
    o.durationMs = 50;
    o.csv = GetParam();
    o.record = L"run.csv";
    EXPECT_EQ(monitor::kExitOk, Run(o));
    const auto start = std::find(fake.calls.begin(), fake.calls.end(), "Start");
    EXPECT_EQ((std::vector<std::string>{"get ChannelNumber", "put RecordFile run.csv", "Start"}),
              std::vector<std::string>(start - 2, start + 1));
    EXPECT_EQ(Joined(kHealthReads, {"get Recording", "put RecordFile ", "get RecordLost"}),
              std::vector<std::string>(fake.calls.end() - 3 - kHealthReads.size(), fake.calls.end()));
    std::vector<std::string> expected;
    if (fake.recordLost) {
        expected.push_back(
            "vandrel-monitor: the recording to 'run.csv' lost 17 cycles: the disk fell behind; "
            "lines '# lost' in the file mark where");
    }
    if (o.csv) expected.push_back(monitor::HealthText(kFakeHealth));
    EXPECT_EQ(expected, err);
}
INSTANTIATE_TEST_SUITE_P(Monitor, MonitorRecord, testing::Bool(),
                         [](const auto& test) { return test.param ? "CsvAndLost" : "Table"; });

// A path the control refuses is told with its reason and nothing starts; a recording that stopped
// before the run ended (a failed write) fails the run with the control's last error, and the file
// is let go of; a control that cannot record refuses --record.
struct RecordEnd {
    const char* name;
    HRESULT refusal;
    bool startResult, recordingFails;
    std::vector<std::wstring> missing;
    std::vector<std::string> lastCalls;
    const char* err;
};
class MonitorRecordEnd : public MonitorLoop, public testing::WithParamInterface<RecordEnd> {};
TEST_P(MonitorRecordEnd, FailsInOneLineAndLetsTheFileGo) {
    fake.recordRefusal = GetParam().refusal;
    fake.startResult = GetParam().startResult;
    fake.recordingFails = GetParam().recordingFails;
    fake.missingNames = GetParam().missing;
    Options o;
    o.interval = 20;
    o.durationMs = 50;
    o.record = L"run.csv";
    EXPECT_EQ(monitor::kExitFailed, Run(o));
    const auto& last = GetParam().lastCalls;
    ASSERT_GE(fake.calls.size(), last.size());
    EXPECT_EQ(last, std::vector<std::string>(fake.calls.end() - last.size(), fake.calls.end()));
    ASSERT_EQ(1u, err.size());
    EXPECT_EQ(0u, err[0].find(GetParam().err)) << err[0];
}
INSTANTIATE_TEST_SUITE_P(
    Monitor, MonitorRecordEnd,
    testing::Values(
        RecordEnd{"Refused",
                  HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND),
                  true,
                  false,
                  {},
                  {"get ChannelNumber", "put RecordFile run.csv"},
                  "vandrel-monitor: recording to 'run.csv' failed (0x80070003: No such folder)"},
        RecordEnd{"WriteFailed",
                  S_OK,
                  true,
                  true,
                  {},
                  {"get Recording", "put RecordFile ", "get RecordLost", "get LastError"},
                  "vandrel-monitor: recording to 'run.csv' failed (0x80070070"},
        RecordEnd{
            "OlderControl",
            S_OK,
            true,
            false,
            {L"RecordFile", L"RecordLost", L"Recording"},
            {"get ChannelNumber"},
            "vandrel-monitor: this Vandrel control cannot record (it has no RecordFile); --record needs a "
            "newer Vandrel.ocx"}),
    [](const auto& test) { return std::string(test.param.name); });

// The stop arrives while the third row is being read, as Ctrl+C would: with the loop on time, or
// held up past the next row's time (a busy machine), when that row is due at once.
class MonitorStopEvent : public MonitorLoop, public testing::WithParamInterface<DWORD> {};
TEST_P(MonitorStopEvent, EndsTheRunAndStopsTheControl) {
    base::UniqueEvent stop(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    Options o;
    o.interval = 10;
    o.channels = 1;
    fake.value = [&](LONG, int read) {
        if (read == 2) {
            ::SetEvent(stop.get());
            ::Sleep(GetParam());
        }
        return SHORT(7);
    };
    // No duration and fresh values: only the stop can end the run (a missed one hangs until the
    // test's time-out), and the read count shows that it ended at the stop.
    EXPECT_EQ(monitor::kExitOk, Run(o, stop.get()));
    EXPECT_EQ(Joined({"Stop"}, kHealthReads),
              std::vector<std::string>(fake.calls.end() - 1 - kHealthReads.size(), fake.calls.end()));
    EXPECT_EQ(3, fake.reads);
    EXPECT_TRUE(err.empty());
}
INSTANTIATE_TEST_SUITE_P(Monitor, MonitorStopEvent, testing::Values(0UL, 30UL),
                         [](const auto& test) { return test.param == 0 ? "OnTime" : "HeldUp"; });

TEST_F(MonitorLoop, ABoardThatNeverAnswersIsReportedAfterAFewIntervals) {
    Options o;
    o.interval = 10;
    fake.value = [](LONG, int) { return SHORT(32767); };
    EXPECT_EQ(monitor::kExitFailed, Run(o));
    ASSERT_EQ(1u, err.size());
    EXPECT_EQ(
        "vandrel-monitor: no answer from the board at port 356 (0x164) for 5 intervals; is "
        "there a board at that address?",
        err[0]);
    EXPECT_EQ(monitor::kNoAnswerIntervals * 8, fake.reads);
    EXPECT_EQ("Stop", fake.calls.back());
}

TEST_F(MonitorLoop, OneFreshChannelKeepsItGoing) {
    Options o;
    o.interval = 10;
    o.durationMs = 120;
    o.channels = 4;
    fake.value = [](LONG k, int) { return SHORT(k == 3 ? -3 : 32767); };
    EXPECT_EQ(monitor::kExitOk, Run(o));
    EXPECT_TRUE(err.empty());
    EXPECT_NE(std::string::npos, out.find("   stale   stale   stale      -3\n"));
}

TEST_F(MonitorLoop, AStartThatFailsIsReportedAndNothingSampled) {
    fake.startResult = false;
    EXPECT_EQ(monitor::kExitFailed, Run(Options{}));
    ASSERT_EQ(1u, err.size());
    EXPECT_EQ("vandrel-monitor: the control did not start sampling (Start returned False)", err[0]);
    EXPECT_EQ(0, fake.reads);
    EXPECT_TRUE(out.empty());
}

TEST_F(MonitorLoop, ARefusedPutIsReportedBeforeStarting) {
    fake.putResult = DISP_E_OVERFLOW;
    Options o;
    o.interval = 5;
    EXPECT_EQ(monitor::kExitFailed, Run(o));
    EXPECT_EQ((std::vector<std::string>{"put Interval 5"}), fake.calls);
    ASSERT_EQ(1u, err.size());
    EXPECT_EQ(0u, err[0].find("vandrel-monitor: setting Interval failed (0x8002000A"));
}

TEST_F(MonitorLoop, BindingNeedsEveryMemberButTheHealthOnes) {
    fake.missingNames = {L"GetChnlValue"};
    Control control;
    EXPECT_HR(DISP_E_UNKNOWNNAME, control.Bind(&fake));
}

// --- channel settings --------------------------------------------------------------------------

std::string InCurrentFolder(const std::string& name) {
    wchar_t folder[MAX_PATH];
    const DWORD n = ::GetCurrentDirectoryW(MAX_PATH, folder);
    return base::PrintableAscii(std::wstring_view(folder, n)) + "\\" + name;
}

// Once the settings file is loaded (after the given settings, before anything is read back), channels
// with settings are shown by name and unit with their scaled values: a heading wider than a value
// widens its column, a value too long for its column loses digits, not the alignment, and the alarm
// marks stand after the value, in a place of their own.
TEST_F(MonitorLoop, ChannelsWithSettingsShowScaledValuesUnitsAndAlarms) {
    fake.channel[0] = {L"Oven", L"\u00B0C", 0.1, 0, std::nullopt, 251.3, 1};
    fake.channel[1] = {L"", L"Pa", 1, 0, std::nullopt, -1234567, -2};
    fake.channel[2] = {L"", L"", 1, 0, std::nullopt, std::nullopt, 2};  // stale, its alarm latched
    fake.channel[3] = {L"Coolant\tflow rate", L"", 1, 0, 5.0, 0.000123, -1};
    Options o;
    o.interval = 20;
    o.channels = 4;
    o.durationMs = 50;
    o.settings = L"oven.ini";
    EXPECT_EQ(monitor::kExitOk, Run(o));
    EXPECT_EQ((std::vector<std::string>{"put Interval 20", "put ChannelNumber 4",
                                        "LoadSettings " + InCurrentFolder("oven.ini"), "get Address"}),
              std::vector<std::string>(fake.calls.begin(), fake.calls.begin() + 4));
    EXPECT_TRUE(err.empty());
    const auto lines = testsupport::SplitLines(out);
    ASSERT_GE(lines.size(), 4u) << out;
    EXPECT_EQ("   time/s  status       Oven [\u00B0C]      ch1 [Pa]           ch2    Coolant?flow rate",
              lines[1]);
    for (size_t i = 2; i + 1 < lines.size(); ++i) {
        ASSERT_GT(lines[i].size(), 21u) << lines[i];
        EXPECT_EQ("       251.3!   -1.235e+06!!       stale!!           0.000123!", lines[i].substr(21));
    }
}

// Without it, a scaled table would run on for ever at a board that gave no value.
TEST_F(MonitorLoop, AScaledTableOfStaleValuesStillTellsABoardThatNeverAnswers) {
    fake.channel[0].name = L"Oven";  // and no channel has a value
    Options o;
    o.interval = 10;
    o.durationMs = 2000;  // far past 5 intervals: a run that misses the silence ends well, not hangs
    EXPECT_EQ(monitor::kExitFailed, Run(o));
    EXPECT_EQ(std::vector<std::string>{"vandrel-monitor: no answer from the board at port 356 (0x164) for 5 "
                                       "intervals; is there a board at that address?"},
              err);
    EXPECT_EQ("Stop", fake.calls.back());
}

// Any setting of a sampled channel shows the table scaled, an alarm limit alone too; none keeps it raw.
struct ScaledWhen {
    const char* name;
    const wchar_t *channelName, *unit;
    double gain, offset;
    std::optional<double> limit;
    const char* header;
};
class MonitorScaledWhen : public MonitorLoop, public testing::WithParamInterface<ScaledWhen> {};
TEST_P(MonitorScaledWhen, TheHeaderSaysWhichTable) {
    const ScaledWhen& c = GetParam();
    fake.channel[0] = {c.channelName, c.unit, c.gain, c.offset, c.limit, 1.0, 0};
    Options o;
    o.interval = 20;
    o.channels = 1;
    o.durationMs = 30;
    EXPECT_EQ(monitor::kExitOk, Run(o));
    const auto lines = testsupport::SplitLines(out);
    ASSERT_GE(lines.size(), 2u) << out;
    EXPECT_EQ(std::string("   time/s  status    ") + GetParam().header, lines[1]);
}
INSTANTIATE_TEST_SUITE_P(Monitor, MonitorScaledWhen,
                         testing::Values(ScaledWhen{"Nothing", L"", L"", 1, 0, std::nullopt, "     ch0"},
                                         ScaledWhen{"Name", L"Oven", L"", 1, 0, std::nullopt, "        Oven"},
                                         ScaledWhen{"Unit", L"", L"V", 1, 0, std::nullopt, "     ch0 [V]"},
                                         ScaledWhen{"Gain", L"", L"", 2, 0, std::nullopt, "         ch0"},
                                         ScaledWhen{"Offset", L"", L"", 1, -1, std::nullopt, "         ch0"},
                                         ScaledWhen{"LimitAlone", L"", L"", 1, 0, 0.0, "         ch0"}),
                         [](const auto& test) { return std::string(test.param.name); });

// A file the control refuses is told in the control's words, which name the file, the key and the line;
// nothing starts. A control without channel settings refuses --settings.
struct SettingsRefusal {
    const char* name;
    std::vector<std::wstring> missing;
    std::vector<std::string> calls;
    const char* err;
};
class MonitorSettingsRefused : public MonitorLoop, public testing::WithParamInterface<SettingsRefusal> {};
TEST_P(MonitorSettingsRefused, EndsBeforeStartWithOneLine) {
    fake.missingNames = GetParam().missing;
    fake.loadResult = E_INVALIDARG;
    fake.loadText = L"C:\\data\\oven.ini, [Channel2] Gain, line 7: 0 is no gain.\r\n";
    Options o;
    o.durationMs = 50;  // a run that starts all the same ends
    o.settings = L"C:\\data\\oven.ini";
    o.record = L"run.csv";
    EXPECT_EQ(monitor::kExitFailed, Run(o));
    EXPECT_EQ(GetParam().calls, fake.calls);
    EXPECT_EQ(std::vector<std::string>{GetParam().err}, err);
    EXPECT_TRUE(out.empty());
}
INSTANTIATE_TEST_SUITE_P(
    Monitor, MonitorSettingsRefused,
    testing::Values(
        SettingsRefusal{"Refused",
                        {},
                        {"LoadSettings C:\\data\\oven.ini"},
                        "vandrel-monitor: C:\\data\\oven.ini, [Channel2] Gain, line 7: 0 is no gain"},
        SettingsRefusal{"OlderControl",
                        {L"LoadSettings"},
                        {},
                        "vandrel-monitor: this Vandrel control has no channel settings (it has no "
                        "LoadSettings); --settings needs a newer Vandrel.ocx"}),
    [](const auto& test) { return std::string(test.param.name); });

// --- the program -----------------------------------------------------------------------------

std::wstring MonitorCommand(const std::wstring& args) {
    return L"\"" + testsupport::BinFolder() + L"vandrel-monitor.exe\" " + args;
}

struct ProgramCase {
    const char* name;
    const wchar_t* args;
    DWORD exitCode;
    const char* text;  // in stdout for exit code 0, else the whole of stderr starts with it
};
class MonitorProgram : public testing::TestWithParam<ProgramCase> {};

TEST_P(MonitorProgram, AnswersInOneLine) {
    // Nothing registered, whatever the prefix held before; put back afterwards.
    const testsupport::ClassesRootRestorer restorer(
        {L"VANDREL.VandrelCtrl.1", L"CLSID\\{E4DE41E5-20F5-4A71-91C1-BC0686540ACF}"});
    restorer.Clear();
    const auto r = harness::RunProcess(MonitorCommand(GetParam().args), 30000);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(GetParam().exitCode, r.exitCode) << r.out << r.err;
    if (GetParam().exitCode == 0) {
        EXPECT_NE(std::string::npos, r.out.find(GetParam().text)) << r.out;
    } else {
        EXPECT_EQ(0u, r.err.find(GetParam().text)) << r.err;
        EXPECT_EQ(1u, testsupport::SplitLines(r.err).size()) << r.err;
        EXPECT_EQ("", r.out);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, MonitorProgram,
    testing::Values(ProgramCase{"Help", L"--help", 0, "Usage: vandrel-monitor"},
                    ProgramCase{"BadArgument", L"--channels 5", 2,
                                "vandrel-monitor: --channels must be 1, 4 or 8, not '5' (see --help)"},
                    ProgramCase{"NotRegistered", L"--duration 1", 1,
                                "vandrel-monitor: the Vandrel control is not registered"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(MonitorProgramBitness, AControlRegisteredForTheOtherBitnessOnlyIsNamedSo) {
    const REGSAM other = base::OtherRegistryView();
    if (other == 0) GTEST_SKIP() << "32-bit Windows has one registry view";
    const std::wstring classKey = L"CLSID\\{E4DE41E5-20F5-4A71-91C1-BC0686540ACF}";
    const testsupport::ClassesRootRestorer restorer({L"VANDREL.VandrelCtrl.1", classKey});
    restorer.Clear();
    // What the other bitness's registration leaves: the shared ProgID and its class in its own view.
    base::UniqueHkey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CLASSES_ROOT, L"VANDREL.VandrelCtrl.1\\CLSID", 0, nullptr,
                                               0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr));
    const wchar_t clsid[] = L"{E4DE41E5-20F5-4A71-91C1-BC0686540ACF}";
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key.get(), nullptr, 0, REG_SZ,
                                              reinterpret_cast<const BYTE*>(clsid), sizeof clsid));
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegCreateKeyExW(HKEY_CLASSES_ROOT, (classKey + L"\\InprocServer32").c_str(), 0, nullptr, 0,
                                KEY_ALL_ACCESS | other, nullptr, key.put(), nullptr));
    const auto r = harness::RunProcess(MonitorCommand(L"--duration 1"), 30000);
    base::UniqueHkey classes;
    if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, L"CLSID", 0, KEY_ALL_ACCESS | other, classes.put()) ==
        ERROR_SUCCESS) {
        ::RegDeleteTreeW(classes.get(), clsid);
    }
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(1u, r.exitCode) << r.out << r.err;
    EXPECT_EQ(std::vector<std::string>{monitor::WrongBitnessText(base::OwnBitness(), base::OtherBitness())},
              testsupport::SplitLines(r.err));
    EXPECT_EQ("", r.out);
}

TEST(MonitorLines, WrongBitnessNamesBothBitnessesAndTheWayOut) {
    EXPECT_EQ(
        "vandrel-monitor: the Vandrel control is registered for 32-bit programs only, and this "
        "vandrel-monitor is 64-bit; run the 32-bit vandrel-monitor.exe that comes with that "
        "Vandrel.ocx, or register the 64-bit Vandrel.ocx with regsvr32",
        monitor::WrongBitnessText(64, 32));
}

}  // namespace
