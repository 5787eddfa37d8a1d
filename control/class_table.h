// The identities Vandrel.ocx registers its two classes with: read by the module's registration
// (control/module.cpp) and by the installer generator (control/wxsgen), which turn them into the
// same registry rows (activex/class_rows.h). Constant data; any thread.
#pragma once

#include <windows.h>

#include "activex/registration.h"
#include "control/resource.h"
#include "control/vandrel_ctrl.h"
#include "control/vandrel_prop_page.h"
#include "vandrel_h.h"

namespace vandrel {

inline constexpr WORD kLibMajor = 1;
inline constexpr WORD kLibMinor = 0;
inline constexpr LCID kLibLocale = 0;

inline const activex::ControlRegistration kControlRegistration = {
    &CLSID_Vandrel,
    L"VANDREL.VandrelCtrl.1",
    IDS_VANDREL,
    IDB_TOOLBOX,
    CVandrelCtrl::kMiscStatus,
    &LIBID_VandrelLib,
    kLibMajor,
    kLibMinor,
};

inline const activex::PageRegistration kPageRegistration = {&CLSID_VandrelPropPage, IDS_VANDREL_PPG};

}  // namespace vandrel
