// The control's readings: whole cycles (ReadCycle, ReadCycles, WaitForCycles), the buffer, the
// status and the last error, and the run's health.
#include "control/vandrel_ctrl.h"

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "base/com_ptr.h"
#include "base/hresult.h"
#include "base/text.h"
#include "control/automation_values.h"

using vandrel::ClampToLong;
using vandrel::NewText;

namespace {

using engine::SamplerStatus;

// The cells of one cycle: its number, its time, then its values, each stride cells after the last;
// scaled by scale's rules as Doubles when it is given.
void FillCycle(const engine::Cycle& cycle, DATE time, VARIANT* cells, size_t stride,
               const engine::ChannelSet* scale = nullptr) noexcept {
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
        if (scale) {
            value.vt = VT_R8;
            value.dblVal = (*scale)[static_cast<size_t>(k)].rules.Scale(cycle.values[k]);
        } else {
            value.vt = VT_I2;
            value.iVal = cycle.values[k];
        }
    }
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

double CVandrelCtrl::GapPercentile99() noexcept { return m_Sampler.Health().GapPercentile99Ms(); }

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

HRESULT CVandrelCtrl::ReadCycles(LONG nMaxCycles, LONG* lost, VARIANT* result) noexcept {
    return TakeCycleRows(nMaxCycles, false, lost, result);
}

HRESULT CVandrelCtrl::ReadScaledCycles(LONG nMaxCycles, LONG* lost, VARIANT* result) noexcept {
    return TakeCycleRows(nMaxCycles, true, lost, result);
}

// Rows of (number, time, values): the table checked nMaxCycles. The cycles are copied first and
// taken from the buffer only once their array exists: without memory for it they stay unread.
HRESULT CVandrelCtrl::TakeCycleRows(LONG nMaxCycles, bool scaled, LONG* lost, VARIANT* result) noexcept try {
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
                  batch.count, scaled ? &channels_ : nullptr);
    }
    m_Sampler.TakeCycles(batch);
    if (lost) *lost = ClampToLong(batch.lost);
    result->vt = VT_ARRAY | VT_VARIANT;
    result->parray = array.release();
    return S_OK;
}
CATCH_RETURN()
