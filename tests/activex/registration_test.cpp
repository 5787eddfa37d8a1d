// Self-registration against the registry of the test prefix, through a stand-in module that carries
// the control's type library and type names. What the registration can change in HKEY_CLASSES_ROOT
// is read back, compared with what must and must not be there, and put back after every test.
#include <gtest/gtest.h>
#include <olectl.h>

#include <memory>
#include <string>
#include <vector>

#include "activex/registration.h"
#include "base/module_file.h"
#include "base/unique_handle.h"
#include "tests/activex/expected_registration.h"
#include "tests/activex/registry_snapshot.h"
#include "tests/support/call_site.h"
#include "tests/support/hresult_matchers.h"
#include "vandrel_h.h"

using namespace testsupport;

namespace {

const GUID kForeignLibid = {0x5b0f2d11, 0x6a3c, 0x4e0f, {0x9d, 0x51, 0x0c, 0x7e, 0x22, 0x41, 0x90, 0x3a}};
constexpr wchar_t kControlProgId[] = L"VANDREL.VandrelCtrl.1";

// The module's classes as the test module carries their names: the acquisition control, the chart.
const activex::ControlRegistration kControls[] = {
    {&CLSID_Vandrel, kControlProgId, 1, 1, 0x20591, &LIBID_VandrelLib, 1, 0},
    {&CLSID_VandrelChart, L"VANDREL.VandrelChart.1", 4, 2, 0x20191, &LIBID_VandrelLib, 1, 0},
};
const activex::ControlRegistration& kControl = kControls[0];
const activex::PageRegistration kPages[] = {
    {&kPageClsid, 2}, {&kChannelsPageClsid, 3}, {&kChartPageClsid, 5}};

Set Without(const Set& lines, const Set& gone) { return Minus(lines, gone); }

class Registration : public testing::Test {
protected:
    void SetUp() override {
        fullPath_ = base::BesideProgram(L"RegistrationTestModule.dll");
        module_.reset(::LoadLibraryW(fullPath_.c_str()));
        ASSERT_TRUE(module_);
        shortPath_ = ShortPath(fullPath_);
        clsid_ = keys_.control;
        page_ = keys_.page;
        typeLib_ = keys_.typeLib;
        locale_ = keys_.locale;
        restorer_ = std::make_unique<ClassesRootRestorer>(keys_.Touched());
        restorer_->Clear();
    }

    void TearDown() override {
        module_.reset();
        restorer_.reset();
    }

    HINSTANCE Module() const { return static_cast<HINSTANCE>(module_.get()); }

    // What DllRegisterServer does: the type library, then the pages and the controls.
    void RegisterAll(testsupport::CallSite caller = testsupport::CallSite::Here()) {
        const testsupport::CallerTrace fromCaller(caller);
        ASSERT_HR(S_OK, activex::RegisterModuleTypeLib(Module(), LIBID_VandrelLib));
        for (const auto& page : kPages)
            ASSERT_HR(S_OK, activex::UpdatePageRegistration(Module(), page, TRUE));
        for (const auto& control : kControls)
            ASSERT_HR(S_OK, activex::UpdateControlRegistration(Module(), control, TRUE));
    }
    void UnregisterAll(testsupport::CallSite caller = testsupport::CallSite::Here()) {
        const testsupport::CallerTrace fromCaller(caller);
        ASSERT_HR(S_OK, activex::UnregisterModuleTypeLib(LIBID_VandrelLib, 1, 0, 0));
        for (const auto& page : kPages)
            ASSERT_HR(S_OK, activex::UpdatePageRegistration(Module(), page, FALSE));
        for (const auto& control : kControls)
            ASSERT_HR(S_OK, activex::UpdateControlRegistration(Module(), control, FALSE));
    }

    Set Now() const { return keys_.Snapshot(); }
    Set Interfaces() const { return keys_.InterfaceLines(); }
    Set ClassLines(const std::wstring& path) const { return keys_.ClassLines(path); }

    RegistrationKeys keys_;
    std::unique_ptr<ClassesRootRestorer> restorer_;
    base::UniqueModule module_;
    std::wstring fullPath_, shortPath_;
    std::wstring clsid_, page_, typeLib_, locale_;
};

TEST_F(Registration, WritesExactlyTheClassTableAndTheTypeLibrary) {
    ASSERT_NE(Lower(fullPath_), Lower(shortPath_)) << "the module's folder should have a long name";
    const Set before = Now();
    RegisterAll();
    const Set now = Now();
    EXPECT_EQ(Set{}, Minus(before, now)) << "nothing may be removed";
    keys_.ExpectRegistered(Minus(now, before), shortPath_, fullPath_);
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
    const activex::ControlRegistration control = {&CLSID_Vandrel, kControlProgId,    77, 1,
                                                  0x20591,        &LIBID_VandrelLib, 1,  0};
    const activex::PageRegistration page = {&kPageClsid, 78};
    ASSERT_HR(S_OK, activex::UpdateControlRegistration(Module(), control, TRUE));
    ASSERT_HR(S_OK, activex::UpdatePageRegistration(Module(), page, TRUE));
    EXPECT_TRUE(At(clsid_).count(clsid_ + L" = " + GuidText(CLSID_Vandrel)));
    EXPECT_TRUE(At(L"vandrel.vandrelctrl.1").count(L"vandrel.vandrelctrl.1 = " + GuidText(CLSID_Vandrel)));
    EXPECT_TRUE(At(page_).count(page_ + L" = " + GuidText(kPageClsid)));
}

TEST_F(Registration, ARefusedRegistryCallFailsWithItsOwnError) {
    // HKEY_CLASSES_ROOT redirected, for this process only, to a volatile key, below which no lasting
    // key can be made. (Wine does not refuse a writer for lack of rights, which is what a
    // registration without administrator rights meets; that error takes the same road.)
    const std::wstring sandbox = L"VandrelTest.VolatileClasses";
    base::UniqueHkey root;
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegCreateKeyExW(HKEY_CLASSES_ROOT, sandbox.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                                KEY_ALL_ACCESS, nullptr, root.put(), nullptr));
    ASSERT_EQ(ERROR_SUCCESS, ::RegOverridePredefKey(HKEY_CLASSES_ROOT, root.get()));
    const HRESULT control = activex::UpdateControlRegistration(Module(), kControl, TRUE);
    const HRESULT page = activex::UpdatePageRegistration(Module(), kPages[0], TRUE);
    ::RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    const HRESULT refused = HRESULT_FROM_WIN32(ERROR_CHILD_MUST_BE_VOLATILE);
    EXPECT_EQ(refused, control);
    EXPECT_EQ(refused, page);
    EXPECT_EQ(Set{Lower(sandbox)}, At(Lower(sandbox))) << "nothing written";
    root.reset();
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, sandbox.c_str());
}

// Both bitnesses of the module registered on one 64-bit Windows: the class keys live in each
// registry view, the controls' ProgID keys and the type library key are shared. Removing this build
// leaves the other one working, with the ProgIDs, its type library entry and the interface keys.
class SideBySide : public Registration {
protected:
    void SetUp() override {
        BOOL wow64 = FALSE;
        ::IsWow64Process(::GetCurrentProcess(), &wow64);
        if (!kIs64Bit && !wow64) GTEST_SKIP() << "32-bit Windows has a single registry view";
        Registration::SetUp();
    }
    void TearDown() override {
        RemoveOtherBitness();
        Registration::TearDown();
    }
    static void RemoveOtherBitness() {
        base::UniqueHkey clsid;
        if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, L"CLSID", 0, KEY_ALL_ACCESS | kOtherView, clsid.put()) ==
            ERROR_SUCCESS) {
            for (const auto& control : kControls)
                ::RegDeleteTreeW(clsid.get(), GuidText(*control.clsid).c_str());
        }
        const std::wstring locale = RegistrationKeys().locale;
        ::RegDeleteTreeW(HKEY_CLASSES_ROOT, (locale + L"\\" + (kIs64Bit ? L"win32" : L"win64")).c_str());
    }
    // What the other bitness's registration wrote that this one does not: its class key in its
    // view and its file below the shared type library key.
    void RegisterOtherBitness(testsupport::CallSite caller = testsupport::CallSite::Here()) {
        const testsupport::CallerTrace fromCaller(caller);
        for (const auto& control : kControls) {
            base::UniqueHkey key;
            const std::wstring server = L"CLSID\\" + GuidText(*control.clsid) + L"\\InprocServer32";
            ASSERT_EQ(ERROR_SUCCESS,
                      ::RegCreateKeyExW(HKEY_CLASSES_ROOT, server.c_str(), 0, nullptr, 0,
                                        KEY_ALL_ACCESS | kOtherView, nullptr, key.put(), nullptr));
        }
        SetKey(locale_ + L"\\" + kOtherPlatformKey, L"C:\\Other\\Vandrel.ocx");
    }
    static bool OtherViewHasTheClass(const CLSID& clsid) {
        base::UniqueHkey key;
        return ::RegOpenKeyExW(HKEY_CLASSES_ROOT, (L"CLSID\\" + GuidText(clsid)).c_str(), 0,
                               KEY_READ | kOtherView, key.put()) == ERROR_SUCCESS;
    }
    // The lines of the controls' ProgID keys.
    Set ProgIds() const {
        Set lines;
        for (const auto& key : keys_.progIds) {
            const Set below = At(key);
            lines.insert(below.begin(), below.end());
        }
        return lines;
    }

    static constexpr REGSAM kOtherView = kIs64Bit ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    const wchar_t* const kOtherPlatformKey = kIs64Bit ? L"win32" : L"win64";
};

TEST_F(SideBySide, RemovingOneBitnessKeepsTheSharedKeysOfTheOther) {
    RegisterAll();
    RegisterOtherBitness();
    const Set progIdsBefore = ProgIds();
    const Set interfacesBefore = Interfaces();
    for (const auto& key : keys_.progIds) ASSERT_NE(Set{}, Below(progIdsBefore, key)) << Narrow(key);

    UnregisterAll();
    for (const auto& key : keys_.ClassKeys()) EXPECT_EQ(Set{}, At(key)) << "this view's class key goes";
    for (const auto& control : kControls) EXPECT_TRUE(OtherViewHasTheClass(*control.clsid));
    EXPECT_EQ(progIdsBefore, ProgIds()) << "the shared ProgIDs stay for the other";
    const Set typeLib = At(typeLib_);
    EXPECT_TRUE(typeLib.count(locale_ + L"\\" + Lower(kOtherPlatformKey) + L" = C:\\Other\\Vandrel.ocx"))
        << Show(typeLib);
    EXPECT_EQ(Set{}, At(locale_ + L"\\" + kPlatformKey));
    EXPECT_TRUE(typeLib.count(typeLib_ + L"\\1.0 = Vandrel ActiveX")) << Show(typeLib);
    EXPECT_EQ(interfacesBefore, Interfaces());
}

TEST_F(SideBySide, TheLastBitnessToLeaveTakesTheSharedKeys) {
    RegisterOtherBitness();
    RegisterAll();
    // The other bitness leaves first: its class key and its type library entry go.
    RemoveOtherBitness();
    UnregisterAll();
    EXPECT_EQ(Set{}, ProgIds());
    EXPECT_EQ(Set{}, At(typeLib_));
    EXPECT_EQ(Set{}, Interfaces());
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
    ASSERT_HR(S_OK, GetParam().control ? activex::UpdateControlRegistration(Module(), kControl, FALSE)
                                       : activex::UpdatePageRegistration(Module(), kPages[0], FALSE));
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
                         [](const auto& test) { return std::string(test.param.name); });

TEST_F(Registration, TypeLibraryFromAModuleWithoutOneIsRefused) {
    const Set before = Now();
    EXPECT_HR_FAILED(activex::RegisterModuleTypeLib(::GetModuleHandleW(nullptr), LIBID_VandrelLib));
    EXPECT_HR(SELFREG_E_TYPELIB, activex::RegisterModuleTypeLib(Module(), kForeignLibid));
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

    ASSERT_HR(S_OK, activex::UnregisterModuleTypeLib(LIBID_VandrelLib, 1, 0, 0));
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
    SetKey(typeLib_ + L"\\1.5\\9\\" + kPlatformKey, L"C:\\VANDREL.OCX");
    // FLAGS and HELPDIR are no locale keys, even with a "win16" below them.
    SetKey(typeLib_ + L"\\1.0\\FLAGS\\win16", L"x");
    SetKey(typeLib_ + L"\\3.0\\HELPDIR\\win16", L"x");
    ASSERT_HR(S_OK, activex::UnregisterModuleTypeLib(LIBID_VandrelLib, 1, 0, 0));
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
    ASSERT_HR(S_OK, activex::UnregisterModuleTypeLib(LIBID_VandrelLib, 1, 0, 0));
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
    ASSERT_HR(S_OK, activex::UnregisterModuleTypeLib(LIBID_VandrelLib, 1, 0, 0));
    EXPECT_EQ(Set{}, At(typeLib_));
    EXPECT_EQ(interfacesBefore, Interfaces());
}

}  // namespace
