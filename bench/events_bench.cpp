// Event figures of the control: how long after a cycle's publication DataReady reaches a sink on an
// idle message loop. The simulated board's access log stamps each read in microseconds of the
// performance counter; the sampler publishes right after a cycle's last data read, so the span from
// that read to the sink's call, on the same counter, is the event's delay (plus a few microseconds).
#include <windows.h>
#include <ocidl.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "base/com_ptr.h"
#include "base/module_file.h"
#include "bench/bench.h"
#include "bench/soak/soak_control.h"
#include "client/vandrel_ids.h"
#include "directport/directport.h"
#include "harness/access_log.h"
#include "harness/event_sink.h"

namespace {

constexpr LONG kBoard = 356;
constexpr int kCycles = 300;

}  // namespace

BENCH_GROUP(Events) {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HMODULE ocx = ::LoadLibraryW(base::BesideProgram(L"Vandrel.ocx").c_str());
    auto ctrl = ocx ? soak::CreateFromModule(ocx) : base::ComPtr<IDispatch>();
    base::ComPtr<IConnectionPointContainer> container;
    base::ComPtr<IConnectionPoint> point;
    // When each DataReady arrives, in microseconds of the performance counter.
    std::vector<std::pair<LONG, double>> arrivals;  // cycle number, time
    harness::EventSink sink(client::kDiidDVandrelEvents);
    sink.onEvent = [&](const harness::FiredEvent& e) {
        const double now = bench::NowNs() / 1000;
        if (e.dispid == client::kDispidDataReady) arrivals.emplace_back(e.value, now);
    };
    DWORD cookie = 0;
    if (!ctrl || FAILED(ctrl->QueryInterface(IID_IConnectionPointContainer, container.put_void())) ||
        FAILED(container->FindConnectionPoint(client::kDiidDVandrelEvents, point.put())) ||
        FAILED(point->Advise(&sink, &cookie))) {
        rows.push_back({"DataReady not measured", 0, "", "Vandrel.ocx not loaded or no event point"});
        return;
    }
    DPSIM_Reset();
    DPSIM_Configure("356:count");
    DPSIM_StartLog(200'000);
    const base::Variant one(1L);
    LOG_IF_FAILED(base::PutProperty(ctrl.get(), client::kDispidChannelNumber, one.get()));
    LOG_IF_FAILED(soak::PutInterval(ctrl.get(), 10));
    soak::InvokeStart(ctrl.get());
    // The idle message loop: it waits for a message and handles it at once.
    const ULONGLONG giveUp = ::GetTickCount64() + 30'000;
    while (arrivals.size() < static_cast<size_t>(kCycles) && ::GetTickCount64() < giveUp) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
    }
    LOG_IF_FAILED(soak::InvokeStop(ctrl.get()));
    point->Unadvise(cookie);

    // Cycle n is the n-th run of the sampling thread's reads that holds a whole cycle's data reads.
    std::vector<double> lastDataUs;
    for (const auto& cycle : harness::SplitCycles(harness::ReadAccessLog(), 5000)) {
        if (cycle.DataReads(kBoard + 2) != 2) continue;
        const auto last = std::find_if(cycle.reads.rbegin(), cycle.reads.rend(),
                                       [](const DPSIM_ACCESS& r) { return r.port == kBoard + 2; });
        lastDataUs.push_back(static_cast<double>(last->timeUs));
    }
    std::vector<double> delays;
    for (const auto& [number, at] : arrivals) {
        if (number >= 1 && static_cast<size_t>(number) <= lastDataUs.size())
            delays.push_back(at - lastDataUs[number - 1]);
    }
    DPSIM_Reset();
    const std::string note = std::to_string(delays.size()) + " events for " +
                             std::to_string(lastDataUs.size()) + " cycles, Interval 10, 1 channel";
    rows.push_back({"DataReady after a cycle's publication, idle loop: median",
                    bench::Percentile(delays, 0.5), "us", note});
    rows.push_back({"DataReady after a cycle's publication, idle loop: 99th pct",
                    bench::Percentile(delays, 0.99), "us",
                    "from the cycle's last data read to the sink's call"});
    point.reset();
    container.reset();
    ctrl.reset();
    ::CoUninitialize();
}
