// The samples of samples/ run as a user runs them, against Vandrel.ocx registered by regsvr32: the
// VBScript and JScript programs under cscript, which drain whole cycles, and the C++ client as
// built, which drains them when the control's DataReady event reaches its sink; the VBScript
// program that scales, zeroes and watches channel 1 against its limits; and the one that draws the
// cycles with a windowless chart and saves its picture. Each runs with the system
// tools and the build of each bitness whose programs start on this machine (the 32-bit side needs
// a machine that runs 32-bit programs, SysWOW64 and the win32 build); a side that cannot run is
// skipped with the reason. Also what the
// C++ client reports when the control cannot be created, the cases of the user guide's
// troubleshooting table. HKEY_CLASSES_ROOT is put back after every test.
#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "base/unique_handle.h"
#include "harness/run_process.h"
#include "tests/activex/expected_registration.h"
#include "tests/activex/registry_snapshot.h"
#include "tests/support/call_site.h"
#include "tests/support/run_process.h"
#include "vandrel_h.h"

using namespace testsupport;
using harness::ProcessResult;
using harness::RunProcess;

namespace {

// Fixed words at the samples' port 356, every channel 0x8A8A (-2698). One word with two equal
// bytes for all: the simulated board begins a new frame when a sampler leaves it alone for 10 ms,
// which a busy machine can cause in the middle of a cycle; with these words such a cycle still
// reads what the others do.
constexpr wchar_t kBoards[] = L"356:words=0x8A8A/0x8A8A/0x8A8A/0x8A8A/0x8A8A/0x8A8A/0x8A8A/0x8A8A";

// What each sample prints: its settings, the first five cycles with their local times, "done".
// A time that shows no milliseconds in five cycles would be one without them; Wine's JScript turns
// a Date variant into whole seconds (measured), so a JScript run is not held to them.
testing::AssertionResult PrintsFiveCycles(const std::string& out, bool withMilliseconds) {
    const std::vector<std::string> lines = SplitLines(out);
    if (lines.size() != 7 || lines[0] != "Vandrel at port 356, 4 channels, every 250 ms" ||
        lines[6] != "done") {
        return testing::AssertionFailure() << "not the settings, five cycles and done";
    }
    bool milliseconds = false;
    for (int n = 1; n <= 5; ++n) {
        const std::regex cycle("cycle " + std::to_string(n) +
                               " at [0-2][0-9]:[0-5][0-9]:[0-5][0-9]\\.([0-9]{3}): -2698 -2698 -2698 -2698");
        std::smatch match;
        if (!std::regex_match(lines[n], match, cycle)) return testing::AssertionFailure() << "line " << n;
        milliseconds = milliseconds || match[1] != "000";
    }
    if (withMilliseconds && !milliseconds) return testing::AssertionFailure() << "no milliseconds";
    return testing::AssertionSuccess();
}

std::wstring Quoted(const std::wstring& s) { return L"\"" + s + L"\""; }

bool Exists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The system tools and the build of one bitness, seen from this process.
struct Side {
    int bits = 0;
    std::wstring system;  // folder of regsvr32.exe and cscript.exe, with a trailing backslash
    std::wstring bin;     // the build's bin folder of that bitness
    std::string skip;     // why this side cannot run here; empty when it can

    std::wstring Ocx() const { return bin + L"Vandrel.ocx"; }
};

constexpr int kOwnBits = sizeof(void*) * 8;

Side SideOf(int bits) {
    Side side;
    side.bits = bits;
    wchar_t folder[MAX_PATH] = {};
    if (bits == kOwnBits) {
        ::GetSystemDirectoryW(folder, MAX_PATH);
        side.bin = BinFolder();
    } else if (bits == 32) {
        side.skip = No32BitProgramsReason();
        if (!side.skip.empty() || !::GetSystemWow64DirectoryW(folder, MAX_PATH)) return side;
        side.bin = BinFolder() + L"..\\..\\win32\\bin\\";
    } else {
        side.skip = "a 32-bit process cannot reach the 64-bit system folder under Wine (no Sysnative)";
        return side;
    }
    side.system = std::wstring(folder) + L"\\";
    if (!Exists(side.system + L"cscript.exe")) {
        side.skip = "no cscript.exe in the " + std::to_string(bits) + "-bit system folder";
    } else if (!Exists(side.Ocx())) {
        side.skip = "no " + std::to_string(bits) + "-bit build beside this one (build/win32)";
    }
    return side;
}

std::wstring ScriptCommand(const Side& side, const wchar_t* file) {
    return Quoted(side.system + L"cscript.exe") + L" //nologo " + Quoted(side.bin + L"samples\\" + file);
}

ProcessResult RunSample(const std::wstring& command) {
    return RunProcess(command, 60000, {{L"DIRECTPORT_SIM", kBoards}});
}

// Registration by regsvr32 of the given side; HKEY_CLASSES_ROOT as it was comes back at the end.
class Samples : public testing::Test {
protected:
    void SetUp() override {
        std::vector<std::wstring> touched = keys_.Touched();
        if (kIs64Bit) {
            touched.push_back(L"wow6432node\\" + keys_.control);
            touched.push_back(L"wow6432node\\" + keys_.page);
            touched.push_back(L"wow6432node\\" + keys_.channelsPage);
        }
        restorer_ = std::make_unique<ClassesRootRestorer>(touched);
        restorer_->Clear();
    }
    void TearDown() override {
        if (registered_)
            RunProcess(Quoted(registeredWith_ + L"regsvr32.exe") + L" /u /s " + Quoted(registeredOcx_));
        restorer_.reset();
    }
    void Register(const std::wstring& system, const std::wstring& ocx,
                  testsupport::CallSite caller = testsupport::CallSite::Here()) {
        const testsupport::CallerTrace fromCaller(caller);
        const ProcessResult r = RunProcess(Quoted(system + L"regsvr32.exe") + L" /s " + Quoted(ocx));
        ASSERT_EQ(0u, r.exitCode) << r.out << r.err;
        registered_ = true;
        registeredWith_ = system;
        registeredOcx_ = ocx;
    }

    RegistrationKeys keys_;
    std::unique_ptr<ClassesRootRestorer> restorer_;
    bool registered_ = false;
    std::wstring registeredWith_, registeredOcx_;
};

// --- the samples, each under each bitness -------------------------------------------------------

struct SampleCase {
    const char* name;
    int bits;
};

class SampleRun : public Samples, public testing::WithParamInterface<SampleCase> {};

TEST_P(SampleRun, SetsStartsPrintsFiveReadingsAndStops) {
    const SampleCase& c = GetParam();
    const Side side = SideOf(c.bits);
    if (!side.skip.empty()) GTEST_SKIP() << c.bits << "-bit run skipped: " << side.skip;
    Register(side.system, side.Ocx());

    const std::string name = c.name;
    const std::wstring command = name == "vbscript"  ? ScriptCommand(side, L"readings.vbs")
                                 : name == "jscript" ? ScriptCommand(side, L"readings.js")
                                                     : Quoted(side.bin + L"vandrel-readings.exe");
    const ProcessResult r = RunSample(command);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(0u, r.exitCode) << r.err;
    EXPECT_TRUE(PrintsFiveCycles(r.out, name != "jscript")) << r.out << r.err;
    EXPECT_EQ("", r.err);
}

INSTANTIATE_TEST_SUITE_P(Bitnesses, SampleRun,
                         testing::Values(SampleCase{"vbscript", 64}, SampleCase{"jscript", 64},
                                         SampleCase{"cpp", 64}, SampleCase{"vbscript", 32},
                                         SampleCase{"jscript", 32}, SampleCase{"cpp", 32}),
                         [](const testing::TestParamInfo<SampleCase>& test) {
                             return std::string(test.param.name) + std::to_string(test.param.bits);
                         });

// --- the scripts whose every line is known ---------------------------------------------------------

// Each line of what a script prints, as a pattern.
struct ScriptOutput {
    const char* name;
    const wchar_t* file;
    std::vector<std::string> lines;
};

const ScriptOutput kScripts[] = {
    // On the board of -2698s, channel 1 scaled by 0.5 reads -1349, zeroing gives the offset 1349,
    // and the zeroed 0 is at or below the low limit of 50: one low alarm, seen by polling, never
    // repeated (the script acknowledges what it saw and prints changes only), and no high one.
    {"measurements",
     L"measurements.vbs",
     {"Vandrel at port 356, 4 channels, every 250 ms", "Tank reads -1349 mbar", "zeroed: offset 1349",
      "alarms: high from 1500, low from 50, deadband 5", "alarm low: 0 mbar", "done"}},
    // The windowless chart watches every cycle beside the script's own reads, drops none, and
    // saves a picture that is not empty.
    {"chart",
     L"chart.vbs",
     {"Vandrel at port 356, 4 channels, every 20 ms", "chart of the last 2 s, from -32767 to 32767",
      "the script read 100 cycles, the chart dropped 0", "saved chart\\.png, [1-9][0-9]* bytes", "done"}},
};

class ScriptRun : public Samples, public testing::WithParamInterface<std::tuple<size_t, int>> {};

TEST_P(ScriptRun, PrintsWhatItShould) {
    const ScriptOutput& script = kScripts[std::get<0>(GetParam())];
    const Side side = SideOf(std::get<1>(GetParam()));
    if (!side.skip.empty()) GTEST_SKIP() << side.bits << "-bit run skipped: " << side.skip;
    Register(side.system, side.Ocx());

    const ProcessResult r = RunSample(ScriptCommand(side, script.file));
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(0u, r.exitCode) << r.err;
    const std::vector<std::string> lines = SplitLines(r.out);
    ASSERT_EQ(script.lines.size(), lines.size()) << r.out << r.err;
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_TRUE(std::regex_match(lines[i], std::regex(script.lines[i]))) << lines[i];
    EXPECT_EQ("", r.err);
}

INSTANTIATE_TEST_SUITE_P(Bitnesses, ScriptRun,
                         testing::Combine(testing::Range<size_t>(0, std::size(kScripts)),
                                          testing::Values(64, 32)),
                         [](const testing::TestParamInfo<std::tuple<size_t, int>>& test) {
                             return kScripts[std::get<0>(test.param)].name +
                                    std::to_string(std::get<1>(test.param));
                         });

// --- when the control cannot be created -----------------------------------------------------------

// Nothing registered: the ProgID is unknown. A script stops at CreateObject (error 429 on Windows;
// Wine's cscript ends without a message), so it never prints its last line.
TEST_F(Samples, NothingRegisteredIsAnUnknownProgId) {
    const Side side = SideOf(kOwnBits);
    const ProcessResult cpp = RunSample(Quoted(side.bin + L"vandrel-readings.exe"));
    EXPECT_EQ(1u, cpp.exitCode);
    EXPECT_EQ("", cpp.out);
    EXPECT_EQ(std::vector<std::string>{"Vandrel: failed with 0x800401F3"}, SplitLines(cpp.err));
    for (const wchar_t* script : {L"readings.vbs", L"measurements.vbs", L"chart.vbs", L"readings.js"}) {
        const ProcessResult r = RunSample(ScriptCommand(side, script));
        EXPECT_EQ(std::string::npos, r.out.find("done")) << r.out;
    }
}

// Only the other bitness registered: the ProgID (shared by both registry views) names the class,
// but this view has no class key. That is what a host of the wrong bitness meets.
TEST_F(Samples, ProgIdWithoutClassOfThisBitnessIsClassNotRegistered) {
    SetKey(keys_.progId, L"Vandrel Control");
    SetKey(keys_.progId + L"\\CLSID", GuidText(CLSID_Vandrel).c_str());
    const ProcessResult cpp = RunSample(Quoted(SideOf(kOwnBits).bin + L"vandrel-readings.exe"));
    EXPECT_EQ(1u, cpp.exitCode);
    EXPECT_EQ(std::vector<std::string>{"Vandrel: failed with 0x80040154"}, SplitLines(cpp.err));
}

// Registered, but DirectPort.dll is neither beside the control nor anywhere else on the search
// path: the module cannot load.
TEST_F(Samples, MissingDirectPortIsModuleNotFound) {
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"vandrel-samples-test\\";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    for (const wchar_t* file : {L"Vandrel.ocx", L"DirectPort.dll", L"vandrel-readings.exe"}) {
        ASSERT_TRUE(::CopyFileW((BinFolder() + file).c_str(), (folder + file).c_str(), FALSE)) << file;
    }
    wchar_t system[MAX_PATH] = {};
    ::GetSystemDirectoryW(system, MAX_PATH);
    Register(std::wstring(system) + L"\\", folder + L"Vandrel.ocx");
    registered_ = false;  // unregistering needs DirectPort.dll too; the restorer puts the keys back
    ASSERT_TRUE(::DeleteFileW((folder + L"DirectPort.dll").c_str()));

    // The module itself reports "module not found". COM hands that on to the client on Windows
    // (0x8007007E); Wine's COM answers "access denied" (0x80070005) for any in-process server that
    // does not load.
    {
        base::UniqueModule module(
            ::LoadLibraryExW((folder + L"Vandrel.ocx").c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
        const DWORD error = ::GetLastError();
        EXPECT_FALSE(module);
        EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), error);
    }
    const ProcessResult cpp = RunSample(Quoted(folder + L"vandrel-readings.exe"));
    EXPECT_EQ(1u, cpp.exitCode);
    const std::vector<std::string> err = SplitLines(cpp.err);
    EXPECT_TRUE(err == std::vector<std::string>{"Vandrel: failed with 0x8007007E"} ||
                err == std::vector<std::string>{"Vandrel: failed with 0x80070005"})
        << cpp.err;

    // regsvr32 meets the same failure when it loads the module.
    const ProcessResult again =
        RunProcess(SystemTool(L"regsvr32.exe") + L" /s " + Quoted(folder + L"Vandrel.ocx"));
    EXPECT_NE(0u, again.exitCode);

    for (const wchar_t* file : {L"Vandrel.ocx", L"vandrel-readings.exe"})
        ::DeleteFileW((folder + file).c_str());
    ::RemoveDirectoryW(folder.c_str());
}

}  // namespace
