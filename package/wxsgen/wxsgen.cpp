#include "package/wxsgen/wxsgen.h"

#include <oleauto.h>

#include <iterator>
#include <utility>

#include "activex/class_rows.h"
#include "activex/typelib.h"
#include "base/com_ptr.h"
#include "base/hresult.h"
#include "base/text.h"
#include "base/unique_handle.h"
#include "base/variant.h"
#include "control/class_table.h"

namespace wxsgen {
namespace {

// Component identities. The shared ones are the same in both packages; the others differ per
// bitness so that each package owns its own files' registration.
constexpr wchar_t kProgIdGuid[] = L"5E0C6B1A-3F2D-4C47-9A7E-2B8D61F0C301";
constexpr wchar_t kTypeLibGuid[] = L"5E0C6B1A-3F2D-4C47-9A7E-2B8D61F0C302";
constexpr wchar_t kInterfaces32Guid[] = L"5E0C6B1A-3F2D-4C47-9A7E-2B8D61F0C303";
constexpr wchar_t kClassesGuid[2][37] = {L"5E0C6B1A-3F2D-4C47-9A7E-2B8D61F0C311",
                                         L"5E0C6B1A-3F2D-4C47-9A7E-2B8D61F0C321"};
constexpr wchar_t kTypeLibFileGuid[2][37] = {L"5E0C6B1A-3F2D-4C47-9A7E-2B8D61F0C312",
                                             L"5E0C6B1A-3F2D-4C47-9A7E-2B8D61F0C322"};
constexpr wchar_t kInterfaces64Guid[] = L"5E0C6B1A-3F2D-4C47-9A7E-2B8D61F0C323";

// The proxy of every dispatch interface: the automation marshaller.
constexpr wchar_t kDispatchProxy[] = L"{00020420-0000-0000-C000-000000000046}";

using base::GuidText;

// Adds a class's rows to the components of its two top keys.
void AddClassRows(const activex::ClassRow* rows, size_t count, const activex::ClassTexts& texts,
                  Component* progIdComponent, Component* classComponent) {
    for (size_t i = 0; i < count; ++i) {
        const activex::ClassRow& row = rows[i];
        Component* target = row.base == activex::RowBase::kProgId ? progIdComponent : classComponent;
        target->rows.push_back(
            {activex::RowKey(row, texts), row.name ? row.name : L"", activex::RowText(row.value, texts)});
    }
}

// The interface rows the platform's type library registration writes, in one registry view.
std::vector<Row> InterfaceRows(const ModuleInfo& info, const std::wstring& libid,
                               const std::wstring& version) {
    std::vector<Row> rows;
    for (const auto& itf : info.interfaces) {
        const std::wstring key = L"Interface\\" + GuidText(itf.iid);
        rows.push_back({key, L"", itf.name});
        rows.push_back({key + L"\\ProxyStubClsid", L"", kDispatchProxy});
        rows.push_back({key + L"\\ProxyStubClsid32", L"", kDispatchProxy});
        rows.push_back({key + L"\\TypeLib", L"", libid});
        rows.push_back({key + L"\\TypeLib", L"Version", version});
    }
    return rows;
}

// The miscStatus attribute of a manifest's comClass: the OLEMISC flags by name.
std::wstring MiscStatusNames(DWORD flags) {
    static const struct {
        DWORD flag;
        const wchar_t* name;
    } kNames[] = {
        {OLEMISC_RECOMPOSEONRESIZE, L"recomposeonresize"},
        {OLEMISC_ONLYICONIC, L"onlyiconic"},
        {OLEMISC_INSERTNOTREPLACE, L"insertnotreplace"},
        {OLEMISC_STATIC, L"static"},
        {OLEMISC_CANTLINKINSIDE, L"cantlinkinside"},
        {OLEMISC_CANLINKBYOLE1, L"canlinkbyole1"},
        {OLEMISC_ISLINKOBJECT, L"islinkobject"},
        {OLEMISC_INSIDEOUT, L"insideout"},
        {OLEMISC_ACTIVATEWHENVISIBLE, L"activatewhenvisible"},
        {OLEMISC_RENDERINGISDEVICEINDEPENDENT, L"renderingisdeviceindependent"},
        {OLEMISC_INVISIBLEATRUNTIME, L"invisibleatruntime"},
        {OLEMISC_ALWAYSRUN, L"alwaysrun"},
        {OLEMISC_ACTSLIKEBUTTON, L"actslikebutton"},
        {OLEMISC_ACTSLIKELABEL, L"actslikelabel"},
        {OLEMISC_NOUIACTIVATE, L"nouiactivate"},
        {OLEMISC_ALIGNABLE, L"alignable"},
        {OLEMISC_SIMPLEFRAME, L"simpleframe"},
        {OLEMISC_SETCLIENTSITEFIRST, L"setclientsitefirst"},
        {OLEMISC_IMEMODE, L"imemode"},
        {OLEMISC_IGNOREACTIVATEWHENVISIBLE, L"ignoreactivatewhenvisible"},
        {OLEMISC_WANTSTOMENUMERGE, L"wantstomenumerge"},
        {OLEMISC_SUPPORTSMULTILEVELUNDO, L"supportsmultilevelundo"},
    };
    std::wstring names;
    for (const auto& n : kNames) {
        if (!(flags & n.flag)) continue;
        if (!names.empty()) names += L",";
        names += n.name;
    }
    return names;
}

// The control's threading model, as its registry rows name it.
std::wstring ThreadingModel() {
    for (const activex::ClassRow& row : activex::kControlRows) {
        if (row.name && std::wstring(row.name) == L"ThreadingModel") {
            return activex::RowText(row.value, activex::ClassTexts{});
        }
    }
    return L"Apartment";
}

// The manifest's comClass elements of the controls.
std::string ControlClasses(const ModuleInfo& info) {
    std::string out;
    for (size_t i = 0; i < info.controlTypeNames.size() && i < std::size(vandrel::kControlRegistrations);
         ++i) {
        const auto& control = vandrel::kControlRegistrations[i];
        out += "    <comClass clsid=\"" + XmlText(GuidText(*control.clsid)) + "\" progid=\"" +
               XmlText(control.progId) + "\" threadingModel=\"" + XmlText(ThreadingModel()) + "\" tlbid=\"" +
               XmlText(GuidText(*control.libid)) + "\" description=\"" + XmlText(info.controlTypeNames[i]) +
               "\" miscStatusContent=\"" + XmlText(MiscStatusNames(control.miscStatus)) + "\"/>\n";
    }
    return out;
}

// The manifest's comClass elements of the pages.
std::string PageClasses(const ModuleInfo& info) {
    std::string out;
    for (size_t i = 0; i < info.pageTypeNames.size() && i < std::size(vandrel::kPageRegistrations); ++i) {
        out += "    <comClass clsid=\"" + XmlText(GuidText(*vandrel::kPageRegistrations[i].clsid)) +
               "\" description=\"" + XmlText(info.pageTypeNames[i]) + "\"/>\n";
    }
    return out;
}

}  // namespace

std::string XmlText(const std::wstring& text) {
    std::wstring escaped;
    for (wchar_t c : text) {
        switch (c) {
            case L'&': escaped += L"&amp;"; break;
            case L'<': escaped += L"&lt;"; break;
            case L'>': escaped += L"&gt;"; break;
            case L'"': escaped += L"&quot;"; break;
            default: escaped += c;
        }
    }
    return base::Utf8(escaped);
}

[[nodiscard]] HRESULT ReadModule(const std::wstring& ocxPath, ModuleInfo* info) {
    RETURN_HR_IF_NULL(E_POINTER, info);
    *info = ModuleInfo{};
    base::UniqueModule module(::LoadLibraryExW(ocxPath.c_str(), nullptr,
                                               LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    RETURN_LAST_ERROR_IF(!module);
    const HMODULE handle = static_cast<HMODULE>(module.get());
    for (const auto& control : vandrel::kControlRegistrations) {
        info->controlTypeNames.push_back(base::StringResource(handle, control.typeNameId));
    }
    for (const auto& page : vandrel::kPageRegistrations) {
        info->pageTypeNames.push_back(base::StringResource(handle, page.typeNameId));
    }

    base::ComPtr<ITypeLib> lib;
    RETURN_IF_FAILED(
        activex::LoadTypeLibFile(ocxPath.c_str(), *vandrel::kControlRegistrations[0].libid, lib.put()));
    TLIBATTR* attr = nullptr;
    RETURN_IF_FAILED(lib->GetLibAttr(&attr));
    info->libraryFlags = attr->wLibFlags;
    info->syskind = attr->syskind;
    lib->ReleaseTLibAttr(attr);

    base::Bstr doc;
    if (SUCCEEDED(lib->GetDocumentation(-1, nullptr, doc.put(), nullptr, nullptr)) && doc.get()) {
        info->libraryName.assign(doc.get(), doc.length());
    }

    const UINT count = lib->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        base::ComPtr<ITypeInfo> type;
        RETURN_IF_FAILED(lib->GetTypeInfo(i, type.put()));
        TYPEATTR* typeAttr = nullptr;
        RETURN_IF_FAILED(type->GetTypeAttr(&typeAttr));
        const bool isInterface =
            typeAttr->typekind == TKIND_DISPATCH || typeAttr->typekind == TKIND_INTERFACE;
        const IID iid = typeAttr->guid;
        type->ReleaseTypeAttr(typeAttr);
        if (!isInterface) continue;
        base::Bstr name;
        RETURN_IF_FAILED(lib->GetDocumentation(static_cast<INT>(i), name.put(), nullptr, nullptr, nullptr));
        info->interfaces.push_back({iid, std::wstring(name.get(), name.length())});
    }
    return S_OK;
}

bool RegistryComponents(Arch arch, const ModuleInfo& info, std::vector<Component>* components) {
    const bool x64 = arch == Arch::kX64;
    if ((info.syskind == SYS_WIN64) != x64) return false;
    const int a = x64 ? 1 : 0;

    if (info.controlTypeNames.size() != std::size(vandrel::kControlRegistrations) ||
        info.pageTypeNames.size() != std::size(vandrel::kPageRegistrations)) {
        return false;
    }

    Component progId{L"RegProgId", kProgIdGuid, x64, true, {}};
    Component classes{L"RegClasses", kClassesGuid[a], x64, false, {}};
    activex::ClassTexts control;  // the first control's, which names the type library
    for (size_t i = 0; i < info.controlTypeNames.size(); ++i) {
        activex::ClassTexts texts;
        if (!activex::ControlTexts(vandrel::kControlRegistrations[i], kOcxFileRef, info.controlTypeNames[i],
                                   &texts)) {
            return false;
        }
        AddClassRows(activex::kControlRows, std::size(activex::kControlRows), texts, &progId, &classes);
        if (i == 0) control = std::move(texts);
    }
    for (size_t i = 0; i < info.pageTypeNames.size(); ++i) {
        activex::ClassTexts page;
        if (!activex::PageTexts(vandrel::kPageRegistrations[i], kOcxFileRef, info.pageTypeNames[i], &page)) {
            return false;
        }
        AddClassRows(activex::kPageRows, std::size(activex::kPageRows), page, &progId, &classes);
    }

    // What registering the type library writes: the version key both views share, this
    // bitness's file entry and help folder, and the interfaces (a 64-bit registration writes them
    // to both views).
    const std::wstring libid = control.libid;
    const std::wstring version = control.version;
    const std::wstring versionKey = L"TypeLib\\" + libid + L"\\" + version;
    Component typeLib{L"RegTypeLib", kTypeLibGuid, x64, true, {}};
    typeLib.rows.push_back({versionKey, L"", info.libraryName});
    typeLib.rows.push_back({versionKey + L"\\FLAGS", L"", std::to_wstring(info.libraryFlags)});
    // The help folder is the module's own, so it goes with this bitness's file entry.
    Component typeLibFile{L"RegTypeLibFile", kTypeLibFileGuid[a], x64, false, {}};
    typeLibFile.rows.push_back(
        {versionKey + L"\\" + std::to_wstring(vandrel::kLibLocale) + (x64 ? L"\\win64" : L"\\win32"), L"",
         kOcxFileRef});
    typeLibFile.rows.push_back({versionKey + L"\\HELPDIR", L"", kFolderRef});
    Component interfaces32{L"RegInterfaces32", kInterfaces32Guid, false, true,
                           InterfaceRows(info, libid, version)};

    *components = {progId, classes, typeLib, typeLibFile, interfaces32};
    if (x64) {
        components->push_back(
            {L"RegInterfaces64", kInterfaces64Guid, true, false, InterfaceRows(info, libid, version)});
    }
    return true;
}

std::string WixComponents(const std::vector<Component>& components) {
    std::string out =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        "<!-- Written by vandrel-wxsgen from the module's class table; do not edit. -->\n"
        "<Include>\n";
    for (const Component& c : components) {
        out += "  <Component Id=\"" + XmlText(c.id) + "\" Guid=\"" + XmlText(c.guid) + "\" Win64=\"" +
               (c.win64 ? "yes" : "no") + "\">\n";
        bool first = true;
        for (const Row& r : c.rows) {
            out += "    <RegistryValue Root=\"HKMU\" Key=\"Software\\Classes\\" + XmlText(r.key) + "\"";
            if (!r.name.empty()) out += " Name=\"" + XmlText(r.name) + "\"";
            out += " Value=\"" + XmlText(r.value) + "\" Type=\"string\"";
            if (first) out += " KeyPath=\"yes\"";
            out += "/>\n";
            first = false;
        }
        out += "  </Component>\n";
    }
    return out + "</Include>\n";
}

std::string WixComponentRefs(const std::vector<Component>& components) {
    std::string out = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Include>\n";
    for (const Component& c : components) out += "  <ComponentRef Id=\"" + XmlText(c.id) + "\"/>\n";
    return out + "</Include>\n";
}

std::string AssemblyManifest(Arch arch, const ModuleInfo& info) {
    const auto& control = vandrel::kControlRegistrations[0];
    const std::string libid = XmlText(GuidText(*control.libid));
    const std::string version =
        std::to_string(control.versionMajor) + "." + std::to_string(control.versionMinor);
    std::string flags;
    if (info.libraryFlags & LIBFLAG_FRESTRICTED) flags += "RESTRICTED,";
    if (info.libraryFlags & LIBFLAG_FCONTROL) flags += "CONTROL,";
    if (info.libraryFlags & LIBFLAG_FHIDDEN) flags += "HIDDEN,";
    if (info.libraryFlags & LIBFLAG_FHASDISKIMAGE) flags += "HASDISKIMAGE,";
    if (!flags.empty()) flags.pop_back();

    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<!-- Vandrel.ocx without registration: programs that depend on this assembly create the\n"
        "     controls and their property pages from the file beside them. -->\n"
        "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\n"
        "  <assemblyIdentity type=\"win32\" name=\"TRUV.Vandrel\" version=\"" +
        std::string(vandrel::kFileVersionText) +
        "\" "
        "processorArchitecture=\"" +
        std::string(arch == Arch::kX64 ? "amd64" : "x86") +
        "\"/>\n"
        "  <file name=\"Vandrel.ocx\">\n" +
        ControlClasses(info) + PageClasses(info) + "    <typelib tlbid=\"" + libid + "\" version=\"" +
        version + "\" helpdir=\"\" flags=\"" + flags +
        "\"/>\n"
        "  </file>\n"
        "</assembly>\n";
    return out;
}

}  // namespace wxsgen
