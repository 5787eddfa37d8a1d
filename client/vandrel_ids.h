// What a client knows of the Vandrel controls: for the acquisition control and for the chart, the
// ProgID, the class, the two dispatch interfaces and their members by DISPID. Mirelo, vandrel-monitor, the
// benchmarks and the soak program, and the tests share this one copy. A client takes nothing from the
// control's sources, so tests/control/identity_test.cpp holds this copy against them, row by row of kMembers
// and kEvents. Constant data; any thread.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace client {

// The ProgID that scripts create the control by.
inline constexpr wchar_t kProgIdVandrel[] = L"VANDREL.VandrelCtrl.1";

// {E4DE41E5-20F5-4A71-91C1-BC0686540ACF}, the class VandrelLib.Vandrel.
inline constexpr CLSID kClsidVandrel = {
    0xE4DE41E5, 0x20F5, 0x4A71, {0x91, 0xC1, 0xBC, 0x06, 0x86, 0x54, 0x0A, 0xCF}};

// {BF13AB5C-6996-4363-8236-2075EBB16884}, the dispatch interface _DVandrel.
inline constexpr IID kDiidDVandrel = {
    0xBF13AB5C, 0x6996, 0x4363, {0x82, 0x36, 0x20, 0x75, 0xEB, 0xB1, 0x68, 0x84}};

// {0CCC30C5-82DB-4870-8B3A-F7E005ABC32E}, the event interface _DVandrelEvents.
inline constexpr IID kDiidDVandrelEvents = {
    0x0CCC30C5, 0x82DB, 0x4870, {0x8B, 0x3A, 0xF7, 0xE0, 0x05, 0xAB, 0xC3, 0x2E}};

// Members of _DVandrel, by the numbers the control fixes. A member a client comes to need gets its
// constant here and its row in kMembers, which puts it under identity_test.
inline constexpr DISPID kDispidInterval = 1;
inline constexpr DISPID kDispidAddress = 2;
inline constexpr DISPID kDispidGetChnlValue = 3;
inline constexpr DISPID kDispidStart = 4;
inline constexpr DISPID kDispidStop = 5;
inline constexpr DISPID kDispidChannelNumber = 6;
inline constexpr DISPID kDispidReadCycle = 7;
inline constexpr DISPID kDispidReadCycles = 8;
inline constexpr DISPID kDispidCycleCount = 9;
inline constexpr DISPID kDispidCycleAge = 10;
inline constexpr DISPID kDispidStatus = 11;
inline constexpr DISPID kDispidStatusText = 12;
inline constexpr DISPID kDispidLastError = 13;
inline constexpr DISPID kDispidLastErrorText = 14;
inline constexpr DISPID kDispidBufferSize = 15;
inline constexpr DISPID kDispidLostCycles = 16;
inline constexpr DISPID kDispidUnreadCycles = 17;
inline constexpr DISPID kDispidCycleRate = 18;
inline constexpr DISPID kDispidLongestGap = 19;
inline constexpr DISPID kDispidFailedCycles = 20;
inline constexpr DISPID kDispidRecordFile = 21;
inline constexpr DISPID kDispidRecordLimit = 22;
inline constexpr DISPID kDispidRecordLost = 23;
inline constexpr DISPID kDispidRecording = 24;
inline constexpr DISPID kDispidWaitForCycles = 25;
inline constexpr DISPID kDispidChannelName = 26;
inline constexpr DISPID kDispidChannelUnit = 27;
inline constexpr DISPID kDispidChannelGain = 28;
inline constexpr DISPID kDispidChannelOffset = 29;
inline constexpr DISPID kDispidCalibrate = 30;
inline constexpr DISPID kDispidZeroChannel = 31;
inline constexpr DISPID kDispidChannelValue = 32;
inline constexpr DISPID kDispidReadScaledCycles = 33;
inline constexpr DISPID kDispidHighHighLimit = 34;
inline constexpr DISPID kDispidHighLimit = 35;
inline constexpr DISPID kDispidLowLimit = 36;
inline constexpr DISPID kDispidLowLowLimit = 37;
inline constexpr DISPID kDispidAlarmDeadband = 38;
inline constexpr DISPID kDispidAlarmDelay = 39;
inline constexpr DISPID kDispidAlarmLatch = 40;
inline constexpr DISPID kDispidAlarmState = 41;
inline constexpr DISPID kDispidAcknowledgeAlarm = 42;
inline constexpr DISPID kDispidAlarmsLost = 43;
inline constexpr DISPID kDispidSaveSettings = 44;
inline constexpr DISPID kDispidLoadSettings = 45;
inline constexpr DISPID kDispidPreciseTiming = 46;
inline constexpr DISPID kDispidGapPercentile99 = 47;

// Members of _DVandrelEvents.
inline constexpr DISPID kDispidDataReady = 1;
inline constexpr DISPID kDispidStatusChanged = 2;
inline constexpr DISPID kDispidAlarmChanged = 3;

// A member's name in the type library and the DISPID this copy gives it.
struct Member {
    const wchar_t* name;
    DISPID dispid;
};

inline constexpr Member kMembers[] = {
    {L"Interval", kDispidInterval},
    {L"Address", kDispidAddress},
    {L"GetChnlValue", kDispidGetChnlValue},
    {L"Start", kDispidStart},
    {L"Stop", kDispidStop},
    {L"ChannelNumber", kDispidChannelNumber},
    {L"ReadCycle", kDispidReadCycle},
    {L"ReadCycles", kDispidReadCycles},
    {L"CycleCount", kDispidCycleCount},
    {L"CycleAge", kDispidCycleAge},
    {L"Status", kDispidStatus},
    {L"StatusText", kDispidStatusText},
    {L"LastError", kDispidLastError},
    {L"LastErrorText", kDispidLastErrorText},
    {L"BufferSize", kDispidBufferSize},
    {L"LostCycles", kDispidLostCycles},
    {L"UnreadCycles", kDispidUnreadCycles},
    {L"CycleRate", kDispidCycleRate},
    {L"LongestGap", kDispidLongestGap},
    {L"FailedCycles", kDispidFailedCycles},
    {L"RecordFile", kDispidRecordFile},
    {L"RecordLimit", kDispidRecordLimit},
    {L"RecordLost", kDispidRecordLost},
    {L"Recording", kDispidRecording},
    {L"WaitForCycles", kDispidWaitForCycles},
    {L"ChannelName", kDispidChannelName},
    {L"ChannelUnit", kDispidChannelUnit},
    {L"ChannelGain", kDispidChannelGain},
    {L"ChannelOffset", kDispidChannelOffset},
    {L"Calibrate", kDispidCalibrate},
    {L"ZeroChannel", kDispidZeroChannel},
    {L"ChannelValue", kDispidChannelValue},
    {L"ReadScaledCycles", kDispidReadScaledCycles},
    {L"HighHighLimit", kDispidHighHighLimit},
    {L"HighLimit", kDispidHighLimit},
    {L"LowLimit", kDispidLowLimit},
    {L"LowLowLimit", kDispidLowLowLimit},
    {L"AlarmDeadband", kDispidAlarmDeadband},
    {L"AlarmDelay", kDispidAlarmDelay},
    {L"AlarmLatch", kDispidAlarmLatch},
    {L"AlarmState", kDispidAlarmState},
    {L"AcknowledgeAlarm", kDispidAcknowledgeAlarm},
    {L"AlarmsLost", kDispidAlarmsLost},
    {L"SaveSettings", kDispidSaveSettings},
    {L"LoadSettings", kDispidLoadSettings},
    {L"PreciseTiming", kDispidPreciseTiming},
    {L"GapPercentile99", kDispidGapPercentile99},
};

inline constexpr Member kEvents[] = {
    {L"DataReady", kDispidDataReady},
    {L"StatusChanged", kDispidStatusChanged},
    {L"AlarmChanged", kDispidAlarmChanged},
};

// The live chart, VANDREL.VandrelChart.1. {AF7FF62E-E0F0-4DC0-B3DE-E004729C2A1D}
inline constexpr wchar_t kProgIdVandrelChart[] = L"VANDREL.VandrelChart.1";
inline constexpr CLSID kClsidVandrelChart = {
    0xAF7FF62E, 0xE0F0, 0x4DC0, {0xB3, 0xDE, 0xE0, 0x04, 0x72, 0x9C, 0x2A, 0x1D}};
// {8C36F5D8-8A7A-43B6-9EBB-B5DA2AE129F1}, _DVandrelChart.
inline constexpr IID kDiidDVandrelChart = {
    0x8C36F5D8, 0x8A7A, 0x43B6, {0x9E, 0xBB, 0xB5, 0xDA, 0x2A, 0xE1, 0x29, 0xF1}};
// {EE868399-0774-4BA5-9E5F-E6B530A8939C}, _DVandrelChartEvents.
inline constexpr IID kDiidDVandrelChartEvents = {
    0xEE868399, 0x0774, 0x4BA5, {0x9E, 0x5F, 0xE6, 0xB5, 0x30, 0xA8, 0x93, 0x9C}};

inline constexpr DISPID kChartSource = 1;
inline constexpr DISPID kChartMode = 2;
inline constexpr DISPID kChartTimeWindow = 3;
inline constexpr DISPID kChartHistoryTime = 4;
inline constexpr DISPID kChartAutoRange = 5;
inline constexpr DISPID kChartRangeMinimum = 6;
inline constexpr DISPID kChartRangeMaximum = 7;
inline constexpr DISPID kChartSetRange = 8;
inline constexpr DISPID kChartChannelColor = 9;
inline constexpr DISPID kChartChannelVisible = 10;
inline constexpr DISPID kChartPaused = 11;
inline constexpr DISPID kChartSavePicture = 12;
inline constexpr DISPID kChartCopyPicture = 13;
inline constexpr DISPID kChartDroppedCycles = 14;
inline constexpr DISPID kChartPausedChanged = 1;  // the event

inline constexpr Member kChartMembers[] = {
    {L"Source", kChartSource},
    {L"Mode", kChartMode},
    {L"TimeWindow", kChartTimeWindow},
    {L"HistoryTime", kChartHistoryTime},
    {L"AutoRange", kChartAutoRange},
    {L"RangeMinimum", kChartRangeMinimum},
    {L"RangeMaximum", kChartRangeMaximum},
    {L"SetRange", kChartSetRange},
    {L"ChannelColor", kChartChannelColor},
    {L"ChannelVisible", kChartChannelVisible},
    {L"Paused", kChartPaused},
    {L"SavePicture", kChartSavePicture},
    {L"CopyPicture", kChartCopyPicture},
    {L"DroppedCycles", kChartDroppedCycles},
};

inline constexpr Member kChartEvents[] = {
    {L"PausedChanged", kChartPausedChanged},
};

}  // namespace client
