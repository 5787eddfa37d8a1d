// CVandrelCtrl: the Vandrel ActiveX control, a thin shell around one CChannelSampler.
//
// It exposes the sampler through the dispatch interface _DVandrel: three properties (Interval,
// Address, ChannelNumber) whose changes stop, set and restart a running sampler and then mirror
// back the value the sampler took, three methods (GetChnlValue, Start, Stop) that forward to it,
// and the reads of whole numbered cycles (ReadCycle, ReadCycles) with what the sampler says of
// itself (CycleCount, CycleAge, Status, StatusText, LastError, LastErrorText, BufferSize,
// LostCycles, UnreadCycles). Every Start through the control, also the restart of a property
// change, begins a new run: cycles are numbered from 1 again and the unread ones of the run before
// are gone. It persists none of its settings (only the version and the standard set) and shows a
// fixed picture while the host's form is designed.
//
// Events (_DVandrelEvents): DataReady with the newest cycle's number and StatusChanged with the new
// status, fired on the thread that created the control from its message loop, never from the
// sampling thread. The sampler's observer, called on the sampling thread, posts to a message-only
// window of the creating thread only while an event sink is connected, and only when no post is
// waiting; the window's handler then fires what changed since it last fired. So a busy host gets
// one DataReady for many cycles (and drains them with ReadCycles), a host that never pumps messages
// misses no cycle in the buffer, and without a sink nothing is posted at all. While the container
// has the events frozen nothing fires; thawing fires what is pending.
//
// The control owns its sampler, its picture and its window. It lives in the single-threaded
// apartment of the host thread that created it; the sampler's own thread is the only other thread
// involved, and it reaches the control only through the observer. Destruction stops the sampler's
// thread first, then lets go of the observer and the window. A sampler that could not be set up
// fails the control's creation (FinalConstruct) with the sampler's error; a window that could not be
// made only costs the events.
#pragma once

#include <cstdint>

#include "activex/control.h"
#include "activex/notify_window.h"
#include "base/unique_handle.h"
#include "engine/channel_sampler.h"

class CVandrelCtrl final : public activex::Control<CVandrelCtrl>,
                           private engine::SamplerObserver,
                           private activex::NotifyWindow::Handler {
public:
    // The create function of the control's class factory.
    static HRESULT CreateInstance(REFIID riid, void** ppv) noexcept;

    // The members of _DVandrel by DISPID, with their help strings.
    static const activex::DispatchEntry<CVandrelCtrl> kDispatchMap[17];
    // The members of _DVandrelEvents.
    static constexpr DISPID kDataReady = 1;
    static constexpr DISPID kStatusChanged = 2;

    static const ULONG kVersion = 0x00010000;  // the type library's 1.0

    // createEvent makes the sampler's stop event and createThread its thread; tests substitute
    // ones that fail.
    explicit CVandrelCtrl(CChannelSampler::EventCreator createEvent = ::CreateEventA,
                          CChannelSampler::ThreadCreator createThread = ::CreateThread) noexcept;
    ~CVandrelCtrl() override;

    // Run by CreateObject before the first QueryInterface.
    HRESULT FinalConstruct() noexcept override;

protected:
    HRESULT ExchangeProperties(activex::PropExchange& px) noexcept override;
    void Draw(HDC dc, const RECT& bounds, const RECT& invalid) noexcept override;
    void FinalRelease() noexcept override;
    void EventsThawed() noexcept override;

private:
    // Methods of _DVandrel.
    SHORT GetChnlValue(LONG nChnlIndex) noexcept;
    BOOL Start() noexcept;
    void Stop() noexcept;
    HRESULT ReadCycle(VARIANT* result) noexcept;
    HRESULT ReadCycles(LONG nMaxCycles, LONG* lost, VARIANT* result) noexcept;

    // Computed properties of _DVandrel.
    LONG CycleCount() noexcept;
    LONG CycleAge() noexcept;
    LONG Status() noexcept;
    HRESULT StatusText(BSTR* text) noexcept;
    LONG LastError() noexcept;
    HRESULT LastErrorText(BSTR* text) noexcept;
    LONG BufferSize() noexcept;
    HRESULT PutBufferSize(LONG nCycles) noexcept;
    LONG LostCycles() noexcept;
    LONG UnreadCycles() noexcept;

    // Change handlers, run after the dispatch layer stored the new value in the field.
    void OnIntervalChanged() noexcept;
    void OnAddressChanged() noexcept;
    void OnChannelNumberChanged() noexcept;
    void ApplySetting(LONG& field, LONG (CChannelSampler::*get)() const noexcept,
                      void (CChannelSampler::*set)(LONG) noexcept) noexcept;
    // Starts the sampler and, when it starts, a new run of the control's counts.
    BOOL StartRun() noexcept;

    // The observer, on the sampling thread (and on this one inside Start and Stop).
    void OnCyclePublished(uint64_t number) noexcept override;
    void OnStatusChanged(engine::SamplerStatus status) noexcept override;
    // The window's handler, on this thread: fires what changed since the last events.
    void OnNotify() noexcept override;
    // Any thread: asks the window for a round of events when a sink is there to hear them.
    void RequestEvents() noexcept;
    void FireLong(DISPID dispid, LONG value) noexcept;
    // Takes the time zone's offset for utc: local = utc + the result (FILETIME units).
    int64_t LocalOffset(uint64_t utc) noexcept;
    // utc (FILETIME units) as the local automation DATE, to the millisecond.
    DATE LocalDate(uint64_t utc) noexcept;

    LONG m_Interval;
    LONG m_Address;
    base::UniqueGdiObject m_Bitmap;
    CChannelSampler m_Sampler;
    LONG m_ChannelNumber;

    activex::NotifyWindow notifier_;
    // The runs Start began, and what the events last told: run, cycle and status.
    uint64_t run_ = 0;
    uint64_t firedRun_ = 0;
    uint64_t firedCycle_ = 0;
    engine::SamplerStatus firedStatus_ = engine::SamplerStatus::kStopped;
    // This run's cycles handed out by ReadCycles and those reported lost (with those drained but
    // dropped for want of memory); lossCarry_ waits for the next report.
    uint64_t runDelivered_ = 0;
    uint64_t runLost_ = 0;
    uint64_t lossCarry_ = 0;
    // The local time's offset for one quarter of an hour of UTC, when the zone's rules change the
    // offset at most on such a boundary.
    uint64_t offsetQuarter_ = UINT64_MAX;
    int64_t offset_ = 0;
};
