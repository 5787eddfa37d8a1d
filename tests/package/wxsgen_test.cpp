// The installer generator: the registry components it makes from the class table for each
// bitness, the WiX text, and the assembly manifest, from a module description of the test's own
// and from the built Vandrel.ocx read as data.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <utility>

#include "activex/class_rows.h"
#include "tests/activex/registry_snapshot.h"
#include "tests/support/run_process.h"
#include "tests/support/call_site.h"
#include "tests/support/hresult_matchers.h"
#include "package/wxsgen/wxsgen.h"
#include "vandrel_h.h"

namespace {

using wxsgen::Arch;
using wxsgen::Component;

// The classes as the rows and the manifest must name them.
struct ControlRows {
    const wchar_t* clsid;
    const wchar_t* progId;
    const wchar_t* typeName;
    const wchar_t* bitmap;
    const wchar_t* miscStatus;
    const char* miscNames;  // the manifest's
};
constexpr ControlRows kControls[] = {
    {L"{E4DE41E5-20F5-4A71-91C1-BC0686540ACF}", L"VANDREL.VandrelCtrl.1", L"Vandrel Control", L"1", L"132497",
     "recomposeonresize,cantlinkinside,insideout,activatewhenvisible,invisibleatruntime,setclientsitefirst"},
    {L"{AF7FF62E-E0F0-4DC0-B3DE-E004729C2A1D}", L"VANDREL.VandrelChart.1", L"Vandrel Chart", L"2", L"131473",
     "recomposeonresize,cantlinkinside,insideout,activatewhenvisible,setclientsitefirst"},
};
constexpr std::pair<const wchar_t*, const wchar_t*> kPages[] = {
    {L"{8728C7CB-895D-442F-8647-74F1366CDDE4}", L"Vandrel Property Page"},
    {L"{8B99F5F7-DEAE-4074-9A88-232532E66835}", L"Vandrel Channels Property Page"},
    {L"{C36DC61C-8B26-42E7-8AF7-559661277253}", L"Vandrel Chart Property Page"},
};

wxsgen::ModuleInfo Info(SYSKIND syskind) {
    wxsgen::ModuleInfo info;
    info.controlTypeNames = {L"Vandrel Control", L"Vandrel Chart"};
    info.pageTypeNames = {L"Vandrel Property Page", L"Vandrel Channels Property Page",
                          L"Vandrel Chart Property Page"};
    info.libraryName = L"Vandrel ActiveX";
    info.libraryFlags = LIBFLAG_FCONTROL | LIBFLAG_FHASDISKIMAGE;
    info.syskind = syskind;
    info.interfaces = {{DIID__DVandrel, L"_DVandrel"},
                       {DIID__DVandrelEvents, L"_DVandrelEvents"},
                       {DIID__DVandrelChart, L"_DVandrelChart"},
                       {DIID__DVandrelChartEvents, L"_DVandrelChartEvents"}};
    return info;
}

std::map<std::wstring, Component> Components(Arch arch,
                                             testsupport::CallSite caller = testsupport::CallSite::Here()) {
    const testsupport::CallerTrace fromCaller(caller);
    std::vector<Component> list;
    EXPECT_TRUE(wxsgen::RegistryComponents(arch, Info(arch == Arch::kX64 ? SYS_WIN64 : SYS_WIN32), &list));
    std::map<std::wstring, Component> byId;
    for (auto& c : list) byId.emplace(c.id, c);
    return byId;
}

std::set<std::wstring> RowTexts(const Component& c) {
    std::set<std::wstring> out;
    for (const auto& r : c.rows) out.insert(r.key + L" @" + r.name + L" = " + r.value);
    return out;
}

TEST(WxsgenComponents, EveryClassRowOnceWithTheInstalledFileAsPath) {
    for (Arch arch : {Arch::kX86, Arch::kX64}) {
        auto c = Components(arch);
        ASSERT_EQ(1u, c.count(L"RegProgId"));
        ASSERT_EQ(1u, c.count(L"RegClasses"));
        EXPECT_EQ(2 * std::size(activex::kControlRows) + 3 * std::size(activex::kPageRows),
                  c[L"RegProgId"].rows.size() + c[L"RegClasses"].rows.size());
        const auto classes = RowTexts(c[L"RegClasses"]);
        const auto progIds = RowTexts(c[L"RegProgId"]);
        for (const ControlRows& control : kControls) {
            const std::wstring key = std::wstring(L"CLSID\\") + control.clsid;
            EXPECT_TRUE(classes.count(key + L" @ = " + control.typeName));
            EXPECT_TRUE(classes.count(key + L"\\InprocServer32 @ = [#VandrelOcx]"));
            EXPECT_TRUE(classes.count(key + L"\\ToolboxBitmap32 @ = [#VandrelOcx], " + control.bitmap));
            EXPECT_TRUE(classes.count(key + L"\\InprocServer32 @ThreadingModel = Apartment"));
            EXPECT_TRUE(classes.count(key + L"\\MiscStatus\\1 @ = " + control.miscStatus));
            EXPECT_TRUE(progIds.count(std::wstring(control.progId) + L"\\CLSID @ = " + control.clsid));
        }
        for (const auto& [clsid, typeName] : kPages) {
            const std::wstring key = std::wstring(L"CLSID\\") + clsid;
            EXPECT_TRUE(classes.count(key + L" @ = " + typeName));
            EXPECT_TRUE(classes.count(key + L"\\InprocServer32 @ = [#VandrelOcx]"));
        }
        const std::wstring file = std::wstring(L"TypeLib\\{7AD9A13E-2E6B-4264-89E6-DBC515E57398}\\1.0\\0\\") +
                                  (arch == Arch::kX64 ? L"win64" : L"win32") + L" @ = [#VandrelOcx]";
        EXPECT_TRUE(RowTexts(c[L"RegTypeLibFile"]).count(file));
        EXPECT_TRUE(RowTexts(c[L"RegTypeLib"])
                        .count(L"TypeLib\\{7AD9A13E-2E6B-4264-89E6-DBC515E57398}\\1.0\\FLAGS @ = 10"));
    }
}

TEST(WxsgenComponents, SharedComponentsAreTheSameInBothPackagesAndTheRestDiffer) {
    auto x86 = Components(Arch::kX86);
    auto x64 = Components(Arch::kX64);
    std::set<std::wstring> guids86, guids64;
    for (const auto& [id, c] : x86) {
        EXPECT_TRUE(guids86.insert(c.guid).second) << "a GUID twice in the x86 package";
        EXPECT_FALSE(c.win64) << testsupport::Narrow(id);
    }
    for (const auto& [id, c] : x64)
        EXPECT_TRUE(guids64.insert(c.guid).second) << "a GUID twice in the x64 package";
    for (const auto& [id, c] : x64) {
        if (c.shared) {
            ASSERT_EQ(1u, x86.count(id)) << testsupport::Narrow(id);
            EXPECT_EQ(c.guid, x86[id].guid);
            EXPECT_EQ(RowTexts(c), RowTexts(x86[id]));
        } else if (x86.count(id)) {
            EXPECT_NE(c.guid, x86[id].guid) << testsupport::Narrow(id);
        }
    }
    for (const wchar_t* id : {L"RegProgId", L"RegTypeLib", L"RegInterfaces32"}) EXPECT_TRUE(x64[id].shared);
    // The 64-bit registration writes the interfaces to both views.
    ASSERT_EQ(1u, x64.count(L"RegInterfaces64"));
    EXPECT_TRUE(x64[L"RegInterfaces64"].win64);
    EXPECT_FALSE(x64[L"RegInterfaces32"].win64);
    EXPECT_EQ(RowTexts(x64[L"RegInterfaces32"]), RowTexts(x64[L"RegInterfaces64"]));
    EXPECT_EQ(0u, x86.count(L"RegInterfaces64"));
}

TEST(WxsgenComponents, ModuleOfTheOtherBitnessOrWithoutEveryClassNameIsRefused) {
    std::vector<Component> list;
    wxsgen::ModuleInfo pageMissing = Info(SYS_WIN64);
    pageMissing.pageTypeNames.pop_back();
    EXPECT_FALSE(wxsgen::RegistryComponents(Arch::kX64, pageMissing, &list));
    wxsgen::ModuleInfo controlMissing = Info(SYS_WIN64);
    controlMissing.controlTypeNames.pop_back();
    EXPECT_FALSE(wxsgen::RegistryComponents(Arch::kX64, controlMissing, &list));
    EXPECT_FALSE(wxsgen::RegistryComponents(Arch::kX64, Info(SYS_WIN32), &list));
    EXPECT_FALSE(wxsgen::RegistryComponents(Arch::kX86, Info(SYS_WIN64), &list));
}

TEST(WxsgenText, WixMarksTheFirstRowAsKeyPathAndEscapes) {
    Component c{L"C", L"G", true, false, {{L"K", L"", L"a<b & \"c\""}, {L"K\\S", L"N", L""}}};
    const std::string wix = wxsgen::WixComponents({c});
    EXPECT_NE(std::string::npos, wix.find("<Component Id=\"C\" Guid=\"G\" Win64=\"yes\">"));
    EXPECT_NE(std::string::npos,
              wix.find("<RegistryValue Root=\"HKMU\" Key=\"Software\\Classes\\K\" Value=\"a&lt;b &amp; "
                       "&quot;c&quot;\" Type=\"string\" KeyPath=\"yes\"/>"));
    EXPECT_NE(std::string::npos, wix.find("<RegistryValue Root=\"HKMU\" Key=\"Software\\Classes\\K\\S\" "
                                          "Name=\"N\" Value=\"\" Type=\"string\"/>"));
    EXPECT_NE(std::string::npos, wxsgen::WixComponentRefs({c}).find("<ComponentRef Id=\"C\"/>"));
    EXPECT_EQ("\xE6\xB5\x8B&gt;", wxsgen::XmlText(L"\x6D4B>"));
}

TEST(WxsgenText, AssemblyManifestNamesTheClassesAsTheRegistryDoes) {
    const std::string x64 = wxsgen::AssemblyManifest(Arch::kX64, Info(SYS_WIN64));
    EXPECT_NE(std::string::npos,
              x64.find("name=\"TRUV.Vandrel\" version=\"1.0.0.27\" processorArchitecture=\"amd64\""));
    EXPECT_NE(std::string::npos, x64.find("<file name=\"Vandrel.ocx\">"));
    for (const ControlRows& control : kControls) {
        const std::string comClass =
            "<comClass clsid=\"" + testsupport::Narrow(control.clsid) + "\" progid=\"" +
            testsupport::Narrow(control.progId) +
            "\" threadingModel=\"Apartment\" tlbid=\"{7AD9A13E-2E6B-4264-89E6-DBC515E57398}\" "
            "description=\"" +
            testsupport::Narrow(control.typeName) + "\" miscStatusContent=\"" + control.miscNames + "\"/>";
        EXPECT_NE(std::string::npos, x64.find(comClass)) << comClass << "\n" << x64;
    }
    for (const auto& [clsid, typeName] : kPages) {
        const std::string comClass = "<comClass clsid=\"" + testsupport::Narrow(clsid) + "\" description=\"" +
                                     testsupport::Narrow(typeName) + "\"/>";
        EXPECT_NE(std::string::npos, x64.find(comClass)) << comClass;
    }
    EXPECT_NE(std::string::npos, x64.find("version=\"1.0\" helpdir=\"\" flags=\"CONTROL,HASDISKIMAGE\""));
    EXPECT_NE(std::string::npos,
              wxsgen::AssemblyManifest(Arch::kX86, Info(SYS_WIN32)).find("processorArchitecture=\"x86\""));
}

TEST(WxsgenModule, ReadsTheBuiltControlAsData) {
    wxsgen::ModuleInfo info;
    ASSERT_HR(S_OK, wxsgen::ReadModule(testsupport::BinFolder() + L"Vandrel.ocx", &info));
    EXPECT_EQ((std::vector<std::wstring>{L"Vandrel Control", L"Vandrel Chart"}), info.controlTypeNames);
    EXPECT_EQ(Info(info.syskind).pageTypeNames, info.pageTypeNames);
    EXPECT_EQ(L"Vandrel ActiveX", info.libraryName);
    EXPECT_TRUE(info.libraryFlags & LIBFLAG_FCONTROL);
    EXPECT_EQ(sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32, info.syskind);
    const wxsgen::ModuleInfo expected = Info(info.syskind);
    ASSERT_EQ(expected.interfaces.size(), info.interfaces.size());
    for (size_t i = 0; i < info.interfaces.size(); ++i) {
        EXPECT_EQ(expected.interfaces[i].name, info.interfaces[i].name);
        EXPECT_EQ(expected.interfaces[i].iid, info.interfaces[i].iid);
    }

    EXPECT_HR_FAILED(wxsgen::ReadModule(testsupport::BinFolder() + L"DirectPort.dll", &info));
    EXPECT_HR_FAILED(wxsgen::ReadModule(testsupport::BinFolder() + L"NoSuch.ocx", &info));
}

}  // namespace
