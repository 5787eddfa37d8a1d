// Resource ids of the control module (Vandrel.ocx). Shared by the .rc files and the code.
#pragma once

#define IDS_VANDREL          1    // "Vandrel Control", type name of the control
#define IDS_VANDREL_PPG      2    // "Vandrel Property Page", type name of the property page
#define IDS_PROPPAGE_CAPTION 200  // "Simple", title of the property page
#define IDB_TOOLBOX          1    // toolbox bitmap, 16 x 15
#define IDB_VANDREL          201  // the control's picture, 32 x 21
#define IDD_PROPPAGE_VANDREL 200  // the property page's dialog
