// Measurements at work on cycles: the alarm queue a busy host drains late, the zero's history, and
// the record file of a sampler whose channels have settings.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/channel_sampler.h"
#include "engine/cycle_recorder.h"
#include "engine/measurements.h"
#include "tests/support/hresult_matchers.h"
#include "tests/support/sim_helpers.h"

namespace {

using engine::AlarmLevel;

engine::Cycle CycleOf(uint64_t number, int16_t value0, int16_t value1 = 0) {
    engine::Cycle c;
    c.number = number;
    c.time = 1000 * number;
    c.channels = 2;
    c.values[0] = value0;
    c.values[1] = value1;
    return c;
}

// A host that takes nothing for longer than the queue holds hears the newest changes, in order,
// and learns how many went; an acknowledge is a change of its own with the channel's last value.
TEST(Measurements, AQueueLeftUntakenKeepsTheNewestChangesAndCountsTheRest) {
    engine::Measurements m;
    engine::ChannelRules rules;
    rules.high = 10;
    rules.latching = true;
    m.SetRules(1, rules);
    m.BeginRun(7);
    engine::MeasuredValues out;
    const uint64_t cycles = engine::Measurements::kQueueCapacity + 5;
    rules.latching = false;
    m.SetRules(0, rules);
    for (uint64_t n = 1; n <= cycles; ++n) m.Judge(CycleOf(n, n % 2 ? 20 : 0, n == 3 ? 30 : 4), n, &out);
    // Channel 0 changes every cycle; channel 1 latched once, at cycle 3, which the queue let go.
    EXPECT_EQ(6u, m.Lost());
    std::vector<engine::AlarmChange> seen(engine::Measurements::kQueueCapacity + 1);
    ASSERT_EQ(engine::Measurements::kQueueCapacity, m.Peek(seen.data(), seen.size()));
    seen.pop_back();
    // Gone: channel 0's changes at cycles 1 to 5 and channel 1's at 3.
    EXPECT_EQ(6u, seen[0].cycle);
    EXPECT_EQ(AlarmLevel::kNormal, seen[0].level);
    EXPECT_EQ(cycles, seen.back().cycle);
    EXPECT_EQ(AlarmLevel::kHigh, m.Shown(1));
    m.Forget(seen.back().sequence);
    EXPECT_EQ(0u, m.Peek(seen.data(), seen.size()));

    m.Acknowledge(1);
    ASSERT_EQ(1u, m.Peek(seen.data(), 1));
    EXPECT_EQ(1, seen[0].channel);
    EXPECT_EQ(AlarmLevel::kNormal, seen[0].level);
    EXPECT_EQ(7u, seen[0].run);
    EXPECT_EQ(cycles, seen[0].cycle);
    EXPECT_EQ(4.0, seen[0].value);
    EXPECT_EQ(20.0, out.scaled[0]);
    EXPECT_EQ(AlarmLevel::kHigh, out.levels[0]);
}

// The zero averages the newest ten raw values of this run, and a new run forgets them.
TEST(Measurements, TheZeroAveragesTheNewestTenOfThisRun) {
    engine::Measurements m;
    engine::ChannelRules rules;
    rules.gain = 2;
    m.SetRules(0, rules);
    m.BeginRun(1);
    double mean = 0;
    EXPECT_FALSE(m.MeanRaw(0, &mean));
    engine::MeasuredValues out;
    for (int16_t n = 1; n <= 15; ++n)
        m.Judge(CycleOf(static_cast<uint64_t>(n), n), static_cast<uint64_t>(n), &out);
    ASSERT_TRUE(m.MeanRaw(0, &mean));
    EXPECT_EQ(10.5, mean);  // 6 to 15
    EXPECT_EQ(30.0, out.scaled[0]);
    m.BeginRun(2);
    EXPECT_FALSE(m.MeanRaw(0, &mean));
}

// With settings the file keeps the raw columns and adds the scaled ones, quoted where their names
// need it, and marks each alarm change right after the row of its cycle.
TEST(MeasuredRecording, AddsScaledColumnsAndMarksAlarmsAfterTheirRows) {
    testsupport::SimBoards sim("356:words=1/2/3/4/5/6/7/8");
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / "vandrel-recorder" / "measured";
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    fs::create_directories(folder);
    CChannelSampler s;
    s.SetInterval(1);
    s.SetChannelNumber(8);
    engine::ChannelRules rules;
    rules.gain = 0.5;
    rules.offset = 1;
    rules.high = 1.5;
    s.Measured().SetRules(0, rules);
    engine::CycleRecorder recorder(s);
    const std::vector<std::string> names = {
        "Oven [\xC2\xB0"
        "C]",
        "a,\"b\"",
        "c",
        "d",
        "e",
        "f",
        "g",
        "h"};
    ASSERT_HR(S_OK, recorder.Record((folder / "m.csv").wstring(), 1000, 8, names));
    ASSERT_TRUE(s.Start());
    ASSERT_TRUE(testsupport::WaitUntil([&] { return s.CycleCount() >= 5; }));
    rules.high = 100;
    s.Measured().SetRules(0, rules);
    const uint64_t changedBy = s.CycleCount();
    ASSERT_TRUE(testsupport::WaitUntil([&] { return s.CycleCount() >= changedBy + 3; }));
    s.Stop();
    recorder.Close();

    std::ifstream in(folder / "m.csv", std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_GE(lines.size(), 8u);
    EXPECT_EQ(
        "cycle,time,ch0,ch1,ch2,ch3,ch4,ch5,ch6,ch7,Oven [\xC2\xB0"
        "C],\"a,\"\"b\"\"\",c,d,e,f,g,h",
        lines[0]);
    EXPECT_EQ(",1,2,3,4,5,6,7,8,1.5,2,3,4,5,6,7,8", lines[1].substr(lines[1].find(",1,2,")));
    EXPECT_EQ("# alarm ch0 high at cycle 1: 1.5", lines[2]);
    size_t cleared = 0;
    for (size_t k = 3; k < lines.size(); ++k) {
        if (lines[k].rfind("# alarm", 0) != 0) continue;
        EXPECT_EQ(0u, cleared) << lines[k];
        cleared = k;
        const std::string cycle = lines[k - 1].substr(0, lines[k - 1].find(','));
        EXPECT_EQ("# alarm ch0 normal at cycle " + cycle + ": 1.5", lines[k]);
        EXPECT_GT(std::stoull(cycle), 5u);
    }
    EXPECT_NE(0u, cleared);
}

}  // namespace
