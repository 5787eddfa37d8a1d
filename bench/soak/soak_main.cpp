// vandrel-soak PHASE [ARGS]: one phase of scripts/soak, printing its table rows.
//   cycles N              N Start/Stop cycles of one control (Vandrel.ocx beside the program)
//   trace MINUTES         a sampler at Interval 1 with the trace on and C:\log.log held elsewhere
//   samplers MINUTES      four samplers in two processes at one board, checked on its access log
//   modules ROUNDS        create, run and release the registered control, then CoFreeUnusedLibraries
// Exit code 0 when every row passed, 1 when one failed, 2 on bad arguments.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "bench/soak/soak.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: vandrel-soak cycles N | trace MINUTES | samplers MINUTES | modules ROUNDS\n");
    return 2;
}

bool Positive(const wchar_t* text, double* value) {
    wchar_t* end = nullptr;
    *value = std::wcstod(text, &end);
    return end != text && *end == L'\0' && *value > 0 && *value <= 1e9;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return Usage();
    const std::wstring phase = argv[1];
    // Children of the phases.
    if (phase == L"hold" && argc == 3) return soak::HoldFile(argv[2]);
    if (phase == L"sampler-pair" && argc == 6) {
        double minutes = 0, a = 0, b = 0;
        if (!Positive(argv[2], &minutes) || !Positive(argv[3], &a) || !Positive(argv[4], &b)) return Usage();
        return soak::RunSamplerPair(minutes, static_cast<LONG>(a), static_cast<LONG>(b), argv[5]);
    }
    double value = 0;
    if (argc != 3 || !Positive(argv[2], &value)) return Usage();
    if (phase == L"cycles") return soak::RunCycles(static_cast<int>(value));
    if (phase == L"trace") return soak::RunTrace(value);
    if (phase == L"samplers") return soak::RunSamplers(value);
    if (phase == L"modules") return soak::RunModules(static_cast<int>(value));
    return Usage();
}
