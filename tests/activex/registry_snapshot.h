// Registry trees read back whole, compared as sets of lines, and put back after a test.
#pragma once

#include <windows.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/unique_handle.h"

namespace testsupport {

struct RegValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    bool operator==(const RegValue& o) const { return type == o.type && data == o.data; }
};

// Every key below a root, by its path relative to the root ("" for the root), with its values.
using RegTree = std::map<std::wstring, std::map<std::wstring, RegValue>>;

inline void ReadKeyInto(HKEY key, const std::wstring& path, RegTree& tree) {
    auto& values = tree[path];
    std::vector<wchar_t> name(16384);
    std::vector<BYTE> data(1 << 16);
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD type = 0;
        DWORD size = static_cast<DWORD>(data.size());
        const LONG error =
            ::RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &size);
        if (error != ERROR_SUCCESS) break;
        values[std::wstring(name.data(), nameLength)] = {type, {data.begin(), data.begin() + size}};
    }
    std::vector<std::wstring> subkeys;
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        if (::RegEnumKeyExW(key, i, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        subkeys.emplace_back(name.data(), nameLength);
    }
    for (const std::wstring& sub : subkeys) {
        base::UniqueHkey child;
        if (::RegOpenKeyExW(key, sub.c_str(), 0, KEY_READ, child.put()) != ERROR_SUCCESS) continue;
        ReadKeyInto(child.get(), path.empty() ? sub : path + L"\\" + sub, tree);
    }
}

// The tree below root\path; empty when the key does not exist.
inline RegTree ReadTree(HKEY root, const std::wstring& path = L"") {
    RegTree tree;
    base::UniqueHkey key;
    if (::RegOpenKeyExW(root, path.empty() ? nullptr : path.c_str(), 0, KEY_READ, key.put()) ==
        ERROR_SUCCESS) {
        ReadKeyInto(key.get(), L"", tree);
    }
    return tree;
}

// The names of the keys directly below root\\path, as the key lines of Lines would show them with
// paths from root: "path\\name" in lower case. Empty when the key does not exist.
inline std::set<std::wstring> ChildKeyLines(HKEY root, const std::wstring& path) {
    std::set<std::wstring> lines;
    base::UniqueHkey key;
    if (::RegOpenKeyExW(root, path.empty() ? nullptr : path.c_str(), 0, KEY_READ, key.put()) !=
        ERROR_SUCCESS) {
        return lines;
    }
    std::vector<wchar_t> name(16384);
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        if (::RegEnumKeyExW(key.get(), i, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        std::wstring line = path.empty() ? L"" : path + L"\\";
        line.append(name.data(), nameLength);
        for (wchar_t& c : line) c = static_cast<wchar_t>(::towlower(c));
        lines.insert(line);
    }
    return lines;
}

// The registry views of HKEY_CLASSES_ROOT as a walk of the whole root meets them, each as the prefix
// of its paths: this process's own view and, in a 64-bit process, the 32-bit view below
// "wow6432node". Under Wine a 32-bit process finds its own view once more below "Wow6432Node",
// which would show each of its keys twice, so there the own view is all.
inline std::vector<std::wstring> ClassesViews() {
    if (sizeof(void*) == 8) return {L"", L"wow6432node\\"};
    return {L""};
}

// Shows a value as text: strings as they stand, other types in hex.
inline std::wstring ValueText(const RegValue& v) {
    if (v.type == REG_SZ || v.type == REG_EXPAND_SZ) {
        std::wstring s(reinterpret_cast<const wchar_t*>(v.data.data()), v.data.size() / sizeof(wchar_t));
        while (!s.empty() && s.back() == L'\0') s.pop_back();
        return s;
    }
    std::wstring hex = L"type " + std::to_wstring(v.type) + L":";
    for (BYTE b : v.data) {
        wchar_t two[4];
        std::swprintf(two, 4, L"%02x", b);
        hex += two;
    }
    return hex;
}

// A tree as lines: "path" for each key, "path = text" for its default value, "path @name = text" for
// a named value. Key names are compared case-insensitively by the registry, so lines are lower-cased
// in the key part.
inline std::set<std::wstring> Lines(const RegTree& tree) {
    std::set<std::wstring> lines;
    for (const auto& [path, values] : tree) {
        std::wstring key = path;
        for (wchar_t& c : key) c = static_cast<wchar_t>(::towlower(c));
        lines.insert(key);
        for (const auto& [name, value] : values) {
            lines.insert(key + (name.empty() ? L"" : L" @" + name) + L" = " + ValueText(value));
        }
    }
    return lines;
}

inline std::set<std::wstring> Minus(const std::set<std::wstring>& a, const std::set<std::wstring>& b) {
    std::set<std::wstring> out;
    for (const auto& s : a) {
        if (!b.count(s)) out.insert(s);
    }
    return out;
}

inline std::string Narrow(const std::wstring& w) {
    std::string s;
    for (wchar_t c : w) s += c < 128 ? static_cast<char>(c) : '?';
    return s;
}

inline std::string Show(const std::set<std::wstring>& lines) {
    std::string s;
    for (const auto& l : lines) s += "  " + Narrow(l) + "\n";
    return s;
}

// Writes a tree read by ReadTree below root\\path.
inline void WriteTree(HKEY root, const std::wstring& path, const RegTree& tree) {
    for (const auto& [sub, values] : tree) {
        const std::wstring full = sub.empty() ? path : path + L"\\" + sub;
        base::UniqueHkey key;
        if (::RegCreateKeyExW(root, full.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                              nullptr) != ERROR_SUCCESS) {
            continue;
        }
        for (const auto& [name, value] : values) {
            ::RegSetValueExW(key.get(), name.c_str(), 0, value.type, value.data.data(),
                             static_cast<DWORD>(value.data.size()));
        }
    }
}

// Puts keys of HKEY_CLASSES_ROOT back as they were when constructed: each listed key with all
// below it, or its absence. Clear() removes them meanwhile, so that a test starts from nothing even
// where the control was registered in the prefix before.
class ClassesRootRestorer {
public:
    explicit ClassesRootRestorer(std::vector<std::wstring> paths) : paths_(std::move(paths)) {
        for (const auto& path : paths_) saved_.push_back(ReadTree(HKEY_CLASSES_ROOT, path));
    }
    void Clear() const {
        for (const auto& path : paths_) ::RegDeleteTreeW(HKEY_CLASSES_ROOT, path.c_str());
    }
    ~ClassesRootRestorer() {
        for (size_t i = 0; i < paths_.size(); ++i) {
            ::RegDeleteTreeW(HKEY_CLASSES_ROOT, paths_[i].c_str());
            WriteTree(HKEY_CLASSES_ROOT, paths_[i], saved_[i]);
        }
    }
    ClassesRootRestorer(const ClassesRootRestorer&) = delete;
    ClassesRootRestorer& operator=(const ClassesRootRestorer&) = delete;

private:
    std::vector<std::wstring> paths_;
    std::vector<RegTree> saved_;
};

}  // namespace testsupport
