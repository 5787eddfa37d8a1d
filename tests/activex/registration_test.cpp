// Self-registration against the registry of the test prefix, through a stand-in module that carries
// the control's type library and type names. HKEY_CLASSES_ROOT is read back whole, compared with
// what must and must not be there, and put back after every test.
#include <gtest/gtest.h>
#include <olectl.h>

#include <memory>
#include <string>
#include <vector>

#include "activex/registration.h"
#include "base/unique_handle.h"
#include "tests/activex/registry_snapshot.h"
#include "vandrel_h.h"

using testsupport::ClassesRootRestorer;
using testsupport::Lines;
using testsupport::Minus;
using testsupport::Narrow;
using testsupport::ReadTree;
using testsupport::Show;
using Set = std::set<std::wstring>;

namespace {

const CLSID kPageClsid = {0x8728c7cb, 0x895d, 0x442f, {0x86, 0x47, 0x74, 0xf1, 0x36, 0x6c, 0xdd, 0xe4}};
const GUID kForeignLibid = {0x5b0f2d11, 0x6a3c, 0x4e0f, {0x9d, 0x51, 0x0c, 0x7e, 0x22, 0x41, 0x90, 0x3a}};
constexpr wchar_t kControlProgId[] = L"VANDREL.VandrelCtrl.1";
constexpr bool kIs64Bit = sizeof(void*) == 8;
const wchar_t* const kPlatformKey = kIs64Bit ? L"win64" : L"win32";

const activex::ControlRegistration kControl = {&CLSID_Vandrel, kControlProgId, 1, 1, 0x20591,
                                               &LIBID_VandrelLib, 1, 0};
const activex::PageRegistration kPage = {&kPageClsid, 2};

std::wstring GuidText(const GUID& g) {
    wchar_t text[39];
    ::StringFromGUID2(g, text, 39);
    return text;
}

std::wstring Lower(std::wstring s) {
    for (wchar_t& c : s) c = static_cast<wchar_t>(::towlower(c));
    return s;
}

std::wstring BesideThisProgram(const wchar_t* name) {
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path = self;
    return path.substr(0, path.find_last_of(L'\\') + 1) + name;
}

std::wstring ShortPath(const std::wstring& full) {
    wchar_t buffer[MAX_PATH];
    const DWORD n = ::GetShortPathNameW(full.c_str(), buffer, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(buffer, n) : full;
}

// The lines of set that lie at or below key (a lower-case path).
Set Below(const Set& lines, const std::wstring& key) {
    Set out;
    for (const auto& l : lines) {
        if (l.compare(0, key.size(), key) == 0 &&
            (l.size() == key.size() || l[key.size()] == L'\\' || l[key.size()] == L' ')) {
            out.insert(l);
        }
    }
    return out;
}

Set Without(const Set& lines, const Set& gone) { return Minus(lines, gone); }

void SetKey(const std::wstring& path, const wchar_t* value) {
    base::UniqueHkey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0,
                                               KEY_ALL_ACCESS, nullptr, key.put(), nullptr));
    if (value) {
        ASSERT_EQ(ERROR_SUCCESS,
                  ::RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                                   static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t))));
    }
}

class Registration : public testing::Test {
protected:
    void SetUp() override {
        fullPath_ = BesideThisProgram(L"RegistrationTestModule.dll");
        module_.reset(::LoadLibraryW(fullPath_.c_str()));
        ASSERT_TRUE(module_);
        shortPath_ = ShortPath(fullPath_);
        clsid_ = Lower(L"clsid\\" + GuidText(CLSID_Vandrel));
        page_ = Lower(L"clsid\\" + GuidText(kPageClsid));
        typeLib_ = Lower(L"typelib\\" + GuidText(LIBID_VandrelLib));
        locale_ = typeLib_ + L"\\1.0\\0";
        // The platform writes interface keys into both registry views of a 64-bit system.
        for (const wchar_t* view : {L"", kIs64Bit ? L"wow6432node\\" : nullptr}) {
            if (!view) continue;
            for (const IID* iid : {&DIID__DVandrel, &DIID__DVandrelEvents}) {
                interfaces_.push_back(Lower(view + (L"interface\\" + GuidText(*iid))));
            }
        }
        platformKeys_ = interfaces_;
        platformKeys_.push_back(typeLib_);
        // The type library key is shared between the views; the 32-bit view shows it as well.
        if (kIs64Bit) platformKeys_.push_back(L"wow6432node\\" + typeLib_);

        std::vector<std::wstring> touched = interfaces_;
        touched.insert(touched.end(), {clsid_, page_, typeLib_, L"vandrel.vandrelctrl.1",
                                       L"vandrel.vandrelproppage.1"});
        restorer_ = std::make_unique<ClassesRootRestorer>(touched);
    }

    void TearDown() override {
        module_.reset();
        restorer_.reset();
    }

    HINSTANCE module() const { return static_cast<HINSTANCE>(module_.get()); }

    // What DllRegisterServer does: the type library, then the page and the control.
    void RegisterAll() {
        ASSERT_EQ(S_OK, activex::RegisterModuleTypeLib(module(), LIBID_VandrelLib));
        ASSERT_TRUE(activex::UpdatePageRegistration(module(), kPage, TRUE));
        ASSERT_TRUE(activex::UpdateControlRegistration(module(), kControl, TRUE));
    }
    void UnregisterAll() {
        ASSERT_EQ(S_OK, activex::UnregisterModuleTypeLib(LIBID_VandrelLib, 1, 0, 0));
        ASSERT_TRUE(activex::UpdatePageRegistration(module(), kPage, FALSE));
        ASSERT_TRUE(activex::UpdateControlRegistration(module(), kControl, FALSE));
    }

    // The whole of HKEY_CLASSES_ROOT.
    static Set Now() { return Lines(ReadTree(HKEY_CLASSES_ROOT)); }
    // The lines of one key of HKEY_CLASSES_ROOT and all below it (key in lower case).
    static Set At(const std::wstring& key) {
        Set out;
        for (const auto& line : Lines(ReadTree(HKEY_CLASSES_ROOT, key))) {
            out.insert(line.empty() || line[0] == L' ' ? key + line : key + L"\\" + line);
        }
        return out;
    }
    Set Interfaces() const {
        Set out;
        for (const auto& key : interfaces_) {
            const Set below = At(key);
            out.insert(below.begin(), below.end());
        }
        return out;
    }

    // The class entries, exactly; path is what InprocServer32 names.
    Set ClassLines(const std::wstring& path) const {
        const std::wstring clsidText = GuidText(CLSID_Vandrel);
        return {
            L"vandrel.vandrelctrl.1",
            L"vandrel.vandrelctrl.1 = Vandrel Control",
            L"vandrel.vandrelctrl.1\\clsid",
            L"vandrel.vandrelctrl.1\\clsid = " + clsidText,
            clsid_,
            clsid_ + L" = Vandrel Control",
            clsid_ + L"\\progid",
            clsid_ + L"\\progid = VANDREL.VandrelCtrl.1",
            clsid_ + L"\\inprocserver32",
            clsid_ + L"\\inprocserver32 = " + path,
            clsid_ + L"\\inprocserver32 @ThreadingModel = Apartment",
            clsid_ + L"\\toolboxbitmap32",
            clsid_ + L"\\toolboxbitmap32 = " + path + L", 1",
            clsid_ + L"\\miscstatus",
            clsid_ + L"\\miscstatus = 0",
            clsid_ + L"\\miscstatus\\1",
            clsid_ + L"\\miscstatus\\1 = 132497",
            clsid_ + L"\\control",
            clsid_ + L"\\control = ",
            clsid_ + L"\\typelib",
            clsid_ + L"\\typelib = {7AD9A13E-2E6B-4264-89E6-DBC515E57398}",
            clsid_ + L"\\version",
            clsid_ + L"\\version = 1.0",
            page_,
            page_ + L" = Vandrel Property Page",
            page_ + L"\\inprocserver32",
            page_ + L"\\inprocserver32 = " + path,
        };
    }

    std::unique_ptr<ClassesRootRestorer> restorer_;
    base::UniqueModule module_;
    std::wstring fullPath_, shortPath_;
    std::wstring clsid_, page_, typeLib_, locale_;
    std::vector<std::wstring> interfaces_;
    std::vector<std::wstring> platformKeys_;  // what registering the type library writes
};

TEST_F(Registration, WritesExactlyTheClassTableAndTheTypeLibrary) {
    ASSERT_NE(Lower(fullPath_), Lower(shortPath_)) << "the module's folder should have a long name";
    const Set before = Now();
    RegisterAll();
    const Set now = Now();
    EXPECT_EQ(Set{}, Minus(before, now)) << "nothing may be removed";

    const Set added = Minus(now, before);
    Set platform;
    for (const auto& key : platformKeys_) {
        const Set below = Below(added, key);
        platform.insert(below.begin(), below.end());
    }
    for (const auto& key : interfaces_) {
        EXPECT_TRUE(platform.count(key + L"\\typelib = {7AD9A13E-2E6B-4264-89E6-DBC515E57398}"))
            << Narrow(key);
    }
    EXPECT_TRUE(platform.count(locale_ + L"\\" + kPlatformKey + L" = " + fullPath_)) << Show(platform);
    EXPECT_TRUE(platform.count(typeLib_ + L"\\1.0 = Vandrel ActiveX")) << Show(platform);
    // Everything else that appeared is the class table, and the whole of it.
    EXPECT_EQ(ClassLines(shortPath_), Minus(added, platform))
        << "unexpected:\n" << Show(Minus(Minus(added, platform), ClassLines(shortPath_)))
        << "missing:\n" << Show(Minus(ClassLines(shortPath_), added));

    // What must not be there, spelled out: the page has neither a ProgID key nor a threading model.
    EXPECT_FALSE(now.count(L"vandrel.vandrelproppage.1"));
    EXPECT_TRUE(Below(now, page_ + L"\\progid").empty());
    for (const auto& l : Below(now, page_)) EXPECT_EQ(std::wstring::npos, l.find(L"ThreadingModel"));
}

TEST_F(Registration, RegisteringTwiceEqualsOnce) {
    RegisterAll();
    const Set once = Now();
    RegisterAll();
    EXPECT_EQ(once, Now());
}

TEST_F(Registration, RegisteringReplacesStaleValues) {
    SetKey(L"VANDREL.VandrelCtrl.1\\CLSID", L"{00000000-0000-0000-0000-000000000000}");
    SetKey(L"CLSID\\" + GuidText(CLSID_Vandrel) + L"\\InprocServer32", L"C:\\old\\Vandrel.ocx");
    RegisterAll();
    Set now = At(clsid_);
    const Set progId = At(L"vandrel.vandrelctrl.1");
    now.insert(progId.begin(), progId.end());
    EXPECT_TRUE(Minus(Below(ClassLines(shortPath_), clsid_), now).empty());
    EXPECT_FALSE(now.count(clsid_ + L"\\inprocserver32 = C:\\old\\Vandrel.ocx"));
    EXPECT_FALSE(now.count(L"vandrel.vandrelctrl.1\\clsid = {00000000-0000-0000-0000-000000000000}"));
}

TEST_F(Registration, UnregisteringLeavesNothingBehind) {
    const Set before = Now();
    RegisterAll();
    UnregisterAll();
    const Set now = Now();
    EXPECT_EQ(Set{}, Minus(now, before)) << Show(Minus(now, before));
    EXPECT_EQ(Set{}, Minus(before, now)) << Show(Minus(before, now));
}

TEST_F(Registration, UnregisteringWhatWasNeverRegisteredSucceeds) {
    const Set before = Now();
    UnregisterAll();
    UnregisterAll();
    EXPECT_EQ(before, Now());
}

TEST_F(Registration, MissingTypeNamesFallBackToTheClsidText) {
    const activex::ControlRegistration control = {&CLSID_Vandrel, kControlProgId, 77, 1, 0x20591,
                                                  &LIBID_VandrelLib, 1, 0};
    const activex::PageRegistration page = {&kPageClsid, 78};
    ASSERT_TRUE(activex::UpdateControlRegistration(module(), control, TRUE));
    ASSERT_TRUE(activex::UpdatePageRegistration(module(), page, TRUE));
    EXPECT_TRUE(At(clsid_).count(clsid_ + L" = " + GuidText(CLSID_Vandrel)));
    EXPECT_TRUE(At(L"vandrel.vandrelctrl.1").count(L"vandrel.vandrelctrl.1 = " + GuidText(CLSID_Vandrel)));
    EXPECT_TRUE(At(page_).count(page_ + L" = " + GuidText(kPageClsid)));
}

// With a 16-bit server registered for the class, removal takes only the 32-bit server and the
// toolbox bitmap; the class key, its other entries and the ProgID stay.
struct SixteenBitCase {
    const char* name;
    bool control;
};
class SixteenBit : public Registration, public testing::WithParamInterface<SixteenBitCase> {};

TEST_P(SixteenBit, RemovalKeepsAllButTheWin32Server) {
    RegisterAll();
    const std::wstring key = GetParam().control ? clsid_ : page_;
    SetKey(key + L"\\InprocServer", L"VANDREL.OCX");
    const auto classAndProgId = [&] {
        Set lines = At(key);
        const Set progId = At(L"vandrel.vandrelctrl.1");
        lines.insert(progId.begin(), progId.end());
        return lines;
    };
    const Set before = classAndProgId();
    ASSERT_TRUE(GetParam().control ? activex::UpdateControlRegistration(module(), kControl, FALSE)
                                   : activex::UpdatePageRegistration(module(), kPage, FALSE));
    const Set now = classAndProgId();
    const Set gone = Minus(before, now);
    Set expected = Below(before, key + L"\\inprocserver32");
    const Set bitmap = Below(before, key + L"\\toolboxbitmap32");
    expected.insert(bitmap.begin(), bitmap.end());
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(expected, gone) << Show(gone);
    EXPECT_TRUE(Minus(now, before).empty());
    if (GetParam().control) {
        EXPECT_TRUE(now.count(L"vandrel.vandrelctrl.1\\clsid"));
    }
    EXPECT_TRUE(now.count(key + L"\\inprocserver = VANDREL.OCX"));
}

INSTANTIATE_TEST_SUITE_P(Classes, SixteenBit,
                         testing::Values(SixteenBitCase{"control", true}, SixteenBitCase{"page", false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Registration, TypeLibraryFromAModuleWithoutOneIsRefused) {
    const Set before = Now();
    EXPECT_TRUE(FAILED(activex::RegisterModuleTypeLib(::GetModuleHandleW(nullptr), LIBID_VandrelLib)));
    EXPECT_EQ(SELFREG_E_TYPELIB, activex::RegisterModuleTypeLib(module(), kForeignLibid));
    EXPECT_EQ(before, Now());
}

// --- type library removal --------------------------------------------------------------------

TEST_F(Registration, Win16LocaleKeepsOnlyItsWin16Entry) {
    RegisterAll();
    SetKey(typeLib_ + L"\\1.0\\409\\win16", L"C:\\VANDREL.TLB");
    SetKey(typeLib_ + L"\\1.0\\409\\" + kPlatformKey, fullPath_.c_str());
    SetKey(typeLib_ + L"\\2.0\\0\\" + kPlatformKey, fullPath_.c_str());
    SetKey(typeLib_ + L"\\2.0\\FLAGS", L"2");
    const Set before = At(typeLib_);

    ASSERT_EQ(S_OK, activex::UnregisterModuleTypeLib(LIBID_VandrelLib, 1, 0, 0));
    Set expected = Without(before, Below(before, locale_));
    expected = Without(expected, Below(before, typeLib_ + L"\\1.0\\409\\" + kPlatformKey));
    expected = Without(expected, Below(before, typeLib_ + L"\\2.0"));
    const Set after = At(typeLib_);
    EXPECT_EQ(expected, after) << Show(after);
    EXPECT_TRUE(after.count(typeLib_ + L"\\1.0\\409\\win16 = C:\\VANDREL.TLB"));
    // Version 1.0 keeps what describes it; the library can no longer be loaded here.
    EXPECT_FALSE(Below(after, typeLib_ + L"\\1.0\\flags").empty());
    EXPECT_EQ(Set{}, Interfaces());
}

TEST_F(Registration, EveryVersionIsRemovedWithTheLibraryKey) {
    RegisterAll();
    SetKey(typeLib_ + L"\\2.0\\0\\" + kPlatformKey, fullPath_.c_str());
    SetKey(typeLib_ + L"\\2.0\\HELPDIR", L"C:\\");
    SetKey(typeLib_ + L"\\1.5\\9\\win32", L"C:\\VANDREL.OCX");
    // FLAGS and HELPDIR are no locale keys, even with a "win16" below them.
    SetKey(typeLib_ + L"\\1.0\\FLAGS\\win16", L"x");
    SetKey(typeLib_ + L"\\3.0\\HELPDIR\\win16", L"x");
    ASSERT_EQ(S_OK, activex::UnregisterModuleTypeLib(LIBID_VandrelLib, 1, 0, 0));
    EXPECT_EQ(Set{}, At(typeLib_)) << Show(At(typeLib_));
    EXPECT_EQ(Set{}, Interfaces());
}

TEST_F(Registration, InterfacesStayWhileTheLibraryCanStillBeLoaded) {
    if (!kIs64Bit) GTEST_SKIP() << "a 32-bit build has no other platform's entry to load";
    RegisterAll();
    // A 16-bit registration of locale 0 that also names a 32-bit file: the 64-bit entry goes, the
    // 32-bit one stays and still loads the library.
    SetKey(locale_ + L"\\win16", L"C:\\VANDREL.TLB");
    SetKey(locale_ + L"\\win32", fullPath_.c_str());
    const Set interfacesBefore = Interfaces();
    ASSERT_EQ(S_OK, activex::UnregisterModuleTypeLib(LIBID_VandrelLib, 1, 0, 0));
    EXPECT_EQ(Set{}, At(locale_ + L"\\" + kPlatformKey));
    EXPECT_NE(Set{}, At(locale_ + L"\\win32"));
    EXPECT_NE(Set{}, interfacesBefore);
    EXPECT_EQ(interfacesBefore, Interfaces());
}

TEST_F(Registration, InterfacesOfALibraryThatWasNotLoadableStay) {
    RegisterAll();
    // The registered file is gone: the library cannot be loaded before the removal either, so its
    // interfaces are not known and not touched.
    SetKey(locale_ + L"\\" + kPlatformKey, L"C:\\nowhere\\Vandrel.ocx");
    const Set interfacesBefore = Interfaces();
    ASSERT_EQ(S_OK, activex::UnregisterModuleTypeLib(LIBID_VandrelLib, 1, 0, 0));
    EXPECT_EQ(Set{}, At(typeLib_));
    EXPECT_EQ(interfacesBefore, Interfaces());
}

}  // namespace

int main(int argc, char** argv) {
    ::CoInitialize(nullptr);
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    ::CoUninitialize();
    return result;
}
