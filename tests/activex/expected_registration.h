// What registering the control module must leave in HKEY_CLASSES_ROOT, as lines of
// registry_snapshot.h, shared by the registration tests and the client tests.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "base/unique_handle.h"
#include "tests/activex/registry_snapshot.h"
#include "tests/support/call_site.h"
#include "vandrel_h.h"

namespace testsupport {

using Set = std::set<std::wstring>;

inline const CLSID kPageClsid = {
    0x8728c7cb, 0x895d, 0x442f, {0x86, 0x47, 0x74, 0xf1, 0x36, 0x6c, 0xdd, 0xe4}};
inline const CLSID kChannelsPageClsid = {
    0x8b99f5f7, 0xdeae, 0x4074, {0x9a, 0x88, 0x23, 0x25, 0x32, 0xe6, 0x68, 0x35}};
inline constexpr bool kIs64Bit = sizeof(void*) == 8;
// The key below a type library's locale key that names this build's file.
inline const wchar_t* const kPlatformKey = kIs64Bit ? L"win64" : L"win32";

inline std::wstring GuidText(const GUID& g) {
    wchar_t text[39];
    ::StringFromGUID2(g, text, 39);
    return text;
}

inline std::wstring Lower(std::wstring s) {
    for (wchar_t& c : s) c = static_cast<wchar_t>(::towlower(c));
    return s;
}

inline std::wstring ShortPath(const std::wstring& full) {
    wchar_t buffer[MAX_PATH];
    const DWORD n = ::GetShortPathNameW(full.c_str(), buffer, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(buffer, n) : full;
}

// The lines of a set that lie at or below key (a lower-case path).
inline Set Below(const Set& lines, const std::wstring& key) {
    Set out;
    for (const auto& l : lines) {
        if (l.compare(0, key.size(), key) == 0 &&
            (l.size() == key.size() || l[key.size()] == L'\\' || l[key.size()] == L' ')) {
            out.insert(l);
        }
    }
    return out;
}

// The lines of one key of HKEY_CLASSES_ROOT and all below it (key in lower case).
inline Set At(const std::wstring& key) {
    Set out;
    for (const auto& line : Lines(ReadTree(HKEY_CLASSES_ROOT, key))) {
        out.insert(line.empty() || line[0] == L' ' ? key + line : key + L"\\" + line);
    }
    return out;
}

// The whole of HKEY_CLASSES_ROOT, walked key by key.
inline Set ClassesRoot() { return Lines(ReadTree(HKEY_CLASSES_ROOT)); }

// Creates a key of HKEY_CLASSES_ROOT with a default value (none when value is null).
inline void SetKey(const std::wstring& path, const wchar_t* value,
                   testsupport::CallSite caller = testsupport::CallSite::Here()) {
    const testsupport::CallerTrace fromCaller(caller);
    base::UniqueHkey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                               nullptr, key.put(), nullptr));
    if (value) {
        ASSERT_EQ(ERROR_SUCCESS,
                  ::RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                                   static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t))));
    }
}

// The keys of the control module's registration, as lower-case paths.
struct RegistrationKeys {
    std::wstring control = Lower(L"clsid\\" + GuidText(CLSID_Vandrel));
    std::wstring page = Lower(L"clsid\\" + GuidText(kPageClsid));
    std::wstring channelsPage = Lower(L"clsid\\" + GuidText(kChannelsPageClsid));
    std::wstring progId = L"vandrel.vandrelctrl.1";
    std::wstring pageProgId = L"vandrel.vandrelproppage.1";  // must never appear
    std::wstring typeLib = Lower(L"typelib\\" + GuidText(LIBID_VandrelLib));
    std::wstring locale = typeLib + L"\\1.0\\0";
    std::vector<std::wstring> interfaces;    // in every registry view the platform writes
    std::vector<std::wstring> platformKeys;  // what registering the type library writes

    RegistrationKeys() {
        for (const wchar_t* view : {L"", kIs64Bit ? L"wow6432node\\" : nullptr}) {
            if (!view) continue;
            for (const IID* iid : {&DIID__DVandrel, &DIID__DVandrelEvents}) {
                interfaces.push_back(Lower(view + (L"interface\\" + GuidText(*iid))));
            }
        }
        platformKeys = interfaces;
        platformKeys.push_back(typeLib);
        // The type library key is shared between the views; the 32-bit view shows it as well.
        if (kIs64Bit) platformKeys.push_back(L"wow6432node\\" + typeLib);
    }

    // What registering the module can change in HKEY_CLASSES_ROOT, as the lines of a walk of the
    // whole root would show it, without that walk (seconds under Wine: every key is a round trip to
    // the server): each key the class table and the type library write with all below it, in each
    // view; and the names directly below the root and below CLSID, Interface and TypeLib, so that a
    // key written under a wrong name still shows.
    Set Snapshot() const {
        Set out;
        for (const std::wstring& view : ClassesViews()) {
            for (const std::wstring& key : {control, page, channelsPage, progId, pageProgId, typeLib}) {
                const Set below = At(view + key);
                out.insert(below.begin(), below.end());
            }
            for (const IID* iid : {&DIID__DVandrel, &DIID__DVandrelEvents}) {
                const Set below = At(view + Lower(L"interface\\" + GuidText(*iid)));
                out.insert(below.begin(), below.end());
            }
            for (const wchar_t* parent : {L"", L"clsid", L"interface", L"typelib"}) {
                std::wstring path = view + parent;
                if (!path.empty() && path.back() == L'\\') path.pop_back();
                const Set names = ChildKeyLines(HKEY_CLASSES_ROOT, path);
                out.insert(names.begin(), names.end());
            }
        }
        return out;
    }

    // Every key a registration test may change, for ClassesRootRestorer.
    std::vector<std::wstring> Touched() const {
        std::vector<std::wstring> keys = interfaces;
        keys.insert(keys.end(), {control, page, channelsPage, typeLib, progId, pageProgId});
        return keys;
    }

    Set InterfaceLines() const {
        Set out;
        for (const auto& key : interfaces) {
            const Set below = At(key);
            out.insert(below.begin(), below.end());
        }
        return out;
    }

    // The lines of added that the type library's registration wrote.
    Set PlatformLines(const Set& added) const {
        Set out;
        for (const auto& key : platformKeys) {
            const Set below = Below(added, key);
            out.insert(below.begin(), below.end());
        }
        return out;
    }

    // The class entries, exactly; path is what InprocServer32 names.
    Set ClassLines(const std::wstring& path) const {
        return {
            progId,
            progId + L" = Vandrel Control",
            progId + L"\\clsid",
            progId + L"\\clsid = {E4DE41E5-20F5-4A71-91C1-BC0686540ACF}",
            control,
            control + L" = Vandrel Control",
            control + L"\\progid",
            control + L"\\progid = VANDREL.VandrelCtrl.1",
            control + L"\\inprocserver32",
            control + L"\\inprocserver32 = " + path,
            control + L"\\inprocserver32 @ThreadingModel = Apartment",
            control + L"\\toolboxbitmap32",
            control + L"\\toolboxbitmap32 = " + path + L", 1",
            control + L"\\miscstatus",
            control + L"\\miscstatus = 0",
            control + L"\\miscstatus\\1",
            control + L"\\miscstatus\\1 = 132497",
            control + L"\\control",
            control + L"\\control = ",
            control + L"\\typelib",
            control + L"\\typelib = {7AD9A13E-2E6B-4264-89E6-DBC515E57398}",
            control + L"\\version",
            control + L"\\version = 1.0",
            page,
            page + L" = Vandrel Property Page",
            page + L"\\inprocserver32",
            page + L"\\inprocserver32 = " + path,
            channelsPage,
            channelsPage + L" = Vandrel Channels Property Page",
            channelsPage + L"\\inprocserver32",
            channelsPage + L"\\inprocserver32 = " + path,
        };
    }

    // Checks a registration seen as the lines added to HKEY_CLASSES_ROOT: the class table whole and
    // nothing else but the type library's keys, with fullPath registered for the library.
    void ExpectRegistered(const Set& added, const std::wstring& serverPath, const std::wstring& fullPath,
                          testsupport::CallSite caller = testsupport::CallSite::Here()) const {
        const testsupport::CallerTrace fromCaller(caller);
        const Set platform = PlatformLines(added);
        for (const auto& key : interfaces) {
            EXPECT_TRUE(platform.count(key + L"\\typelib = {7AD9A13E-2E6B-4264-89E6-DBC515E57398}"))
                << Narrow(key);
        }
        EXPECT_TRUE(platform.count(locale + L"\\" + kPlatformKey + L" = " + fullPath)) << Show(platform);
        EXPECT_TRUE(platform.count(typeLib + L"\\1.0 = Vandrel ActiveX")) << Show(platform);
        const Set classes = Minus(added, platform);
        EXPECT_EQ(ClassLines(serverPath), classes)
            << "unexpected:\n"
            << Show(Minus(classes, ClassLines(serverPath))) << "missing:\n"
            << Show(Minus(ClassLines(serverPath), classes));
        // What must not be there, spelled out: the pages have neither a ProgID nor a threading model.
        EXPECT_EQ(Set{}, Below(added, pageProgId));
        for (const std::wstring& key : {page, channelsPage}) {
            EXPECT_EQ(Set{}, Below(added, key + L"\\progid"));
            for (const auto& l : Below(added, key)) EXPECT_EQ(std::wstring::npos, l.find(L"ThreadingModel"));
        }
    }
};

}  // namespace testsupport
