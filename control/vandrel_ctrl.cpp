#include "control/vandrel_ctrl.h"

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cwchar>
#include <iterator>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "activex/module.h"
#include "base/com_ptr.h"
#include "base/hresult.h"
#include "base/text.h"
#include "control/identity.h"
#include "control/resource.h"
#include "control/vandrel_prop_page.h"
#include "vandrel_h.h"

namespace {

activex::TypeLibCache g_typeLib(LIBID_VandrelLib, vandrel::kLibMajor, vandrel::kLibMinor);

const CLSID kPropertyPages[] = {vandrel::kPageClsid};

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
    std::size(kPropertyPages),  // the page
    kVerbs,
    std::size(kVerbs),        // the properties verb
    vandrel::kControlProgId,  // the source of the errors its members raise
};

using engine::SamplerStatus;

// The most channels a cycle holds: a row's values after its number and time.
constexpr int32_t kCycleChannels = static_cast<int32_t>(std::extent_v<decltype(engine::Cycle::values)>);

// What ReadCycles and BufferSize take: the sampler's buffer sizes.
constexpr activex::ValueRange kCycleRange = {static_cast<LONG>(engine::kMinBufferCycles),
                                             static_cast<LONG>(engine::kMaxBufferCycles),
                                             L"The number of cycles must be from 1 to 100000."};
static_assert(engine::kMinBufferCycles == 1 && engine::kMaxBufferCycles == 100000, "the range's text");

// A count as a Long: the largest Long stands for any larger count.
LONG ClampToLong(uint64_t count) noexcept {
    return count > static_cast<uint64_t>(LONG_MAX) ? LONG_MAX : static_cast<LONG>(count);
}

// FILETIME units (100 ns) per day and per quarter of an hour, and the days from 1601-01-01, where
// FILETIME counts from, to 1899-12-30, day 0 of an automation DATE.
constexpr uint64_t kUnitsPerDay = 864000000000ull;
constexpr uint64_t kUnitsPerQuarterHour = 9000000000ull;
constexpr uint64_t kDateEpochDays = 109205;

// A local time in FILETIME units as an automation DATE with its milliseconds (SystemTimeToVariantTime
// drops them); the day and its fraction apart, so that the fraction keeps its precision.
DATE ToDate(uint64_t local) noexcept {
    const double days = static_cast<double>(local / kUnitsPerDay) - static_cast<double>(kDateEpochDays);
    return days + static_cast<double>(local % kUnitsPerDay) / static_cast<double>(kUnitsPerDay);
}

// The cells of one cycle: its number, its time, then its values, each stride cells after the last.
void FillCycle(const engine::Cycle& cycle, DATE time, VARIANT* cells, size_t stride) noexcept {
    VARIANT& number = cells[0];
    if (cycle.number > static_cast<uint64_t>(LONG_MAX)) {
        // Past a Long (after 248 days at the fastest rate): a Double holds the number exactly.
        number.vt = VT_R8;
        number.dblVal = static_cast<double>(cycle.number);
    } else {
        number.vt = VT_I4;
        number.lVal = static_cast<LONG>(cycle.number);
    }
    cells[stride].vt = VT_DATE;
    cells[stride].date = time;
    for (int32_t k = 0; k < std::clamp(cycle.channels, 0, kCycleChannels); ++k) {
        VARIANT& value = cells[(2 + k) * stride];
        value.vt = VT_I2;
        value.iVal = cycle.values[k];
    }
}

HRESULT NewText(const std::wstring& text, BSTR* out) noexcept {
    *out = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

std::wstring Format(const wchar_t* format, ...) {
    wchar_t buffer[512];
    va_list args;
    va_start(args, format);
    std::vswprintf(buffer, std::size(buffer), format, args);
    va_end(args);
    return buffer;
}

// Our own text for the sampler's result codes, the system's for the others.
std::wstring ErrorText(HRESULT hr) {
    switch (hr) {
        case S_OK: return L"";
        case engine::kErrorAlreadyRunning:
            return L"Start was refused: the control is sampling already. Call Stop first.";
        case engine::kErrorSetupFailed:
            return L"Start was refused: the control could not set up its sampler (its stop event or its "
                   L"cycle buffer).";
        case engine::kErrorBoardNotReady:
            return L"No byte arrived in a cycle: nothing answers at Address, or the board stayed busy.";
        case engine::kErrorCycleIncomplete:
            return L"The board stopped being ready before every byte of a cycle had arrived.";
        case engine::kErrorPortLockNotObtained:
            return L"The board's lock was not free within Interval: another sampler, perhaps in another "
                   L"process, had the board.";
        default: {
            const std::wstring message = base::SystemMessage(hr);
            return message.empty() ? Format(L"Error 0x%08lX.", static_cast<unsigned long>(hr)) : message;
        }
    }
}

}  // namespace

const activex::DispatchEntry<CVandrelCtrl> CVandrelCtrl::kDispatchMap[17] = {
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
};

HRESULT CVandrelCtrl::CreateInstance(REFIID riid, void** ppv) noexcept {
    return base::CreateObject<CVandrelCtrl>(riid, ppv);
}

CVandrelCtrl::CVandrelCtrl(CChannelSampler::EventCreator createEvent,
                           CChannelSampler::ThreadCreator createThread) noexcept
    : Control(kClass),
      m_Interval(0),
      m_Address(0),
      m_Sampler(::GetTickCount, createEvent, createThread),
      m_ChannelNumber(0),
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
    // Not checked: without its window the control fires no events, and everything else works.
    notifier_.Create();
    return m_Sampler.SetObserver(this);
}

// The sampling thread ends before the observer and the window go; then the parts let go of the
// container and the sinks.
void CVandrelCtrl::FinalRelease() noexcept {
    m_Sampler.Stop();
    m_Sampler.SetObserver(nullptr);
    notifier_.Destroy();
    ControlBase::FinalRelease();
}

// --- properties ----------------------------------------------------------------------------------

void CVandrelCtrl::ApplySetting(LONG& field, LONG (CChannelSampler::*get)() const noexcept,
                                void (CChannelSampler::*set)(LONG) noexcept) noexcept {
    if ((m_Sampler.*get)() != field) {
        if (m_Sampler.IsRunning()) {
            m_Sampler.Stop();
            (m_Sampler.*set)(field);
            StartRun();
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

LONG CVandrelCtrl::CycleCount() noexcept { return ClampToLong(m_Sampler.CycleCount()); }

LONG CVandrelCtrl::CycleAge() noexcept { return m_Sampler.NewestCycleAgeMs(); }

LONG CVandrelCtrl::Status() noexcept { return static_cast<LONG>(m_Sampler.Status()); }

HRESULT CVandrelCtrl::StatusText(BSTR* text) noexcept try {
    const unsigned long port = static_cast<unsigned long>(m_Address);
    std::wstring line;
    switch (m_Sampler.Status()) {
        case SamplerStatus::kStopped: line = L"Stopped: not sampling."; break;
        case SamplerStatus::kWaitingForFirstCycle:
            line = Format(L"Started; waiting for the first cycle from the board at port %lu (0x%lX).", port,
                          port);
            break;
        case SamplerStatus::kSampling:
            line = Format(L"Sampling the board at port %lu (0x%lX): %ld channels every %ld ms.", port, port,
                          static_cast<long>(m_ChannelNumber), static_cast<long>(m_Interval));
            break;
        case SamplerStatus::kBoardNotReady:
            line = Format(L"No data from port %lu (0x%lX): no board there, or the board stays busy.", port,
                          port);
            break;
        case SamplerStatus::kCycleIncomplete:
            line = Format(L"The board at port %lu (0x%lX) stopped being ready in the middle of a cycle.",
                          port, port);
            break;
        case SamplerStatus::kPortLockNotObtained:
            line = Format(
                L"Waiting for the board at port %lu (0x%lX): another sampler, perhaps in another process, "
                L"holds its lock.",
                port, port);
            break;
        case SamplerStatus::kStartFailed: line = L"Start failed: " + ErrorText(m_Sampler.LastError()); break;
    }
    return NewText(line, text);
}
CATCH_RETURN()

LONG CVandrelCtrl::LastError() noexcept { return static_cast<LONG>(m_Sampler.LastError()); }

HRESULT CVandrelCtrl::LastErrorText(BSTR* text) noexcept try {
    return NewText(ErrorText(m_Sampler.LastError()), text);
}
CATCH_RETURN()

LONG CVandrelCtrl::BufferSize() noexcept { return m_Sampler.GetBufferSize(); }

// Not a saved setting: the modified flag stays.
HRESULT CVandrelCtrl::PutBufferSize(LONG nCycles) noexcept { return m_Sampler.SetBufferSize(nCycles); }

// The losses reported, and those a drain would report now: the cycles neither handed out nor
// reported that the buffer no longer holds. The newest is read before the unread count, so that a
// cycle arriving between them cannot be taken for a loss.
LONG CVandrelCtrl::LostCycles() noexcept {
    const uint64_t newest = m_Sampler.CycleCount();
    const uint64_t unread = m_Sampler.UnreadCycles();
    const uint64_t accounted = runDelivered_ + runLost_ + unread;
    return ClampToLong(runLost_ + (newest > accounted ? newest - accounted : 0));
}

LONG CVandrelCtrl::UnreadCycles() noexcept { return ClampToLong(m_Sampler.UnreadCycles()); }

// --- methods -------------------------------------------------------------------------------------

SHORT CVandrelCtrl::GetChnlValue(LONG nChnlIndex) noexcept { return m_Sampler.GetChnlValue(nChnlIndex); }

BOOL CVandrelCtrl::Start() noexcept { return StartRun(); }

void CVandrelCtrl::Stop() noexcept { m_Sampler.Stop(); }

BOOL CVandrelCtrl::StartRun() noexcept {
    if (!m_Sampler.Start()) return FALSE;
    ++run_;
    runDelivered_ = 0;
    runLost_ = 0;
    lossCarry_ = 0;
    return TRUE;
}

// The zone's offset changes only on a quarter hour of UTC (every zone's offset is a whole number of
// quarter hours, and so are the local times of its changes), so one look-up serves a quarter hour.
int64_t CVandrelCtrl::LocalOffset(uint64_t utc) noexcept {
    const uint64_t quarter = utc / kUnitsPerQuarterHour;
    if (quarter == offsetQuarter_) return offset_;
    const FILETIME universalFile = {static_cast<DWORD>(utc), static_cast<DWORD>(utc >> 32)};
    SYSTEMTIME universal, local;
    FILETIME localFile;
    if (!::FileTimeToSystemTime(&universalFile, &universal) ||
        !::SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local) ||
        !::SystemTimeToFileTime(&local, &localFile)) {
        return 0;  // UTC, rather than no time
    }
    offsetQuarter_ = quarter;
    offset_ = static_cast<int64_t>(
        ((static_cast<uint64_t>(localFile.dwHighDateTime) << 32) | localFile.dwLowDateTime) - utc);
    return offset_;
}

DATE CVandrelCtrl::LocalDate(uint64_t utc) noexcept { return ToDate(utc + LocalOffset(utc)); }

HRESULT CVandrelCtrl::ReadCycle(VARIANT* result) noexcept {
    engine::Cycle cycle;
    if (!m_Sampler.ReadNewestCycle(cycle)) return S_OK;  // Empty: no cycle in this run yet
    SAFEARRAY* array = ::SafeArrayCreateVector(
        VT_VARIANT, 0, 2 + static_cast<ULONG>(std::clamp(cycle.channels, 0, kCycleChannels)));
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, array);
    FillCycle(cycle, LocalDate(cycle.time), static_cast<VARIANT*>(array->pvData), 1);
    result->vt = VT_ARRAY | VT_VARIANT;
    result->parray = array;
    return S_OK;
}

// Rows of (number, time, values): the table checked nMaxCycles. Cycles drained but then dropped for
// want of memory for the array are reported as lost with the next drain.
HRESULT CVandrelCtrl::ReadCycles(LONG nMaxCycles, LONG* lost, VARIANT* result) noexcept try {
    std::vector<engine::Cycle> cycles(
        std::min<size_t>(static_cast<size_t>(nMaxCycles), m_Sampler.UnreadCycles()));
    uint64_t lostNow = 0;
    const size_t rows = m_Sampler.DrainCycles(cycles.data(), cycles.size(), lostNow);
    runLost_ += lostNow;
    lostNow += std::exchange(lossCarry_, 0);

    int32_t channels = rows ? 0 : m_ChannelNumber;
    for (size_t r = 0; r < rows; ++r)
        channels = std::max(channels, std::clamp(cycles[r].channels, 0, kCycleChannels));
    SAFEARRAYBOUND bounds[2] = {{static_cast<ULONG>(rows), 0}, {2 + static_cast<ULONG>(channels), 0}};
    SAFEARRAY* array = ::SafeArrayCreate(VT_VARIANT, 2, bounds);
    if (!array) {
        runLost_ += rows;
        lossCarry_ = lostNow + rows;
        return E_OUTOFMEMORY;
    }
    // The first index, the row, varies fastest: row r of column c is cell c * rows + r.
    auto* cells = static_cast<VARIANT*>(array->pvData);
    for (size_t r = 0; r < rows; ++r) {
        FillCycle(cycles[r], LocalDate(cycles[r].time), cells + r, rows);
    }
    runDelivered_ += rows;
    if (lost) *lost = ClampToLong(lostNow);
    result->vt = VT_ARRAY | VT_VARIANT;
    result->parray = array;
    return S_OK;
}
CATCH_RETURN()

// --- events --------------------------------------------------------------------------------------

void CVandrelCtrl::OnCyclePublished(uint64_t) noexcept { RequestEvents(); }

void CVandrelCtrl::OnStatusChanged(SamplerStatus) noexcept { RequestEvents(); }

void CVandrelCtrl::EventsThawed() noexcept { RequestEvents(); }

void CVandrelCtrl::RequestEvents() noexcept {
    if (EventSinksConnected()) notifier_.Post();
}

void CVandrelCtrl::FireLong(DISPID dispid, LONG value) noexcept {
    VARIANT arg;
    arg.vt = VT_I4;
    arg.lVal = value;
    DISPPARAMS params = {&arg, nullptr, 1, 0};
    FireEvent(dispid, params);
}

// What happened since the last events, in the order it happened as far as it shows: a change to
// sampling came with the newest cycle, any other change after it. What is told is noted before the
// sinks hear it, so that a sink pumping messages in its call does not hear it twice.
void CVandrelCtrl::OnNotify() noexcept {
    if (EventsFrozen()) return;
    // A sink may let go of the control in its call.
    const base::ComPtr<IUnknown> hold(static_cast<IUnknown*>(this));
    const SamplerStatus status = m_Sampler.Status();
    const uint64_t newest = m_Sampler.CycleCount();
    const bool cycleNews = newest > 0 && (firedRun_ != run_ || firedCycle_ != newest);
    const bool statusNews = status != firedStatus_;
    firedStatus_ = status;
    if (statusNews && status == SamplerStatus::kSampling) FireLong(kStatusChanged, static_cast<LONG>(status));
    if (cycleNews) {
        firedRun_ = run_;
        firedCycle_ = newest;
        FireLong(kDataReady, ClampToLong(newest));
    }
    if (statusNews && status != SamplerStatus::kSampling) FireLong(kStatusChanged, static_cast<LONG>(status));
}

// --- persistence and drawing ---------------------------------------------------------------------

HRESULT CVandrelCtrl::ExchangeProperties(activex::PropExchange& px) noexcept {
    RETURN_IF_FAILED(activex::ExchangeVersion(px, kVersion));
    return ControlBase::ExchangeProperties(px);
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
