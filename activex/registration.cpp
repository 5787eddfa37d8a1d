// Placeholder until self-registration is written: every call reports failure.
#include "activex/registration.h"

namespace activex {

BOOL UpdateControlRegistration(HINSTANCE, const ControlRegistration&, BOOL) noexcept { return FALSE; }

BOOL UpdatePageRegistration(HINSTANCE, const PageRegistration&, BOOL) noexcept { return FALSE; }

HRESULT RegisterModuleTypeLib(HINSTANCE, REFGUID) noexcept { return E_NOTIMPL; }

HRESULT UnregisterModuleTypeLib(REFGUID, WORD, WORD, LCID) noexcept { return E_NOTIMPL; }

}  // namespace activex
