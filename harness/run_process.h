// Runs another program (of the build, or a Windows tool) as a child process and collects what it
// writes to stdout and stderr, separately. For the tests and the benchmarks; any thread, and
// several at once (each child gets an environment block of its own).
#pragma once

#include <windows.h>

#include <atomic>
#include <cwchar>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/unique_handle.h"

namespace harness {

struct ProcessResult {
    DWORD exitCode = 0xFFFFFFFF;  // also when the program did not end in time
    bool timedOut = false;
    std::string out;
    std::string err;
};

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

}  // namespace harness
