// Runs this test program again as a child process (for what needs a second process: environment
// read at load, two processes at one board) and collects its output.
#pragma once

#include <windows.h>

#include <string>
#include <thread>

#include "base/unique_handle.h"

namespace testsupport {

struct ChildResult {
    DWORD exitCode = 0xFFFFFFFF;
    std::string out;  // stdout and stderr together
};

// Starts "<this program> <args>"; envName/envValue, when given, are set for the child only.
// Waits up to timeoutMs; a child that does not end by then is reported with exit code 0xFFFFFFFF.
inline ChildResult RunSelf(const std::string& args, const char* envName = nullptr,
                           const char* envValue = nullptr, DWORD timeoutMs = 60000) {
    ChildResult result;
    char self[MAX_PATH];
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string cmd = std::string("\"") + self + "\" " + args;

    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    base::UniqueFile readEnd, writeEnd;
    HANDLE r = nullptr, w = nullptr;
    if (!::CreatePipe(&r, &w, &sa, 0)) return result;
    readEnd.reset(r);
    writeEnd.reset(w);
    ::SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);

    // The child inherits the environment block; set the variable around CreateProcess only.
    std::string saved;
    bool hadSaved = false;
    if (envName) {
        char buf[4096];
        const DWORD n = ::GetEnvironmentVariableA(envName, buf, sizeof buf);
        hadSaved = n > 0 && n < sizeof buf;
        if (hadSaved) saved.assign(buf, n);
        ::SetEnvironmentVariableA(envName, envValue);
    }
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nullptr;
    si.hStdOutput = writeEnd.get();
    si.hStdError = writeEnd.get();
    PROCESS_INFORMATION pi{};
    const BOOL created = ::CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                          nullptr, &si, &pi);
    if (envName) ::SetEnvironmentVariableA(envName, hadSaved ? saved.c_str() : nullptr);
    writeEnd.reset();
    if (!created) return result;
    base::UniqueProcess process(pi.hProcess);
    base::UniqueThread thread(pi.hThread);

    std::thread reader([&] {
        char chunk[4096];
        DWORD got = 0;
        while (::ReadFile(readEnd.get(), chunk, sizeof chunk, &got, nullptr) && got > 0) {
            result.out.append(chunk, got);
        }
    });
    if (::WaitForSingleObject(process.get(), timeoutMs) == WAIT_OBJECT_0) {
        ::GetExitCodeProcess(process.get(), &result.exitCode);
    } else {
        ::TerminateProcess(process.get(), 0xFFFFFFFF);
        result.exitCode = 0xFFFFFFFF;
    }
    reader.join();
    return result;
}

}  // namespace testsupport
