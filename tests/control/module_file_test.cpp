// Facts about the module file: its exports and imports, its resources, and the type library it
// carries, held against the control's dispatch table.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "activex/dialog_template.h"
#include "base/com_ptr.h"
#include "base/variant.h"
#include "control/vandrel_chart.h"
#include "control/vandrel_ctrl.h"
#include "control/resource.h"
#include "engine/sampler_status.h"
#include "tests/control/library_members.h"
#include "tests/control/vandrel_ocx.h"
#include "tests/support/hresult_matchers.h"

using base::Bstr;
using base::ComPtr;
using client::kClsidVandrel;
using client::kClsidVandrelChart;
using client::kDiidDVandrel;
using client::kDiidDVandrelChart;
using client::kDiidDVandrelChartEvents;
using client::kDiidDVandrelEvents;
using testsupport::kLibid;
using testsupport::MemberHelp;
using testsupport::MemberName;
using testsupport::VandrelOcx;

// --- the type library ----------------------------------------------------------------------------

namespace {

ComPtr<ITypeLib> LoadModuleTypeLib() {
    ComPtr<ITypeLib> lib;
    if (FAILED(::LoadTypeLibEx(VandrelOcx::Get().Path().c_str(), REGKIND_NONE, lib.put())) || !lib) {
        testsupport::EndTest("the module's type library does not load");
    }
    return lib;
}

}  // namespace

TEST(ModuleTypeLibrary, CarriesTheIdentitiesAndFlags) {
    auto lib = LoadModuleTypeLib();
    ASSERT_TRUE(lib);
    TLIBATTR* libAttr = nullptr;
    ASSERT_HR(S_OK, lib->GetLibAttr(&libAttr));
    EXPECT_EQ(kLibid, libAttr->guid);
    EXPECT_EQ(1, libAttr->wMajorVerNum);
    EXPECT_EQ(0, libAttr->wMinorVerNum);
    EXPECT_TRUE(libAttr->wLibFlags & LIBFLAG_FCONTROL);
    lib->ReleaseTLibAttr(libAttr);
    Bstr name, doc, helpFile;
    ASSERT_HR(S_OK, lib->GetDocumentation(-1, name.put(), doc.put(), nullptr, helpFile.put()));
    EXPECT_STREQ(L"VandrelLib", name.get());
    EXPECT_STREQ(L"Vandrel ActiveX", doc.get());
    EXPECT_STREQ(L"Vandrel.hlp", helpFile.get());

    struct Type {
        GUID guid;
        const wchar_t* name;
        TYPEKIND kind;
        WORD flags;
    };
    for (const Type& t :
         {Type{kDiidDVandrel, L"_DVandrel", TKIND_DISPATCH, TYPEFLAG_FDISPATCHABLE},
          Type{kDiidDVandrelEvents, L"_DVandrelEvents", TKIND_DISPATCH, TYPEFLAG_FDISPATCHABLE},
          Type{kClsidVandrel, L"Vandrel", TKIND_COCLASS, TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL},
          Type{kClsidVandrelChart, L"VandrelChart", TKIND_COCLASS,
               TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL}}) {
        ComPtr<ITypeInfo> info;
        ASSERT_HR(S_OK, lib->GetTypeInfoOfGuid(t.guid, info.put())) << t.name;
        TYPEATTR* attr = nullptr;
        ASSERT_HR(S_OK, info->GetTypeAttr(&attr));
        EXPECT_EQ(t.kind, attr->typekind) << t.name;
        EXPECT_EQ(t.flags, attr->wTypeFlags & t.flags) << t.name;
        if (t.kind == TKIND_COCLASS) {
            ASSERT_EQ(2, attr->cImplTypes);
            for (UINT i = 0; i < 2; ++i) {
                INT implFlags = 0;
                info->GetImplTypeFlags(i, &implFlags);
                HREFTYPE ref = 0;
                info->GetRefTypeOfImplType(i, &ref);
                ComPtr<ITypeInfo> impl;
                info->GetRefTypeInfo(ref, impl.put());
                TYPEATTR* implAttr = nullptr;
                impl->GetTypeAttr(&implAttr);
                const bool source = implFlags & IMPLTYPEFLAG_FSOURCE;
                EXPECT_TRUE(implFlags & IMPLTYPEFLAG_FDEFAULT);
                const bool chart = t.guid == kClsidVandrelChart;
                EXPECT_EQ(source ? (chart ? kDiidDVandrelChartEvents : kDiidDVandrelEvents)
                                 : (chart ? kDiidDVandrelChart : kDiidDVandrel),
                          implAttr->guid);
                impl->ReleaseTypeAttr(implAttr);
            }
        } else if (t.guid == kDiidDVandrelEvents) {
            // The events the control fires, with the types of what they carry.
            const struct {
                const wchar_t* name;
                DISPID dispid;
                std::vector<VARTYPE> params;
            } events[] = {
                {L"DataReady", CVandrelCtrl::kDataReady, {VT_I4}},
                {L"StatusChanged", CVandrelCtrl::kStatusChanged, {VT_I4}},
                {L"AlarmChanged", CVandrelCtrl::kAlarmChanged, {VT_I4, VT_I4, VT_R8, VT_I4, VT_DATE}}};
            ASSERT_EQ(std::size(events), attr->cFuncs);
            EXPECT_EQ(0, attr->cVars);
            for (UINT i = 0; i < std::size(events); ++i) {
                FUNCDESC* func = nullptr;
                ASSERT_HR(S_OK, info->GetFuncDesc(i, &func));
                EXPECT_EQ(events[i].name, MemberName(info.get(), func->memid));
                EXPECT_EQ(events[i].dispid, func->memid);
                EXPECT_EQ(VT_VOID, func->elemdescFunc.tdesc.vt);
                std::vector<VARTYPE> params;
                for (SHORT p = 0; p < func->cParams; ++p)
                    params.push_back(func->lprgelemdescParam[p].tdesc.vt);
                EXPECT_EQ(events[i].params, params) << i;
                info->ReleaseFuncDesc(func);
            }
        }
        info->ReleaseTypeAttr(attr);
        EXPECT_EQ(t.guid == kClsidVandrelChart ? L"Vandrel Chart" : L"Vandrel Control",
                  MemberHelp(info.get(), MEMBERID_NIL))
            << t.name;
        EXPECT_EQ(t.name, MemberName(info.get(), MEMBERID_NIL));
    }
}

// The dispatch tables and the type library describe the same members under the same DISPIDs, with
// the same help strings: the acquisition control's and the chart's.
template <class C, size_t N>
void ExpectTableMatches(ITypeLib* lib, REFIID iid, const activex::DispatchEntry<C> (&table)[N]) {
    ComPtr<ITypeInfo> info;
    ASSERT_HR(S_OK, lib->GetTypeInfoOfGuid(iid, info.put()));
    std::map<DISPID, testsupport::LibMember> members;
    ASSERT_TRUE(testsupport::ReadLibMembers(info.get(), &members));

    ASSERT_EQ(N, members.size());
    for (const auto& entry : table) {
        const auto found = members.find(entry.dispid);
        ASSERT_NE(members.end(), found) << "DISPID " << entry.dispid << " is not in the type library";
        const testsupport::LibMember& m = found->second;
        EXPECT_EQ(entry.name, m.name) << entry.dispid;
        EXPECT_EQ(entry.kind == activex::MemberKind::kMethod, m.method) << entry.dispid;
        EXPECT_EQ(entry.type, m.type) << entry.dispid;
        EXPECT_EQ(entry.paramCount, m.params) << entry.dispid;
        EXPECT_EQ(std::vector<VARTYPE>(entry.paramTypes, entry.paramTypes + entry.paramCount), m.paramTypes)
            << entry.dispid;
        EXPECT_EQ(entry.optionalOutput, m.optionalOutput) << entry.dispid;
        if (entry.kind == activex::MemberKind::kProperty) {
            EXPECT_EQ(!entry.ReadOnly(), m.writable) << entry.dispid;
            if (m.writable) {
                EXPECT_EQ(entry.putText                                            ? VARTYPE{VT_BSTR}
                          : entry.putAt || entry.putValue || entry.type == VT_BOOL ? entry.type
                                                                                   : VARTYPE{VT_I4},
                          m.putType)
                    << entry.dispid;
            }
        }
        EXPECT_EQ(entry.helpString, m.help) << entry.dispid;
    }
}

TEST(ModuleTypeLibrary, DispatchTablesMatchTheTypeLibrary) {
    auto lib = LoadModuleTypeLib();
    ASSERT_TRUE(lib);
    ExpectTableMatches(lib.get(), kDiidDVandrel, CVandrelCtrl::kDispatchMap);
    ExpectTableMatches(lib.get(), kDiidDVandrelChart, CVandrelChart::kDispatchMap);
}

// The library's VandrelStatus, VandrelError and VandrelAlarm are the sampler's statuses, result
// codes and alarm levels, value for value, in order: a host compares Status and LastError with them.
TEST(ModuleTypeLibrary, EnumsMirrorTheSamplersStatusesAndErrors) {
    auto lib = LoadModuleTypeLib();
    ASSERT_TRUE(lib);
    using S = engine::SamplerStatus;
    using A = engine::AlarmLevel;
    const std::vector<std::pair<std::wstring, LONG>> expected = {
        {L"vdStopped", static_cast<LONG>(S::kStopped)},
        {L"vdWaiting", static_cast<LONG>(S::kWaitingForFirstCycle)},
        {L"vdSampling", static_cast<LONG>(S::kSampling)},
        {L"vdBoardNotReady", static_cast<LONG>(S::kBoardNotReady)},
        {L"vdCycleIncomplete", static_cast<LONG>(S::kCycleIncomplete)},
        {L"vdPortLockBusy", static_cast<LONG>(S::kPortLockNotObtained)},
        {L"vdStartFailed", static_cast<LONG>(S::kStartFailed)},
        {L"vdErrorAlreadyRunning", engine::kErrorAlreadyRunning},
        {L"vdErrorSetupFailed", engine::kErrorSetupFailed},
        {L"vdErrorBoardNotReady", engine::kErrorBoardNotReady},
        {L"vdErrorCycleIncomplete", engine::kErrorCycleIncomplete},
        {L"vdErrorPortLockNotObtained", engine::kErrorPortLockNotObtained},
        {L"vdAlarmLowLow", static_cast<LONG>(A::kLowLow)},
        {L"vdAlarmLow", static_cast<LONG>(A::kLow)},
        {L"vdAlarmNone", static_cast<LONG>(A::kNormal)},
        {L"vdAlarmHigh", static_cast<LONG>(A::kHigh)},
        {L"vdAlarmHighHigh", static_cast<LONG>(A::kHighHigh)},
        {L"vdChartStrip", static_cast<LONG>(chart::Mode::kStrip)},
        {L"vdChartScope", static_cast<LONG>(chart::Mode::kScope)}};
    std::vector<std::pair<std::wstring, LONG>> found;
    for (UINT t = 0; t < lib->GetTypeInfoCount(); ++t) {
        ComPtr<ITypeInfo> info;
        TYPEATTR* attr = nullptr;
        ASSERT_HR(S_OK, lib->GetTypeInfo(t, info.put()));
        ASSERT_HR(S_OK, info->GetTypeAttr(&attr));
        for (UINT v = 0; attr->typekind == TKIND_ENUM && v < attr->cVars; ++v) {
            VARDESC* var = nullptr;
            ASSERT_HR(S_OK, info->GetVarDesc(v, &var));
            base::Variant value;
            ASSERT_HR(S_OK, ::VariantChangeType(value.ptr(), var->lpvarValue, 0, VT_I4));
            found.emplace_back(MemberName(info.get(), var->memid), value.get().lVal);
            info->ReleaseVarDesc(var);
        }
        info->ReleaseTypeAttr(attr);
    }
    EXPECT_EQ(expected, found);
}

// The property help strings are added to the compiler's library by a build step: they read back
// for each property, which stays a dispatch property (a VARDESC) with its name, and the library's
// other strings are where they were.
TEST(ModuleTypeLibrary, PropertiesCarryTheirHelpStrings) {
    auto lib = LoadModuleTypeLib();
    ASSERT_TRUE(lib);
    ComPtr<ITypeInfo> info;
    ASSERT_HR(S_OK, lib->GetTypeInfoOfGuid(kDiidDVandrel, info.put()));
    struct Property {
        MEMBERID id;
        const wchar_t* name;
        const wchar_t* help;
    };
    std::map<MEMBERID, UINT> indexOf;
    for (UINT i = 0; i < 3; ++i) {
        VARDESC* var = nullptr;
        ASSERT_HR(S_OK, info->GetVarDesc(i, &var));
        EXPECT_EQ(VAR_DISPATCH, var->varkind);
        EXPECT_EQ(VT_I4, var->elemdescVar.tdesc.vt);
        indexOf[var->memid] = i;
        info->ReleaseVarDesc(var);
    }
    for (const Property& p :
         {Property{1, L"Interval", L"Time Interval"}, Property{2, L"Address", L"Status Address"},
          Property{6, L"ChannelNumber", L"Chanel Count"}}) {
        ASSERT_EQ(1u, indexOf.count(p.id)) << p.name;
        Bstr name, doc, helpFile;
        DWORD context = 12345;
        ASSERT_HR(S_OK, info->GetDocumentation(p.id, name.put(), doc.put(), &context, helpFile.put()))
            << p.name;
        EXPECT_STREQ(p.name, name.get());
        EXPECT_STREQ(p.help, doc.get());
        EXPECT_EQ(0u, context) << p.name;
        EXPECT_STREQ(L"Vandrel.hlp", helpFile.get()) << p.name;
    }
    EXPECT_EQ(L"Read Data", MemberHelp(info.get(), 3));
    EXPECT_EQ(L"Stop working", MemberHelp(info.get(), 5));
    Bstr libDoc;
    ASSERT_HR(S_OK, lib->GetDocumentation(-1, nullptr, libDoc.put(), nullptr, nullptr));
    EXPECT_STREQ(L"Vandrel ActiveX", libDoc.get());
}

// --- exports, imports and resources ------------------------------------------------------------

namespace {

const IMAGE_NT_HEADERS* NtHeaders(HMODULE module) {
    const auto* base = reinterpret_cast<const BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    return reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
}

std::vector<std::string> ExportedNames(HMODULE module) {
    const auto* base = reinterpret_cast<const BYTE*>(module);
    const auto& dir = NtHeaders(module)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    std::vector<std::string> out;
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        out.emplace_back(reinterpret_cast<const char*>(base + names[i]));
    out.push_back("#functions=" + std::to_string(exports->NumberOfFunctions));
    return out;
}

std::vector<std::string> ImportedModules(HMODULE module) {
    const auto* base = reinterpret_cast<const BYTE*>(module);
    const auto& dir = NtHeaders(module)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    std::vector<std::string> out;
    for (const auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name;
         ++d) {
        std::string name(reinterpret_cast<const char*>(base + d->Name));
        std::transform(name.begin(), name.end(), name.begin(),
                       [](char c) { return static_cast<char>(std::tolower(c)); });
        out.push_back(name);
    }
    return out;
}

constexpr WORD kChineseSimplified = 0x0804;

const void* Resource(const wchar_t* type, UINT id, DWORD* size) {
    HMODULE module = VandrelOcx::Get().Module();
    HRSRC found = ::FindResourceExW(module, type, MAKEINTRESOURCEW(id), kChineseSimplified);
    if (!found) return nullptr;
    *size = ::SizeofResource(module, found);
    return ::LockResource(::LoadResource(module, found));
}

}  // namespace

TEST(ModuleFile, ExportsTheFourEntryPointsAndImportsOnlySystemModules) {
    HMODULE module = VandrelOcx::Get().Module();
    EXPECT_EQ((std::vector<std::string>{"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer",
                                        "DllUnregisterServer", "#functions=4"}),
              ExportedNames(module));
    const std::set<std::string> allowed = {"directport.dll", "kernel32.dll", "user32.dll",   "gdi32.dll",
                                           "ole32.dll",      "oleaut32.dll", "advapi32.dll", "msvcrt.dll"};
    const auto imports = ImportedModules(module);
    for (const auto& name : imports) EXPECT_TRUE(allowed.count(name)) << name;
    EXPECT_TRUE(std::count(imports.begin(), imports.end(), "directport.dll"));
}

TEST(ModuleFile, ResourcesInSimplifiedChinese) {
    DWORD size = 0;
    EXPECT_TRUE(Resource(L"TYPELIB", 1, &size)) << "type library";
    for (UINT id : {1u, 2u, 200u}) {
        EXPECT_TRUE(Resource(RT_STRING, id / 16 + 1, &size)) << "string " << id;  // RT_STRING blocks
    }
    HMODULE module = VandrelOcx::Get().Module();
    const std::pair<UINT, const wchar_t*> strings[] = {
        {1, L"Vandrel Control"}, {2, L"Vandrel Property Page"}, {200, L"Simple"}};
    for (const auto& [id, text] : strings) {
        wchar_t buffer[64] = {};
        ::LoadStringW(module, id, buffer, 64);
        EXPECT_STREQ(text, buffer) << id;
    }
    wchar_t none[8] = {};
    EXPECT_EQ(0, ::LoadStringW(module, 0xFE41, none, 8)) << "the verb keeps the fallback name";

    struct Picture {
        UINT id;
        LONG width, height;
    };
    for (const Picture& p : {Picture{1, 16, 15}, Picture{201, 32, 21}}) {
        const auto* header = static_cast<const BITMAPINFOHEADER*>(Resource(RT_BITMAP, p.id, &size));
        ASSERT_TRUE(header) << "bitmap " << p.id;
        EXPECT_EQ(p.width, header->biWidth) << p.id;
        EXPECT_EQ(p.height, header->biHeight) << p.id;
        EXPECT_EQ(4, header->biBitCount) << p.id;
    }

    const void* dialog = Resource(RT_DIALOG, IDD_PROPPAGE_VANDREL, &size);
    ASSERT_TRUE(dialog);
    activex::DialogTemplateInfo info;
    ASSERT_TRUE(activex::ParseDialogTemplate(dialog, size, &info));
    EXPECT_EQ(0x40000048u, info.style);
    EXPECT_EQ(0, info.items);
    EXPECT_EQ(0, info.x);
    EXPECT_EQ(0, info.y);
    EXPECT_EQ(250, info.cx);
    EXPECT_EQ(62, info.cy);
    EXPECT_EQ(9, info.pointSize);
    EXPECT_EQ(0, info.weight);
    EXPECT_EQ(0, info.italic);
    EXPECT_EQ(0, info.charset);
    EXPECT_EQ(L"MS Shell Dlg", info.typeface);
}
