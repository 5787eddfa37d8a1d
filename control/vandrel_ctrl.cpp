#include "control/vandrel_ctrl.h"

#include <algorithm>
#include <climits>
#include <iterator>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "activex/dispatch_rows.h"
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

// What ReadCycles and BufferSize take: the sampler's buffer sizes.
constexpr activex::ValueRange kCycleRange = {static_cast<LONG>(engine::kMinBufferCycles),
                                             static_cast<LONG>(engine::kMaxBufferCycles),
                                             L"The number of cycles must be from 1 to 100000."};
static_assert(engine::kMinBufferCycles == 1 && engine::kMaxBufferCycles == 100000, "the range's text");

// What RecordLimit takes.
constexpr activex::ValueRange kLimitRange = {static_cast<LONG>(engine::CycleRecorder::kMinLimitBytes),
                                             LONG_MAX, L"The limit must be from 4096 to 2147483647 bytes."};
static_assert(engine::CycleRecorder::kMinLimitBytes == 4096, "the range's text");

// A count as a Long: the largest Long stands for any larger count.
LONG ClampToLong(uint64_t count) noexcept {
    return count > static_cast<uint64_t>(LONG_MAX) ? LONG_MAX : static_cast<LONG>(count);
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
    for (int32_t k = 0; k < cycle.channels; ++k) {
        VARIANT& value = cells[(2 + k) * stride];
        value.vt = VT_I2;
        value.iVal = cycle.values[k];
    }
}

[[nodiscard]] HRESULT NewText(const std::wstring& text, BSTR* out) noexcept {
    *out = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
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
            return message.empty() ? base::Format(L"Error 0x%08lX.", static_cast<unsigned long>(hr))
                                   : message;
        }
    }
}

}  // namespace

const activex::DispatchEntry<CVandrelCtrl> CVandrelCtrl::kDispatchMap[25] = {
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

// --- properties ----------------------------------------------------------------------------------

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

LONG CVandrelCtrl::CycleCount() noexcept { return ClampToLong(m_Sampler.CycleCount()); }

LONG CVandrelCtrl::CycleAge() noexcept { return m_Sampler.NewestCycleAgeMs(); }

engine::StatusReport CVandrelCtrl::ShownReport(bool statusRead) noexcept {
    if (!statusRead) return shown_ ? *shown_ : m_Sampler.Report();
    shown_ = m_Sampler.Report();
    // The loop's next turn lets go of it (OnNotify).
    notifier_.Post();
    return *shown_;
}

LONG CVandrelCtrl::Status() noexcept { return static_cast<LONG>(ShownReport(true).status); }

HRESULT CVandrelCtrl::StatusText(BSTR* text) noexcept try {
    const engine::StatusReport report = ShownReport(true);
    const unsigned long port = static_cast<unsigned long>(m_Address);
    std::wstring line;
    switch (report.status) {
        case SamplerStatus::kStopped: line = L"Stopped: not sampling."; break;
        case SamplerStatus::kWaitingForFirstCycle:
            line = base::Format(L"Started; waiting for the first cycle from the board at port %lu (0x%lX).",
                                port, port);
            break;
        case SamplerStatus::kSampling:
            line = base::Format(L"Sampling the board at port %lu (0x%lX): %ld channels every %ld ms.", port,
                                port, static_cast<long>(m_ChannelNumber), static_cast<long>(m_Interval));
            break;
        case SamplerStatus::kBoardNotReady:
            line = base::Format(L"No data from port %lu (0x%lX): no board there, or the board stays busy.",
                                port, port);
            break;
        case SamplerStatus::kCycleIncomplete:
            line = base::Format(
                L"The board at port %lu (0x%lX) stopped being ready in the middle of a cycle.", port, port);
            break;
        case SamplerStatus::kPortLockNotObtained:
            line = base::Format(
                L"Waiting for the board at port %lu (0x%lX): another sampler, perhaps in another process, "
                L"holds its lock.",
                port, port);
            break;
        case SamplerStatus::kStartFailed: line = L"Start failed: " + ErrorText(report.error); break;
    }
    return NewText(line, text);
}
CATCH_RETURN()

LONG CVandrelCtrl::LastError() noexcept { return static_cast<LONG>(ShownReport(false).error); }

HRESULT CVandrelCtrl::LastErrorText(BSTR* text) noexcept try {
    return NewText(ErrorText(ShownReport(false).error), text);
}
CATCH_RETURN()

LONG CVandrelCtrl::BufferSize() noexcept { return m_Sampler.GetBufferSize(); }

// Not a saved setting: the modified flag stays.
HRESULT CVandrelCtrl::PutBufferSize(LONG nCycles) noexcept { return m_Sampler.SetBufferSize(nCycles); }

LONG CVandrelCtrl::LostCycles() noexcept { return ClampToLong(m_Sampler.LostCycles()); }

LONG CVandrelCtrl::UnreadCycles() noexcept { return ClampToLong(m_Sampler.UnreadCycles()); }

double CVandrelCtrl::CycleRate() noexcept { return m_Sampler.Health().Rate(); }

LONG CVandrelCtrl::LongestGap() noexcept { return ClampToLong(m_Sampler.Health().LongestGapMs()); }

LONG CVandrelCtrl::FailedCycles() noexcept { return ClampToLong(m_Sampler.Health().FailedAttempts()); }

HRESULT CVandrelCtrl::RecordFile(BSTR* path) noexcept { return NewText(recordFile_, path); }

// A path is taken as a full one, as the host's current folder had it when it was set.
HRESULT CVandrelCtrl::PutRecordFile(BSTR path) noexcept try {
    if (!path || !*path) {
        recorder_.Close();
        recordFile_.clear();
        return S_OK;
    }
    std::wstring full(MAX_PATH, L'\0');
    DWORD n = ::GetFullPathNameW(path, static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n > full.size()) {
        full.resize(n);
        n = ::GetFullPathNameW(path, n, full.data(), nullptr);
    }
    RETURN_LAST_ERROR_IF(n == 0 || n > full.size());
    full.resize(n);
    RETURN_IF_FAILED(recorder_.Record(full, static_cast<size_t>(m_Sampler.GetBufferSize()), m_ChannelNumber));
    recordFile_ = full;
    return S_OK;
}
CATCH_RETURN()

LONG CVandrelCtrl::RecordLimit() noexcept { return ClampToLong(recorder_.LimitBytes()); }

// Not a saved setting: the modified flag stays.
HRESULT CVandrelCtrl::PutRecordLimit(LONG bytes) noexcept {
    recorder_.SetLimitBytes(static_cast<uint64_t>(bytes));
    return S_OK;
}

LONG CVandrelCtrl::RecordLost() noexcept { return ClampToLong(recorder_.Lost()); }

bool CVandrelCtrl::Recording() noexcept { return recorder_.Recording(); }

// --- methods -------------------------------------------------------------------------------------

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

LONG CVandrelCtrl::WaitForCycles(LONG nCycles, LONG nTimeoutMs) noexcept {
    // A message it handles may let go of the control (a form its container closes): the control
    // goes when the wait is over, not under it.
    const base::ComPtr<IUnknown> keep(static_cast<IUnknown*>(this));
    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(nTimeoutMs > 0 ? nTimeoutMs : 0);
    // The buffer never holds more than its size: a count past it waits for a full buffer.
    const size_t wanted =
        std::min<size_t>(static_cast<size_t>(nCycles), static_cast<size_t>(m_Sampler.GetBufferSize()));
    ++waiters_;
    for (;;) {
        if (m_Sampler.UnreadCycles() >= wanted || !m_Sampler.IsRunning()) break;
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline) break;
        const HANDLE cycle = cycleEvent_.get();
        const DWORD woke = ::MsgWaitForMultipleObjectsEx(
            1, &cycle, static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 100)), QS_ALLINPUT,
            MWMO_INPUTAVAILABLE);
        if (woke == WAIT_FAILED) break;
        MSG msg;
        bool quit = false;
        while (!quit && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            // The host's own loop must see WM_QUIT: it goes back into the queue, and the wait ends.
            if (msg.message == WM_QUIT) {
                ::PostQuitMessage(static_cast<int>(msg.wParam));
                quit = true;
                break;
            }
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        if (quit) break;
    }
    --waiters_;
    return ClampToLong(m_Sampler.UnreadCycles());
}

HRESULT CVandrelCtrl::ReadCycle(VARIANT* result) noexcept {
    engine::Cycle cycle;
    if (!m_Sampler.ReadNewestCycle(cycle)) return S_OK;  // Empty: no cycle in this run yet
    base::UniqueSafeArray array(
        ::SafeArrayCreateVector(VT_VARIANT, 0, 2 + static_cast<ULONG>(cycle.channels)));
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, array.get());
    FillCycle(cycle, base::AutomationDate(cycle.time + offsets_.At(cycle.time)),
              static_cast<VARIANT*>(array.get()->pvData), 1);
    result->vt = VT_ARRAY | VT_VARIANT;
    result->parray = array.release();
    return S_OK;
}

// Rows of (number, time, values): the table checked nMaxCycles. The cycles are copied first and
// taken from the buffer only once their array exists: without memory for it they stay unread.
HRESULT CVandrelCtrl::ReadCycles(LONG nMaxCycles, LONG* lost, VARIANT* result) noexcept try {
    std::vector<engine::Cycle> cycles(
        std::min<size_t>(static_cast<size_t>(nMaxCycles), m_Sampler.UnreadCycles()));
    const engine::ReadBatch batch = m_Sampler.PeekCycles(cycles.data(), cycles.size());
    int32_t channels = batch.count ? 0 : m_ChannelNumber;
    for (size_t r = 0; r < batch.count; ++r) channels = std::max(channels, cycles[r].channels);
    SAFEARRAYBOUND bounds[2] = {{static_cast<ULONG>(batch.count), 0}, {2 + static_cast<ULONG>(channels), 0}};
    base::UniqueSafeArray array(createArray_(VT_VARIANT, 2, bounds));
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, array.get());
    // The first index, the row, varies fastest: row r of column c is cell c * rows + r.
    auto* cells = static_cast<VARIANT*>(array.get()->pvData);
    for (size_t r = 0; r < batch.count; ++r) {
        FillCycle(cycles[r], base::AutomationDate(cycles[r].time + offsets_.At(cycles[r].time)), cells + r,
                  batch.count);
    }
    m_Sampler.TakeCycles(batch);
    if (lost) *lost = ClampToLong(batch.lost);
    result->vt = VT_ARRAY | VT_VARIANT;
    result->parray = array.release();
    return S_OK;
}
CATCH_RETURN()

// --- events --------------------------------------------------------------------------------------

void CVandrelCtrl::OnSamplerNews() noexcept {
    if (waiters_.load(std::memory_order_relaxed) > 0) ::SetEvent(cycleEvent_.get());
    RequestEvents();
}

void CVandrelCtrl::EventsThawed() noexcept { RequestEvents(); }

void CVandrelCtrl::RequestEvents() noexcept {
    // Without a sink nobody hears the changes: they are let go of as they come.
    if (EventSinksConnected()) {
        notifier_.Post();
    } else {
        m_Sampler.ForgetStatusChanges(UINT64_MAX);
    }
}

bool CVandrelCtrl::FireLong(DISPID dispid, LONG value) noexcept {
    VARIANT arg;
    arg.vt = VT_I4;
    arg.lVal = value;
    DISPPARAMS params = {&arg, nullptr, 1, 0};
    return FireEvent(dispid, params);
}

// A sink that handles messages in its call (a message box, DoEvents) brings the next message here
// while a pass runs: that one only asks for another pass after it, so what the sinks hear stays in
// order.
void CVandrelCtrl::OnNotify() noexcept {
    shown_.reset();
    if (notifying_) {
        notifyAgain_ = true;
        return;
    }
    if (!EventSinksConnected()) {
        m_Sampler.ForgetStatusChanges(UINT64_MAX);
        return;
    }
    // A sink may let go of the control in its call.
    const base::ComPtr<IUnknown> hold(static_cast<IUnknown*>(this));
    notifying_ = true;
    notifyAgain_ = false;
    // A freeze stops the pass; the thaw asks for the next.
    static_cast<void>(TellNews());
    notifying_ = false;
    // The next pass comes through the host's loop, which so runs between passes even when the
    // sinks take longer than the cycles.
    if (notifyAgain_) notifier_.Post();
}

// The status changes in the order they came, a failure after the cycle it followed and a change to
// sampling before the cycle it came with; then the newest cycle, and the status now for a sink that
// connected after the changes were let go of.
bool CVandrelCtrl::TellNews() noexcept {
    engine::StatusChange changes[engine::StatusLog::kCapacity];
    const size_t count = m_Sampler.StatusChanges().Peek(changes, std::size(changes));
    for (size_t i = 0; i < count; ++i) {
        const engine::StatusChange& change = changes[i];
        if (change.status != SamplerStatus::kSampling && !TellCycle(change.run, change.cycle)) return false;
        if (change.status != toldStatus_) {
            shown_ = engine::StatusReport{change.status, change.error};
            const bool told = FireLong(kStatusChanged, static_cast<LONG>(change.status));
            shown_.reset();
            if (!told) return false;
            toldStatus_ = change.status;
        }
        m_Sampler.ForgetStatusChanges(change.sequence);
    }
    const SamplerStatus now = m_Sampler.Status();
    engine::StatusChange waiting;
    const bool catchUp = now != toldStatus_ && m_Sampler.StatusChanges().Peek(&waiting, 1) == 0;
    const auto tellNow = [&] {
        if (!FireLong(kStatusChanged, static_cast<LONG>(now))) return false;
        toldStatus_ = now;
        return true;
    };
    if (catchUp && now == SamplerStatus::kSampling && !tellNow()) return false;
    if (!TellCycle(m_Sampler.Run(), m_Sampler.CycleCount())) return false;
    return !catchUp || now == SamplerStatus::kSampling || tellNow();
}

bool CVandrelCtrl::TellCycle(uint64_t run, uint64_t cycle) noexcept {
    if (cycle == 0 || run != m_Sampler.Run() || (run == toldRun_ && cycle <= toldCycle_)) return true;
    if (!FireLong(kDataReady, ClampToLong(cycle))) return false;
    toldRun_ = run;
    toldCycle_ = cycle;
    return true;
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
