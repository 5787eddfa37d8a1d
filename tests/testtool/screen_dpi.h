// The screen's DPI for the programs a test starts: Wine reads it from the prefix's registry
// (HKCU\Control Panel\Desktop, value LogPixels, which overrides the machine-wide fallback under
// HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts) when a process starts,
// so a child process started while the value is set runs at that DPI, and the test's own
// process keeps the DPI it started with. Tests that use this hold the "registry" and "display"
// resource locks: every Wine program started meanwhile sees the changed DPI.
#pragma once

#include <windows.h>

#include "base/unique_handle.h"

namespace testsupport {

// Sets LogPixels for its lifetime and puts back the value that was there (or its absence).
class ScopedScreenDpi {
public:
    explicit ScopedScreenDpi(DWORD dpi) {
        if (::RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0,
                              KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, key_.put(),
                              nullptr) != ERROR_SUCCESS) {
            return;
        }
        DWORD type = 0, size = sizeof previous_;
        hadValue_ = ::RegQueryValueExW(key_.get(), kValue, nullptr, &type,
                                       reinterpret_cast<BYTE*>(&previous_), &size) == ERROR_SUCCESS &&
                    type == REG_DWORD;
        set_ = ::RegSetValueExW(key_.get(), kValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi),
                                sizeof dpi) == ERROR_SUCCESS;
    }
    ~ScopedScreenDpi() {
        if (!set_) return;
        if (hadValue_) {
            ::RegSetValueExW(key_.get(), kValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&previous_),
                             sizeof previous_);
        } else {
            ::RegDeleteValueW(key_.get(), kValue);
        }
    }
    ScopedScreenDpi(const ScopedScreenDpi&) = delete;
    ScopedScreenDpi& operator=(const ScopedScreenDpi&) = delete;

    bool Applied() const noexcept { return set_; }

private:
    static constexpr wchar_t kValue[] = L"LogPixels";
    base::UniqueHkey key_;
    DWORD previous_ = 0;
    bool hadValue_ = false;
    bool set_ = false;
};

}  // namespace testsupport
