// The form's handlers against an in-memory form and two recording controls: which calls they
// make, in which order and with which argument types, what the boxes, buttons and timers show
// afterwards, and where each handler stops when a step fails.
#include <gtest/gtest.h>

#include "base/com_ptr.h"
#include "tests/testtool/fakes.h"
#include "tests/support/hresult_matchers.h"
#include "testtool/handlers.h"

namespace {

using mirelo::BoxArray;
using mirelo::ButtonArray;
using mirelo::TimerName;
using testtool::FakeForm;
using testtool::Log;
using testtool::RecordingVandrel;

class HandlersTest : public ::testing::Test {
protected:
    Log log;
    FakeForm form{&log};
    base::ComPtr<RecordingVandrel> v1 =
        base::ComPtr<RecordingVandrel>::Attach(RecordingVandrel::Make(&log, "V1"));
    base::ComPtr<RecordingVandrel> v2 =
        base::ComPtr<RecordingVandrel>::Attach(RecordingVandrel::Make(&log, "V2"));
    mirelo::FormHandlers handlers{form, v1.get(), v2.get()};

    std::wstring Text(BoxArray a, int i) { return form.FakeBoxAt(a, i).CurrentText(); }
    void Type(BoxArray a, int i, const wchar_t* text) {
        form.FakeBoxAt(a, i).SetText(text);
        log.clear();
    }
    void TearDown() override {
        EXPECT_FALSE(v1->badFlags);
        EXPECT_FALSE(v2->badFlags);
    }
};

TEST_F(HandlersTest, LoadSetsAddressAndCountOnBothInstancesThenStopsBothTimers) {
    EXPECT_HR(S_OK, handlers.Load());
    EXPECT_EQ(log, (Log{"V1 put Address I2 370", "V1 put ChannelNumber I2 8", "V2 put Address I2 370",
                        "V2 put ChannelNumber I2 8", "read_timer1 interval 100", "read_timer1 disabled",
                        "read_timer2 interval 100", "read_timer2 disabled"}));
    EXPECT_EQ(v1->interval, 2160) << "the interval is left at the control's default";
}

TEST_F(HandlersTest, LoadEndsAtTheFirstFailingPut) {
    for (int step = 1; step <= 4; ++step) {
        SCOPED_TRACE(step);
        log.clear();
        v1->calls = v2->calls = 0;
        RecordingVandrel* failing = step <= 2 ? v1.get() : v2.get();
        failing->failAt = step <= 2 ? step : step - 2;
        EXPECT_HR(E_FAIL, handlers.Load());
        EXPECT_EQ(log.size(), static_cast<size_t>(step)) << "nothing after the failing put";
        EXPECT_TRUE(form.FakeTimerNamed(TimerName::kReadTimer1).enabled);
        EXPECT_EQ(form.FakeTimerNamed(TimerName::kReadTimer1).interval, 0u);
        failing->failAt = 0;
    }
}

// The entry conversion as the interval button applies it.
struct IntervalCase {
    const wchar_t* typed;
    bool put;            // false: the conversion overflowed and nothing happened
    SHORT value;         // what reaches the control
    const wchar_t* box;  // what the box shows afterwards
};

class IntervalEntryTest : public HandlersTest, public ::testing::WithParamInterface<IntervalCase> {};

TEST_P(IntervalEntryTest, BothBlocks) {
    const IntervalCase c = GetParam();
    for (int k = 0; k < 2; ++k) {
        SCOPED_TRACE(k);
        Type(BoxArray::kDataInterval, k, c.typed);
        const HRESULT hr = handlers.ReadIntervalClick(k);
        const std::string who = k == 0 ? "V1" : "V2";
        if (c.put) {
            EXPECT_HR(S_OK, hr);
            EXPECT_EQ(log.back(), who + " put Interval I2 " + std::to_string(c.value));
        } else {
            EXPECT_HR(DISP_E_OVERFLOW, hr);
            EXPECT_TRUE(log.empty());
        }
        EXPECT_EQ(Text(BoxArray::kDataInterval, k), c.box);
    }
    EXPECT_EQ(v1->interval, v2->interval);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, IntervalEntryTest,
    ::testing::Values(IntervalCase{L" 500 ", true, 500, L" 500 "}, IntervalCase{L"-1", true, 2160, L"2160"},
                      IntervalCase{L"-32768", true, 2160, L"2160"}, IntervalCase{L"-0.4", true, 0, L"-0.4"},
                      IntervalCase{L"abc", true, 0, L"abc"}, IntervalCase{L"", true, 0, L""},
                      IntervalCase{L"0", true, 0, L"0"}, IntervalCase{L"2.5", true, 2, L"2.5"},
                      IntervalCase{L"3.5", true, 4, L"3.5"}, IntervalCase{L"32767", true, 32767, L"32767"},
                      IntervalCase{L"40000", false, 0, L"40000"},
                      IntervalCase{L"32767.5", false, 0, L"32767.5"},
                      IntervalCase{L"-40000", false, 0, L"-40000"}));

TEST_F(HandlersTest, IntervalRewrittenBeforeAFailingPutStaysRewritten) {
    Type(BoxArray::kDataInterval, 0, L"-7");
    v1->failAt = 1;
    EXPECT_HR(E_FAIL, handlers.ReadIntervalClick(0));
    EXPECT_EQ(log, (Log{"data_interval(0) text 2160", "V1 put Interval I2 2160"}));
}

TEST_F(HandlersTest, AddressEntries) {
    struct Case {
        const wchar_t* typed;
        HRESULT hr;
        const char* call;
    } cases[] = {
        {L"-5", S_OK, "V2 put Address I2 0"},     {L"12abc", S_OK, "V2 put Address I2 12"},
        {L" 0x170", S_OK, "V2 put Address I2 0"}, {L"888.5", S_OK, "V2 put Address I2 888"},
        {L"1e3", S_OK, "V2 put Address I2 1000"}, {L"99999", DISP_E_OVERFLOW, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testtool::Narrow(c.typed));
        Type(BoxArray::kDataNum, 1, c.typed);
        EXPECT_EQ(handlers.ReadNumClick(1), c.hr);
        EXPECT_EQ(log, c.call ? Log{c.call} : Log{}) << "the address box is never rewritten";
        EXPECT_EQ(Text(BoxArray::kDataNum, 1), c.typed);
    }
    EXPECT_EQ(v1->calls, 0);
}

TEST_F(HandlersTest, StartCallsTheInstanceBeforeItRunsTheTimer) {
    v1->startResult = VARIANT_FALSE;  // a Start that reports failure does not hold the block back
    EXPECT_HR(S_OK, handlers.StartClick(0));
    EXPECT_EQ(log,
              (Log{"V1 call Start", "read_timer1 enabled", "cmd_Start(0) disabled", "cmd_Stop(0) enabled"}));

    log.clear();
    EXPECT_HR(S_OK, handlers.StartClick(1));
    EXPECT_EQ(log,
              (Log{"V2 call Start", "read_timer2 enabled", "cmd_Start(1) disabled", "cmd_Stop(1) enabled"}));
}

TEST_F(HandlersTest, StopStopsTheTimerBeforeItCallsTheInstance) {
    ASSERT_HR(S_OK, handlers.StartClick(1));
    log.clear();
    EXPECT_HR(S_OK, handlers.StopClick(1));
    EXPECT_EQ(log,
              (Log{"read_timer2 disabled", "V2 call Stop", "cmd_Stop(1) disabled", "cmd_Start(1) enabled"}));
    EXPECT_TRUE(form.FakeButtonAt(ButtonArray::kStart, 1).enabled);
    EXPECT_FALSE(form.FakeButtonAt(ButtonArray::kStop, 1).enabled);
}

TEST_F(HandlersTest, AFailingStartLeavesTheBlockIdle) {
    v1->failAt = 1;
    EXPECT_HR(E_FAIL, handlers.StartClick(0));
    EXPECT_EQ(log, (Log{"V1 call Start"}));
    EXPECT_TRUE(form.FakeButtonAt(ButtonArray::kStart, 0).enabled);
    EXPECT_FALSE(form.FakeButtonAt(ButtonArray::kStop, 0).enabled);
}

TEST_F(HandlersTest, AFailingStopLeavesTheTimerOffAndTheButtonsRunning) {
    ASSERT_HR(S_OK, handlers.StartClick(0));
    log.clear();
    v1->failAt = 2;
    EXPECT_HR(E_FAIL, handlers.StopClick(0));
    EXPECT_EQ(log, (Log{"read_timer1 disabled", "V1 call Stop"}));
    EXPECT_FALSE(form.FakeTimerNamed(TimerName::kReadTimer1).enabled);
    EXPECT_FALSE(form.FakeButtonAt(ButtonArray::kStart, 0).enabled);
    EXPECT_TRUE(form.FakeButtonAt(ButtonArray::kStop, 0).enabled) << "Stop can be clicked again";
    EXPECT_HR(S_OK, handlers.StopClick(0));
}

TEST_F(HandlersTest, AMissingButtonEndsTheHandlerWhereItIsNeeded) {
    form.missing.insert("cmd_Stop(0)");
    EXPECT_HR(DISP_E_BADINDEX, handlers.StartClick(0));
    EXPECT_EQ(log, (Log{"V1 call Start", "read_timer1 enabled", "cmd_Start(0) disabled"}));
}

TEST_F(HandlersTest, ClicksOnElementsThatDoNotExistDoNothing) {
    EXPECT_HR(DISP_E_BADINDEX, handlers.ReadIntervalClick(2));
    EXPECT_HR(DISP_E_BADINDEX, handlers.ReadNumClick(-1));
    EXPECT_HR(DISP_E_BADINDEX, handlers.StartClick(2));
    EXPECT_HR(DISP_E_BADINDEX, handlers.StopClick(2));
    EXPECT_TRUE(log.empty());
}

TEST_F(HandlersTest, AnythingThrownEndsTheHandlerSilently) {
    form.FakeBoxAt(BoxArray::kDataInterval, 0).throws = true;
    EXPECT_HR(E_UNEXPECTED, handlers.ReadIntervalClick(0));
    EXPECT_TRUE(log.empty());
}

TEST_F(HandlersTest, AMissingInstanceFailsWithoutACall) {
    mirelo::FormHandlers partial(form, v1.get(), nullptr);
    EXPECT_HR(E_POINTER, partial.Load());
    EXPECT_EQ(log, (Log{"V1 put Address I2 370", "V1 put ChannelNumber I2 8"}));
}

TEST_F(HandlersTest, TickShowsEveryChannelOfTheBlock) {
    v1->values = {{0, 0}, {1, 1023}, {2, -5}, {3, -32767}, {4, 32767}, {5, 7}, {6, 100}, {7, -1}};
    EXPECT_HR(S_OK, handlers.Tick(TimerName::kReadTimer1));
    ASSERT_EQ(log.size(), 17u);
    EXPECT_EQ(log[0], "V1 get ChannelNumber");
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(log[1 + 2 * i], "V1 call GetChnlValue I4 " + std::to_string(i));
    }
    const wchar_t* shown[] = {L"0", L"1023", L"-5", L"-32767", L"32767", L"7", L"100", L"-1"};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(Text(BoxArray::kDataValue, i), shown[i]);
        EXPECT_EQ(Text(BoxArray::kDataValue, 8 + i), L"") << "block 1 untouched";
    }
}

TEST_F(HandlersTest, TickOfTheSecondTimerFillsTheSecondBlock) {
    v2->values = {{0, 11}, {7, 77}};
    EXPECT_HR(S_OK, handlers.Tick(TimerName::kReadTimer2));
    EXPECT_EQ(log.front(), "V2 get ChannelNumber");
    EXPECT_EQ(Text(BoxArray::kDataValue, 8), L"11");
    EXPECT_EQ(Text(BoxArray::kDataValue, 15), L"77");
    EXPECT_EQ(Text(BoxArray::kDataValue, 9), L"32767");
    EXPECT_EQ(Text(BoxArray::kDataValue, 0), L"");
    EXPECT_EQ(v1->calls, 0);
}

TEST_F(HandlersTest, TickReadsTheChannelCountAfreshAndLeavesTheRestAlone) {
    for (int i = 0; i < 8; ++i) Type(BoxArray::kDataValue, i, L"old");
    v1->channelNumber = 4;
    v1->values = {{0, 1}, {1, 2}, {2, 3}, {3, 4}};
    EXPECT_HR(S_OK, handlers.Tick(TimerName::kReadTimer1));
    EXPECT_EQ(Text(BoxArray::kDataValue, 3), L"4");
    EXPECT_EQ(Text(BoxArray::kDataValue, 4), L"old");

    v1->channelNumber = 1;
    v1->channelNumberType = VT_I2;  // converted to a 32-bit count whatever the type
    Type(BoxArray::kDataValue, 0, L"typed by hand");
    EXPECT_HR(S_OK, handlers.Tick(TimerName::kReadTimer1));
    EXPECT_EQ(log, (Log{"V1 get ChannelNumber", "V1 call GetChnlValue I4 0", "data_value(0) text 1"}));
}

TEST_F(HandlersTest, TickWithNoChannelsOnlyReadsTheCount) {
    for (LONG count : {0L, -1L, -32767L}) {
        SCOPED_TRACE(count);
        log.clear();
        v1->channelNumber = count;
        EXPECT_HR(S_OK, handlers.Tick(TimerName::kReadTimer1));
        EXPECT_EQ(log, (Log{"V1 get ChannelNumber"}));
    }
}

TEST_F(HandlersTest, TickEndsWhenTheLastIndexDoesNotFitSixteenBits) {
    for (LONG count : {32769L, -32768L, static_cast<LONG>(0x80000000UL), 0x7FFFFFFFL}) {
        SCOPED_TRACE(count);
        log.clear();
        v1->channelNumber = count;
        EXPECT_HR(DISP_E_OVERFLOW, handlers.Tick(TimerName::kReadTimer1));
        EXPECT_EQ(log, (Log{"V1 get ChannelNumber"}));
    }
}

TEST_F(HandlersTest, TickTakesTheBoxBeforeItCallsTheInstance) {
    v2->channelNumber = 20;  // more channels than the block has boxes
    EXPECT_HR(DISP_E_BADINDEX, handlers.Tick(TimerName::kReadTimer2));
    EXPECT_EQ(log[log.size() - 2], "V2 call GetChnlValue I4 7");
    EXPECT_EQ(log.back(), "data_value(15) text 32767");
}

TEST_F(HandlersTest, AFailingChannelKeepsTheEarlierOnesAndTheNextTickStartsAgain) {
    for (int i = 0; i < 8; ++i) Type(BoxArray::kDataValue, i, L"old");
    for (LONG i = 0; i < 8; ++i) v1->values[i] = 10 + i;
    v1->failAt = 5;  // the count, then channels 0-2, then channel 3 fails
    EXPECT_HR(E_FAIL, handlers.Tick(TimerName::kReadTimer1));
    EXPECT_EQ(log.back(), "V1 call GetChnlValue I4 3");
    EXPECT_EQ(Text(BoxArray::kDataValue, 2), L"12");
    EXPECT_EQ(Text(BoxArray::kDataValue, 3), L"old");
    EXPECT_EQ(Text(BoxArray::kDataValue, 7), L"old");

    log.clear();
    EXPECT_HR(S_OK, handlers.Tick(TimerName::kReadTimer1));
    EXPECT_EQ(log[1], "V1 call GetChnlValue I4 0");
    EXPECT_EQ(Text(BoxArray::kDataValue, 7), L"17");
}

TEST_F(HandlersTest, AReadingThatDoesNotFitSixteenBitsEndsTheTick) {
    v1->values = {{0, 5}, {1, 40000}};
    EXPECT_HR(DISP_E_OVERFLOW, handlers.Tick(TimerName::kReadTimer1));
    EXPECT_EQ(Text(BoxArray::kDataValue, 0), L"5");
    EXPECT_EQ(Text(BoxArray::kDataValue, 1), L"");
}

TEST_F(HandlersTest, AFailingCountGetEndsTheTick) {
    v2->failAt = 1;
    v2->failure = DISP_E_EXCEPTION;
    EXPECT_HR(DISP_E_EXCEPTION, handlers.Tick(TimerName::kReadTimer2));
    EXPECT_EQ(log, (Log{"V2 get ChannelNumber"}));
}

TEST_F(HandlersTest, FormEventsReachTheirHandlers) {
    mirelo::FormEvents& events = handlers;
    events.OnClick(ButtonArray::kStart, 1);
    events.OnTick(TimerName::kReadTimer2);
    events.OnClick(ButtonArray::kStop, 1);
    Type(BoxArray::kDataInterval, 0, L"250");
    events.OnClick(ButtonArray::kReadInterval, 0);
    Type(BoxArray::kDataNum, 0, L"356");
    events.OnClick(ButtonArray::kReadNum, 0);
    EXPECT_EQ(v2->calls, 1 + 1 + 8 + 1);
    EXPECT_EQ(v1->interval, 250);
    EXPECT_EQ(v1->address, 356);
    EXPECT_FALSE(form.FakeTimerNamed(TimerName::kReadTimer2).enabled);
}

}  // namespace
