// What registering the control module must leave in HKEY_CLASSES_ROOT, as lines of
// registry_snapshot.h, shared by the registration tests and the client tests.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <iterator>
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
inline const CLSID kChartPageClsid = {
    0xc36dc61c, 0x8b26, 0x42e7, {0x8a, 0xf7, 0x55, 0x96, 0x61, 0x27, 0x72, 0x53}};
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

// What the registration of each class must write, spelled out rather than taken from the class table.
struct ExpectedControl {
    const CLSID* clsid;
    const wchar_t* progId;
    const wchar_t* typeName;
    const wchar_t* bitmap;      // the toolbox bitmap's resource id
    const wchar_t* miscStatus;  // the OLEMISC flags in decimal
};
inline const ExpectedControl kExpectedControls[] = {
    {&CLSID_Vandrel, L"VANDREL.VandrelCtrl.1", L"Vandrel Control", L"1", L"132497"},
    // The chart is seen at run time.
    {&CLSID_VandrelChart, L"VANDREL.VandrelChart.1", L"Vandrel Chart", L"2", L"131473"},
};
struct ExpectedPage {
    const CLSID* clsid;
    const wchar_t* typeName;
};
inline const ExpectedPage kExpectedPages[] = {
    {&kPageClsid, L"Vandrel Property Page"},
    {&kChannelsPageClsid, L"Vandrel Channels Property Page"},
    {&kChartPageClsid, L"Vandrel Chart Property Page"},
};

// The keys of the control module's registration, as lower-case paths.
struct RegistrationKeys {
    std::wstring control = Lower(L"clsid\\" + GuidText(CLSID_Vandrel));
    std::wstring chart = Lower(L"clsid\\" + GuidText(CLSID_VandrelChart));
    std::wstring page = Lower(L"clsid\\" + GuidText(kPageClsid));
    std::wstring channelsPage = Lower(L"clsid\\" + GuidText(kChannelsPageClsid));
    std::wstring chartPage = Lower(L"clsid\\" + GuidText(kChartPageClsid));
    std::wstring progId = L"vandrel.vandrelctrl.1";
    std::wstring chartProgId = L"vandrel.vandrelchart.1";
    std::wstring pageProgId = L"vandrel.vandrelproppage.1";  // must never appear
    std::wstring typeLib = Lower(L"typelib\\" + GuidText(LIBID_VandrelLib));
    std::wstring locale = typeLib + L"\\1.0\\0";
    std::vector<std::wstring> controls = {control, chart};  // as kExpectedControls
    std::vector<std::wstring> progIds = {progId, chartProgId};
    std::vector<std::wstring> pages = {page, channelsPage, chartPage};  // as kExpectedPages
    std::vector<std::wstring> interfaces;    // in every registry view the platform writes
    std::vector<std::wstring> platformKeys;  // what registering the type library writes

    // The type library's interfaces, each of which its registration writes a key for.
    static constexpr const IID* kInterfaces[] = {&DIID__DVandrel, &DIID__DVandrelEvents, &DIID__DVandrelChart,
                                                 &DIID__DVandrelChartEvents};

    RegistrationKeys() {
        for (const wchar_t* view : {L"", kIs64Bit ? L"wow6432node\\" : nullptr}) {
            if (!view) continue;
            for (const IID* iid : kInterfaces) {
                interfaces.push_back(Lower(view + (L"interface\\" + GuidText(*iid))));
            }
        }
        platformKeys = interfaces;
        platformKeys.push_back(typeLib);
        // The type library key is shared between the views; the 32-bit view shows it as well.
        if (kIs64Bit) platformKeys.push_back(L"wow6432node\\" + typeLib);
    }

    // The keys of the controls and the pages below CLSID.
    std::vector<std::wstring> ClassKeys() const {
        std::vector<std::wstring> keys = controls;
        keys.insert(keys.end(), pages.begin(), pages.end());
        return keys;
    }

    // What registering the module can change in HKEY_CLASSES_ROOT, as the lines of a walk of the
    // whole root would show it, without that walk (seconds under Wine: every key is a round trip to
    // the server): each key the class table and the type library write with all below it, in each
    // view; and the names directly below the root and below CLSID, Interface and TypeLib, so that a
    // key written under a wrong name still shows.
    Set Snapshot() const {
        Set out;
        for (const std::wstring& view : ClassesViews()) {
            std::vector<std::wstring> keys = ClassKeys();
            keys.insert(keys.end(), progIds.begin(), progIds.end());
            keys.insert(keys.end(), {pageProgId, typeLib});
            for (const std::wstring& key : keys) {
                const Set below = At(view + key);
                out.insert(below.begin(), below.end());
            }
            for (const IID* iid : kInterfaces) {
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
        const std::vector<std::wstring> classes = ClassKeys();
        keys.insert(keys.end(), classes.begin(), classes.end());
        keys.insert(keys.end(), progIds.begin(), progIds.end());
        keys.insert(keys.end(), {typeLib, pageProgId});
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
        Set lines;
        for (size_t i = 0; i < std::size(kExpectedControls); ++i) {
            const ExpectedControl& c = kExpectedControls[i];
            const std::wstring& key = controls[i];
            const std::wstring& prog = progIds[i];
            const std::wstring typeName = c.typeName;
            lines.insert({
                prog,
                prog + L" = " + typeName,
                prog + L"\\clsid",
                prog + L"\\clsid = " + GuidText(*c.clsid),
                key,
                key + L" = " + typeName,
                key + L"\\progid",
                key + L"\\progid = " + c.progId,
                key + L"\\inprocserver32",
                key + L"\\inprocserver32 = " + path,
                key + L"\\inprocserver32 @ThreadingModel = Apartment",
                key + L"\\toolboxbitmap32",
                key + L"\\toolboxbitmap32 = " + path + L", " + c.bitmap,
                key + L"\\miscstatus",
                key + L"\\miscstatus = 0",
                key + L"\\miscstatus\\1",
                key + L"\\miscstatus\\1 = " + c.miscStatus,
                key + L"\\control",
                key + L"\\control = ",
                key + L"\\typelib",
                key + L"\\typelib = {7AD9A13E-2E6B-4264-89E6-DBC515E57398}",
                key + L"\\version",
                key + L"\\version = 1.0",
            });
        }
        for (size_t i = 0; i < std::size(kExpectedPages); ++i) {
            const std::wstring& key = pages[i];
            lines.insert({key, key + L" = " + kExpectedPages[i].typeName, key + L"\\inprocserver32",
                          key + L"\\inprocserver32 = " + path});
        }
        return lines;
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
        for (const std::wstring& key : pages) {
            EXPECT_EQ(Set{}, Below(added, key + L"\\progid"));
            for (const auto& l : Below(added, key)) EXPECT_EQ(std::wstring::npos, l.find(L"ThreadingModel"));
        }
    }
};

}  // namespace testsupport
