// Loading a module's own type library: the stand-in module carries the control's library, and a
// copy of it deep enough in folders that its full name is longer than MAX_PATH.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <string>

#include "activex/typelib.h"
#include "base/com_ptr.h"
#include "base/module_file.h"
#include "base/unique_handle.h"
#include "vandrel_h.h"
#include "tests/support/hresult_matchers.h"

namespace {

const GUID kOtherLibid = {0x1c55e0a4, 0x4d7b, 0x4f1e, {0x8a, 0x0c, 0x5e, 0x62, 0x90, 0x1b, 0x3d, 0x77}};

std::wstring Folder(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\') + 1); }

std::wstring TestModulePath() {
    return Folder(base::ModuleFileName(nullptr)) + L"RegistrationTestModule.dll";
}

// A folder below the temporary folder, made of segments until a file in it has a name longer than
// MAX_PATH; removed with what it holds when the test ends.
class LongFolder {
public:
    LongFolder() {
        wchar_t temp[MAX_PATH];
        const DWORD n = ::GetTempPathW(MAX_PATH, temp);
        root_ = L"\\\\?\\" + std::wstring(temp, n) + L"vandrel-typelib-" +
                std::to_wstring(::GetCurrentProcessId());
        path_ = root_;
        ::CreateDirectoryW(path_.c_str(), nullptr);
        while (path_.size() < MAX_PATH + 20) {
            path_ += L"\\" + std::wstring(60, static_cast<wchar_t>(L'a' + segments_.size()));
            ::CreateDirectoryW(path_.c_str(), nullptr);
            segments_.push_back(path_);
        }
    }
    ~LongFolder() {
        for (const std::wstring& file : files_) ::DeleteFileW(file.c_str());
        for (auto it = segments_.rbegin(); it != segments_.rend(); ++it) ::RemoveDirectoryW(it->c_str());
        ::RemoveDirectoryW(root_.c_str());
    }
    std::wstring Copy(const std::wstring& from, const wchar_t* name) {
        const std::wstring to = path_ + L"\\" + name;
        if (!::CopyFileW(from.c_str(), to.c_str(), FALSE)) return {};
        files_.push_back(to);
        return to;
    }

private:
    std::wstring root_, path_;
    std::vector<std::wstring> segments_, files_;
};

TEST(ModuleTypeLib, LoadsTheModulesOwnLibraryByItsLibid) {
    const base::UniqueModule module(::LoadLibraryW(TestModulePath().c_str()));
    ASSERT_TRUE(module);
    const auto instance = static_cast<HINSTANCE>(module.get());

    base::ComPtr<ITypeLib> lib;
    std::wstring path = L"sentinel";
    ASSERT_HR(S_OK, activex::LoadModuleTypeLib(instance, LIBID_VandrelLib, lib.put(), &path));
    ASSERT_TRUE(lib);
    EXPECT_EQ(0, ::lstrcmpiW(TestModulePath().c_str(), path.c_str())) << "the file it was loaded from";
    TLIBATTR* attr = nullptr;
    ASSERT_HR(S_OK, lib->GetLibAttr(&attr));
    EXPECT_EQ(LIBID_VandrelLib, attr->guid);
    lib->ReleaseTLibAttr(attr);

    ITypeLib* foreign = reinterpret_cast<ITypeLib*>(1);
    path = L"sentinel";
    EXPECT_EQ(activex::kForeignTypeLib, activex::LoadModuleTypeLib(instance, kOtherLibid, &foreign, &path));
    EXPECT_EQ(nullptr, foreign);
    EXPECT_EQ(L"sentinel", path) << "written only on success";

    ITypeLib* none = reinterpret_cast<ITypeLib*>(1);
    EXPECT_HR_FAILED(activex::LoadModuleTypeLib(::GetModuleHandleW(nullptr), LIBID_VandrelLib, &none))
        << "a module without a library";
    EXPECT_EQ(nullptr, none);
    EXPECT_HR(E_POINTER, activex::LoadModuleTypeLib(instance, LIBID_VandrelLib, nullptr));
}

TEST(ModuleTypeLib, AFileOfTheWrongLibraryIsRefused) {
    base::ComPtr<ITypeLib> lib;
    EXPECT_HR(S_OK, activex::LoadTypeLibFile(TestModulePath().c_str(), LIBID_VandrelLib, lib.put()));
    EXPECT_EQ(activex::kForeignTypeLib,
              activex::LoadTypeLibFile(TestModulePath().c_str(), kOtherLibid, lib.put()));
    EXPECT_FALSE(lib);
    EXPECT_HR_FAILED(activex::LoadTypeLibFile(L"C:\\no such folder\\none.dll", LIBID_VandrelLib, lib.put()));
    EXPECT_HR(E_INVALIDARG, activex::LoadTypeLibFile(nullptr, LIBID_VandrelLib, lib.put()));
}

// A name cut at MAX_PATH would name another file, or a folder: the whole name is used.
TEST(ModuleTypeLib, AModuleBeyondMaxPathLoadsItsOwnLibrary) {
    LongFolder folder;
    const std::wstring copy = folder.Copy(TestModulePath(), L"LongPathModule.dll");
    ASSERT_FALSE(copy.empty()) << "cannot copy the test module, error " << ::GetLastError();
    base::UniqueModule module(::LoadLibraryW(copy.c_str()));
    ASSERT_TRUE(module) << "cannot load the copy, error " << ::GetLastError();
    const auto instance = static_cast<HINSTANCE>(module.get());
    const std::wstring name = base::ModuleFileName(instance);
    EXPECT_GT(name.size(), static_cast<size_t>(MAX_PATH));
    EXPECT_EQ(L"LongPathModule.dll", name.substr(name.find_last_of(L'\\') + 1));

    // The module's answer is the loader's own for the whole name (Wine's loader takes no name longer
    // than MAX_PATH, Windows' does), never one for a shorter name.
    base::ComPtr<ITypeLib> direct;
    const HRESULT expected = ::LoadTypeLibEx(name.c_str(), REGKIND_NONE, direct.put());
    base::ComPtr<ITypeLib> lib;
    std::wstring path;
    EXPECT_EQ(expected, activex::LoadModuleTypeLib(instance, LIBID_VandrelLib, lib.put(), &path));
    if (SUCCEEDED(expected)) {
        EXPECT_EQ(name, path);
    }
}

}  // namespace
