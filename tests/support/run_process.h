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

// Why no 32-bit program can run here, or empty when they can. Some machines refuse 32-bit code
// altogether, and then no 32-bit program starts in a 64-bit prefix either, although SysWOW64 holds
// its files. scripts/wine-run says which kind of machine this is (VANDREL_32BIT_PROGRAMS, "yes" or
// "no"); when it did not (a test program started by hand), a 32-bit cmd.exe is tried once. A
// machine said to run them is never skipped: a failure there is a failure.
inline const std::string& No32BitProgramsReason() {
    static const std::string reason = []() -> std::string {
        if (sizeof(void*) == 4) return std::string();  // this program is one
        const std::string refused = "this machine cannot run 32-bit programs";
        wchar_t said[8] = {};
        const DWORD n = ::GetEnvironmentVariableW(L"VANDREL_32BIT_PROGRAMS", said, 8);
        if (n > 0 && n < 8) {
            return std::wstring(said) == L"no" ? refused + " (scripts/wine-run found so)" : std::string();
        }
        wchar_t dir[MAX_PATH];
        const UINT length = ::GetSystemWow64DirectoryW(dir, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) return "this system has no 32-bit side (no SysWOW64)";
        const harness::ProcessResult probe =
            harness::RunProcess(L"\"" + std::wstring(dir, length) + L"\\cmd.exe\" /c exit 7", 30000);
        return probe.exitCode == 7 ? std::string() : refused + " (a 32-bit cmd.exe did not start)";
    }();
    return reason;
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
