// Module load and unload rounds: the registered control created through COM, started and stopped,
// released, and its module offered for unloading with CoFreeUnusedLibraries. The 64-bit module is
// unloaded then and each round loads it anew; the 32-bit one stays loaded from its first load (see
// base/runtime.h) and serves every round. Neither handles nor memory may grow over the rounds.
#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "base/com_ptr.h"
#include "base/runtime.h"
#include "bench/soak/soak.h"
#include "bench/soak/soak_control.h"
#include "client/vandrel_ids.h"

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
        round.created = ::CoCreateInstance(client::kClsidVandrel, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_IDispatch, control.put_void());
        if (SUCCEEDED(round.created)) {
            round.started = InvokeStart(control.get());
            LOG_IF_FAILED(InvokeStop(control.get()));
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
    const std::string n = Number(static_cast<uint64_t>(rounds));
    const bool staysLoaded = base::kModuleStaysLoaded;
    std::vector<Row> rows = {
        {"module rounds: " + n + " in " + std::to_string(ms / 1000) + " s, failed create or Start" + error,
         std::to_string(failed), "0", failed == 0},
        {staysLoaded ? "module rounds: module unloaded by CoFreeUnusedLibraries (32-bit: stays)"
                     : "module rounds: module unloaded by CoFreeUnusedLibraries",
         Number(static_cast<uint64_t>(unloaded)), staysLoaded ? "0" : "= " + n,
         unloaded == (staysLoaded ? 0 : rounds)},
    };
    for (Row& r : GrowthRows("module rounds", before, after)) rows.push_back(std::move(r));
    return PrintRows(rows);
}

}  // namespace soak
