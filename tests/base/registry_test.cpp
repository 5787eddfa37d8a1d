// Where a class is registered and why an in-process server did not load: a class of the test's own
// registered under HKEY_CLASSES_ROOT (removed again afterwards), in this process's registry view
// and in the other one.
#include <gtest/gtest.h>
#include <objbase.h>
#include <windows.h>

#include <string>

#include "base/inproc_server.h"
#include "base/registry_view.h"
#include "base/unique_handle.h"
#include "tests/support/hresult_matchers.h"

namespace {

std::wstring GuidText(REFGUID guid) {
    wchar_t text[39];
    ::StringFromGUID2(guid, text, 39);
    return text;
}

std::wstring SystemFile(const wchar_t* name) {
    wchar_t folder[MAX_PATH];
    const UINT n = ::GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder, n) + L"\\" + name;
}

class ClassRegistration : public testing::Test {
protected:
    static constexpr const wchar_t* kProgId = L"VandrelBaseTest.Class.1";

    void SetUp() override {
        ASSERT_HR(S_OK, ::CoCreateGuid(&clsid_));
        ASSERT_HR(S_OK, ::CoCreateGuid(&otherOnly_));
    }
    void TearDown() override {
        for (REGSAM view : {REGSAM{0}, base::OtherRegistryView()}) {
            for (const GUID* g : {&clsid_, &otherOnly_}) Delete(L"CLSID\\" + GuidText(*g), view);
            Delete(kProgId, view);
        }
    }

    static void Delete(const std::wstring& path, REGSAM view) {
        base::UniqueHkey parent;
        const size_t slash = path.find_last_of(L'\\');
        const std::wstring parentPath = slash == std::wstring::npos ? L"" : path.substr(0, slash);
        if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, parentPath.c_str(), 0, KEY_ALL_ACCESS | view, parent.put()) !=
            ERROR_SUCCESS) {
            return;
        }
        ::RegDeleteTreeW(parent.get(), path.substr(slash + 1).c_str());
    }

    static void Write(const std::wstring& path, const std::wstring& value, REGSAM view) {
        base::UniqueHkey key;
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0,
                                                   KEY_WRITE | view, nullptr, key.put(), nullptr));
        ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key.get(), nullptr, 0, REG_SZ,
                                                  reinterpret_cast<const BYTE*>(value.c_str()),
                                                  static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))));
    }

    void RegisterServer(REFCLSID clsid, const std::wstring& path, REGSAM view = 0) {
        Write(L"CLSID\\" + GuidText(clsid) + L"\\InprocServer32", path, view);
    }

    CLSID clsid_{};
    CLSID otherOnly_{};
};

TEST_F(ClassRegistration, FindsTheServerAndTheProgId) {
    EXPECT_EQ(L"", base::InprocServerPath(clsid_));
    EXPECT_FALSE(base::HasInprocServer(clsid_, 0));
    const std::wstring path = L"C:\\somewhere\\server.dll";
    ASSERT_NO_FATAL_FAILURE(RegisterServer(clsid_, path));
    ASSERT_NO_FATAL_FAILURE(Write(std::wstring(kProgId) + L"\\CLSID", GuidText(clsid_), 0));

    EXPECT_EQ(path, base::InprocServerPath(clsid_));
    EXPECT_TRUE(base::HasInprocServer(clsid_, 0));
    CLSID found{};
    ASSERT_TRUE(base::ClsidOfProgId(kProgId, 0, &found));
    EXPECT_TRUE(::IsEqualGUID(clsid_, found));
    EXPECT_FALSE(base::ClsidOfProgId(L"VandrelBaseTest.NoSuchClass", 0, &found));
    EXPECT_FALSE(base::RegisteredForOtherBitnessOnly(clsid_));

    // A path with environment strings, as installers often write it, is expanded.
    base::UniqueHkey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_CLASSES_ROOT,
                                             (L"CLSID\\" + GuidText(clsid_) + L"\\InprocServer32").c_str(), 0,
                                             KEY_SET_VALUE, key.put()));
    const wchar_t expandable[] = L"%SystemRoot%\\server.dll";
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key.get(), nullptr, 0, REG_EXPAND_SZ,
                                              reinterpret_cast<const BYTE*>(expandable), sizeof expandable));
    wchar_t expanded[MAX_PATH];
    ::ExpandEnvironmentStringsW(expandable, expanded, MAX_PATH);
    EXPECT_EQ(expanded, base::InprocServerPath(clsid_));
}

TEST_F(ClassRegistration, TellsAClassOfTheOtherBitnessOnly) {
    EXPECT_EQ(static_cast<int>(sizeof(void*) * 8), base::OwnBitness());
    EXPECT_EQ(96 - base::OwnBitness(), base::OtherBitness());
    const REGSAM other = base::OtherRegistryView();
    if (other == 0) GTEST_SKIP() << "a single registry view";
    ASSERT_NO_FATAL_FAILURE(RegisterServer(otherOnly_, L"C:\\other\\server.dll", other));
    EXPECT_FALSE(base::HasInprocServer(otherOnly_, 0));
    EXPECT_TRUE(base::HasInprocServer(otherOnly_, other));
    EXPECT_TRUE(base::RegisteredForOtherBitnessOnly(otherOnly_));
    EXPECT_EQ(L"", base::InprocServerPath(otherOnly_)) << "not this process's view";
}

// ExplainCreateFailure keeps COM's answer unless the server file exists and fails to load for a
// module it imports.
TEST_F(ClassRegistration, ExplainsOnlyAServerWithAMissingImport) {
    const HRESULT denied = E_ACCESSDENIED;
    const HRESULT modNotFound = HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    EXPECT_HR(S_OK, base::ExplainCreateFailure(clsid_, S_OK, L""));
    EXPECT_HR(REGDB_E_CLASSNOTREG,
              base::ExplainCreateFailure(clsid_, REGDB_E_CLASSNOTREG, SystemFile(L"ole32.dll")));
    EXPECT_EQ(denied, base::ExplainCreateFailure(clsid_, denied, L"")) << "no file to look at";
    EXPECT_EQ(denied, base::ExplainCreateFailure(clsid_, denied, L"C:\\no such folder\\x.dll"));
    EXPECT_EQ(denied, base::ExplainCreateFailure(clsid_, denied, SystemFile(L"oleaut32.dll"))) << "loads";

    // The control without DirectPort.dll beside it: its import is missing.
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"vandrel-base-test\\";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring lonely = folder + L"Vandrel.ocx";
    ASSERT_TRUE(::CopyFileW(base::BesideProgram(L"Vandrel.ocx").c_str(), lonely.c_str(), FALSE));
    EXPECT_EQ(modNotFound, base::ExplainCreateFailure(clsid_, denied, lonely)) << "unregistered, given path";

    ASSERT_NO_FATAL_FAILURE(RegisterServer(clsid_, lonely));
    EXPECT_EQ(modNotFound, base::ExplainCreateFailure(clsid_, denied, L"")) << "registered path";
    EXPECT_EQ(modNotFound, base::ExplainCreateFailure(clsid_, modNotFound, L""));

    ASSERT_NO_FATAL_FAILURE(RegisterServer(clsid_, SystemFile(L"oleaut32.dll")));
    EXPECT_EQ(denied, base::ExplainCreateFailure(clsid_, denied, lonely)) << "the registered file wins";

    ::DeleteFileW(lonely.c_str());
    ::RemoveDirectoryW(folder.c_str());
}

}  // namespace
