// What the control tests do as a host does: handle the thread's messages, and connect a sink to
// the control's events. On the test's thread.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <functional>

#include "base/com_ptr.h"
#include "client/vandrel_ids.h"
#include "harness/event_sink.h"
#include "tests/support/call_site.h"
#include "tests/support/hresult_matchers.h"
#include "tests/support/sim_helpers.h"

namespace testsupport {

inline void Pump() {
    MSG msg;
    for (int n = 0; n < 20 && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++n) ::DispatchMessageW(&msg);
}

// Handles this thread's messages, as a host's message loop does, until pred holds (or 5 s passed).
inline bool PumpUntil(const std::function<bool()>& pred) {
    return WaitUntil([&] {
        Pump();
        return pred();
    });
}

// Connects sink to the control's events for the rest of the test.
inline void Connect(IDispatch* ctrl, harness::EventSink& sink,
                    testsupport::CallSite caller = testsupport::CallSite::Here()) {
    const testsupport::CallerTrace fromCaller(caller);
    base::ComPtr<IConnectionPointContainer> points;
    base::ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    ASSERT_HR(S_OK, ctrl->QueryInterface(IID_IConnectionPointContainer, points.put_void()));
    ASSERT_HR(S_OK, points->FindConnectionPoint(client::kDiidDVandrelEvents, point.put()));
    ASSERT_HR(S_OK, point->Advise(&sink, &cookie));
}

}  // namespace testsupport
