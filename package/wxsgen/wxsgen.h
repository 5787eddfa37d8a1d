// What the installer packages and the portable folder say about Vandrel.ocx and its controls, made
// from the module's class table (control/class_table.h, activex/class_rows.h) and its type library: the
// registry components of a package as WiX source, and the registration-free assembly manifest.
// Plain functions, called on the generator's one thread.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

namespace wxsgen {

enum class Arch { kX86, kX64 };

// The file reference an installed package resolves to the path of Vandrel.ocx.
inline constexpr wchar_t kOcxFileRef[] = L"[#VandrelOcx]";
// ... and to the folder it is installed in (with a trailing backslash).
inline constexpr wchar_t kFolderRef[] = L"[INSTALLDIR]";

// One registry value of the classes key (a key as HKEY_CLASSES_ROOT names it); an empty name is the
// key's default value.
struct Row {
    std::wstring key;
    std::wstring name;
    std::wstring value;
};

// A component of registry rows. A shared component has the same identity in both packages so
// that Windows Installer counts its two clients and removes its keys with the last one.
struct Component {
    std::wstring id;
    std::wstring guid;
    bool win64;  // written in the 64-bit view
    bool shared;
    std::vector<Row> rows;
};

// The texts the generator reads from the module: its string resources and its type library.
struct ModuleInfo {
    std::vector<std::wstring> controlTypeNames;  // one a control of the class table, in its order
    std::vector<std::wstring> pageTypeNames;     // one a page of the class table, in its order
    std::wstring libraryName;                    // the library's help string
    WORD libraryFlags = 0;
    SYSKIND syskind = SYS_WIN32;
    struct Interface {
        IID iid;
        std::wstring name;
    };
    std::vector<Interface> interfaces;  // dispatch and plain interfaces
};

// Reads ModuleInfo from a Vandrel.ocx of either bitness, as data (no code of it runs).
[[nodiscard]] HRESULT ReadModule(const std::wstring& ocxPath, ModuleInfo* info);

// The registry components of the package for arch, with the file reference as the server path: the
// controls' rows in the order of the class table, then the pages'. Fails (false) when the module's
// bitness is not arch's, a class's type name is missing or a GUID cannot be formatted.
bool RegistryComponents(Arch arch, const ModuleInfo& info, std::vector<Component>* components);

// WiX include files, UTF-8: the components (included inside the installation folder's Directory
// element) and the references to them (included inside the Control feature). The rows go below
// Software\Classes of the installation's own root (HKMU): HKEY_LOCAL_MACHINE per machine,
// HKEY_CURRENT_USER per user. wixl writes that root as 4, not as Windows Installer's -1;
// scripts/package puts it right in the built package.
std::string WixComponents(const std::vector<Component>& components);
std::string WixComponentRefs(const std::vector<Component>& components);

// The assembly manifest "TRUV.Vandrel.manifest" that activates Vandrel.ocx without registration.
std::string AssemblyManifest(Arch arch, const ModuleInfo& info);

// XML text escaping (&, <, >, ") and conversion to UTF-8.
std::string XmlText(const std::wstring& text);

}  // namespace wxsgen
