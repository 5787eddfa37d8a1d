// What Vandrel.ocx registers its classes with: read by the module's registration
// (control/module.cpp) and by the installer generator (package/wxsgen), which turn them into the
// same registry rows (activex/class_rows.h). Constant data; any thread.
#pragma once

#include <windows.h>

#include "activex/registration.h"
#include "control/identity.h"
#include "control/resource.h"
#include "vandrel_h.h"

namespace vandrel {

inline const activex::ControlRegistration kControlRegistration = {
    &CLSID_Vandrel,     // class
    kControlProgId,     // ProgID
    IDS_VANDREL,        // type name
    IDB_TOOLBOX,        // toolbox bitmap
    kMiscStatus,        // OLEMISC flags
    &LIBID_VandrelLib,  // type library
    kLibMajor,          // and its version
    kLibMinor,
};

inline const activex::ControlRegistration kChartRegistration = {
    &CLSID_VandrelChart,  // class
    kChartProgId,         // ProgID
    IDS_VANDREL_CHART,    // type name
    IDB_CHART_TOOLBOX,    // toolbox bitmap
    kChartMiscStatus,     // OLEMISC flags
    &LIBID_VandrelLib,    // type library
    kLibMajor,            // and its version
    kLibMinor,
};

// The property pages, in the order the control lists them.
inline const activex::PageRegistration kPageRegistrations[] = {
    {&kPageClsid, IDS_VANDREL_PPG},
    {&kChannelsPageClsid, IDS_VANDREL_CHANNELS_PPG},
};

}  // namespace vandrel
