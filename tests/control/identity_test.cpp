// The control's identity header against what the build made of vandrel.idl and version.rc, and
// the copies that the clients (Mirelo, vandrel-monitor, the benchmarks and soak runs, the tests) and
// the tests alone keep of it: a client includes nothing of the control, so its copy can only be held
// to the original here.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <iterator>
#include <string>
#include <vector>

#include "base/com_ptr.h"
#include "base/text.h"
#include "client/vandrel_ids.h"
#include "control/class_table.h"
#include "control/identity.h"
#include "tests/control/vandrel_ocx.h"
#include "tests/support/hresult_matchers.h"

namespace {

base::ComPtr<ITypeLib> BuiltLibrary() {
    base::ComPtr<ITypeLib> lib;
    EXPECT_HR(S_OK, ::LoadTypeLibEx(testsupport::VandrelOcx::Get().Path().c_str(), REGKIND_NONE, lib.put()));
    return lib;
}

// Each of members under its name in the library's interface iid.
void ExpectMembers(ITypeLib* lib, REFIID iid, const std::vector<client::Member>& members) {
    base::ComPtr<ITypeInfo> info;
    ASSERT_HR(S_OK, lib->GetTypeInfoOfGuid(iid, info.put()));
    for (const client::Member& m : members) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(m.name)};
        MEMBERID id = DISPID_UNKNOWN;
        EXPECT_HR(S_OK, info->GetIDsOfNames(names, 1, &id)) << base::PrintableAscii(m.name);
        EXPECT_EQ(id, m.dispid) << base::PrintableAscii(m.name);
    }
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
    ASSERT_EQ(2u, std::size(vandrel::kControlRegistrations));
    EXPECT_EQ(CLSID_Vandrel, *vandrel::kControlRegistrations[0].clsid);
    EXPECT_STREQ(vandrel::kControlProgId, vandrel::kControlRegistrations[0].progId);
    EXPECT_EQ(CLSID_VandrelChart, *vandrel::kControlRegistrations[1].clsid);
    EXPECT_STREQ(vandrel::kChartProgId, vandrel::kControlRegistrations[1].progId);
    for (const auto& control : vandrel::kControlRegistrations) EXPECT_EQ(LIBID_VandrelLib, *control.libid);
    ASSERT_EQ(3u, std::size(vandrel::kPageRegistrations));
    EXPECT_EQ(vandrel::kPageClsid, *vandrel::kPageRegistrations[0].clsid);
    EXPECT_EQ(vandrel::kChannelsPageClsid, *vandrel::kPageRegistrations[1].clsid);
    EXPECT_EQ(vandrel::kChartPageClsid, *vandrel::kPageRegistrations[2].clsid);
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

// One row per member the clients call: a member added to client/vandrel_ids.h is checked here
// without a line of its own.
TEST(Identity, ClientCopyEqualsTheControls) {
    EXPECT_STREQ(vandrel::kControlProgId, client::kProgIdVandrel);
    EXPECT_EQ(CLSID_Vandrel, client::kClsidVandrel);
    EXPECT_EQ(DIID__DVandrel, client::kDiidDVandrel);
    EXPECT_EQ(DIID__DVandrelEvents, client::kDiidDVandrelEvents);

    const auto lib = BuiltLibrary();
    ASSERT_TRUE(lib);
    ExpectMembers(lib.get(), DIID__DVandrel, {std::begin(client::kMembers), std::end(client::kMembers)});
    ExpectMembers(lib.get(), DIID__DVandrelEvents, {std::begin(client::kEvents), std::end(client::kEvents)});

    EXPECT_STREQ(vandrel::kChartProgId, client::kProgIdVandrelChart);
    EXPECT_EQ(CLSID_VandrelChart, client::kClsidVandrelChart);
    EXPECT_EQ(DIID__DVandrelChart, client::kDiidDVandrelChart);
    EXPECT_EQ(DIID__DVandrelChartEvents, client::kDiidDVandrelChartEvents);
    ExpectMembers(lib.get(), DIID__DVandrelChart,
                  {std::begin(client::kChartMembers), std::end(client::kChartMembers)});
    ExpectMembers(lib.get(), DIID__DVandrelChartEvents,
                  {std::begin(client::kChartEvents), std::end(client::kChartEvents)});
}

// The tests write the identities no client needs out on their own, so that a changed header fails
// them.
TEST(Identity, TestsCopiesEqualTheControls) {
    EXPECT_EQ(vandrel::kPageClsid, testsupport::kPageClsid);
    EXPECT_EQ(vandrel::kChannelsPageClsid, testsupport::kChannelsPageClsid);
    EXPECT_EQ(vandrel::kChartPageClsid, testsupport::kChartPageClsid);
    EXPECT_EQ(LIBID_VandrelLib, testsupport::kLibid);
}

}  // namespace
