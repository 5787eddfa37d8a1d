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

// The controls, in the order every walk visits them: the acquisition control, then the chart.
inline const activex::ControlRegistration kControlRegistrations[] = {
    {
        &CLSID_Vandrel,     // class
        kControlProgId,     // ProgID
        IDS_VANDREL,        // type name
        IDB_TOOLBOX,        // toolbox bitmap
        kMiscStatus,        // OLEMISC flags
        &LIBID_VandrelLib,  // type library
        kLibMajor,          // and its version
        kLibMinor,
    },
    {
        &CLSID_VandrelChart,  // class
        kChartProgId,         // ProgID
        IDS_VANDREL_CHART,    // type name
        IDB_CHART_TOOLBOX,    // toolbox bitmap
        kChartMiscStatus,     // OLEMISC flags
        &LIBID_VandrelLib,    // type library
        kLibMajor,            // and its version
        kLibMinor,
    },
};
inline const activex::ControlRegistration& kControlRegistration = kControlRegistrations[0];
inline const activex::ControlRegistration& kChartRegistration = kControlRegistrations[1];

// The property pages: the acquisition control's, in the order it lists them, then the chart's.
inline const activex::PageRegistration kPageRegistrations[] = {
    {&kPageClsid, IDS_VANDREL_PPG},
    {&kChannelsPageClsid, IDS_VANDREL_CHANNELS_PPG},
    {&kChartPageClsid, IDS_VANDREL_CHART_PPG},
};

}  // namespace vandrel
