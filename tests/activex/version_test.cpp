// The module's version block, compiled into the registration test module and read back the way
// Explorer and installers read it.
#include <gtest/gtest.h>
#include <windows.h>
#include <winver.h>

#include <string>
#include <vector>

namespace {

std::wstring TestModulePath() {
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring path = self;
    return path.substr(0, path.find_last_of(L'\\') + 1) + L"RegistrationTestModule.dll";
}

std::vector<BYTE> VersionBlock() {
    const std::wstring path = TestModulePath();
    DWORD handle = 0;
    std::vector<BYTE> block(::GetFileVersionInfoSizeW(path.c_str(), &handle));
    if (block.empty() ||
        !::GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(block.size()), block.data())) {
        block.clear();
    }
    return block;
}

TEST(VersionBlock, FixedPart) {
    std::vector<BYTE> block = VersionBlock();
    ASSERT_FALSE(block.empty());
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

TEST(VersionBlock, OneLanguageNeutralTranslation) {
    std::vector<BYTE> block = VersionBlock();
    ASSERT_FALSE(block.empty());
    WORD* translation = nullptr;
    UINT size = 0;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                                 reinterpret_cast<void**>(&translation), &size));
    ASSERT_EQ(4u, size);
    EXPECT_EQ(0x0000, translation[0]);
    EXPECT_EQ(0x04B0, translation[1]);
}

TEST(VersionBlock, ResourceIsTaggedChinesePrc) {
    HMODULE module = ::LoadLibraryExW(TestModulePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(module);
    EXPECT_TRUE(::FindResourceExW(module, MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1),
                                  MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED)));
    ::FreeLibrary(module);
}

struct StringCase {
    const wchar_t* name;
    const wchar_t* value;  // null: present, any text
};
class VersionStrings : public testing::TestWithParam<StringCase> {};

TEST_P(VersionStrings, InTheNeutralTable) {
    std::vector<BYTE> block = VersionBlock();
    ASSERT_FALSE(block.empty());
    const std::wstring query = std::wstring(L"\\StringFileInfo\\000004b0\\") + GetParam().name;
    wchar_t* text = nullptr;
    UINT size = 0;
    ASSERT_TRUE(::VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&text), &size));
    if (GetParam().value) {
        EXPECT_EQ(std::wstring(GetParam().value), std::wstring(text));
    } else {
        EXPECT_GT(size, 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Entries, VersionStrings,
    testing::Values(StringCase{L"CompanyName", L"TRUV"},
                    StringCase{L"FileDescription", L"Vandrel ActiveX"},
                    StringCase{L"FileVersion", L"1.0.0.27"},
                    StringCase{L"InternalName", L"Vandrel.ocx"},
                    StringCase{L"LegalCopyright", nullptr},
                    StringCase{L"OriginalFilename", L"Vandrel.ocx"},
                    StringCase{L"ProductName", L"Vandrel ActiveX"},
                    StringCase{L"ProductVersion", L"1.0.0.27"}),
    [](const auto& info) {
        std::string n;
        for (const wchar_t* p = info.param.name; *p; ++p) n += static_cast<char>(*p);
        return n;
    });

}  // namespace
