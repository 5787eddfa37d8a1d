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

// Writes (add TRUE) or removes (add FALSE) a class's entries: S_OK, or the error of the registry
// call that failed (E_ACCESSDENIED, when the caller may not write there).
//
// On 64-bit Windows each bitness registers its class key in its own registry view, while the ProgID
// key is shared by both views. Removal therefore leaves the ProgID key in place while the other
// view still holds the class: the other bitness's registration keeps working until it leaves too.
[[nodiscard]] HRESULT UpdateControlRegistration(HINSTANCE module, const ControlRegistration& reg,
                                                BOOL add) noexcept;
[[nodiscard]] HRESULT UpdatePageRegistration(HINSTANCE module, const PageRegistration& reg,
                                             BOOL add) noexcept;

// Registers the type library of module (TYPELIB resource 1) with the module's full path and no
// help directory, provided its LIBID is libid. S_OK, or the error of the step that failed
// (SELFREG_E_TYPELIB for a library with another LIBID); nothing is registered on failure.
[[nodiscard]] HRESULT RegisterModuleTypeLib(HINSTANCE module, REFGUID libid) noexcept;

// Removes this build's registration of type library libid: from every registered version, the
// locale keys' entry for this platform ("win32" or "win64"). A locale key that still holds another
// platform's entry ("win16", or the other bitness's) keeps it; one left empty goes, and so do
// emptied versions and, last, the library key. The keys of its interfaces go once the library can
// no longer be loaded as version versionMajor.versionMinor for lcid and no 32- or 64-bit entry
// of it stays. Keys already absent count as removed. S_OK, or SELFREG_E_TYPELIB when a key could
// not be removed (E_OUTOFMEMORY when memory ran out first).
[[nodiscard]] HRESULT UnregisterModuleTypeLib(REFGUID libid, WORD versionMajor, WORD versionMinor,
                                              LCID lcid) noexcept;

}  // namespace activex
