// The measurement rules: the alarm levels a sequence of values gives, the checks and the two-point
// scale, and the settings file, saved, loaded back and edited by hand into errors.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <ostream>
#include <fstream>
#include <string>
#include <vector>

#include "engine/measurement_rules.h"
#include "engine/settings_file.h"
#include "tests/support/hresult_matchers.h"

using engine::AlarmLevel;
using engine::ChannelRules;

namespace fs = std::filesystem;

namespace {

constexpr double kNaN = engine::kNoLimit;
constexpr AlarmLevel N = AlarmLevel::kNormal, H = AlarmLevel::kHigh, HH = AlarmLevel::kHighHigh,
                     L = AlarmLevel::kLow, LL = AlarmLevel::kLowLow;

ChannelRules Rules(double highHigh, double high, double low, double lowLow, double deadband = 0,
                   uint32_t onDelayMs = 0, bool latching = false) {
    ChannelRules r;
    r.highHigh = highHigh, r.high = high, r.low = low, r.lowLow = lowLow;
    r.deadband = deadband, r.onDelayMs = onDelayMs, r.latching = latching;
    return r;
}

// One cycle's value and time, or an Acknowledge; then the shown level and whether it changed.
struct Step {
    double value;
    uint64_t ms;
    AlarmLevel shown;
    bool changed;
    bool acknowledge = false;
};
Step S(double value, uint64_t ms, AlarmLevel shown, bool changed) { return {value, ms, shown, changed}; }
Step Ack(AlarmLevel shown, bool changed) { return {0, 0, shown, changed, true}; }

struct AlarmCase {
    const char* name;
    ChannelRules rules;
    std::vector<Step> steps;
};

void PrintTo(const AlarmCase& c, std::ostream* os) { *os << c.name; }
class AlarmRules : public testing::TestWithParam<AlarmCase> {};
TEST_P(AlarmRules, ShowTheLevelAfterEachStep) {
    engine::AlarmTracker tracker;
    int n = 0;
    for (const Step& s : GetParam().steps) {
        const bool changed =
            s.acknowledge ? tracker.Acknowledge() : tracker.Judge(GetParam().rules, s.value, s.ms);
        EXPECT_EQ(s.shown, tracker.Shown()) << "step " << n;
        EXPECT_EQ(s.changed, changed) << "step " << n;
        ++n;
    }
}
INSTANTIATE_TEST_SUITE_P(
    Engine, AlarmRules,
    testing::Values(
        AlarmCase{"ChatterInTheDeadband",
                  Rules(kNaN, 10, kNaN, kNaN, 1),
                  {S(10, 0, H, true), S(9.5, 10, H, false), S(10.2, 20, H, false), S(9, 30, H, false),
                   S(8.99, 40, N, true), S(9.5, 50, N, false), S(10, 60, H, true)}},
        // The deadband holds no delay: 9.5 starts it again; it raises at the delay's end exactly.
        AlarmCase{"LeavesBeforeTheDelay",
                  Rules(kNaN, 10, kNaN, kNaN, 1, 100, true),
                  {S(11, 0, N, false), S(11, 50, N, false), S(9.5, 60, N, false), S(11, 100, N, false),
                   S(11, 199, N, false), S(11, 200, H, true)}},
        AlarmCase{"EachLevelCountsItsOwnDelay",
                  Rules(20, 10, kNaN, kNaN, 0, 100),
                  {S(15, 0, N, false), S(25, 50, N, false), S(25, 100, H, true), S(25, 150, HH, true)}},
        AlarmCase{"LatchKeptUntilAcknowledged",
                  Rules(20, 10, kNaN, kNaN, 0, 0, true),
                  {S(15, 0, H, true), S(25, 10, HH, true), S(15, 20, HH, false), S(5, 30, HH, false),
                   Ack(N, true), Ack(N, false), S(15, 40, H, true), S(25, 50, HH, true), S(15, 60, HH, false),
                   Ack(H, true), S(5, 70, H, false), Ack(N, true)}},
        AlarmCase{"LowSideMirrors",
                  Rules(kNaN, kNaN, -10, -20, 1),
                  {S(-10, 0, L, true), S(-9.5, 10, L, false), S(-9, 20, L, false), S(-8.99, 30, N, true),
                   S(-25, 40, LL, true), S(-19.5, 50, LL, false), S(-18.9, 60, L, true)}},
        // NaN neither raises, clears nor stops a delay.
        AlarmCase{"NaNChangesNothing",
                  Rules(kNaN, 10, kNaN, kNaN, 0, 100),
                  {S(kNaN, 0, N, false), S(11, 0, N, false), S(kNaN, 50, N, false), S(11, 100, H, true),
                   S(kNaN, 110, H, false), S(0, 120, N, true)}},
        // Limits that overlap the deadband: both sides held, the more severe shows, else the newer.
        AlarmCase{"BothSidesHeldTheNewestShows",
                  Rules(kNaN, 10, 9, kNaN, 5),
                  {S(11, 0, H, true), S(8, 10, L, true), S(11, 20, L, false)}},
        AlarmCase{"BothSidesHeldTheMoreSevereShows",
                  Rules(20, kNaN, 9, kNaN, 15),
                  {S(25, 0, HH, true), S(8, 10, HH, false), S(4, 20, L, true)}}),
    [](const testing::TestParamInfo<AlarmCase>& test) { return std::string(test.param.name); });

// The user guide's worked example, row by row: high 100, high-high 120, deadband 5, cycles 250 ms
// apart; each row with no delay, with a delay of 500 ms, and latched.
Step At(int cycle, double value, AlarmLevel shown, bool changed) {
    return S(value, static_cast<uint64_t>(cycle) * 250, shown, changed);
}
INSTANTIATE_TEST_SUITE_P(
    Guide, AlarmRules,
    testing::Values(
        AlarmCase{"OnTheLimit", Rules(120, 100, kNaN, kNaN, 5), {At(0, 99, N, false), At(1, 100, H, true)}},
        AlarmCase{"OnTheLimitDelayed",
                  Rules(120, 100, kNaN, kNaN, 5, 500),
                  {At(0, 99, N, false), At(1, 100, N, false)}},
        AlarmCase{"Chatter",
                  Rules(120, 100, kNaN, kNaN, 5),
                  {At(0, 100, H, true), At(1, 97, H, false), At(2, 101, H, false), At(3, 96, H, false),
                   At(4, 100, H, false)}},
        AlarmCase{"ChatterDelayed",
                  Rules(120, 100, kNaN, kNaN, 5, 500),
                  {At(0, 100, N, false), At(1, 97, N, false), At(2, 101, N, false), At(3, 96, N, false),
                   At(4, 100, N, false)}},
        AlarmCase{"StaysDelayed",
                  Rules(120, 100, kNaN, kNaN, 5, 500),
                  {At(0, 101, N, false), At(1, 101, N, false), At(2, 101, H, true)}},
        AlarmCase{"ComesAndGoes",
                  Rules(120, 100, kNaN, kNaN, 5),
                  {At(0, 101, H, true), At(1, 94, N, true), At(2, 101, H, true), At(3, 94, N, true)}},
        AlarmCase{"ComesAndGoesDelayed",
                  Rules(120, 100, kNaN, kNaN, 5, 500),
                  {At(0, 101, N, false), At(1, 94, N, false), At(2, 101, N, false), At(3, 94, N, false)}},
        AlarmCase{"ComesAndGoesLatched",
                  Rules(120, 100, kNaN, kNaN, 5, 0, true),
                  {At(0, 101, H, true), At(1, 94, H, false), At(2, 101, H, false), At(3, 94, H, false)}},
        AlarmCase{"SkipsHigh",
                  Rules(120, 100, kNaN, kNaN, 5),
                  {At(0, 90, N, false), At(1, 130, HH, true), At(2, 130, HH, false)}},
        AlarmCase{"SkipsHighDelayed",
                  Rules(120, 100, kNaN, kNaN, 5, 500),
                  {At(0, 90, N, false), At(1, 130, N, false), At(2, 130, N, false), At(3, 130, HH, true)}},
        AlarmCase{"ClearsStepByStep",
                  Rules(120, 100, kNaN, kNaN, 5),
                  {At(0, 130, HH, true), At(1, 110, H, true), At(2, 94, N, true)}},
        AlarmCase{"ClearsStepByStepLatched",
                  Rules(120, 100, kNaN, kNaN, 5, 0, true),
                  {At(0, 130, HH, true), At(1, 110, HH, false), At(2, 94, HH, false), Ack(N, true)}}),
    [](const testing::TestParamInfo<AlarmCase>& test) { return std::string(test.param.name); });

// Each check refuses what it names and takes the rest.
TEST(Checks, RefuseOrTake) {
    using namespace engine;
    const wchar_t* const refused[] = {CheckGain(0),
                                      CheckGain(INFINITY),
                                      CheckGain(kNaN),
                                      CheckOffset(kNaN),
                                      CheckLimit(-INFINITY),
                                      CheckDeadband(-0.1),
                                      CheckDeadband(kNaN),
                                      CheckOnDelay(-1),
                                      CheckOnDelay(1.5),
                                      CheckOnDelay(86400001),
                                      CheckOnDelay(kNaN),
                                      CheckLimitOrder(Rules(kNaN, 4, 5, kNaN)),
                                      CheckLimitOrder(Rules(1, kNaN, kNaN, 2)),
                                      CheckRules(Rules(2, 1, 0, -1, -1))};
    for (size_t i = 0; i < std::size(refused); ++i) EXPECT_NE(nullptr, refused[i]) << "refused " << i;
    const wchar_t* const taken[] = {CheckGain(-2.5),
                                    CheckOffset(-1e300),
                                    CheckLimit(kNaN),
                                    CheckDeadband(0),
                                    CheckOnDelay(0),
                                    CheckOnDelay(86400000),
                                    CheckLimitOrder(Rules(kNaN, 4, 4, kNaN)),
                                    CheckLimitOrder(Rules(kNaN, kNaN, kNaN, kNaN)),
                                    CheckRules(ChannelRules{})};
    for (size_t i = 0; i < std::size(taken); ++i) EXPECT_EQ(nullptr, taken[i]) << "taken " << i;
}

TEST(Checks, SayWhichLimitsAreOutOfOrder) {
    EXPECT_STREQ(L"The low limit is above the high limit.", engine::CheckLimitOrder(Rules(kNaN, 4, 5, kNaN)));
    EXPECT_STREQ(L"The high limit is above the high-high limit.", engine::CheckLimitOrder(Rules(4, 5, 1, 0)));
}

struct ScaleCase {
    const char* name;
    double raw1, value1, raw2, value2;
    bool refused;
    double gain, offset;
};
void PrintTo(const ScaleCase& c, std::ostream* os) { *os << c.name; }
class TwoPoints : public testing::TestWithParam<ScaleCase> {};
TEST_P(TwoPoints, GiveGainAndOffsetOrChangeNothing) {
    const ScaleCase& c = GetParam();
    double gain = 7, offset = 8;
    EXPECT_EQ(c.refused,
              engine::TwoPointScale(c.raw1, c.value1, c.raw2, c.value2, &gain, &offset) != nullptr);
    EXPECT_DOUBLE_EQ(c.refused ? 7 : c.gain, gain);
    EXPECT_DOUBLE_EQ(c.refused ? 8 : c.offset, offset);
}
INSTANTIATE_TEST_SUITE_P(Engine, TwoPoints,
                         testing::Values(ScaleCase{"Rising", 0, 0, 100, 50, false, 0.5, 0},
                                         ScaleCase{"Offset", 100, 20, 200, 30, false, 0.1, 10},
                                         ScaleCase{"Falling", -10, 5, 10, -5, false, -0.5, 0},
                                         ScaleCase{"EqualRaws", 5, 1, 5, 2, true, 0, 0},
                                         ScaleCase{"EqualValuesGain0", 1, 3, 2, 3, true, 0, 0},
                                         ScaleCase{"Infinity", 0, 0, 1, INFINITY, true, 0, 0},
                                         ScaleCase{"NaN", kNaN, 0, 1, 1, true, 0, 0},
                                         ScaleCase{"GainOverflows", 0, 0, 1e-300, 1e300, true, 0, 0}),
                         [](const testing::TestParamInfo<ScaleCase>& test) {
                             return std::string(test.param.name);
                         });

// A folder of the test's own, emptied first.
fs::path Folder() {
    const fs::path folder = fs::temp_directory_path() / "vandrel-settings" /
                            testing::UnitTest::GetInstance()->current_test_info()->name();
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    fs::create_directories(folder);
    return folder;
}

// The file's lines, as UTF-16 after its byte-order mark.
std::vector<std::wstring> ReadLines(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(bytes.size() >= 2 && bytes.compare(0, 2, "\xFF\xFE") == 0) << "UTF-16 with a byte-order mark";
    std::wstring text((bytes.size() - 2) / 2, L'\0');
    std::memcpy(text.data(), bytes.data() + 2, text.size() * 2);
    std::vector<std::wstring> lines;
    for (size_t start = 0, end; start < text.size(); start = end + 1) {
        end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

// As Notepad would: key's value in [section] becomes value, the file stays UTF-16. The key's line.
int EditValue(const fs::path& path, const std::wstring& section, const std::wstring& key,
              const std::wstring& value) {
    std::vector<std::wstring> lines = ReadLines(path);
    bool inSection = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].rfind(L"[", 0) == 0) inSection = lines[i].rfind(L"[" + section + L"]", 0) == 0;
        if (!inSection || lines[i].rfind(key + L"=", 0) != 0) continue;
        lines[i] = key + L"=" + value + L"\r";
        std::wstring text = L"\xFEFF";
        for (const std::wstring& line : lines) text += line + L"\n";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(text.data()), static_cast<std::streamsize>(text.size() * 2));
        return static_cast<int>(i) + 1;
    }
    ADD_FAILURE() << "no key to edit";
    return 0;
}

engine::ChannelSet Awkward() {
    engine::ChannelSet set;
    set[0] = {L"Ofen \u00B0C", L"\u00B5m", Rules(1e300, 1e-300, kNaN, -123.456, 0.1, 1500, true)};
    set[0].rules.gain = 0.1;
    set[0].rules.offset = -123.456;
    set[1] = {L" padded ", L"\"quoted\"", Rules(kNaN, 40, 30, kNaN)};
    set[7].rules.gain = -1.0 / 3;
    return set;
}

TEST(SettingsFile, SavesAndLoadsBackEveryValueAndKeepsOthersKeys) {
    const std::wstring path = (Folder() / L"oven.ini").wstring();
    std::wstring why;
    ASSERT_HR(S_OK, engine::SaveSettingsFile(path, Awkward(), &why)) << testing::PrintToString(why);
    ASSERT_TRUE(::WritePrivateProfileStringW(L"Channel1", L"Colour", L"red", path.c_str()));
    ASSERT_HR(S_OK, engine::SaveSettingsFile(path, Awkward(), &why));
    engine::ChannelSet loaded;
    ASSERT_HR(S_OK, engine::LoadSettingsFile(path, &loaded, &why)) << testing::PrintToString(why);
    for (int c = 0; c < engine::kMeasuredChannels; ++c)
        EXPECT_TRUE(Awkward()[c] == loaded[c]) << "channel " << c + 1;
    wchar_t colour[16] = {};
    ::GetPrivateProfileStringW(L"Channel1", L"Colour", L"", colour, 16, path.c_str());
    EXPECT_STREQ(L"red", colour);
}

// A value edited into an error: loading names the file, section, key and line, and changes nothing.
TEST(SettingsFile, RefusesAnEditedFileNamingTheLineAndChangesNothing) {
    const fs::path path = Folder() / L"oven.ini";
    const struct {
        const wchar_t *section, *key, *value, *keyNamed, *says;
    } kEdits[] = {{L"Channel2", L"Gain", L"abc", L"Gain", L"\"abc\" is not a number."},
                  {L"Channel2", L"Offset", L"1,5", L"Offset", L"\"1,5\" is not a number."},
                  {L"Channel4", L"Deadband", L"", L"Deadband", L"\"\" is not a number."},
                  {L"Channel8", L"Gain", L"0", L"Gain", L"\"0\" is not taken: the gain"},
                  {L"Channel1", L"Latch", L"yes", L"Latch", L"\"yes\" is not 0 or 1."},
                  {L"Channel2", L"Low", L"50", L"High", L"the low limit is above the high limit."}};
    for (const auto& edit : kEdits) {
        std::wstring why;
        ASSERT_HR(S_OK, engine::SaveSettingsFile(path.wstring(), Awkward(), &why));
        int line = EditValue(path, edit.section, edit.key, edit.value);
        if (edit.keyNamed != std::wstring(edit.key))
            line = EditValue(path, edit.section, edit.keyNamed, L"40");
        engine::ChannelSet target;
        target[5].name = L"kept";
        EXPECT_HR(E_INVALIDARG, engine::LoadSettingsFile(path.wstring(), &target, &why));
        const std::wstring expected = path.wstring() + L", [" + edit.section + L"] " + edit.keyNamed +
                                      L", line " + std::to_wstring(line) + L": " + edit.says;
        EXPECT_EQ(0u, why.find(expected)) << testing::PrintToString(why);
        EXPECT_EQ(L"kept", target[5].name);
        EXPECT_TRUE(target[1] == engine::ChannelSettings{});
    }
}

// A file someone wrote in ANSI with few keys: the missing ones take their defaults, and the line
// named is the one in the channel's section, not an earlier key of the same name elsewhere.
TEST(SettingsFile, ReadsAnAnsiFileWithMissingKeys) {
    const fs::path path = Folder() / L"few.ini";
    std::ofstream(path, std::ios::binary) << "[Other]\r\nHigh=x\r\n[Channel1]\r\nGain=2\r\nHigh=\r\n";
    engine::ChannelSet loaded, expected;
    expected[0].rules.gain = 2;
    std::wstring why;
    ASSERT_HR(S_OK, engine::LoadSettingsFile(path.wstring(), &loaded, &why)) << testing::PrintToString(why);
    EXPECT_TRUE(expected == loaded);
    std::ofstream(path, std::ios::binary | std::ios::app) << "[Channel3]\r\nHigh=x\r\n";
    EXPECT_HR(E_INVALIDARG, engine::LoadSettingsFile(path.wstring(), &loaded, &why));
    EXPECT_NE(std::wstring::npos, why.find(L"[Channel3] High, line 7: \"x\" is not a number."))
        << testing::PrintToString(why);
}

TEST(SettingsFile, MissingFileIsNamedAndChangesNothing) {
    const std::wstring path = (Folder() / L"none.ini").wstring();
    engine::ChannelSet target;
    target[0].unit = L"kept";
    std::wstring why;
    EXPECT_HR(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), engine::LoadSettingsFile(path, &target, &why));
    EXPECT_NE(std::wstring::npos, why.find(path)) << testing::PrintToString(why);
    EXPECT_EQ(L"kept", target[0].unit);
}

}  // namespace
