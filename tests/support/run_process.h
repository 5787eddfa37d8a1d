// The tests' side of running programs: the build's bin folder, the Windows tools of this process's
// bitness, and output split into lines. Running a child itself is harness/run_process.h.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "base/module_file.h"
#include "harness/run_process.h"

namespace testsupport {

// The folder of this test program, with a trailing backslash: the build's bin folder.
inline std::wstring BinFolder() { return base::BesideProgram(L""); }

// Whether this is a 32-bit process on 64-bit Windows.
inline bool IsWow64() {
    BOOL wow64 = FALSE;
    return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
}

// The full path of a Windows tool (regsvr32.exe, cscript.exe, reg.exe) of this process's own
// bitness, quoted for a command line. A bare name would leave the bitness to the search path and to
// file-system redirection; under Wine, to the loader that started us.
inline std::wstring SystemTool(const wchar_t* exe) {
    wchar_t dir[MAX_PATH];
    UINT n = IsWow64() ? ::GetSystemWow64DirectoryW(dir, MAX_PATH) : ::GetSystemDirectoryW(dir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) n = 0;
    return L"\"" + std::wstring(dir, n) + L"\\" + exe + L"\"";
}

// Runs a 64-bit Windows tool from a 32-bit process on 64-bit Windows: the system folder seen
// without file-system redirection holds the 64-bit tools.
inline harness::ProcessResult RunNative64Tool(
    const wchar_t* exe, const std::wstring& arguments, DWORD timeoutMs = 60000,
    const std::vector<std::pair<std::wstring, std::wstring>>& env = {}) {
    wchar_t dir[MAX_PATH];
    UINT n = ::GetSystemDirectoryW(dir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) n = 0;
    PVOID redirection = nullptr;
    const bool disabled = IsWow64() && ::Wow64DisableWow64FsRedirection(&redirection);
    harness::ProcessResult r =
        harness::RunProcess(L"\"" + std::wstring(dir, n) + L"\\" + exe + L"\" " + arguments, timeoutMs, env);
    if (disabled) ::Wow64RevertWow64FsRedirection(redirection);
    return r;
}

// Splits text into lines, dropping the line ends (LF or CRLF).
inline std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

}  // namespace testsupport
