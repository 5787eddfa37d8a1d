// The installer generator: the registry components it makes from the class table for each
// bitness, the WiX text, and the assembly manifest, from a module description of the test's own
// and from the built Vandrel.ocx read as data.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

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

wxsgen::ModuleInfo Info(SYSKIND syskind) {
    wxsgen::ModuleInfo info;
    info.controlTypeName = L"Vandrel Control";
    info.pageTypeNames = {L"Vandrel Property Page", L"Vandrel Channels Property Page"};
    info.libraryName = L"Vandrel ActiveX";
    info.libraryFlags = LIBFLAG_FCONTROL | LIBFLAG_FHASDISKIMAGE;
    info.syskind = syskind;
    info.interfaces = {{DIID__DVandrel, L"_DVandrel"}, {DIID__DVandrelEvents, L"_DVandrelEvents"}};
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
        EXPECT_EQ(std::size(activex::kControlRows) + 2 * std::size(activex::kPageRows),
                  c[L"RegProgId"].rows.size() + c[L"RegClasses"].rows.size());
        const auto classes = RowTexts(c[L"RegClasses"]);
        EXPECT_TRUE(classes.count(
            L"CLSID\\{E4DE41E5-20F5-4A71-91C1-BC0686540ACF}\\InprocServer32 @ = [#VandrelOcx]"));
        EXPECT_TRUE(classes.count(
            L"CLSID\\{E4DE41E5-20F5-4A71-91C1-BC0686540ACF}\\ToolboxBitmap32 @ = [#VandrelOcx], 1"));
        EXPECT_TRUE(classes.count(
            L"CLSID\\{E4DE41E5-20F5-4A71-91C1-BC0686540ACF}\\InprocServer32 @ThreadingModel = Apartment"));
        EXPECT_TRUE(classes.count(
            L"CLSID\\{8728C7CB-895D-442F-8647-74F1366CDDE4}\\InprocServer32 @ = [#VandrelOcx]"));
        EXPECT_TRUE(classes.count(
            L"CLSID\\{8B99F5F7-DEAE-4074-9A88-232532E66835} @ = Vandrel Channels Property Page"));
        EXPECT_TRUE(classes.count(
            L"CLSID\\{8B99F5F7-DEAE-4074-9A88-232532E66835}\\InprocServer32 @ = [#VandrelOcx]"));
        EXPECT_TRUE(RowTexts(c[L"RegProgId"])
                        .count(L"VANDREL.VandrelCtrl.1\\CLSID @ = {E4DE41E5-20F5-4A71-91C1-BC0686540ACF}"));
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

TEST(WxsgenComponents, ModuleOfTheOtherBitnessOrWithoutEveryPagesNameIsRefused) {
    std::vector<Component> list;
    wxsgen::ModuleInfo onePage = Info(SYS_WIN64);
    onePage.pageTypeNames.pop_back();
    EXPECT_FALSE(wxsgen::RegistryComponents(Arch::kX64, onePage, &list));
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
    EXPECT_NE(
        std::string::npos,
        x64.find(
            "<comClass clsid=\"{E4DE41E5-20F5-4A71-91C1-BC0686540ACF}\" progid=\"VANDREL.VandrelCtrl.1\" "
            "threadingModel=\"Apartment\" tlbid=\"{7AD9A13E-2E6B-4264-89E6-DBC515E57398}\" "
            "description=\"Vandrel Control\" miscStatusContent=\"recomposeonresize,cantlinkinside,"
            "insideout,activatewhenvisible,invisibleatruntime,setclientsitefirst\"/>"));
    EXPECT_NE(std::string::npos, x64.find("<comClass clsid=\"{8728C7CB-895D-442F-8647-74F1366CDDE4}\" "
                                          "description=\"Vandrel Property Page\"/>"));
    EXPECT_NE(std::string::npos, x64.find("<comClass clsid=\"{8B99F5F7-DEAE-4074-9A88-232532E66835}\" "
                                          "description=\"Vandrel Channels Property Page\"/>"));
    EXPECT_NE(std::string::npos, x64.find("version=\"1.0\" helpdir=\"\" flags=\"CONTROL,HASDISKIMAGE\""));
    EXPECT_NE(std::string::npos,
              wxsgen::AssemblyManifest(Arch::kX86, Info(SYS_WIN32)).find("processorArchitecture=\"x86\""));
}

TEST(WxsgenModule, ReadsTheBuiltControlAsData) {
    wxsgen::ModuleInfo info;
    ASSERT_HR(S_OK, wxsgen::ReadModule(testsupport::BinFolder() + L"Vandrel.ocx", &info));
    EXPECT_EQ(L"Vandrel Control", info.controlTypeName);
    EXPECT_EQ((std::vector<std::wstring>{L"Vandrel Property Page", L"Vandrel Channels Property Page"}),
              info.pageTypeNames);
    EXPECT_EQ(L"Vandrel ActiveX", info.libraryName);
    EXPECT_TRUE(info.libraryFlags & LIBFLAG_FCONTROL);
    EXPECT_EQ(sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32, info.syskind);
    ASSERT_EQ(2u, info.interfaces.size());
    EXPECT_EQ(L"_DVandrel", info.interfaces[0].name);
    EXPECT_EQ(L"_DVandrelEvents", info.interfaces[1].name);

    EXPECT_HR_FAILED(wxsgen::ReadModule(testsupport::BinFolder() + L"DirectPort.dll", &info));
    EXPECT_HR_FAILED(wxsgen::ReadModule(testsupport::BinFolder() + L"NoSuch.ocx", &info));
}

}  // namespace
