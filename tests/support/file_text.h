// Whole files as text, for tests that check what a program wrote (the trace's log, a flag file).
// Any thread.
#pragma once

#include <windows.h>

#include <string>

#include "base/unique_handle.h"

namespace testsupport {

inline bool FileExists(const char* path) { return ::GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

// The file's bytes, or "" when it cannot be opened (missing, or held open for writing).
inline std::string ReadFileText(const char* path) {
    base::UniqueFile f(
        ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::string text;
    char chunk[65536];
    DWORD got = 0;
    while (f && ::ReadFile(f.get(), chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
    return text;
}

}  // namespace testsupport
