// The control: its class, its dispatch table and lifetime, the original settings and methods,
// persistence and drawing. Its other members, by what they serve: vandrel_readings.cpp,
// vandrel_recording.cpp, vandrel_measurements.cpp, vandrel_timing.cpp, vandrel_events.cpp.
#include "control/vandrel_ctrl.h"

#include <algorithm>
#include <climits>
#include <iterator>

#include "activex/dispatch_rows.h"
#include "activex/module.h"
#include "base/hresult.h"
#include "control/identity.h"
#include "control/resource.h"
#include "control/vandrel_prop_page.h"
#include "vandrel_h.h"

namespace {

activex::TypeLibCache g_typeLib(LIBID_VandrelLib, vandrel::kLibMajor, vandrel::kLibMinor);

const CLSID kPropertyPages[] = {vandrel::kPageClsid, vandrel::kChannelsPageClsid};

// The properties verb, named by the framework's string id; the module carries no such string.
const activex::Verb kVerbs[] = {
    {OLEIVERB_PROPERTIES, activex::kPropertiesVerbNameId, OLEVERBATTRIB_ONCONTAINERMENU},
};

const activex::ControlClass kClass = {
    CLSID_Vandrel,         // class
    DIID__DVandrel,        // dispatch interface
    DIID__DVandrelEvents,  // event interface
    g_typeLib,             // describes both
    IDS_VANDREL,           // user type name
    vandrel::kMiscStatus,  // OLEMISC flags
    kPropertyPages,
    std::size(kPropertyPages),  // the pages
    kVerbs,
    std::size(kVerbs),        // the properties verb
    vandrel::kControlProgId,  // the source of the errors its members raise
};

// What ReadCycles and BufferSize take: the sampler's buffer sizes.
constexpr activex::ValueRange kCycleRange = {static_cast<LONG>(engine::kMinBufferCycles),
                                             static_cast<LONG>(engine::kMaxBufferCycles),
                                             L"The number of cycles must be from 1 to 100000."};
static_assert(engine::kMinBufferCycles == 1 && engine::kMaxBufferCycles == 100000, "the range's text");

// What RecordLimit takes.
constexpr activex::ValueRange kLimitRange = {static_cast<LONG>(engine::CycleRecorder::kMinLimitBytes),
                                             LONG_MAX, L"The limit must be from 4096 to 2147483647 bytes."};
static_assert(engine::CycleRecorder::kMinLimitBytes == 4096, "the range's text");

// The channels the measurements' members take, and AcknowledgeAlarm's 0 for all of them.
constexpr activex::ValueRange kChannel = {1, engine::kMeasuredChannels, L"The channel must be from 1 to 8."};
constexpr activex::ValueRange kChannelOrAll = {0, engine::kMeasuredChannels,
                                               L"The channel must be from 1 to 8, or 0 for all of them."};
static_assert(engine::kMeasuredChannels == 8, "the ranges' texts");

using C = CVandrelCtrl;

}  // namespace

const activex::DispatchEntry<CVandrelCtrl> CVandrelCtrl::kDispatchMap[47] = {
    activex::DispProperty(1, L"Interval", L"Time Interval", &CVandrelCtrl::m_Interval,
                          &CVandrelCtrl::OnIntervalChanged),
    activex::DispProperty(2, L"Address", L"Status Address", &CVandrelCtrl::m_Address,
                          &CVandrelCtrl::OnAddressChanged),
    activex::DispMethod<&CVandrelCtrl::GetChnlValue, VT_I2>(3, L"GetChnlValue", L"Read Data"),
    activex::DispMethod<&CVandrelCtrl::Start, VT_BOOL>(4, L"Start", L"Start working"),
    activex::DispMethod<&CVandrelCtrl::Stop, VT_EMPTY>(5, L"Stop", L"Stop working"),
    activex::DispProperty(6, L"ChannelNumber", L"Chanel Count", &CVandrelCtrl::m_ChannelNumber,
                          &CVandrelCtrl::OnChannelNumberChanged),
    activex::DispFunction<&CVandrelCtrl::ReadCycle>(7, L"ReadCycle",
                                                    L"Newest whole cycle: number, time, values"),
    activex::DispFunction<&CVandrelCtrl::ReadCycles>(
        8, L"ReadCycles", L"Unread cycles, oldest first, one row each", kCycleRange),
    activex::DispGetter<&CVandrelCtrl::CycleCount>(9, L"CycleCount", L"Cycles completed since Start"),
    activex::DispGetter<&CVandrelCtrl::CycleAge>(10, L"CycleAge", L"Milliseconds since the newest cycle"),
    activex::DispGetter<&CVandrelCtrl::Status>(11, L"Status", L"What the control is doing"),
    activex::DispGetter<&CVandrelCtrl::StatusText>(12, L"StatusText", L"Status in words"),
    activex::DispGetter<&CVandrelCtrl::LastError>(13, L"LastError", L"Last error"),
    activex::DispGetter<&CVandrelCtrl::LastErrorText>(14, L"LastErrorText", L"Last error in words"),
    activex::DispAccessors<&CVandrelCtrl::BufferSize, &CVandrelCtrl::PutBufferSize>(
        15, L"BufferSize", L"Cycles the buffer keeps", kCycleRange),
    activex::DispGetter<&CVandrelCtrl::LostCycles>(16, L"LostCycles", L"Cycles lost unread in this run"),
    activex::DispGetter<&CVandrelCtrl::UnreadCycles>(17, L"UnreadCycles", L"Cycles waiting to be read"),
    activex::DispGetter<&CVandrelCtrl::CycleRate>(18, L"CycleRate",
                                                  L"Cycles a second over the last 100 cycles of this run"),
    activex::DispGetter<&CVandrelCtrl::LongestGap>(
        19, L"LongestGap", L"Longest time between two cycles in this run, in milliseconds"),
    activex::DispGetter<&CVandrelCtrl::FailedCycles>(20, L"FailedCycles",
                                                     L"Cycle attempts that failed in this run"),
    activex::DispTextAccessors<&CVandrelCtrl::RecordFile, &CVandrelCtrl::PutRecordFile>(
        21, L"RecordFile", L"File every cycle is recorded to; empty records nothing"),
    activex::DispAccessors<&CVandrelCtrl::RecordLimit, &CVandrelCtrl::PutRecordLimit>(
        22, L"RecordLimit", L"Largest size of a record file in bytes; then the next file begins",
        kLimitRange),
    activex::DispGetter<&CVandrelCtrl::RecordLost>(23, L"RecordLost",
                                                   L"Cycles the record file lost since RecordFile was set"),
    activex::DispGetter<&CVandrelCtrl::Recording>(24, L"Recording", L"Whether cycles are being recorded"),
    activex::DispMethod<&CVandrelCtrl::WaitForCycles, VT_I4>(
        25, L"WaitForCycles", L"Waits, handling messages, until cycles are unread or the time is out",
        kCycleRange),
    activex::DispIndexedAccessors<&C::LabelOf<&engine::ChannelSettings::name>,
                                  &C::PutLabelOf<&engine::ChannelSettings::name>, VT_BSTR>(
        26, L"ChannelName", L"Name of a channel, 1 to 8", kChannel),
    activex::DispIndexedAccessors<&C::LabelOf<&engine::ChannelSettings::unit>,
                                  &C::PutLabelOf<&engine::ChannelSettings::unit>, VT_BSTR>(
        27, L"ChannelUnit", L"Unit of a channel's scaled values", kChannel),
    activex::DispIndexedAccessors<&C::ChannelGain, &C::PutChannelGain, VT_R8>(
        28, L"ChannelGain", L"Scaled value = raw * gain + offset", kChannel),
    activex::DispIndexedAccessors<&C::ChannelOffset, &C::PutChannelOffset, VT_R8>(
        29, L"ChannelOffset", L"Scaled value = raw * gain + offset", kChannel),
    activex::DispTypedFunction<&C::Calibrate, VT_EMPTY>(
        30, L"Calibrate", L"Sets gain and offset from two raw values and what they measure", kChannel),
    activex::DispTypedFunction<&C::ZeroChannel, VT_R8>(
        31, L"ZeroChannel", L"Sets the offset so that the channel reads 0 now; returns it", kChannel),
    activex::DispIndexedGetter<&C::ChannelValue>(
        32, L"ChannelValue", L"Newest scaled value of a channel; Null when it has none", kChannel),
    activex::DispFunction<&C::ReadScaledCycles>(33, L"ReadScaledCycles",
                                                L"Unread cycles, oldest first, values scaled", kCycleRange),
    activex::DispIndexedAccessors<&C::LimitOf<&engine::ChannelRules::highHigh>,
                                  &C::PutLimitOf<&engine::ChannelRules::highHigh>>(
        34, L"HighHighLimit", L"High-high limit; Null for none", kChannel),
    activex::DispIndexedAccessors<&C::LimitOf<&engine::ChannelRules::high>,
                                  &C::PutLimitOf<&engine::ChannelRules::high>>(
        35, L"HighLimit", L"High limit; Null for none", kChannel),
    activex::DispIndexedAccessors<&C::LimitOf<&engine::ChannelRules::low>,
                                  &C::PutLimitOf<&engine::ChannelRules::low>>(
        36, L"LowLimit", L"Low limit; Null for none", kChannel),
    activex::DispIndexedAccessors<&C::LimitOf<&engine::ChannelRules::lowLow>,
                                  &C::PutLimitOf<&engine::ChannelRules::lowLow>>(
        37, L"LowLowLimit", L"Low-low limit; Null for none", kChannel),
    activex::DispIndexedAccessors<&C::AlarmDeadband, &C::PutAlarmDeadband, VT_R8>(
        38, L"AlarmDeadband", L"How far back past a limit a value must come to clear its alarm", kChannel),
    activex::DispIndexedAccessors<&C::AlarmDelay, &C::PutAlarmDelay, VT_I4>(
        39, L"AlarmDelay", L"Milliseconds a value must stay past a limit before its alarm raises", kChannel),
    activex::DispIndexedAccessors<&C::AlarmLatch, &C::PutAlarmLatch, VT_BOOL>(
        40, L"AlarmLatch", L"Whether an alarm stays until acknowledged", kChannel),
    activex::DispIndexedGetter<&C::AlarmState, VT_I4>(41, L"AlarmState", L"Alarm level of a channel",
                                                      kChannel),
    activex::DispTypedFunction<&C::AcknowledgeAlarm, VT_EMPTY>(
        42, L"AcknowledgeAlarm", L"Clears latched alarms of a channel, or of all for 0", kChannelOrAll),
    activex::DispGetter<&C::AlarmsLost>(43, L"AlarmsLost",
                                        L"Alarm changes lost while the host did not take them"),
    activex::DispTypedFunction<&C::SaveSettings, VT_EMPTY>(44, L"SaveSettings",
                                                           L"Saves the channels' settings to a file"),
    activex::DispTypedFunction<&C::LoadSettings, VT_EMPTY>(45, L"LoadSettings",
                                                           L"Loads the channels' settings from a file"),
    activex::DispAccessors<&C::PreciseTiming, &C::PutPreciseTiming>(
        46, L"PreciseTiming",
        L"Keeps short Intervals exact by spinning the end of each pause; costs processor time", {}),
    activex::DispGetter<&C::GapPercentile99>(
        47, L"GapPercentile99",
        L"Gap between cycles that 99 of 100 of the last 1000 stay within, in milliseconds"),
};

HRESULT CVandrelCtrl::CreateInstance(REFIID riid, void** ppv) noexcept {
    return base::CreateObject<CVandrelCtrl>(riid, ppv);
}

CVandrelCtrl::CVandrelCtrl(const Seams& seams) noexcept
    : Control(kClass),
      m_Interval(0),
      m_Address(0),
      m_Sampler(seams.sampler),
      m_ChannelNumber(0),
      createArray_(seams.createArray),
      recorder_(m_Sampler, seams.recorder),
      notifier_(*this) {
    // The load is not checked: without the bitmap, Draw paints nothing.
    m_Bitmap.reset(::LoadBitmapW(activex::Module::Instance(), MAKEINTRESOURCEW(IDB_VANDREL)));
    m_Interval = m_Sampler.GetInterval();
    m_Address = m_Sampler.GetAddress();
    m_ChannelNumber = m_Sampler.GetChannelNumber();
}

CVandrelCtrl::~CVandrelCtrl() = default;

HRESULT CVandrelCtrl::FinalConstruct() noexcept {
    RETURN_IF_FAILED(m_Sampler.SetupResult());
    cycleEvent_.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    RETURN_LAST_ERROR_IF(!cycleEvent_);
    // Without its window the control fires no events, and everything else works.
    LOG_IF_FAILED(notifier_.Create());
    return m_Sampler.SetObserver(this);
}

// The sampling thread ends before the observer and the window go; then the parts let go of the
// container and the sinks.
void CVandrelCtrl::FinalRelease() noexcept {
    m_Sampler.Stop();
    recorder_.Close();
    LOG_IF_FAILED(m_Sampler.SetObserver(nullptr));
    notifier_.Destroy();
    ControlBase::FinalRelease();
}

// The charts find the control through its cycle source (control/cycle_source.h).
void* CVandrelCtrl::FindMore(REFIID riid) noexcept {
    if (void* found = sourcePart_.FindInterface(riid)) return found;
    return ControlBase::FindMore(riid);
}

// --- the settings: Interval, Address, ChannelNumber ------------------------------------------------

void CVandrelCtrl::ApplySetting(LONG& field, LONG (CChannelSampler::*get)() const noexcept,
                                void (CChannelSampler::*set)(LONG) noexcept) noexcept {
    shown_.reset();
    if ((m_Sampler.*get)() != field) {
        if (m_Sampler.IsRunning()) {
            m_Sampler.Stop();
            (m_Sampler.*set)(field);
            m_Sampler.Start();
        } else {
            (m_Sampler.*set)(field);
        }
        // The sampler may have refused the value: the property shows what it holds.
        field = (m_Sampler.*get)();
    }
    SetModifiedFlag();
}

void CVandrelCtrl::OnIntervalChanged() noexcept {
    ApplySetting(m_Interval, &CChannelSampler::GetInterval, &CChannelSampler::SetInterval);
}

void CVandrelCtrl::OnAddressChanged() noexcept {
    ApplySetting(m_Address, &CChannelSampler::GetAddress, &CChannelSampler::SetAddress);
}

void CVandrelCtrl::OnChannelNumberChanged() noexcept {
    ApplySetting(m_ChannelNumber, &CChannelSampler::GetChannelNumber, &CChannelSampler::SetChannelNumber);
}

// --- the methods: GetChnlValue, Start, Stop ---------------------------------------------------------

SHORT CVandrelCtrl::GetChnlValue(LONG nChnlIndex) noexcept { return m_Sampler.GetChnlValue(nChnlIndex); }

// Start, Stop and a setting's change make news of their own: an error read after them is theirs.
BOOL CVandrelCtrl::Start() noexcept {
    shown_.reset();
    return m_Sampler.Start();
}

void CVandrelCtrl::Stop() noexcept {
    shown_.reset();
    m_Sampler.Stop();
    recorder_.Flush();
}

// --- persistence and drawing ---------------------------------------------------------------------

// A document holds the channels' settings only when some are set, under the version that says so:
// one without keeps today's words, and today's documents load with the defaults.
HRESULT CVandrelCtrl::ExchangeProperties(activex::PropExchange& px) noexcept {
    const ULONG plain = kVersion;
    ULONG version = !px.Loading() && HasChannelSettings() ? kChannelsVersion : kVersion;
    RETURN_IF_FAILED(px.ExchangeULong(L"_Version", version, &plain));
    RETURN_IF_FAILED(ControlBase::ExchangeProperties(px));
    if (version >= kChannelsVersion) return ExchangeChannels(px);
    TakeChannels(engine::ChannelSet{});
    return S_OK;
}

// The picture at its own size, at the top left corner of the bounds (a container that prints or
// snapshots the control passes where the control sits) and cut off at their edges.
void CVandrelCtrl::Draw(HDC dc, const RECT& bounds, const RECT&) noexcept {
    if (!dc || !m_Bitmap) return;
    BITMAP info;
    if (::GetObjectW(m_Bitmap.get(), sizeof info, &info) != sizeof info) return;
    // In 64 bits: a host's bounds may span more than a LONG holds.
    const LONGLONG width = std::min<LONGLONG>(info.bmWidth, LONGLONG{bounds.right} - bounds.left);
    const LONGLONG height = std::min<LONGLONG>(info.bmHeight, LONGLONG{bounds.bottom} - bounds.top);
    if (width <= 0 || height <= 0) return;
    base::UniqueMemoryDc memory(::CreateCompatibleDC(dc));
    if (!memory) return;
    HGDIOBJ old = ::SelectObject(memory.get(), m_Bitmap.get());
    ::BitBlt(dc, bounds.left, bounds.top, static_cast<int>(width), static_cast<int>(height), memory.get(), 0,
             0, SRCCOPY);
    ::SelectObject(memory.get(), old);
}
