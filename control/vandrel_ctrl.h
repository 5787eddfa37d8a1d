// CVandrelCtrl: the Vandrel ActiveX control, a thin shell around one CChannelSampler.
//
// It exposes the sampler through the dispatch interface _DVandrel: three properties (Interval,
// Address, ChannelNumber) whose changes stop, set and restart a running sampler and then mirror
// back the value the sampler took, three methods (GetChnlValue, Start, Stop) that forward to it,
// and the reads of whole numbered cycles (ReadCycle, ReadCycles) with what the sampler says of
// itself (CycleCount, CycleAge, Status, StatusText, LastError, LastErrorText, BufferSize,
// LostCycles, UnreadCycles, and the run's health: CycleRate, LongestGap, FailedCycles,
// GapPercentile99), and PreciseTiming, which a running sampler takes without a restart. The control
// maps the engine's cycles and figures to automation values; the engine numbers the cycles and
// keeps the run's totals. Every Start through the control, also the restart of a property change,
// begins a new run: cycles are numbered from 1 again and the unread ones of the run before are gone.
// Charts bound to it watch its cycles through a queue each (control/cycle_source.h).
// It persists none of its settings (only the version and the standard set) and shows a fixed
// picture while the host's form is designed.
//
// Events (_DVandrelEvents): DataReady with the newest cycle's number and StatusChanged with each
// new status, fired on the thread that created the control from its message loop, never from the
// sampling thread. The sampler's observer, called on the sampling thread, posts to a message-only
// window of the creating thread only while an event sink is connected, and only when no post is
// waiting; the window's handler then tells what happened since it last ran, in order: every status
// change the sampler logged (engine/status_log.h), each failure after the cycle it followed, and the
// newest cycle. So a busy host gets one DataReady for many cycles (and drains them with ReadCycles)
// but every StatusChanged, a host that never pumps messages misses no cycle in the buffer, and
// without a sink nothing is posted at all. The handler is never re-entered (a sink that pumps
// messages asks for one more pass instead), and what a container that froze the events did not take
// is told after the thaw.
//
// The control owns its sampler, its picture and its window. It lives in the single-threaded
// apartment of the host thread that created it; the sampler's own thread is the only other thread
// involved, and it reaches the control only through the observer. Destruction stops the sampler's
// thread first, then lets go of the observer and the window. A sampler that could not be set up
// fails the control's creation (FinalConstruct) with the sampler's error; a window that could not be
// made only costs the events.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "activex/control.h"
#include "activex/notify_window.h"
#include "control/cycle_source.h"
#include "base/local_time.h"
#include "base/unique_handle.h"
#include "engine/channel_sampler.h"
#include "engine/cycle_recorder.h"

// What a CVandrelCtrl asks of the system; tests substitute their own. Constant data.
struct VandrelCtrlSeams {
    CChannelSampler::Platform sampler;
    // The arrays ReadCycles hands out (SafeArrayCreate's contract).
    SAFEARRAY*(WINAPI* createArray)(VARTYPE, UINT, SAFEARRAYBOUND*) = ::SafeArrayCreate;
    engine::RecorderPlatform recorder;
};

class CVandrelCtrl final : public activex::Control<CVandrelCtrl>,
                           private engine::SamplerObserver,
                           private activex::NotifyWindow::Handler,
                           private CycleFeed {
public:
    // The create function of the control's class factory.
    [[nodiscard]] static HRESULT CreateInstance(REFIID riid, void** ppv) noexcept;

    // The members of _DVandrel by DISPID, with their help strings.
    static const activex::DispatchEntry<CVandrelCtrl> kDispatchMap[47];
    // The members of _DVandrelEvents.
    static constexpr DISPID kDataReady = 1;
    static constexpr DISPID kStatusChanged = 2;
    static constexpr DISPID kAlarmChanged = 3;

    static const ULONG kVersion = 0x00010000;  // the type library's 1.0
    // A saved document that holds channel settings.
    static const ULONG kChannelsVersion = 0x00010001;

    using Seams = VandrelCtrlSeams;

    explicit CVandrelCtrl(const Seams& seams = Seams()) noexcept;
    ~CVandrelCtrl() override;

    // Run by CreateObject before the first QueryInterface.
    [[nodiscard]] HRESULT FinalConstruct() noexcept override;

protected:
    [[nodiscard]] HRESULT ExchangeProperties(activex::PropExchange& px) noexcept override;
    void Draw(HDC dc, const RECT& bounds, const RECT& invalid) noexcept override;
    void FinalRelease() noexcept override;
    void EventsThawed() noexcept override;
    void* FindMore(REFIID riid) noexcept override;

private:
    // The original members (vandrel_ctrl.cpp): the methods, and the settings' change handlers, run
    // after the dispatch layer stored the new value in the field.
    SHORT GetChnlValue(LONG nChnlIndex) noexcept;
    BOOL Start() noexcept;
    void Stop() noexcept;
    void OnIntervalChanged() noexcept;
    void OnAddressChanged() noexcept;
    void OnChannelNumberChanged() noexcept;
    void ApplySetting(LONG& field, LONG (CChannelSampler::*get)() const noexcept,
                      void (CChannelSampler::*set)(LONG) noexcept) noexcept;

    // Readings (vandrel_readings.cpp): whole cycles, the buffer, the status and the run's health.
    [[nodiscard]] HRESULT ReadCycle(VARIANT* result) noexcept;
    [[nodiscard]] HRESULT ReadCycles(LONG nMaxCycles, LONG* lost, VARIANT* result) noexcept;
    // The same rows with the values scaled by the channels' settings now (measurements).
    [[nodiscard]] HRESULT ReadScaledCycles(LONG nMaxCycles, LONG* lost, VARIANT* result) noexcept;
    [[nodiscard]] HRESULT TakeCycleRows(LONG nMaxCycles, bool scaled, LONG* lost, VARIANT* result) noexcept;
    // Handles the thread's messages until nCycles unread cycles wait (a full buffer, for more than
    // it holds), nTimeoutMs passed, or the sampler is not running; returns the unread cycles. The
    // observer wakes it at each cycle; it also looks every 100 ms, for a wait nested in another. It
    // holds a reference to the control meanwhile: a message it handles may release the host's last.
    LONG WaitForCycles(LONG nCycles, LONG nTimeoutMs) noexcept;
    LONG CycleCount() noexcept;
    LONG CycleAge() noexcept;
    LONG Status() noexcept;
    [[nodiscard]] HRESULT StatusText(BSTR* text) noexcept;
    LONG LastError() noexcept;
    [[nodiscard]] HRESULT LastErrorText(BSTR* text) noexcept;
    LONG BufferSize() noexcept;
    [[nodiscard]] HRESULT PutBufferSize(LONG nCycles) noexcept;
    LONG LostCycles() noexcept;
    LONG UnreadCycles() noexcept;
    double CycleRate() noexcept;
    LONG LongestGap() noexcept;
    LONG FailedCycles() noexcept;
    double GapPercentile99() noexcept;
    // The status and error a host reads: the pair a read of the status took (or the pair a
    // StatusChanged being told carries), so that the error read after it belongs to that status,
    // until the host's message loop turns; else the sampler's pair now. A status read takes anew.
    engine::StatusReport ShownReport(bool statusRead) noexcept;

    // Timing (vandrel_timing.cpp): precise pauses, taken by a running sampler before its next pause.
    bool PreciseTiming() noexcept;
    [[nodiscard]] HRESULT PutPreciseTiming(LONG bPrecise) noexcept;

    // Recording (vandrel_recording.cpp).
    [[nodiscard]] HRESULT RecordFile(BSTR* path) noexcept;
    [[nodiscard]] HRESULT PutRecordFile(BSTR path) noexcept;
    LONG RecordLimit() noexcept;
    [[nodiscard]] HRESULT PutRecordLimit(LONG bytes) noexcept;
    LONG RecordLost() noexcept;
    bool Recording() noexcept;

    // Measurements (vandrel_measurements.cpp): channels 1 to 8, checked by the table; a put checks
    // the rules and changes nothing when they refuse.
    // ChannelName and ChannelUnit.
    [[nodiscard]] HRESULT Label(LONG nChannel, std::wstring engine::ChannelSettings::*label,
                                VARIANT* result) noexcept;
    [[nodiscard]] HRESULT PutLabel(LONG nChannel, std::wstring engine::ChannelSettings::*label,
                                   const VARIANT& value) noexcept;
    template <std::wstring engine::ChannelSettings::*L>
    [[nodiscard]] HRESULT LabelOf(LONG nChannel, VARIANT* result) noexcept {
        return Label(nChannel, L, result);
    }
    template <std::wstring engine::ChannelSettings::*L>
    [[nodiscard]] HRESULT PutLabelOf(LONG nChannel, const VARIANT& value) noexcept {
        return PutLabel(nChannel, L, value);
    }
    [[nodiscard]] HRESULT ChannelGain(LONG nChannel, VARIANT* result) noexcept;
    [[nodiscard]] HRESULT PutChannelGain(LONG nChannel, const VARIANT& value) noexcept;
    [[nodiscard]] HRESULT ChannelOffset(LONG nChannel, VARIANT* result) noexcept;
    [[nodiscard]] HRESULT PutChannelOffset(LONG nChannel, const VARIANT& value) noexcept;
    [[nodiscard]] HRESULT Calibrate(LONG nChannel, double dRaw1, double dValue1, double dRaw2, double dValue2,
                                    VARIANT* result) noexcept;
    // Averages the run's newest cycles (up to engine::Measurements::kZeroCycles).
    [[nodiscard]] HRESULT ZeroChannel(LONG nChannel, VARIANT* result) noexcept;
    // Null when GetChnlValue has no value for the channel.
    [[nodiscard]] HRESULT ChannelValue(LONG nChannel, VARIANT* result) noexcept;
    // The four limits: Null for none.
    [[nodiscard]] HRESULT Limit(LONG nChannel, double engine::ChannelRules::*limit, VARIANT* result) noexcept;
    [[nodiscard]] HRESULT PutLimit(LONG nChannel, double engine::ChannelRules::*limit,
                                   const VARIANT& value) noexcept;
    template <double engine::ChannelRules::*L>
    [[nodiscard]] HRESULT LimitOf(LONG nChannel, VARIANT* result) noexcept {
        return Limit(nChannel, L, result);
    }
    template <double engine::ChannelRules::*L>
    [[nodiscard]] HRESULT PutLimitOf(LONG nChannel, const VARIANT& value) noexcept {
        return PutLimit(nChannel, L, value);
    }
    [[nodiscard]] HRESULT AlarmDeadband(LONG nChannel, VARIANT* result) noexcept;
    [[nodiscard]] HRESULT PutAlarmDeadband(LONG nChannel, const VARIANT& value) noexcept;
    [[nodiscard]] HRESULT AlarmDelay(LONG nChannel, VARIANT* result) noexcept;
    [[nodiscard]] HRESULT PutAlarmDelay(LONG nChannel, const VARIANT& value) noexcept;
    [[nodiscard]] HRESULT AlarmLatch(LONG nChannel, VARIANT* result) noexcept;
    [[nodiscard]] HRESULT PutAlarmLatch(LONG nChannel, const VARIANT& value) noexcept;
    [[nodiscard]] HRESULT AlarmState(LONG nChannel, VARIANT* result) noexcept;
    // Channel 0: every channel.
    [[nodiscard]] HRESULT AcknowledgeAlarm(LONG nChannel, VARIANT* result) noexcept;
    LONG AlarmsLost() noexcept;
    [[nodiscard]] HRESULT SaveSettings(BSTR sPath, VARIANT* result) noexcept;
    // All or nothing (engine/settings_file.h).
    [[nodiscard]] HRESULT LoadSettings(BSTR sPath, VARIANT* result) noexcept;
    engine::ChannelSettings& Channel(LONG nChannel) noexcept;
    // Takes rules for a channel once their limits are in order, and hands them to the sampler.
    [[nodiscard]] HRESULT ChangeRules(LONG nChannel, const engine::ChannelRules& rules) noexcept;
    void TakeChannels(const engine::ChannelSet& channels) noexcept;
    std::vector<std::string> MeasureColumns() const;
    bool HasChannelSettings() const noexcept;
    // The channels' settings with the document; a channel whose loaded rules break one takes the
    // default rules.
    [[nodiscard]] HRESULT ExchangeChannels(activex::PropExchange& px) noexcept;

    // Events (vandrel_events.cpp). The observer, on the sampling thread (and on this one inside
    // Start and Stop).
    void OnSamplerNews() noexcept override;
    // The window's handler, on this thread: tells what happened since the last pass.
    void OnNotify() noexcept override;
    // One pass; false when a freeze stopped it, leaving the rest untold.
    bool TellNews() noexcept;
    // DataReady(cycle) if it is of this run and newer than what was told; false when frozen.
    bool TellCycle(uint64_t run, uint64_t cycle) noexcept;
    // Any thread: asks the window for a pass when a sink is there to hear it.
    void RequestEvents() noexcept;
    bool FireLong(DISPID dispid, LONG value) noexcept;
    // AlarmChanged for the change; false when frozen.
    bool TellAlarm(const engine::AlarmChange& change) noexcept;
    // The alarm changes that came before (run, cycle), or at it unless the status change there is
    // to sampling; all of them for UINT64_MAX. false when frozen.
    bool TellAlarmsBefore(uint64_t run, uint64_t cycle, bool atToo) noexcept;

    // The charts' feed (vandrel_ctrl.cpp): each watches the sampler's cycles through a queue of its own.
    [[nodiscard]] bool AddWatcher(engine::CycleQueue* queue) noexcept override {
        return m_Sampler.AddWatcher(queue);
    }
    void RemoveWatcher(engine::CycleQueue* queue) noexcept override { m_Sampler.RemoveWatcher(queue); }
    const engine::ChannelSet& WatchedChannels() noexcept override { return channels_; }

    LONG m_Interval;
    LONG m_Address;
    base::UniqueGdiObject m_Bitmap;
    CChannelSampler m_Sampler;
    LONG m_ChannelNumber;

    decltype(Seams::createArray) const createArray_;
    engine::CycleRecorder recorder_;
    engine::ChannelSet channels_;   // the measurements' settings; the sampler has a copy of the rules
    std::wstring recordFile_;       // the full path RecordFile took; empty when it was cleared
    base::UniqueEvent cycleEvent_;  // set by the observer for a WaitForCycles under way
    std::atomic<int> waiters_{0};
    activex::NotifyWindow notifier_;
    // What the events last told: the cycle (of a run) and the status.
    uint64_t toldRun_ = 0;
    uint64_t toldCycle_ = 0;
    engine::SamplerStatus toldStatus_ = engine::SamplerStatus::kStopped;
    bool notifying_ = false;    // a pass is running
    bool notifyAgain_ = false;  // asked for while it ran
    std::optional<engine::StatusReport> shown_;
    base::LocalOffsets offsets_;
    CycleSourcePart sourcePart_{*this, *this};
};
