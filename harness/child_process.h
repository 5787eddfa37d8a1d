// Runs this program (a test or benchmark program) again as a child process, for what needs a second
// process: environment read at load, two processes at one board, a console of its own, a clean
// process to time in. Collects its output; any thread.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "base/module_file.h"
#include "harness/run_process.h"

namespace harness {

struct ChildResult {
    DWORD exitCode = 0xFFFFFFFF;  // also when the child did not end in time
    std::string out;              // stdout, then stderr
};

// Starts "<this program> <args>" (args in ASCII); envName/envValue, when given, are set for the
// child only.
inline ChildResult RunSelf(const std::string& args, const char* envName = nullptr,
                           const char* envValue = nullptr, DWORD timeoutMs = 60000) {
    const std::wstring command =
        L"\"" + base::ModuleFileName(nullptr) + L"\" " + std::wstring(args.begin(), args.end());
    std::vector<std::pair<std::wstring, std::wstring>> env;
    if (envName) {
        const std::string name = envName, value = envValue ? envValue : "";
        env.emplace_back(std::wstring(name.begin(), name.end()), std::wstring(value.begin(), value.end()));
    }
    const ProcessResult run = RunProcess(command, timeoutMs, env);
    return {run.exitCode, run.out + run.err};
}

}  // namespace harness
