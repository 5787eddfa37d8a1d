// Start/Stop cycles of one control: every Start takes the port lock handle and a thread, every
// Stop gives both back, so any leak per cycle shows after thousands of them.
#include <windows.h>
#include <ole2.h>

#include <string>
#include <utility>
#include <vector>

#include "base/com_ptr.h"
#include "bench/soak/soak.h"
#include "bench/soak/soak_control.h"

namespace soak {

int RunCycles(int cycles) {
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    const std::wstring path = BinFolder() + L"Vandrel.ocx";
    HMODULE ocx = ::LoadLibraryW(path.c_str());
    base::ComPtr<IDispatch> control = ocx ? CreateFromModule(ocx) : base::ComPtr<IDispatch>();
    if (!control) {
        PrintRow({"Start/Stop cycles: Vandrel.ocx beside vandrel-soak", "not loaded", "loaded", false});
        return 1;
    }
    // Short cycles: the sampling thread gets to its first wait before Stop.
    LOG_IF_FAILED(PutInterval(control.get(), 1));
    int failed = 0;
    const auto cycle = [&] {
        if (!InvokeStart(control.get())) ++failed;
        if (FAILED(InvokeStop(control.get()))) ++failed;
    };
    // Warm-up: what the first cycles allocate once (thread pool, heap growth) is not a leak.
    for (int i = 0; i < 100; ++i) cycle();
    failed = 0;
    const Usage before = MeasureUsage();
    const DWORD t0 = ::GetTickCount();
    for (int i = 0; i < cycles; ++i) cycle();
    const DWORD ms = ::GetTickCount() - t0;
    const Usage after = MeasureUsage();

    const std::string n = Number(static_cast<uint64_t>(cycles));
    std::vector<Row> rows = {
        {"Start/Stop cycles: " + n + " in " + std::to_string(ms / 1000) + " s, failed calls",
         std::to_string(failed), "0", failed == 0}};
    for (Row& r : GrowthRows("Start/Stop cycles", before, after)) rows.push_back(std::move(r));
    const int code = PrintRows(rows);
    control.reset();
    ::CoUninitialize();
    return code;
}

}  // namespace soak
