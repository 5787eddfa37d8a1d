// The version block of the real Vandrel.ocx of both presets, read back the way Explorer and
// installers read it.
#include <gtest/gtest.h>
#include <windows.h>
#include <winver.h>

#include <string>
#include <vector>

#include "tests/activex/registry_snapshot.h"
#include "tests/support/deliverables.h"

namespace {

using testsupport::Preset;

std::vector<BYTE> VersionBlockOf(const std::wstring& path) {
    DWORD handle = 0;
    std::vector<BYTE> block(::GetFileVersionInfoSizeW(path.c_str(), &handle));
    if (block.empty() ||
        !::GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(block.size()), block.data())) {
        block.clear();
    }
    return block;
}

class VersionBlock : public testing::TestWithParam<Preset> {
protected:
    std::wstring Path() const { return testsupport::DeliverablePath(GetParam(), L"Vandrel.ocx"); }
    std::vector<BYTE> Block() const { return VersionBlockOf(Path()); }
};

TEST_P(VersionBlock, FixedPart) {
    std::vector<BYTE> block = Block();
    ASSERT_FALSE(block.empty()) << testsupport::Narrow(Path());
    VS_FIXEDFILEINFO* info = nullptr;
    UINT size = 0;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &size));
    ASSERT_EQ(sizeof(VS_FIXEDFILEINFO), size);
    EXPECT_EQ(0xFEEF04BDu, info->dwSignature);
    EXPECT_EQ(0x00010000u, info->dwFileVersionMS);
    EXPECT_EQ(0x0000001Bu, info->dwFileVersionLS);
    EXPECT_EQ(0x00010000u, info->dwProductVersionMS);
    EXPECT_EQ(0x0000001Bu, info->dwProductVersionLS);
    EXPECT_EQ(0x3Fu, info->dwFileFlagsMask);
    EXPECT_EQ(0u, info->dwFileFlags);
    EXPECT_EQ(static_cast<DWORD>(VOS__WINDOWS32), info->dwFileOS);
    EXPECT_EQ(static_cast<DWORD>(VFT_DLL), info->dwFileType);
    EXPECT_EQ(0u, info->dwFileSubtype);
}

TEST_P(VersionBlock, OneLanguageNeutralTranslation) {
    std::vector<BYTE> block = Block();
    ASSERT_FALSE(block.empty()) << testsupport::Narrow(Path());
    WORD* translation = nullptr;
    UINT size = 0;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                                 reinterpret_cast<void**>(&translation), &size));
    ASSERT_EQ(4u, size);
    EXPECT_EQ(0x0000, translation[0]);
    EXPECT_EQ(0x04B0, translation[1]);
}

TEST_P(VersionBlock, ResourceIsTaggedChinesePrc) {
    HMODULE module = ::LoadLibraryExW(Path().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(module);
    EXPECT_TRUE(::FindResourceExW(module, RT_VERSION, MAKEINTRESOURCEW(VS_VERSION_INFO),
                                  MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED)));
    ::FreeLibrary(module);
}

TEST_P(VersionBlock, StringsInTheNeutralTable) {
    std::vector<BYTE> block = Block();
    ASSERT_FALSE(block.empty()) << testsupport::Narrow(Path());
    const struct {
        const wchar_t* name;
        const wchar_t* value;  // null: present, any text
    } entries[] = {
        {L"CompanyName", L"TRUV"},
        {L"FileDescription", L"Vandrel ActiveX"},
        {L"FileVersion", L"1.0.0.27"},
        {L"InternalName", L"Vandrel.ocx"},
        {L"LegalCopyright", nullptr},
        {L"OriginalFilename", L"Vandrel.ocx"},
        {L"ProductName", L"Vandrel ActiveX"},
        {L"ProductVersion", L"1.0.0.27"},
    };
    for (const auto& e : entries) {
        const std::wstring query = std::wstring(L"\\StringFileInfo\\000004b0\\") + e.name;
        wchar_t* text = nullptr;
        UINT size = 0;
        if (!::VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&text), &size)) {
            ADD_FAILURE() << "no " << testsupport::Narrow(e.name);
            continue;
        }
        if (e.value) {
            EXPECT_EQ(std::wstring(e.value), std::wstring(text)) << testsupport::Narrow(e.name);
        } else {
            EXPECT_GT(size, 1u) << testsupport::Narrow(e.name);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Presets, VersionBlock, testing::Values(Preset::kThisBuild, Preset::kOtherBuild),
                         [](const auto& test) { return std::string(testsupport::PresetName(test.param)); });

}  // namespace
