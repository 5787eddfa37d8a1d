// Runs another program of the build (or a Windows tool) as a child process and collects what it
// writes to stdout and stderr, separately.
#pragma once

#include <windows.h>

#include <atomic>
#include <cwchar>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/module_file.h"
#include "base/unique_handle.h"

namespace testsupport {

struct ProcessResult {
    DWORD exitCode = 0xFFFFFFFF;  // also when the program did not end in time
    bool timedOut = false;
    std::string out;
    std::string err;
};

// The folder of this test program, with a trailing backslash: the build's bin folder.
inline std::wstring BinFolder() { return base::BesideProgram(L""); }

// This process's environment with the given variables replaced or added, as a block for
// CreateProcess. Built anew for each child, so that children started from several threads at
// once never see each other's variables.
inline std::vector<wchar_t> EnvironmentWith(const std::vector<std::pair<std::wstring, std::wstring>>& env) {
    std::vector<wchar_t> block;
    const auto overridden = [&](const wchar_t* entry) {
        for (const auto& [name, value] : env) {
            if (::_wcsnicmp(entry, name.c_str(), name.size()) == 0 && entry[name.size()] == L'=') return true;
        }
        return false;
    };
    if (wchar_t* strings = ::GetEnvironmentStringsW()) {
        for (const wchar_t* entry = strings; *entry; entry += std::wcslen(entry) + 1) {
            if (!overridden(entry)) block.insert(block.end(), entry, entry + std::wcslen(entry) + 1);
        }
        ::FreeEnvironmentStringsW(strings);
    }
    for (const auto& [name, value] : env) {
        const std::wstring entry = name + L"=" + value;
        block.insert(block.end(), entry.c_str(), entry.c_str() + entry.size() + 1);
    }
    block.push_back(L'\0');
    return block;
}

// Runs commandLine with extra environment variables (name, value) set for the child only.
inline ProcessResult RunProcess(const std::wstring& commandLine, DWORD timeoutMs = 60000,
                                const std::vector<std::pair<std::wstring, std::wstring>>& env = {}) {
    ProcessResult result;
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    base::UniqueFile outRead, outWrite, errRead, errWrite;
    HANDLE r = nullptr, w = nullptr;
    if (!::CreatePipe(&r, &w, &sa, 0)) return result;
    outRead.reset(r);
    outWrite.reset(w);
    if (!::CreatePipe(&r, &w, &sa, 0)) return result;
    errRead.reset(r);
    errWrite.reset(w);
    ::SetHandleInformation(outRead.get(), HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(errRead.get(), HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = outWrite.get();
    si.hStdError = errWrite.get();
    PROCESS_INFORMATION pi{};
    std::wstring cmd = commandLine;
    std::vector<wchar_t> block = EnvironmentWith(env);
    const BOOL created = ::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE,
                                          CREATE_UNICODE_ENVIRONMENT, block.data(), nullptr, &si, &pi);
    outWrite.reset();
    errWrite.reset();
    if (!created) return result;
    base::UniqueProcess process(pi.hProcess);
    base::UniqueThread thread(pi.hThread);

    // Reads until every write end is closed (the pipe then reports itself broken). A program that
    // Wine starts on the child's behalf (its desktop process, the first time a program of the
    // prefix needs one) inherits the child's output handles and keeps them open long after the
    // child is gone: once the child has ended, the readers stop when nothing more has come for
    // half a second. The child's own output is in the pipe by then, whole.
    std::atomic<bool> ended{false};
    const auto drain = [&ended](HANDLE pipe, std::string* text) {
        char chunk[4096];
        DWORD quietSince = 0;
        for (;;) {
            DWORD available = 0;
            if (!::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) break;
            if (available > 0) {
                DWORD got = 0;
                if (!::ReadFile(pipe, chunk, available < sizeof chunk ? available : sizeof chunk, &got,
                                nullptr))
                    break;
                text->append(chunk, got);
                quietSince = 0;
                continue;
            }
            if (ended) {
                if (quietSince == 0) quietSince = ::GetTickCount();
                if (::GetTickCount() - quietSince >= 500) break;
            }
            ::Sleep(2);
        }
    };
    std::thread outReader(drain, outRead.get(), &result.out);
    std::thread errReader(drain, errRead.get(), &result.err);
    if (::WaitForSingleObject(process.get(), timeoutMs) == WAIT_OBJECT_0) {
        ::GetExitCodeProcess(process.get(), &result.exitCode);
    } else {
        result.timedOut = true;
        ::TerminateProcess(process.get(), 0xFFFFFFFF);
    }
    ended = true;
    outReader.join();
    errReader.join();
    return result;
}

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
        const ProcessResult probe =
            RunProcess(L"\"" + std::wstring(dir, length) + L"\\cmd.exe\" /c exit 7", 30000);
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
inline ProcessResult RunNative64Tool(const wchar_t* exe, const std::wstring& arguments,
                                     DWORD timeoutMs = 60000,
                                     const std::vector<std::pair<std::wstring, std::wstring>>& env = {}) {
    wchar_t dir[MAX_PATH];
    UINT n = ::GetSystemDirectoryW(dir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) n = 0;
    PVOID redirection = nullptr;
    const bool disabled = IsWow64() && ::Wow64DisableWow64FsRedirection(&redirection);
    ProcessResult r =
        RunProcess(L"\"" + std::wstring(dir, n) + L"\\" + exe + L"\" " + arguments, timeoutMs, env);
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
