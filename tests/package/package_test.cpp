// The release packages in the test prefix: the x64 installer against self-registration (the same
// registry rows, paths aside), its features, repair and removal; both installers side by side; each
// installer for the current user alone, and with the other context; and the portable folder with
// nothing registered. The packages come from scripts/package, run by the wrapper
// (tests/package/run) that also unzips the portable folder; it names them in VANDREL_DIST and
// VANDREL_PORTABLE. Every test leaves the classes keys and C:\ as it found them.
//
// Registry snapshots hold what can be ours: our keys with all below them and, below the keys they
// are written under, the names of all keys and the whole of every key that is new since the test
// began. Walking the whole classes root costs about 3 s under Wine.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <msi.h>
#include <ocidl.h>
#include <shlobj.h>

#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "base/com_ptr.h"
#include "base/unique_handle.h"
#include "harness/run_process.h"
#include "tests/activex/expected_registration.h"
#include "tests/activex/registry_snapshot.h"
#include "tests/support/call_site.h"
#include "tests/support/hresult_matchers.h"
#include "tests/support/run_process.h"
#include "testtool/form_layout.h"
#include "testtool/remote.h"

using namespace testsupport;
using harness::ProcessResult;
using harness::RunProcess;

namespace {

namespace remote = mirelo::remote;
using mirelo::ControlArray;

constexpr wchar_t kVersion[] = L"1.0.0.27";
constexpr wchar_t kX64Product[] = L"{3B7E9C41-6D0A-4E55-8F1B-1C2A9D7E0641}";
constexpr wchar_t kX86Product[] = L"{3B7E9C41-6D0A-4E55-8F1B-1C2A9D7E0321}";
// Each package's Mirelo shortcut in the Start menu's Vandrel folder, which both packages share.
constexpr wchar_t kX64Shortcut[] = L"Mirelo (64-bit).lnk";
constexpr wchar_t kX86Shortcut[] = L"Mirelo (32-bit).lnk";
// Appended to a command line, last: Wine's installer takes the next property as the value of an
// empty one ("ALLUSERS=\"\" ADDLOCAL=ALL" sets ALLUSERS to "ADDLOCAL=ALL").
constexpr wchar_t kPerUser[] = L" ALLUSERS=\"\"";

std::wstring Env(const wchar_t* name) {
    wchar_t value[MAX_PATH];
    const DWORD n = ::GetEnvironmentVariableW(name, value, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(value, n) : std::wstring();
}

std::wstring Folder(int csidl) {
    wchar_t path[MAX_PATH];
    return SUCCEEDED(::SHGetFolderPathW(nullptr, csidl, nullptr, 0, path)) ? path : L"";
}

bool Exists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The program the shortcut file at path starts, in lower case; "(unreadable)" when it cannot be read.
std::wstring ShortcutTarget(const std::wstring& path) {
    base::ComPtr<IShellLinkW> link;
    base::ComPtr<IPersistFile> file;
    wchar_t target[MAX_PATH] = L"";
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  link.put_void())) ||
        FAILED(link->QueryInterface(IID_IPersistFile, file.put_void())) ||
        FAILED(file->Load(path.c_str(), STGM_READ)) ||
        FAILED(link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH))) {
        return L"(unreadable)";
    }
    return Lower(target);
}

// Our keys below a classes key, as lower-case paths.
std::vector<std::wstring> OurKeys() {
    RegistrationKeys keys;
    std::vector<std::wstring> ours = keys.ClassKeys();
    ours.insert(ours.end(), keys.progIds.begin(), keys.progIds.end());
    ours.insert(ours.end(), {keys.pageProgId, keys.typeLib});
    for (const IID* iid : RegistrationKeys::kInterfaces) {
        ours.push_back(Lower(L"interface\\" + GuidText(*iid)));
    }
    return ours;
}

// The lines of what can be ours below classes (HKEY_CLASSES_ROOT, or a Software\Classes key opened
// in one registry view): see the top of this file. base is an earlier snapshot of the same key; the
// first one has none. Every key is opened with view, so that the 32-bit view of Software\Classes
// reaches its redirected CLSID and Interface keys.
Set SnapshotOf(HKEY classes, REGSAM view, const Set* base = nullptr) {
    static const std::vector<std::wstring> ours = OurKeys();
    Set lines;
    const auto readWhole = [&](const std::wstring& path) {
        base::UniqueHkey key;
        if (::RegOpenKeyExW(classes, path.c_str(), 0, KEY_READ | view, key.put()) != ERROR_SUCCESS) return;
        RegTree tree;
        ReadKeyInto(key.get(), L"", tree);
        for (const auto& line : Lines(tree)) {
            lines.insert(line.empty() || line[0] == L' ' ? path + line : path + L"\\" + line);
        }
    };
    for (const wchar_t* root : {L"", L"clsid", L"interface", L"typelib", L"wow6432node",
                                L"wow6432node\\clsid", L"wow6432node\\interface", L"wow6432node\\typelib"}) {
        base::UniqueHkey key;
        if (::RegOpenKeyExW(classes, root, 0, KEY_READ | view, key.put()) != ERROR_SUCCESS) continue;
        wchar_t name[256];
        for (DWORD i = 0;; ++i) {
            DWORD length = 256;
            if (::RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS)
                break;
            const std::wstring path = Lower(*root ? std::wstring(root) + L"\\" + name : name);
            lines.insert(path);
            const std::wstring plain = path.rfind(L"wow6432node\\", 0) == 0 ? path.substr(12) : path;
            if (std::find(ours.begin(), ours.end(), plain) != ours.end() || (base && !base->count(path))) {
                readWhole(path);
            }
        }
    }
    return lines;
}

// HKEY_CLASSES_ROOT as this 64-bit process sees it, both views in one.
Set ClassesRootNow(const Set* base = nullptr) { return SnapshotOf(HKEY_CLASSES_ROOT, 0, base); }

// The lines of a snapshot at or below our keys (in the view it was taken in).
Set Ours(const Set& lines) {
    Set out;
    for (const auto& key : OurKeys()) {
        const Set below = Below(lines, key);
        out.insert(below.begin(), below.end());
    }
    return out;
}

// A Software\Classes key of HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER in one registry view.
class ClassesKey {
public:
    ClassesKey(HKEY root, REGSAM view) : view_(view) {
        ::RegCreateKeyExW(root, L"Software\\Classes", 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr,
                          key_.put(), nullptr);
    }

    Set Snapshot(const Set* base = nullptr) const { return SnapshotOf(key_.get(), view_, base); }

    void DeleteOurs() const {
        for (const auto& path : OurKeys()) {
            base::UniqueHkey key;
            if (::RegOpenKeyExW(key_.get(), path.c_str(), 0, KEY_ALL_ACCESS | view_, key.put()) !=
                ERROR_SUCCESS)
                continue;
            ::RegDeleteTreeW(key.get(), nullptr);
            key.reset();
            ::RegDeleteKeyExW(key_.get(), path.c_str(), view_, 0);
        }
    }

    // Writes our keys with all below them into to, in place of what to has of them.
    void CopyOursTo(const ClassesKey& to) const {
        to.DeleteOurs();
        for (const auto& path : OurKeys()) {
            base::UniqueHkey from, top;
            if (::RegOpenKeyExW(key_.get(), path.c_str(), 0, KEY_READ | view_, from.put()) != ERROR_SUCCESS ||
                ::RegCreateKeyExW(to.key_.get(), path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | to.view_,
                                  nullptr, top.put(), nullptr) != ERROR_SUCCESS) {
                continue;
            }
            RegTree tree;
            ReadKeyInto(from.get(), L"", tree);
            for (const auto& [sub, values] : tree) {
                base::UniqueHkey key;
                if (!sub.empty() && ::RegCreateKeyExW(top.get(), sub.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                      nullptr, key.put(), nullptr) != ERROR_SUCCESS) {
                    continue;
                }
                for (const auto& [name, value] : values) {
                    ::RegSetValueExW(sub.empty() ? top.get() : key.get(), name.c_str(), 0, value.type,
                                     value.data.data(), static_cast<DWORD>(value.data.size()));
                }
            }
        }
    }

private:
    base::UniqueHkey key_;
    REGSAM view_;
};

std::wstring Msi(const wchar_t* arch) {
    return Env(L"VANDREL_DIST") + L"\\Vandrel-" + kVersion + L"-" + arch + L".msi";
}

DWORD Msiexec(const std::wstring& args) {
    return RunProcess(L"C:\\windows\\system32\\msiexec.exe " + args + L" /qn", 300000).exitCode;
}

// Replaces every occurrence of from (any case) in text.
std::wstring ReplaceNoCase(std::wstring text, const std::wstring& from, const std::wstring& to) {
    if (from.empty()) return text;
    const std::wstring lowerFrom = Lower(from);
    for (size_t at = 0;;) {
        at = Lower(text).find(lowerFrom, at);
        if (at == std::wstring::npos) return text;
        text.replace(at, from.size(), to);
        at += to.size();
    }
}

// Lines with the module's path and folder (long and short forms, a folder with or without its
// trailing backslash) written as <ocx> and <dir>.
Set WithoutPaths(const Set& lines, const std::wstring& ocx) {
    const std::wstring dir = ocx.substr(0, ocx.find_last_of(L'\\'));
    const std::wstring shortOcx = ShortPath(ocx);
    const std::wstring shortDir = shortOcx.substr(0, shortOcx.find_last_of(L'\\'));
    Set out;
    for (std::wstring l : lines) {
        for (const auto& [from, to] : {std::pair{ocx, L"<ocx>"},
                                       {shortOcx, L"<ocx>"},
                                       {dir + L"\\", L"<dir>"},
                                       {shortDir + L"\\", L"<dir>"},
                                       {dir, L"<dir>"},
                                       {shortDir, L"<dir>"}}) {
            l = ReplaceNoCase(l, from, to);
        }
        out.insert(l);
    }
    return out;
}

// A key line without a value: "path".
bool BareKey(const std::wstring& line) { return line.find(L" = ") == std::wstring::npos; }

// Keys above ours ("wow6432node\\interface"): registration creates them where they are missing
// and removal may take them when they are left empty; neither is ours.
bool AboveOurs(const std::wstring& line) {
    static const RegistrationKeys keys;
    std::vector<std::wstring> ours = keys.Touched();
    for (const auto& key : keys.Touched()) ours.push_back(L"wow6432node\\" + key);
    return BareKey(line) && std::any_of(ours.begin(), ours.end(), [&](const std::wstring& key) {
               return key.rfind(line + L"\\", 0) == 0;
           });
}

// What changed in HKEY_CLASSES_ROOT since before, apart from the installer's own bookkeeping.
Set Added(const Set& before) {
    Set out;
    for (const auto& l : Minus(ClassesRootNow(&before), before)) {
        if (l.rfind(L"installer", 0) != 0 && !AboveOurs(l)) out.insert(l);
    }
    return out;
}

// The installer's empty folders of its bookkeeping ("installer\\products"), which it creates on
// first use and keeps; what lies below them names a product.
bool InstallerFolder(const std::wstring& line) {
    return line.rfind(L"installer", 0) == 0 && std::count(line.begin(), line.end(), L'\\') <= 1 &&
           BareKey(line);
}

// Whether product is installed in context (for the current user, when a user's context).
bool InstalledIn(const wchar_t* product, MSIINSTALLCONTEXT context) {
    wchar_t version[64];
    DWORD n = 64;
    return ::MsiGetProductInfoExW(product, nullptr, context, INSTALLPROPERTY_VERSIONSTRING, version, &n) ==
           ERROR_SUCCESS;
}

// Removes product from whichever context holds it. Wine's installer takes the context of a removal
// from ALLUSERS alone, where Windows takes the installation's own.
void Uninstall(const wchar_t* product, const wchar_t* arch) {
    if (InstalledIn(product, MSIINSTALLCONTEXT_MACHINE)) Msiexec(L"/x \"" + Msi(arch) + L"\"");
    if (InstalledIn(product, MSIINSTALLCONTEXT_USERUNMANAGED))
        Msiexec(L"/x \"" + Msi(arch) + L"\"" + kPerUser);
}

// The script host registers its own type library (IHost, IArguments2) the first time it runs in a
// prefix: each bitness's host runs once before the first snapshot, so that its keys are there from
// the start and not taken for something of ours left behind.
void RunEachScriptHostOnce() {
    static const bool ran = [] {
        const std::filesystem::path script = std::filesystem::temp_directory_path() / L"vandrel-nothing.vbs";
        std::ofstream(script) << "WScript.Quit 0\n";
        for (const wchar_t* system : {L"C:\\windows\\system32\\", L"C:\\windows\\syswow64\\"}) {
            const std::wstring host = std::wstring(system) + L"cscript.exe";
            const bool runs = std::wstring(system).find(L"syswow64") == std::wstring::npos ||
                              No32BitProgramsReason().empty();
            if (runs && Exists(host)) RunProcess(L"\"" + host + L"\" //nologo \"" + script.wstring() + L"\"");
        }
        std::error_code ignored;
        std::filesystem::remove(script, ignored);
        return true;
    }();
    static_cast<void>(ran);
}

bool ProgIdResolves() {
    for (const auto& control : kExpectedControls) {
        CLSID clsid;
        if (FAILED(::CLSIDFromProgID(control.progId, &clsid))) return false;
    }
    return true;
}

// vandrel-monitor of folder sampling the default simulated board for about a second.
ProcessResult Monitor(const std::wstring& folder) {
    return RunProcess(L"\"" + folder + L"\\vandrel-monitor.exe\" --interval 200 --channels 4 --duration 1.2",
                      60000);
}

// Mirelo.exe of folder, started and left running; a test that stops early (a failed assertion)
// ends it by force, so that its window does not stand in the way of the next test.
class StartedMirelo {
public:
    explicit StartedMirelo(const std::wstring& folder) {
        std::wstring command = L"\"" + folder + L"\\Mirelo.exe\"";
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                              &pi))
            return;
        process_.reset(pi.hProcess);
        base::UniqueThread thread(pi.hThread);
        id_ = pi.dwProcessId;
    }
    ~StartedMirelo() {
        if (process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
            ::TerminateProcess(process_.get(), 1);
            ::WaitForSingleObject(process_.get(), 5000);
        }
    }
    StartedMirelo(const StartedMirelo&) = delete;
    StartedMirelo& operator=(const StartedMirelo&) = delete;

    explicit operator bool() const { return static_cast<bool>(process_); }
    HANDLE Handle() const { return process_.get(); }
    DWORD Id() const { return id_; }

private:
    base::UniqueProcess process_;
    DWORD id_ = 0;
};

// The monitor printed rows with at least one fresh value.
::testing::AssertionResult PrintedValues(const ProcessResult& r) {
    if (r.exitCode != 0) {
        return ::testing::AssertionFailure() << "exit " << r.exitCode << "\n" << r.out << r.err;
    }
    for (const auto& line : SplitLines(r.out)) {
        if (line.find('.') != std::string::npos && line.find("time") == std::string::npos &&
            line.find("Vandrel") == std::string::npos && line.find("stale") == std::string::npos) {
            return ::testing::AssertionSuccess();
        }
    }
    return ::testing::AssertionFailure() << "no row of fresh values:\n" << r.out << r.err;
}

class Packages : public ::testing::Test {
protected:
    void SetUp() override {
        if (Env(L"VANDREL_DIST").empty())
            GTEST_SKIP() << "run through tests/package/run (VANDREL_DIST unset)";
        ASSERT_TRUE(Exists(Msi(L"x64"))) << "no x64 package in VANDREL_DIST";
        RunEachScriptHostOnce();
        RegistrationKeys keys;
        std::vector<std::wstring> touched = keys.Touched();
        std::vector<std::wstring> ours = keys.ClassKeys();
        ours.insert(ours.end(), keys.progIds.begin(), keys.progIds.end());
        ours.push_back(keys.typeLib);
        for (const auto& key : ours) touched.push_back(L"wow6432node\\" + key);
        restorer_ = std::make_unique<ClassesRootRestorer>(touched);
        restorer_->Clear();
        before_ = ClassesRootNow();
        x64Dir_ = Folder(CSIDL_PROGRAM_FILES) + L"\\Vandrel";
        x86Dir_ = Folder(CSIDL_PROGRAM_FILESX86) + L"\\Vandrel";
        // A per-machine shortcut belongs in the common Start menu; Wine's installer puts it in the
        // user's. Either counts; neither may stay after removal.
        menus_ = {Folder(CSIDL_COMMON_PROGRAMS) + L"\\Vandrel", Folder(CSIDL_PROGRAMS) + L"\\Vandrel"};
    }

    void TearDown() override {
        Uninstall(kX64Product, L"x64");
        Uninstall(kX86Product, L"x86");
        restorer_.reset();
        // Removal also takes empty keys above ours (this prefix's empty 32-bit CLSID and Interface
        // keys): put them back.
        for (const auto& line : Minus(before_, ClassesRootNow(&before_))) {
            if (AboveOurs(line)) SetKey(line, nullptr);
        }
    }

    // Removal leaves nothing of ours: no key, no file or folder, no shortcut. tolerated: lines
    // that may stay for a known reason (below tolerated key).
    void ExpectNothingLeft(const std::vector<std::wstring>& tolerated = {},
                           testsupport::CallSite caller = testsupport::CallSite::Here()) {
        const testsupport::CallerTrace fromCaller(caller);
        const Set now = ClassesRootNow(&before_);
        Set left;
        for (const auto& l : Minus(now, before_)) {
            const bool isTolerated =
                std::any_of(tolerated.begin(), tolerated.end(),
                            [&](const std::wstring& key) { return !Below(Set{l}, key).empty(); });
            if (!InstallerFolder(l) && !AboveOurs(l) && !isTolerated) left.insert(l);
        }
        EXPECT_EQ(Set{}, left) << "left behind:\n" << Show(left);
        Set removed;
        for (const auto& l : Minus(before_, now)) {
            if (!AboveOurs(l)) removed.insert(l);
        }
        EXPECT_EQ(Set{}, removed) << "removed:\n" << Show(removed);
        EXPECT_FALSE(Exists(x64Dir_));
        EXPECT_FALSE(Exists(x86Dir_));
        for (const auto& menu : menus_) EXPECT_FALSE(Exists(menu)) << Narrow(menu);
    }

    // The program that the shortcut name in the menu folder starts (see menus_), in lower case;
    // empty when neither menu holds it.
    std::wstring MenuShortcutTarget(const wchar_t* name) const {
        for (const auto& menu : menus_) {
            if (Exists(menu + L"\\" + name)) return ShortcutTarget(menu + L"\\" + name);
        }
        return L"";
    }

    RegistrationKeys keys_;
    std::unique_ptr<ClassesRootRestorer> restorer_;
    Set before_;
    std::wstring x64Dir_, x86Dir_;
    std::vector<std::wstring> menus_;
};

TEST_F(Packages, InstalledRegistryEqualsSelfRegistrationAndRemovalLeavesNothing) {
    const std::wstring built = BinFolder() + L"Vandrel.ocx";
    ASSERT_EQ(0u, RunProcess(L"C:\\windows\\system32\\regsvr32.exe /s \"" + built + L"\"").exitCode);
    const Set selfRegistered = WithoutPaths(Added(before_), built);
    ASSERT_EQ(0u, RunProcess(L"C:\\windows\\system32\\regsvr32.exe /u /s \"" + built + L"\"").exitCode);
    restorer_->Clear();
    ASSERT_EQ(Set{}, Added(before_)) << "regsvr32 /u left:\n" << Show(Added(before_));

    ASSERT_EQ(0u, Msiexec(L"/i \"" + Msi(L"x64") + L"\""));
    const Set installed = WithoutPaths(Added(before_), x64Dir_ + L"\\Vandrel.ocx");
    EXPECT_EQ(selfRegistered, installed)
        << "only installed:\n"
        << Show(Minus(installed, selfRegistered)) << "only self-registered:\n"
        << Show(Minus(selfRegistered, installed));
    for (const auto& key : keys_.controls) EXPECT_TRUE(installed.count(key + L"\\inprocserver32 = <ocx>"));

    // Control and Tools by default, with the shortcut; the simulated board only when asked for.
    for (const wchar_t* file : {L"Vandrel.ocx", L"Mirelo.exe", L"vandrel-monitor.exe"}) {
        EXPECT_TRUE(Exists(x64Dir_ + L"\\" + file)) << testsupport::Narrow(file);
    }
    EXPECT_FALSE(Exists(x64Dir_ + L"\\DirectPort.dll"));
    EXPECT_EQ(Lower(x64Dir_ + L"\\Mirelo.exe"), MenuShortcutTarget(kX64Shortcut));

    ASSERT_EQ(0u, Msiexec(L"/x \"" + Msi(L"x64") + L"\""));
    ExpectNothingLeft();
}

TEST_F(Packages, WithoutDirectPortBothToolsSayWhatIsMissing) {
    ASSERT_EQ(0u, Msiexec(L"/i \"" + Msi(L"x64") + L"\""));

    const ProcessResult monitor = Monitor(x64Dir_);
    EXPECT_EQ(1u, monitor.exitCode);
    const auto lines = SplitLines(monitor.err);
    ASSERT_EQ(1u, lines.size()) << monitor.err;
    EXPECT_NE(std::string::npos, lines[0].find("because DirectPort.dll")) << lines[0];
    EXPECT_NE(std::string::npos, lines[0].find("was not found")) << lines[0];

    // Mirelo says it in its error box before any form is shown.
    const StartedMirelo mirelo(x64Dir_);
    ASSERT_TRUE(mirelo);
    HWND box = nullptr;
    for (int i = 0; i < 300 && !box; ++i) {
        box = ::FindWindowW(L"#32770", mirelo::kFormCaption);
        if (!box) ::Sleep(100);
    }
    ASSERT_NE(nullptr, box) << "Mirelo showed no error box";
    std::wstring text;
    for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        wchar_t buffer[1024];
        ::GetWindowTextW(child, buffer, 1024);
        text += buffer;
    }
    EXPECT_NE(std::wstring::npos, text.find(L"because DirectPort.dll")) << Narrow(text);
    EXPECT_NE(std::wstring::npos, text.find(L"was not found")) << Narrow(text);
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(mirelo.Handle(), 20000));
    DWORD code = 0;
    ::GetExitCodeProcess(mirelo.Handle(), &code);
    EXPECT_EQ(1u, code);
}

TEST_F(Packages, SimulatedBoardOnRequestAndRepairRestoresTheControl) {
    ASSERT_EQ(0u, Msiexec(L"/i \"" + Msi(L"x64") + L"\" ADDLOCAL=Control,Tools,SimulatedBoard"));
    ASSERT_TRUE(Exists(x64Dir_ + L"\\DirectPort.dll"));
    EXPECT_TRUE(PrintedValues(Monitor(x64Dir_)));

    ASSERT_TRUE(::DeleteFileW((x64Dir_ + L"\\Vandrel.ocx").c_str()));
    EXPECT_NE(0u, Monitor(x64Dir_).exitCode);
    // What msiexec /f does, spelled as properties: Wine 8's msiexec fails /f (exit 1 or 69)
    // without repairing anything.
    ASSERT_EQ(0u, Msiexec(L"/i \"" + Msi(L"x64") + L"\" REINSTALL=ALL REINSTALLMODE=omus"));
    ASSERT_TRUE(Exists(x64Dir_ + L"\\Vandrel.ocx"));
    EXPECT_TRUE(PrintedValues(Monitor(x64Dir_)));

    ASSERT_EQ(0u, Msiexec(L"/x \"" + Msi(L"x64") + L"\""));
    ExpectNothingLeft();
}

// The x86 package's programs cannot run on this machine; its files and its rows in the 32-bit view
// can be checked, and what it shares with the x64 package must outlive either one.
TEST_F(Packages, SideBySideEachRemovalKeepsTheOtherWorking) {
    if (!Exists(Msi(L"x86"))) GTEST_SKIP() << "no x86 package (the win32 build is missing)";
    const std::wstring wow = L"wow6432node\\";
    const std::wstring win32Entry = keys_.locale + L"\\win32 = <ocx>";

    ASSERT_EQ(0u, Msiexec(L"/i \"" + Msi(L"x64") + L"\" ADDLOCAL=ALL"));
    ASSERT_EQ(0u, Msiexec(L"/i \"" + Msi(L"x86") + L"\" ADDLOCAL=ALL"));
    EXPECT_TRUE(Exists(x86Dir_ + L"\\Vandrel.ocx"));
    EXPECT_TRUE(Exists(x86Dir_ + L"\\DirectPort.dll"));
    const Set both = ClassesRootNow(&before_);
    // The x86 package's own rows: its classes' keys in the 32-bit view.
    const auto x86RowsOf = [&](const Set& lines) {
        Set rows;
        for (const auto& key : keys_.ClassKeys()) {
            const Set below = WithoutPaths(Below(lines, wow + key), x86Dir_ + L"\\Vandrel.ocx");
            rows.insert(below.begin(), below.end());
        }
        return rows;
    };
    const Set x86Rows = x86RowsOf(both);
    for (const auto& key : keys_.controls) {
        EXPECT_TRUE(x86Rows.count(wow + key + L"\\inprocserver32 = <ocx>")) << Show(x86Rows);
        EXPECT_TRUE(x86Rows.count(wow + key + L"\\inprocserver32 @ThreadingModel = Apartment"));
    }
    EXPECT_TRUE(WithoutPaths(both, x86Dir_ + L"\\Vandrel.ocx").count(win32Entry));
    EXPECT_TRUE(PrintedValues(Monitor(x64Dir_)));
    // One Start menu folder, a shortcut of each bitness to that bitness's Mirelo.
    const std::wstring x64Mirelo = Lower(x64Dir_ + L"\\Mirelo.exe"),
                       x86Mirelo = Lower(x86Dir_ + L"\\Mirelo.exe");
    EXPECT_EQ(x64Mirelo, MenuShortcutTarget(kX64Shortcut));
    EXPECT_EQ(x86Mirelo, MenuShortcutTarget(kX86Shortcut));

    // The x86 package goes: its own rows go, the shared ones and the x64 control stay.
    ASSERT_EQ(0u, Msiexec(L"/x \"" + Msi(L"x86") + L"\""));
    EXPECT_FALSE(Exists(x86Dir_));
    const Set x64Only = ClassesRootNow(&before_);
    EXPECT_EQ(Set{}, x86RowsOf(x64Only));
    EXPECT_FALSE(WithoutPaths(x64Only, x86Dir_ + L"\\Vandrel.ocx").count(win32Entry));
    for (size_t i = 0; i < keys_.progIds.size(); ++i) {
        EXPECT_TRUE(x64Only.count(keys_.progIds[i] + L"\\clsid = " + GuidText(*kExpectedControls[i].clsid)));
    }
    EXPECT_TRUE(x64Only.count(keys_.typeLib + L"\\1.0 = Vandrel ActiveX"));
    EXPECT_TRUE(ProgIdResolves());
    EXPECT_TRUE(PrintedValues(Monitor(x64Dir_)));
    EXPECT_EQ(x64Mirelo, MenuShortcutTarget(kX64Shortcut)) << "the x86 package took the x64 one's shortcut";
    EXPECT_EQ(L"", MenuShortcutTarget(kX86Shortcut));

    ASSERT_EQ(0u, Msiexec(L"/x \"" + Msi(L"x64") + L"\""));
    // Wine keeps a ProgID key per registry view where Windows shares one: the x86 package's copies
    // in the 32-bit view stay with the shared component, whose last client was the x64 package.
    ExpectNothingLeft({wow + keys_.progId, wow + keys_.chartProgId});

    // The other order: removing the x64 package keeps the x86 one's registration whole.
    ASSERT_EQ(0u, Msiexec(L"/i \"" + Msi(L"x86") + L"\""));
    ASSERT_EQ(0u, Msiexec(L"/i \"" + Msi(L"x64") + L"\""));
    ASSERT_EQ(0u, Msiexec(L"/x \"" + Msi(L"x64") + L"\""));
    EXPECT_FALSE(Exists(x64Dir_));
    const Set x86Only = ClassesRootNow(&before_);
    for (const auto& key : keys_.ClassKeys()) EXPECT_EQ(Set{}, Below(x86Only, key)) << Narrow(key);
    EXPECT_EQ(x86Rows, x86RowsOf(x86Only));
    for (size_t i = 0; i < keys_.progIds.size(); ++i) {
        EXPECT_TRUE(x86Only.count(keys_.progIds[i] + L"\\clsid = " + GuidText(*kExpectedControls[i].clsid)));
    }
    EXPECT_TRUE(WithoutPaths(x86Only, x86Dir_ + L"\\Vandrel.ocx").count(win32Entry));
    EXPECT_TRUE(x86Only.count(keys_.typeLib + L"\\1.0 = Vandrel ActiveX"));
    EXPECT_EQ(x86Mirelo, MenuShortcutTarget(kX86Shortcut)) << "the x64 package took the x86 one's shortcut";
    EXPECT_EQ(L"", MenuShortcutTarget(kX64Shortcut));
}

// One package, its build, and the registry view and system tools of its bitness.
struct Bitness {
    const wchar_t* arch;
    const wchar_t* product;
    REGSAM view;
    const wchar_t* system;  // the folder of its regsvr32.exe and cscript.exe
    const wchar_t* bin;     // its build's bin folder, relative to this program's
};

void PrintTo(const Bitness& b, std::ostream* out) { *out << Narrow(b.arch); }

// The package installed for the current user alone: msiexec /i ... ALLUSERS="", which is what
// MSIINSTALLPERUSER=1 (which Wine's installer ignores) resets ALLUSERS to on Windows.
class PerUser : public Packages, public ::testing::WithParamInterface<Bitness> {
protected:
    void SetUp() override {
        Packages::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        if (!Exists(Msi(GetParam().arch))) GTEST_SKIP() << "no " << Narrow(GetParam().arch) << " package";
        folder_ = Folder(CSIDL_LOCAL_APPDATA) + L"\\Programs\\Vandrel-" + GetParam().arch;
        user_.DeleteOurs();
    }
    void TearDown() override {
        Packages::TearDown();
        user_.DeleteOurs();
    }

    std::wstring Package() const { return L"\"" + Msi(GetParam().arch) + L"\""; }
    std::wstring Tool(const wchar_t* exe) const {
        return L"\"" + std::wstring(GetParam().system) + exe + L"\"";
    }

    // The product is installed in context and in no other (MSIINSTALLCONTEXT_NONE: in none).
    void ExpectOnlyIn(MSIINSTALLCONTEXT context,
                      testsupport::CallSite caller = testsupport::CallSite::Here()) {
        const testsupport::CallerTrace fromCaller(caller);
        EXPECT_EQ(context == MSIINSTALLCONTEXT_MACHINE,
                  InstalledIn(GetParam().product, MSIINSTALLCONTEXT_MACHINE));
        EXPECT_EQ(context == MSIINSTALLCONTEXT_USERUNMANAGED,
                  InstalledIn(GetParam().product, MSIINSTALLCONTEXT_USERUNMANAGED));
    }

    const ClassesKey user_{HKEY_CURRENT_USER, GetParam().view};
    const ClassesKey machine_{HKEY_LOCAL_MACHINE, GetParam().view};
    std::wstring folder_;  // %LOCALAPPDATA%\Programs\Vandrel-<arch>
};

// Where the package's programs cannot run (the x86 one on a machine that refuses 32-bit code), the
// installation, its files and rows and its removal are still proven; the comparison with regsvr32
// and the script host's run are not, and the case ends skipped with the reason.
TEST_P(PerUser, WritesTheSelfRegistrationRowsForTheUserAloneAndRemovalLeavesNothing) {
    const std::string cannotRun = GetParam().view == KEY_WOW64_32KEY ? No32BitProgramsReason() : "";
    Set selfRegistered;
    if (cannotRun.empty()) {
        wchar_t built[MAX_PATH];
        ASSERT_NE(0u, ::GetFullPathNameW((BinFolder() + GetParam().bin + L"Vandrel.ocx").c_str(), MAX_PATH,
                                         built, nullptr));
        ASSERT_EQ(0u, RunProcess(Tool(L"regsvr32.exe") + L" /s \"" + built + L"\"").exitCode);
        Set self = Ours(machine_.Snapshot());
        // Windows keeps one ProgID key for both views; Wine's 32-bit registration writes it to the 64-bit
        // one.
        const Set machine64 = ClassesKey(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY).Snapshot();
        for (const auto& key : keys_.progIds) {
            const Set progId = Below(machine64, key);
            self.insert(progId.begin(), progId.end());
        }
        selfRegistered = WithoutPaths(self, built);
        ASSERT_EQ(0u, RunProcess(Tool(L"regsvr32.exe") + L" /u /s \"" + built + L"\"").exitCode);
        restorer_->Clear();
    }

    ASSERT_EQ(0u, Msiexec(L"/i " + Package() + L" ADDLOCAL=ALL" + kPerUser));
    ExpectOnlyIn(MSIINSTALLCONTEXT_USERUNMANAGED);
    const Set installed = WithoutPaths(Ours(user_.Snapshot()), folder_ + L"\\Vandrel.ocx");
    if (cannotRun.empty()) {
        EXPECT_EQ(selfRegistered, installed)
            << "only installed:\n"
            << Show(Minus(installed, selfRegistered)) << "only self-registered:\n"
            << Show(Minus(selfRegistered, installed));
    }
    for (const auto& key : keys_.controls) EXPECT_TRUE(installed.count(key + L"\\inprocserver32 = <ocx>"));
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        EXPECT_EQ(Set{}, Ours(ClassesKey(HKEY_LOCAL_MACHINE, view).Snapshot())) << "written for the machine";
    }
    for (const wchar_t* file : {L"Vandrel.ocx", L"DirectPort.dll", L"Mirelo.exe", L"vandrel-monitor.exe"}) {
        EXPECT_TRUE(Exists(folder_ + L"\\" + file)) << Narrow(file);
    }
    EXPECT_FALSE(Exists(x64Dir_));
    EXPECT_FALSE(Exists(x86Dir_));

    if (cannotRun.empty()) {
        // On Windows HKEY_CLASSES_ROOT shows the user's classes over the machine's; Wine's shows the
        // machine's alone, so the script host of this bitness is given the user's rows there.
        user_.CopyOursTo(machine_);
        const ProcessResult script = RunProcess(
            Tool(L"cscript.exe") + L" //nologo \"" + BinFolder() + L"samples\\readings.vbs\"", 60000,
            {{L"DIRECTPORT_SIM", L"356:words=0x8A8A/0x8A8A/0x8A8A/0x8A8A/0x8A8A/0x8A8A/0x8A8A/0x8A8A"}});
        machine_.DeleteOurs();
        const auto lines = SplitLines(script.out);
        ASSERT_EQ(7u, lines.size()) << script.out << script.err;
        EXPECT_EQ(0u, lines[5].find("cycle 5 at ")) << lines[5];
        EXPECT_NE(std::string::npos, lines[5].find(": -2698 -2698 -2698 -2698")) << lines[5];
        EXPECT_EQ("done", lines[6]);
    }

    ASSERT_EQ(0u, Msiexec(L"/x " + Package() + kPerUser));
    ExpectOnlyIn(MSIINSTALLCONTEXT_NONE);
    EXPECT_EQ(Set{}, Ours(user_.Snapshot()));
    EXPECT_FALSE(Exists(folder_));
    ExpectNothingLeft();
    if (!cannotRun.empty() && !HasFailure())
        GTEST_SKIP() << "installed and removed, but neither compared with regsvr32 nor run: " << cannotRun;
}

// Windows Installer keeps one installation of a product for a user: installing the package again
// in the other context is maintenance of the first installation, in that one's context.
TEST_P(PerUser, InstallingAgainInTheOtherContextKeepsTheFirstInstallation) {
    ASSERT_EQ(0u, Msiexec(L"/i " + Package()));
    ASSERT_EQ(0u, Msiexec(L"/i " + Package() + L" MSIINSTALLPERUSER=1"));
    ExpectOnlyIn(MSIINSTALLCONTEXT_MACHINE);
    EXPECT_EQ(Set{}, Ours(user_.Snapshot()));
    EXPECT_FALSE(Exists(folder_));
    ASSERT_EQ(0u, Msiexec(L"/x " + Package()));
    ExpectNothingLeft();

    ASSERT_EQ(0u, Msiexec(L"/i " + Package() + kPerUser));
    const Set installed = Ours(user_.Snapshot());
    ASSERT_EQ(0u, Msiexec(L"/i " + Package()));
    ExpectOnlyIn(MSIINSTALLCONTEXT_USERUNMANAGED);
    EXPECT_EQ(installed, Ours(user_.Snapshot()));
    ASSERT_EQ(0u, Msiexec(L"/x " + Package() + kPerUser));
    ExpectOnlyIn(MSIINSTALLCONTEXT_NONE);
    EXPECT_EQ(Set{}, Ours(user_.Snapshot()));
    EXPECT_FALSE(Exists(folder_));
    // Windows runs that maintenance with ALLUSERS reset to the installation's context. Wine's
    // installer keeps the package's 2 there and also writes the machine's rows and program folder,
    // which the removal in the user's context leaves; they are not checked, and go here and with
    // the fixture.
    std::error_code ignored;
    std::filesystem::remove_all(std::wstring(GetParam().view == KEY_WOW64_64KEY ? x64Dir_ : x86Dir_),
                                ignored);
}

INSTANTIATE_TEST_SUITE_P(Packages, PerUser,
                         ::testing::Values(Bitness{L"x64", kX64Product, KEY_WOW64_64KEY,
                                                   L"C:\\windows\\system32\\", L""},
                                           Bitness{L"x86", kX86Product, KEY_WOW64_32KEY,
                                                   L"C:\\windows\\syswow64\\", L"..\\..\\win32\\bin\\"}));

// The unzipped portable folder in a prefix where nothing of ours is registered.
class Portable : public Packages {
protected:
    void SetUp() override {
        Packages::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        folder_ = Env(L"VANDREL_PORTABLE");
        ASSERT_TRUE(Exists(folder_ + L"\\TRUV.Vandrel.manifest")) << "VANDREL_PORTABLE";
        ASSERT_FALSE(ProgIdResolves());
        board_ = folder_ + L"\\DirectPort.dll";
        ::DeleteFileW(board_.c_str());
    }
    void TearDown() override {
        ::DeleteFileW(board_.c_str());
        Packages::TearDown();
    }
    void AddSimulatedBoard(testsupport::CallSite caller = testsupport::CallSite::Here()) {
        const testsupport::CallerTrace fromCaller(caller);
        ASSERT_TRUE(
            ::CopyFileW((folder_ + L"\\SimulatedBoard\\DirectPort.dll").c_str(), board_.c_str(), FALSE));
    }

    std::wstring folder_, board_;
};

TEST_F(Portable, MonitorPrintsValuesWithNothingRegistered) {
    const ProcessResult missing = Monitor(folder_);
    EXPECT_EQ(1u, missing.exitCode);
    EXPECT_NE(std::string::npos, missing.err.find("because DirectPort.dll")) << missing.err;

    AddSimulatedBoard();
    EXPECT_TRUE(PrintedValues(Monitor(folder_)));
    EXPECT_EQ(Set{}, Minus(ClassesRootNow(&before_), before_)) << "the folder registered something";
}

TEST_F(Portable, MireloShowsValuesWithNothingRegistered) {
    AddSimulatedBoard();
    const StartedMirelo mirelo(folder_);
    ASSERT_TRUE(mirelo);
    const HWND form = remote::WaitForForm(mirelo.Id(), 30000);
    ASSERT_NE(nullptr, form) << "Mirelo showed no form";
    ASSERT_TRUE(remote::Click(form, ControlArray::kStart, 0));
    std::wstring value;
    // The first reading arrives within two of the control's default intervals (2160 ms).
    for (int i = 0; i < 150; ++i) {
        value = remote::Text(form, ControlArray::kDataValue, 0);
        if (!value.empty() && value != L"32767") break;
        ::Sleep(100);
    }
    EXPECT_FALSE(value.empty());
    EXPECT_NE(L"32767", value);
    ::PostMessageW(form, WM_CLOSE, 0, 0);
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(mirelo.Handle(), 20000));
    EXPECT_EQ(Set{}, Minus(ClassesRootNow(&before_), before_)) << "the folder registered something";
}

// A program that depends on the folder's assembly, as the manifest alone describes it: both
// controls by ProgID and every page by CLSID are created from the file beside it.
TEST_F(Portable, ManifestServesBothControlsAndEveryPage) {
    AddSimulatedBoard();
    const std::wstring manifest = folder_ + L"\\TRUV.Vandrel.manifest";
    ACTCTXW description = {};
    description.cbSize = sizeof description;
    description.lpSource = manifest.c_str();
    const HANDLE context = ::CreateActCtxW(&description);
    ASSERT_NE(INVALID_HANDLE_VALUE, context) << "error " << ::GetLastError();
    ULONG_PTR cookie = 0;
    ASSERT_TRUE(::ActivateActCtx(context, &cookie));
    for (const ExpectedControl& control : kExpectedControls) {
        // Wine answers a ProgID of the context with a stand-in CLSID of its own that the context
        // serves too, where Windows gives the class's: each is created.
        CLSID byProgId = {};
        EXPECT_HR(S_OK, ::CLSIDFromProgID(control.progId, &byProgId)) << Narrow(control.progId);
        for (const CLSID& clsid : {*control.clsid, byProgId}) {
            base::ComPtr<IDispatch> object;
            EXPECT_HR(S_OK, ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                               object.put_void()))
                << Narrow(control.progId);
        }
    }
    for (const ExpectedPage& page : kExpectedPages) {
        base::ComPtr<IPropertyPage> object;
        EXPECT_HR(S_OK, ::CoCreateInstance(*page.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage,
                                           object.put_void()))
            << Narrow(page.typeName);
    }
    ::DeactivateActCtx(0, cookie);
    ::ReleaseActCtx(context);
    // The module and its board go, so that the folder's board can be taken away again.
    ::CoFreeUnusedLibrariesEx(0, 0);
    EXPECT_FALSE(ProgIdResolves()) << "outside the context";
    EXPECT_EQ(Set{}, Minus(ClassesRootNow(&before_), before_)) << "the folder registered something";
}

}  // namespace
