// The control's events: DataReady, StatusChanged and AlarmChanged, told on the creating thread from the
// notify window's handler (see control/vandrel_ctrl.h).
#include "control/vandrel_ctrl.h"

#include <iterator>

#include "base/com_ptr.h"
#include "control/automation_values.h"

using engine::SamplerStatus;
using vandrel::ClampToLong;

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
        m_Sampler.Measured().Forget(UINT64_MAX);
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
        m_Sampler.Measured().Forget(UINT64_MAX);
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
// sampling before the cycle it came with, each alarm change after its cycle among them; then the
// newest cycle, and the status now for a sink that connected after the changes were let go of.
bool CVandrelCtrl::TellNews() noexcept {
    engine::StatusChange changes[engine::StatusLog::kCapacity];
    const size_t count = m_Sampler.StatusChanges().Peek(changes, std::size(changes));
    for (size_t i = 0; i < count; ++i) {
        const engine::StatusChange& change = changes[i];
        if (!TellAlarmsBefore(change.run, change.cycle, change.status != SamplerStatus::kSampling))
            return false;
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
    if (!TellAlarmsBefore(UINT64_MAX, UINT64_MAX, true)) return false;
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

bool CVandrelCtrl::TellAlarmsBefore(uint64_t run, uint64_t cycle, bool atToo) noexcept {
    engine::Measurements& measured = m_Sampler.Measured();
    engine::AlarmChange changes[16];
    for (;;) {
        const size_t count = measured.Peek(changes, std::size(changes));
        if (count == 0) return true;
        for (size_t i = 0; i < count; ++i) {
            const engine::AlarmChange& change = changes[i];
            const bool before =
                change.run < run ||
                (change.run == run && (change.cycle < cycle || (atToo && change.cycle == cycle)));
            if (!before) return true;
            if (!TellCycle(change.run, change.cycle) || !TellAlarm(change)) return false;
            measured.Forget(change.sequence);
        }
    }
}

bool CVandrelCtrl::TellAlarm(const engine::AlarmChange& change) noexcept {
    // In reverse order: nChannel, nLevel, dValue, nCycle, dTime.
    VARIANT args[5];
    args[4].vt = VT_I4;
    args[4].lVal = change.channel + 1;
    args[3].vt = VT_I4;
    args[3].lVal = static_cast<LONG>(change.level);
    args[2].vt = VT_R8;
    args[2].dblVal = change.value;
    args[1].vt = VT_I4;
    args[1].lVal = ClampToLong(change.cycle);
    args[0].vt = VT_DATE;
    args[0].date = change.time ? base::AutomationDate(change.time + offsets_.At(change.time)) : 0;
    DISPPARAMS params = {args, nullptr, 5, 0};
    return FireEvent(kAlarmChanged, params);
}
