// Start/Stop cycles of one control: every Start takes the port lock handle and a thread, every
// Stop gives both back, so any leak per cycle shows after thousands of them.
#include <windows.h>
#include <ole2.h>

#include <string>

#include "base/com_ptr.h"
#include "bench/soak/soak.h"
#include "bench/soak/soak_control.h"

namespace soak {
namespace {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

// The control from the Vandrel.ocx beside this program, through its class factory (no
// registration needed).
base::ComPtr<IDispatch> CreateFromModule(HMODULE ocx) {
    auto get = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void (*)()>(::GetProcAddress(ocx, "DllGetClassObject")));
    base::ComPtr<IClassFactory> factory;
    base::ComPtr<IDispatch> control;
    if (get && SUCCEEDED(get(kVandrelClsid, IID_IClassFactory, factory.put_void()))) {
        factory->CreateInstance(nullptr, IID_IDispatch, control.put_void());
    }
    return control;
}

}  // namespace

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
    PutInterval(control.get(), 1);
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

    const int64_t handleGrowth = static_cast<int64_t>(after.handles) - static_cast<int64_t>(before.handles);
    const int64_t memoryGrowth =
        static_cast<int64_t>(after.privateBytes) - static_cast<int64_t>(before.privateBytes);
    // A leak of one handle per cycle would show thousands; of 100 bytes per cycle, a megabyte.
    const int64_t memoryLimit = 1024 * 1024;
    const std::string n = Number(static_cast<uint64_t>(cycles));
    const Row rows[] = {
        {"Start/Stop cycles: " + n + " in " + std::to_string(ms / 1000) + " s, failed calls",
         std::to_string(failed), "0", failed == 0},
        {"Start/Stop cycles: handles " + std::to_string(before.handles) + " -> " +
             std::to_string(after.handles),
         (handleGrowth >= 0 ? "+" : "") + std::to_string(handleGrowth), "<= +10", handleGrowth <= 10},
        {"Start/Stop cycles: private bytes " + Bytes(static_cast<int64_t>(before.privateBytes)).substr(1) +
             " ->",
         Bytes(memoryGrowth), "<= +1.0 MiB", memoryGrowth <= memoryLimit},
    };
    bool pass = true;
    for (const Row& r : rows) {
        PrintRow(r);
        pass = pass && r.pass;
    }
    control.reset();
    ::CoUninitialize();
    return pass ? 0 : 1;
}

}  // namespace soak
