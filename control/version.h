// The version of Vandrel.ocx: its version block (control/version.rc) and the assembly identity of
// the installer's registration-free manifest (package/wxsgen) both take it from here. Plain
// preprocessor definitions, since the resource compiler reads this file too.
#pragma once

#define VANDREL_VERSION_MAJOR    1
#define VANDREL_VERSION_MINOR    0
#define VANDREL_VERSION_BUILD    0
#define VANDREL_VERSION_REVISION 27
// The four numbers above as text; the resource compiler cannot build it from them.
#define VANDREL_VERSION_TEXT     "1.0.0.27"
