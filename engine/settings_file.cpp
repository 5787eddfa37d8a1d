#include "engine/settings_file.h"

#include <cmath>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "base/hresult.h"
#include "base/module_file.h"
#include "base/number_text.h"
#include "base/text.h"
#include "base/unique_handle.h"

namespace engine {

namespace {

enum Key {
    kName,
    kUnit,
    kGain,
    kOffset,
    kHighHigh,
    kHigh,
    kLow,
    kLowLow,
    kDeadband,
    kOnDelay,
    kLatch,
    kKeys
};
constexpr const wchar_t* kKeyNames[kKeys] = {L"Name",     L"Unit",    L"Gain", L"Offset",
                                             L"HighHigh", L"High",    L"Low",  L"LowLow",
                                             L"Deadband", L"OnDelay", L"Latch"};

// The number keys' fields and checks; OnDelay has no double field.
struct NumberKey {
    double ChannelRules::*field;
    const wchar_t* (*check)(double) noexcept;
    bool limit;  // empty is "off"
};
NumberKey NumberOf(Key key) noexcept {
    switch (key) {
        case kGain: return {&ChannelRules::gain, CheckGain, false};
        case kOffset: return {&ChannelRules::offset, CheckOffset, false};
        case kHighHigh: return {&ChannelRules::highHigh, CheckLimit, true};
        case kHigh: return {&ChannelRules::high, CheckLimit, true};
        case kLow: return {&ChannelRules::low, CheckLimit, true};
        case kLowLow: return {&ChannelRules::lowLow, CheckLimit, true};
        case kDeadband: return {&ChannelRules::deadband, CheckDeadband, false};
        default: return {nullptr, CheckOnDelay, false};
    }
}

std::wstring Section(int channel) { return L"Channel" + std::to_wstring(channel + 1); }

// A check's sentence inside another: its first letter small.
std::wstring Inner(const wchar_t* sentence) {
    std::wstring text = sentence;
    if (!text.empty() && text[0] >= L'A' && text[0] <= L'Z')
        text[0] = static_cast<wchar_t>(text[0] - L'A' + L'a');
    return text;
}

// A name or unit as written: quoted when the profile functions would otherwise drop its blanks at
// either end or a pair of quotes around it.
std::wstring ProfileText(const std::wstring& text) {
    if (text.empty()) return text;
    const wchar_t front = text.front(), back = text.back();
    const bool quote = front == L' ' || front == L'\t' || back == L' ' || back == L'\t' ||
                       ((front == L'"' || front == L'\'') && back == front);
    return quote ? L"\"" + text + L"\"" : text;
}

HRESULT FullPath(const std::wstring& path, std::wstring* full) {
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_INVALID_NAME), path.empty());
    ::SetLastError(ERROR_SUCCESS);
    *full = base::FullPath(path);
    if (!full->empty()) return S_OK;
    // A name too long for the system may fail without an error of its own.
    const DWORD error = ::GetLastError();
    return HRESULT_FROM_WIN32(error != ERROR_SUCCESS ? error : ERROR_FILENAME_EXCED_RANGE);
}

// The file's text, for finding lines: UTF-16 after its byte-order mark, UTF-8 after its own, else
// the ANSI code page.
HRESULT ReadText(const std::wstring& path, std::wstring* text) {
    base::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    RETURN_LAST_ERROR_IF(!file);
    std::string bytes;
    char chunk[4096];
    for (DWORD n = 0;;) {
        RETURN_LAST_ERROR_IF(!::ReadFile(file.get(), chunk, sizeof chunk, &n, nullptr));
        if (n == 0) break;
        bytes.append(chunk, n);
    }
    text->clear();
    if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
        text->resize((bytes.size() - 2) / 2);
        std::memcpy(text->data(), bytes.data() + 2, text->size() * 2);
        return S_OK;
    }
    UINT codePage = CP_ACP;
    size_t start = 0;
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        codePage = CP_UTF8;
        start = 3;
    }
    if (bytes.size() == start) return S_OK;
    const int length = static_cast<int>(bytes.size() - start);
    const int n = ::MultiByteToWideChar(codePage, 0, bytes.data() + start, length, nullptr, 0);
    RETURN_LAST_ERROR_IF(n <= 0);
    text->resize(static_cast<size_t>(n));
    RETURN_LAST_ERROR_IF(::MultiByteToWideChar(codePage, 0, bytes.data() + start, length, text->data(), n) !=
                         n);
    return S_OK;
}

std::wstring_view Trim(std::wstring_view text) {
    while (!text.empty() && (text.front() == L' ' || text.front() == L'\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == L' ' || text.back() == L'\t' || text.back() == L'\r'))
        text.remove_suffix(1);
    return text;
}

bool SameName(std::wstring_view a, std::wstring_view b) {
    return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                                  TRUE) == CSTR_EQUAL;
}

// The line (from 1) of the first key of that name in the first section of that name, as the
// profile functions take them; 0 when the text has none.
int LineOf(std::wstring_view text, std::wstring_view section, std::wstring_view key) {
    bool inSection = false;
    int number = 0;
    for (size_t start = 0; start <= text.size(); ++number) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring_view::npos) end = text.size();
        const std::wstring_view line = Trim(text.substr(start, end - start));
        start = end + 1;
        if (!line.empty() && line.front() == L'[') {
            if (inSection) return 0;  // the section's keys are behind
            const size_t close = line.find(L']');
            inSection =
                close != std::wstring_view::npos && SameName(Trim(line.substr(1, close - 1)), section);
            continue;
        }
        const size_t equals = line.find(L'=');
        if (inSection && equals != std::wstring_view::npos && SameName(Trim(line.substr(0, equals)), key))
            return number + 1;
    }
    return 0;
}

// The value of key, or nullopt when the key (or its section) is not in the file.
std::optional<std::wstring> ReadValue(const std::wstring& path, const std::wstring& section,
                                      const wchar_t* key) {
    static constexpr wchar_t kMissing[] = L"\x01(missing)\x01";
    std::vector<wchar_t> buffer(256);
    for (;;) {
        const DWORD n = ::GetPrivateProfileStringW(section.c_str(), key, kMissing, buffer.data(),
                                                   static_cast<DWORD>(buffer.size()), path.c_str());
        if (n + 1 < buffer.size() || buffer.size() >= (1u << 24)) {
            std::wstring value(buffer.data(), n);
            if (value == kMissing) return std::nullopt;
            return value;
        }
        buffer.resize(buffer.size() * 4);
    }
}

}  // namespace

HRESULT SaveSettingsFile(const std::wstring& path, const ChannelSet& settings, std::wstring* why) noexcept
    try {
    RETURN_HR_IF_NULL(E_POINTER, why);
    why->clear();
    for (int c = 0; c < kMeasuredChannels; ++c) {
        const ChannelSettings& channel = settings[static_cast<size_t>(c)];
        const wchar_t* problem = CheckRules(channel.rules);
        if (!problem && (channel.name.find_first_of(L"\r\n") != std::wstring::npos ||
                         channel.unit.find_first_of(L"\r\n") != std::wstring::npos))
            problem = L"A name or unit cannot hold a line break.";
        if (problem) {
            *why = base::Format(L"%ls, [%ls]: %ls", path.c_str(), Section(c).c_str(), problem);
            return E_INVALIDARG;
        }
    }
    std::wstring full;
    if (const HRESULT hr = FullPath(path, &full); FAILED(hr)) {
        *why = base::Format(L"%ls is not a file name: %ls", path.c_str(), base::SystemMessage(hr).c_str());
        return hr;
    }
    // A new file starts as UTF-16 (the byte-order mark alone), so that the profile functions write
    // it in UTF-16 and keep every character.
    base::UniqueFile created(
        ::CreateFileW(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!created && ::GetLastError() != ERROR_FILE_EXISTS) {
        const HRESULT hr = base::HResultFromLastError();
        *why = base::Format(L"%ls cannot be created: %ls", full.c_str(), base::SystemMessage(hr).c_str());
        return hr;
    }
    if (created) {
        static constexpr char kBom[] = "\xFF\xFE";
        DWORD written = 0;
        if (!::WriteFile(created.get(), kBom, 2, &written, nullptr) || written != 2) {
            const HRESULT hr = base::HResultFromLastError();
            created.reset();
            ::DeleteFileW(full.c_str());
            *why = base::Format(L"%ls cannot be written: %ls", full.c_str(), base::SystemMessage(hr).c_str());
            return hr;
        }
        created.reset();
    }
    for (int c = 0; c < kMeasuredChannels; ++c) {
        const ChannelSettings& channel = settings[static_cast<size_t>(c)];
        const ChannelRules& rules = channel.rules;
        const std::wstring section = Section(c);
        for (int k = 0; k < kKeys; ++k) {
            const Key key = static_cast<Key>(k);
            std::wstring value;
            if (key == kName) {
                value = ProfileText(channel.name);
            } else if (key == kUnit) {
                value = ProfileText(channel.unit);
            } else if (key == kLatch) {
                value = rules.latching ? L"1" : L"0";
            } else if (key == kOnDelay) {
                value = std::to_wstring(rules.onDelayMs);
            } else {
                const double number = rules.*NumberOf(key).field;
                if (!std::isnan(number)) value = base::NumberText(number);  // a limit that is off: empty
            }
            if (!::WritePrivateProfileStringW(section.c_str(), kKeyNames[k], value.c_str(), full.c_str())) {
                const HRESULT hr = base::HResultFromLastError();
                *why = base::Format(L"%ls, [%ls] %ls cannot be written: %ls", full.c_str(), section.c_str(),
                                    kKeyNames[k], base::SystemMessage(hr).c_str());
                return hr;
            }
        }
    }
    return S_OK;
}
CATCH_RETURN()

HRESULT LoadSettingsFile(const std::wstring& path, ChannelSet* settings, std::wstring* why) noexcept try {
    RETURN_HR_IF_NULL(E_POINTER, settings);
    RETURN_HR_IF_NULL(E_POINTER, why);
    why->clear();
    std::wstring full, text;
    HRESULT hr = FullPath(path, &full);
    if (SUCCEEDED(hr)) hr = ReadText(full, &text);
    if (FAILED(hr)) {
        const std::wstring& name = full.empty() ? path : full;
        *why =
            hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)
                ? base::Format(L"%ls: there is no such file.", name.c_str())
                : base::Format(L"%ls cannot be read: %ls", name.c_str(), base::SystemMessage(hr).c_str());
        return hr;
    }
    ChannelSet loaded;
    for (int c = 0; c < kMeasuredChannels; ++c) {
        ChannelSettings& channel = loaded[static_cast<size_t>(c)];
        ChannelRules& rules = channel.rules;
        const std::wstring section = Section(c);
        const auto refuse = [&](Key key, const std::wstring& what) {
            const int line = LineOf(text, section, kKeyNames[key]);
            *why = base::Format(L"%ls, [%ls] %ls", full.c_str(), section.c_str(), kKeyNames[key]) +
                   (line > 0 ? L", line " + std::to_wstring(line) : std::wstring()) + L": " + what;
            return E_INVALIDARG;
        };
        for (int k = 0; k < kKeys; ++k) {
            const Key key = static_cast<Key>(k);
            const std::optional<std::wstring> value = ReadValue(full, section, kKeyNames[k]);
            if (!value) continue;  // the default
            const std::wstring quoted = L"\"" + *value + L"\"";
            if (key == kName || key == kUnit) {
                if (const wchar_t* problem = CheckName(*value)) return refuse(key, Inner(problem));
                (key == kName ? channel.name : channel.unit) = *value;
            } else if (key == kLatch) {
                if (*value != L"0" && *value != L"1") return refuse(key, quoted + L" is not 0 or 1.");
                rules.latching = *value == L"1";
            } else {
                const NumberKey number = NumberOf(key);
                double read = kNoLimit;
                if (!(number.limit && value->empty()) && !base::ParseNumber(*value, &read))
                    return refuse(key, quoted + L" is not a number.");
                if (const wchar_t* problem = number.check(read))
                    return refuse(key, quoted + L" is not taken: " + Inner(problem));
                if (number.field) {
                    rules.*number.field = read;
                } else {
                    rules.onDelayMs = static_cast<uint32_t>(read);
                }
            }
        }
        if (const wchar_t* problem = CheckLimitOrder(rules)) {
            // Named at the higher limit of the first pair out of order, lowest pair first.
            const double limits[4] = {rules.lowLow, rules.low, rules.high, rules.highHigh};
            const Key keys[4] = {kLowLow, kLow, kHigh, kHighHigh};
            for (int i = 0; i < 4; ++i) {
                for (int j = i + 1; j < 4; ++j) {
                    if (limits[i] > limits[j]) return refuse(keys[j], Inner(problem));
                }
            }
            return refuse(kHighHigh, Inner(problem));
        }
    }
    *settings = loaded;
    return S_OK;
}
CATCH_RETURN()

}  // namespace engine
