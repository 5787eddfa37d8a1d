// Self-registration of a control module: the type library it carries and the registry entries of
// its classes under HKEY_CLASSES_ROOT. Called on the thread of DllRegisterServer/DllUnregisterServer.
#pragma once

#include <windows.h>

namespace activex {

// What the registry learns about a control class.
struct ControlRegistration {
    const CLSID* clsid;
    const wchar_t* progId;
    UINT typeNameId;       // string resource with the user type name
    UINT toolboxBitmapId;  // bitmap resource for a host's toolbox
    DWORD miscStatus;      // OLEMISC flags
    const GUID* libid;
    WORD versionMajor;
    WORD versionMinor;
};

// What the registry learns about a property page class.
struct PageRegistration {
    const CLSID* clsid;
    UINT typeNameId;
};

// Writes (add TRUE) or removes (add FALSE) a class's entries; TRUE on success.
BOOL UpdateControlRegistration(HINSTANCE module, const ControlRegistration& reg, BOOL add) noexcept;
BOOL UpdatePageRegistration(HINSTANCE module, const PageRegistration& reg, BOOL add) noexcept;

// Registers the type library of module (TYPELIB resource 1) with the module's full path and no
// help directory, provided its LIBID is libid. S_OK, or the error of the step that failed
// (SELFREG_E_TYPELIB for a library with another LIBID); nothing is registered on failure.
HRESULT RegisterModuleTypeLib(HINSTANCE module, REFGUID libid) noexcept;

// Removes the registration of type library libid (every registered version; a locale key that
// also holds a "win16" entry keeps it) and, once the library can no longer be loaded as version
// versionMajor.versionMinor for lcid, the keys of its interfaces. Keys already absent count as
// removed. S_OK, or SELFREG_E_TYPELIB when a key could not be removed.
HRESULT UnregisterModuleTypeLib(REFGUID libid, WORD versionMajor, WORD versionMinor, LCID lcid) noexcept;

}  // namespace activex
