// Resource ids of the control module (Vandrel.ocx). Shared by the .rc files and the code.
#pragma once

#define IDS_VANDREL              1    // "Vandrel Control", type name of the control
#define IDS_VANDREL_PPG          2    // "Vandrel Property Page", type name of the property page
#define IDS_VANDREL_CHANNELS_PPG 3    // "Vandrel Channels Property Page", type name of the second page
#define IDS_VANDREL_CHART        4    // "Vandrel Chart", type name of the chart
#define IDS_VANDREL_CHART_PPG    5    // "Vandrel Chart Property Page", type name of the chart's page
#define IDS_PROPPAGE_CAPTION     200  // "Simple", title of the property page
#define IDS_CHANNELS_CAPTION     201  // "Channels", title of the channels page
#define IDS_CHANNEL_ITEM         202  // "Channel ", before the number in the channels page's list and texts
#define IDS_NOT_A_NUMBER         203  // the channels page's word on a field it cannot read
#define IDS_CHART_CAPTION        204  // "Chart", title of the chart's page
#define IDS_CHART_STRIP          205  // the chart page's mode items, in the order of the Mode values
#define IDS_CHART_SCOPE          206
#define IDB_TOOLBOX              1    // toolbox bitmap, 16 x 15
#define IDB_CHART_TOOLBOX        2    // the chart's toolbox bitmap, 16 x 15
#define IDB_VANDREL              201  // the control's picture, 32 x 21
#define IDD_PROPPAGE_VANDREL     200  // the property page's dialog
#define IDD_PROPPAGE_CHANNELS    201  // the channels page's dialog
#define IDD_PROPPAGE_CHART       202  // the chart page's dialog

// The channels page's controls.
#define IDC_CHANNEL         1000  // the list of channels
#define IDC_CHANNEL_NAME    1001
#define IDC_CHANNEL_UNIT    1002
#define IDC_CHANNEL_GAIN    1003
#define IDC_CHANNEL_OFFSET  1004
#define IDC_HIGH_HIGH_LIMIT 1005
#define IDC_HIGH_LIMIT      1006
#define IDC_LOW_LIMIT       1007
#define IDC_LOW_LOW_LIMIT   1008
#define IDC_ALARM_DEADBAND  1009
#define IDC_ALARM_DELAY     1010
#define IDC_ALARM_LATCH     1011
#define IDC_CHANNELS_STATUS 1012  // why the last apply failed

// The chart page's controls.
#define IDC_CHART_MODE          1100
#define IDC_CHART_TIME_WINDOW   1101
#define IDC_CHART_HISTORY       1102
#define IDC_CHART_AUTO_RANGE    1103
#define IDC_CHART_RANGE_MINIMUM 1104
#define IDC_CHART_RANGE_MAXIMUM 1105
#define IDC_CHART_CHANNEL       1106  // the list of channels
#define IDC_CHART_VISIBLE       1107
#define IDC_CHART_COLOUR        1108
#define IDC_CHART_STATUS        1109  // why the last apply failed
