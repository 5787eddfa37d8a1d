// Who Vandrel.ocx is: the names and numbers its registration, its class factories and the
// installer generator (package/wxsgen) share. The class and interface identifiers of the control
// are the type library's (vandrel.idl, declared in vandrel_h.h); the property pages, which the
// library does not describe, have their CLSIDs here. The library's version stands beside it, and a test
// holds it against the built library. Constant data; any thread.
#pragma once

#include <windows.h>

#include "control/version.h"
#include "vandrel_h.h"

namespace vandrel {

inline constexpr wchar_t kControlProgId[] = L"VANDREL.VandrelCtrl.1";
inline constexpr wchar_t kChartProgId[] = L"VANDREL.VandrelChart.1";

// The control's OLEMISC flags, which its IOleObject answers and its registration writes.
inline constexpr DWORD kMiscStatus = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE | OLEMISC_INSIDEOUT |
                                     OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_INVISIBLEATRUNTIME |
                                     OLEMISC_SETCLIENTSITEFIRST;
// The value that registration writes and that containers have always read.
static_assert(kMiscStatus == 0x20591, "MiscStatus of the registered control");

// The chart's: the same, but seen at run time.
inline constexpr DWORD kChartMiscStatus = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE |
                                          OLEMISC_INSIDEOUT | OLEMISC_ACTIVATEWHENVISIBLE |
                                          OLEMISC_SETCLIENTSITEFIRST;

// The "Simple" page. {8728C7CB-895D-442F-8647-74F1366CDDE4}
inline constexpr CLSID kPageClsid = {
    0x8728C7CB, 0x895D, 0x442F, {0x86, 0x47, 0x74, 0xF1, 0x36, 0x6C, 0xDD, 0xE4}};
// The "Channels" page. {8B99F5F7-DEAE-4074-9A88-232532E66835}
inline constexpr CLSID kChannelsPageClsid = {
    0x8B99F5F7, 0xDEAE, 0x4074, {0x9A, 0x88, 0x23, 0x25, 0x32, 0xE6, 0x68, 0x35}};

// The chart's page. {C36DC61C-8B26-42E7-8AF7-559661277253}
inline constexpr CLSID kChartPageClsid = {
    0xC36DC61C, 0x8B26, 0x42E7, {0x8A, 0xF7, 0x55, 0x96, 0x61, 0x27, 0x72, 0x53}};

// The type library's version(1.0) and the locale it is registered under.
inline constexpr WORD kLibMajor = 1;
inline constexpr WORD kLibMinor = 0;
inline constexpr LCID kLibLocale = 0;

// The module's file and product version.
inline constexpr WORD kFileVersion[4] = {VANDREL_VERSION_MAJOR, VANDREL_VERSION_MINOR, VANDREL_VERSION_BUILD,
                                         VANDREL_VERSION_REVISION};
inline constexpr char kFileVersionText[] = VANDREL_VERSION_TEXT;

}  // namespace vandrel
