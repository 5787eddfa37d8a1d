// The control's identity header against what the build made of vandrel.idl and version.rc, and
// the copies that the clients (Mirelo, vandrel-monitor, the soak runs) and the tests keep of it:
// a client includes nothing of the control, so its copy can only be held to the original here.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "base/com_ptr.h"
#include "bench/soak/soak_control.h"
#include "control/class_table.h"
#include "control/identity.h"
#include "tests/control/vandrel_ocx.h"
#include "tests/support/hresult_matchers.h"
#include "testtool/vandrel_ids.h"
#include "tools/monitor/monitor.h"

namespace {

base::ComPtr<ITypeLib> BuiltLibrary() {
    base::ComPtr<ITypeLib> lib;
    EXPECT_HR(S_OK, ::LoadTypeLibEx(testsupport::VandrelOcx::Get().Path().c_str(), REGKIND_NONE, lib.put()));
    return lib;
}

DISPID LibraryDispId(ITypeLib* lib, const wchar_t* name) {
    base::ComPtr<ITypeInfo> info;
    EXPECT_HR(S_OK, lib->GetTypeInfoOfGuid(DIID__DVandrel, info.put()));
    if (!info) return DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    MEMBERID id = DISPID_UNKNOWN;
    EXPECT_HR(S_OK, info->GetIDsOfNames(names, 1, &id)) << name;
    return id;
}

TEST(Identity, HeaderAgreesWithTheBuiltTypeLibrary) {
    const auto lib = BuiltLibrary();
    ASSERT_TRUE(lib);
    TLIBATTR* attr = nullptr;
    ASSERT_HR(S_OK, lib->GetLibAttr(&attr));
    EXPECT_EQ(LIBID_VandrelLib, attr->guid);
    EXPECT_EQ(vandrel::kLibMajor, attr->wMajorVerNum) << "vandrel.idl's version() and identity.h differ";
    EXPECT_EQ(vandrel::kLibMinor, attr->wMinorVerNum) << "vandrel.idl's version() and identity.h differ";
    EXPECT_EQ(vandrel::kLibLocale, attr->lcid);
    lib->ReleaseTLibAttr(attr);

    // What registration writes comes from the header and the library's own identifiers.
    EXPECT_EQ(CLSID_Vandrel, *vandrel::kControlRegistration.clsid);
    EXPECT_EQ(LIBID_VandrelLib, *vandrel::kControlRegistration.libid);
    EXPECT_STREQ(vandrel::kControlProgId, vandrel::kControlRegistration.progId);
    EXPECT_EQ(vandrel::kPageClsid, *vandrel::kPageRegistration.clsid);
}

TEST(Identity, HeaderAgreesWithTheModulesVersionBlock) {
    const std::wstring path = testsupport::VandrelOcx::Get().Path();
    DWORD ignored = 0;
    std::vector<BYTE> block(::GetFileVersionInfoSizeW(path.c_str(), &ignored));
    ASSERT_FALSE(block.empty());
    ASSERT_TRUE(::GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(block.size()), block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &size));
    const DWORD ms = MAKELONG(vandrel::kFileVersion[1], vandrel::kFileVersion[0]);
    const DWORD ls = MAKELONG(vandrel::kFileVersion[3], vandrel::kFileVersion[2]);
    EXPECT_EQ(ms, fixed->dwFileVersionMS);
    EXPECT_EQ(ls, fixed->dwFileVersionLS);
    EXPECT_EQ(ms, fixed->dwProductVersionMS);
    EXPECT_EQ(ls, fixed->dwProductVersionLS);

    const std::string text = vandrel::kFileVersionText;
    const std::string fromNumbers =
        std::to_string(vandrel::kFileVersion[0]) + "." + std::to_string(vandrel::kFileVersion[1]) + "." +
        std::to_string(vandrel::kFileVersion[2]) + "." + std::to_string(vandrel::kFileVersion[3]);
    EXPECT_EQ(fromNumbers, text) << "control/version.h states the version twice";
    wchar_t* value = nullptr;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\StringFileInfo\\000004b0\\FileVersion",
                                 reinterpret_cast<void**>(&value), &size));
    EXPECT_EQ(std::wstring(text.begin(), text.end()), value);
}

TEST(Identity, ClientCopiesEqualTheControls) {
    EXPECT_EQ(CLSID_Vandrel, mirelo::kClsidVandrel);
    EXPECT_EQ(DIID__DVandrel, mirelo::kDiidDVandrel);
    EXPECT_STREQ(vandrel::kControlProgId, monitor::kProgId);
    EXPECT_EQ(CLSID_Vandrel, soak::kClsidVandrel);
    EXPECT_EQ(DIID__DVandrelEvents, soak::kEventsIid);

    const auto lib = BuiltLibrary();
    ASSERT_TRUE(lib);
    const struct {
        const wchar_t* name;
        std::vector<DISPID> copies;
    } members[] = {
        {L"Interval", {mirelo::kDispidInterval, soak::kDispidInterval, testsupport::kInterval}},
        {L"Address", {mirelo::kDispidAddress, testsupport::kAddress}},
        {L"GetChnlValue",
         {mirelo::kDispidGetChnlValue, soak::kDispidGetChnlValue, testsupport::kGetChnlValue}},
        {L"Start", {mirelo::kDispidStart, soak::kDispidStart, testsupport::kStart}},
        {L"Stop", {mirelo::kDispidStop, soak::kDispidStop, testsupport::kStop}},
        {L"ChannelNumber",
         {mirelo::kDispidChannelNumber, soak::kDispidChannelNumber, testsupport::kChannelNumber}},
    };
    for (const auto& m : members) {
        const DISPID id = LibraryDispId(lib.get(), m.name);
        for (DISPID copy : m.copies) EXPECT_EQ(id, copy) << m.name;
    }
    base::ComPtr<ITypeInfo> events;
    ASSERT_HR(S_OK, lib->GetTypeInfoOfGuid(DIID__DVandrelEvents, events.put()));
    LPOLESTR dataReady[] = {const_cast<LPOLESTR>(L"DataReady")};
    DISPID id = DISPID_UNKNOWN;
    EXPECT_HR(S_OK, events->GetIDsOfNames(dataReady, 1, &id));
    EXPECT_EQ(id, soak::kEventDataReady);
}

// The tests write the identities out on their own, so that a changed header fails them.
TEST(Identity, TestsCopiesEqualTheControls) {
    EXPECT_EQ(CLSID_Vandrel, testsupport::kCtrlClsid);
    EXPECT_EQ(vandrel::kPageClsid, testsupport::kPageClsid);
    EXPECT_EQ(LIBID_VandrelLib, testsupport::kLibid);
    EXPECT_EQ(DIID__DVandrel, testsupport::kDispIid);
    EXPECT_EQ(DIID__DVandrelEvents, testsupport::kEventsIid);
}

}  // namespace
