// vandrel-monitor's argument parsing on random command lines. The generator builds each line from
// the options' rules, valid or with a fault it knows of: a valid line must give exactly the options
// written, any other line one printable line of error (the program then exits with its usage code).
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "base/text.h"
#include "tests/support/fuzz_support.h"
#include "tools/monitor/monitor.h"

using testsupport::FuzzRandom;

namespace {

struct Value {
    const wchar_t* text;
    std::optional<LONG> number;  // nullopt: the option must refuse it
};

const Value kAddresses[] = {
    {L"356", 356},     {L"0x164", 356},    {L"0X170", 368},   {L"0", 0},
    {L"65535", 65535}, {L"0xFFFF", 65535}, {L"65536", {}},    {L"0x10000", {}},
    {L"-1", {}},       {L"abc", {}},       {L"", {}},         {L"3.5", {}},
    {L" 356", {}},     {L"356 ", {}},      {L"+356", {}},     {L"99999999999999999999", {}},
    {L"0x", {}},       {L"1e3", {}},       {L"356\x0001", {}}};
const Value kIntervals[] = {{L"1", 1},    {L"2160", 2160},  {L"3600000", 3600000}, {L"0x10", 16},
                            {L"0", {}},   {L"3600001", {}}, {L"-5", {}},           {L"10ms", {}},
                            {L"1.0", {}}, {L"", {}},        {L"\x00E9", {}}};
const Value kChannels[] = {{L"1", 1},  {L"4", 4},   {L"8", 8},   {L"0x8", 8},   {L"2", {}},
                           {L"0", {}}, {L"16", {}}, {L"-8", {}}, {L"eight", {}}};
// Durations in milliseconds.
const Value kDurations[] = {{L"1", 1000},      {L"0.5", 500}, {L".25", 250}, {L"2.25", 2250},
                            {L"1e3", 1000000}, {L"0", {}},    {L"-1", {}},   {L"0.0001", {}},
                            {L"inf", {}},      {L"nan", {}},  {L"1s", {}},   {L"", {}},
                            {L"99999999", {}}, {L" 1", {}}};

struct Line {
    std::vector<std::wstring> args;
    bool valid = true;
    monitor::Options expected;
};

void AddOption(FuzzRandom& r, Line* line, const wchar_t* name, const Value& value,
               std::optional<LONG>* field) {
    if (r.OneIn(2)) {
        line->args.push_back(std::wstring(name) + L"=" + value.text);
    } else {
        line->args.push_back(name);
        line->args.push_back(value.text);
    }
    if (!value.number) line->valid = false;
    if (field) *field = value.number;
}

Line WriteLine(FuzzRandom& r) {
    Line line;
    for (UINT i = 0, n = r.Below(6); i < n; ++i) {
        switch (r.Below(12)) {
            case 0:
            case 1: AddOption(r, &line, L"--address", r.Pick(kAddresses), &line.expected.address); break;
            case 2:
            case 3: AddOption(r, &line, L"--interval", r.Pick(kIntervals), &line.expected.interval); break;
            case 4: AddOption(r, &line, L"--channels", r.Pick(kChannels), &line.expected.channels); break;
            case 5: {
                std::optional<LONG> ms;
                AddOption(r, &line, L"--duration", r.Pick(kDurations), &ms);
                if (ms) line.expected.durationMs = static_cast<ULONGLONG>(*ms);
                break;
            }
            case 6:
                line.args.push_back(r.OneIn(8) ? L"--csv=1" : L"--csv");
                line.valid = line.valid && line.args.back() == L"--csv";
                line.expected.csv = true;
                break;
            case 7: {
                static const wchar_t* const kHelp[] = {L"--help", L"-h", L"/?"};
                line.args.push_back(r.Pick(kHelp));
                line.expected.help = true;
                break;
            }
            case 8: {
                // A value-taking option left without its value at the end of the line.
                static const wchar_t* const kNames[] = {L"--address",  L"--interval", L"--channels",
                                                        L"--duration", L"--record",   L"--settings"};
                line.args.push_back(r.Pick(kNames));
                line.valid = false;
                return line;
            }
            case 9: {
                // For either file, any file name but an empty one, and one that begins with '-' only
                // after '=' (alone it is an option written in place of a forgotten name).
                static const wchar_t* const kFiles[] = {L"run.csv", L"C:\\d\\a b.csv", L"\x4E2D.csv", L"-x",
                                                        L""};
                const std::wstring file = r.Pick(kFiles);
                const bool joined = r.OneIn(2), settings = r.OneIn(2);
                const std::wstring name = settings ? L"--settings" : L"--record";
                line.args.push_back(joined ? name + L"=" + file : name);
                if (!joined) line.args.push_back(file);
                line.valid = line.valid && !file.empty() && (joined || file[0] != L'-');
                (settings ? line.expected.settings : line.expected.record) = file;
                break;
            }
            default: {
                static const wchar_t* const kStrays[] = {L"--Address=5",
                                                         L"-address",
                                                         L"--speed",
                                                         L"356",
                                                         L"",
                                                         L"--",
                                                         L"-",
                                                         L"\xFF0D\xFF0D"
                                                         L"csv",
                                                         L"--csv\n",
                                                         L"\x4E2D\x6587"};
                line.args.push_back(r.Pick(kStrays));
                line.valid = false;
                break;
            }
        }
    }
    return line;
}

bool SameOptions(const monitor::Options& a, const monitor::Options& b) {
    return a.address == b.address && a.interval == b.interval && a.channels == b.channels &&
           a.durationMs == b.durationMs && a.csv == b.csv && a.help == b.help && a.record == b.record &&
           a.settings == b.settings;
}

}  // namespace

TEST(MonitorArgumentsFuzz, ValidLinesGiveTheirOptionsAndOthersOneLineOfError) {
    testsupport::FuzzRun run(7, "LINES", 50000);
    uint64_t accepted = 0;
    for (uint64_t n = 0; run.More(n); ++n) {
        const Line line = WriteLine(run.random);
        monitor::Options options;
        options.csv = true;  // stale values the parser must reset
        options.record = L"stale.csv";
        options.settings = L"stale.ini";
        std::string error = "stale";
        const bool parsed = monitor::ParseArguments(line.args, &options, &error);
        bool ok = parsed == line.valid;
        if (ok && parsed) ok = SameOptions(options, line.expected);
        if (ok && !parsed) {
            ok = !error.empty() && error != "stale";
            for (char c : error) ok = ok && c >= 32 && c < 127;
        }
        accepted += parsed;
        if (!ok) {
            run.Failed();
            std::string shown;
            for (const auto& a : line.args) shown += " [" + base::PrintableAscii(a) + "]";
            ADD_FAILURE() << "line" << shown << ": " << (parsed ? "accepted" : "refused with '" + error + "'")
                          << ", expected " << (line.valid ? "accepted" : "refused");
        }
    }
    run.Summary("Monitor arguments", "lines", {{"accepted", accepted}});
    EXPECT_GT(accepted, run.count / 10);
}
