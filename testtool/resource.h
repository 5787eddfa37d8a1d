// Resource identifiers of Mirelo.exe.
#pragma once

#define IDI_MIRELO 1
