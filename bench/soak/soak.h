// vandrel-soak: long runs of the control, the engine and the trace, each a phase that prints rows
// of one table (what, figure, limit, pass or fail). scripts/soak runs the phases and prints the
// table. Everything runs on the program's main thread unless a phase says otherwise.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace soak {

struct Row {
    std::string what;
    std::string figure;
    std::string limit;
    bool pass;
};

// One table row on stdout, as scripts/soak collects it.
void PrintRow(const Row& row);
// Prints every row; the phase's exit code, 0 when every row passed.
int PrintRows(const std::vector<Row>& rows);

// What the process holds. Under Wine GetProcessHandleCount and PrivateUsage report 0: handles are
// counted by probing every handle value, and private memory is the process's anonymous resident
// memory and swap as Linux accounts it (/proc/self/status of the Wine process).
struct Usage {
    DWORD handles = 0;
    uint64_t privateBytes = 0;
};
Usage MeasureUsage();
// The rows of what a phase may not leak between two measurements, headed by phase ("module
// rounds"): at most 10 handles and 1 MiB of private memory more.
std::vector<Row> GrowthRows(const std::string& phase, const Usage& before, const Usage& after);

std::string Bytes(int64_t bytes);  // "+1.5 MiB", "-12 KiB"
std::string Number(uint64_t n);    // "10,000"

// The folder of this program, with a trailing backslash.
std::wstring BinFolder();

// Phases: each returns the process's exit code (0 when every row passed).
int RunCycles(int cycles);
int RunTrace(double minutes);
int RunSamplers(double minutes);
int RunModules(int rounds);

// Children of the phases above.
int HoldFile(const wchar_t* path);
int RunSamplerPair(double minutes, LONG intervalA, LONG intervalB, const wchar_t* logPath);

}  // namespace soak
