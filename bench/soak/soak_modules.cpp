// Module load and unload rounds: the registered control created through COM, started and stopped,
// released, and its module offered for unloading with CoFreeUnusedLibraries. Each round loads the
// module anew when the last one went; neither handles nor memory may grow over the rounds.
#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <string>

#include "base/com_ptr.h"
#include "bench/soak/soak.h"
#include "bench/soak/soak_control.h"

namespace soak {
namespace {

struct Round {
    HRESULT created = E_FAIL;
    bool started = false;
    bool unloaded = false;
};

Round OneRound() {
    Round round;
    {
        base::ComPtr<IDispatch> control;
        round.created = ::CoCreateInstance(kVandrelClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                           control.put_void());
        if (SUCCEEDED(round.created)) {
            round.started = InvokeStart(control.get());
            InvokeStop(control.get());
        }
    }
    ::CoFreeUnusedLibraries();
    round.unloaded = ::GetModuleHandleW(L"Vandrel.ocx") == nullptr;
    return round;
}

}  // namespace

int RunModules(int rounds) {
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    for (int i = 0; i < 10; ++i) OneRound();  // warm-up, as for the cycles
    const Usage before = MeasureUsage();
    int failed = 0, unloaded = 0;
    HRESULT firstError = S_OK;
    const DWORD t0 = ::GetTickCount();
    for (int i = 0; i < rounds; ++i) {
        const Round r = OneRound();
        if (FAILED(r.created) || !r.started) {
            if (failed++ == 0) firstError = FAILED(r.created) ? r.created : E_FAIL;
        }
        if (r.unloaded) ++unloaded;
    }
    const DWORD ms = ::GetTickCount() - t0;
    const Usage after = MeasureUsage();
    ::CoUninitialize();

    char error[32] = "";
    if (failed)
        std::snprintf(error, sizeof error, " (first 0x%08lX)", static_cast<unsigned long>(firstError));
    const int64_t handleGrowth = static_cast<int64_t>(after.handles) - static_cast<int64_t>(before.handles);
    const int64_t memoryGrowth =
        static_cast<int64_t>(after.privateBytes) - static_cast<int64_t>(before.privateBytes);
    const std::string n = Number(static_cast<uint64_t>(rounds));
    const Row rows[] = {
        {"module rounds: " + n + " in " + std::to_string(ms / 1000) + " s, failed create or Start" + error,
         std::to_string(failed), "0", failed == 0},
        {"module rounds: module unloaded by CoFreeUnusedLibraries", Number(static_cast<uint64_t>(unloaded)),
         "= " + n, unloaded == rounds},
        {"module rounds: handles " + std::to_string(before.handles) + " -> " + std::to_string(after.handles),
         (handleGrowth >= 0 ? "+" : "") + std::to_string(handleGrowth), "<= +10", handleGrowth <= 10},
        {"module rounds: private bytes " + Bytes(static_cast<int64_t>(before.privateBytes)).substr(1) + " ->",
         Bytes(memoryGrowth), "<= +1.0 MiB", memoryGrowth <= 1024 * 1024},
    };
    int code = 0;
    for (const Row& r : rows) {
        PrintRow(r);
        if (!r.pass) code = 1;
    }
    return code;
}

}  // namespace soak
