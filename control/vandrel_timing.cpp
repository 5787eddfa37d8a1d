// The control's timing: PreciseTiming, which keeps short Intervals exact at the cost of processor
// time (engine/cycle_pause.h).
#include "control/vandrel_ctrl.h"

bool CVandrelCtrl::PreciseTiming() noexcept { return m_Sampler.PreciseTiming(); }

// Not a saved setting: the modified flag stays. A running sampler takes it before its next pause,
// without the restart that a change of Interval makes.
HRESULT CVandrelCtrl::PutPreciseTiming(LONG bPrecise) noexcept {
    m_Sampler.SetPreciseTiming(bPrecise != 0);
    return S_OK;
}
