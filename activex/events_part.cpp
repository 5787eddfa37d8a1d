#include "activex/events_part.h"

#include <olectl.h>

#include <vector>

#include "base/com_ptr.h"
#include "base/hresult.h"

namespace activex {

void EventsPart::Disconnect() noexcept {
    eventPoint_.Clear();
    notifyPoint_.Clear();
}

bool EventsPart::Fire(DISPID dispid, DISPPARAMS& params) noexcept try {
    if (Frozen()) return false;
    // A part's reference is its control's.
    const base::ComPtr<IConnectionPointContainer> hold(this);
    // Each sink was asked for the event interface, a dispatch interface: the pointer is an IDispatch.
    for (const base::ComPtr<IUnknown>& sink : eventPoint_.Sinks()) {
        static_cast<IDispatch*>(sink.get())
            ->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr,
                     nullptr);
    }
    return true;
} catch (...) {
    // Taking the list of sinks is all that can throw, so no sink has heard the event.
    LOG_IF_FAILED(base::HResultFromCaughtException());
    return false;
}

void EventsPart::FreezeEvents(bool freeze) noexcept {
    if (freeze) {
        ++frozen_;
    } else if (frozen_ > 0 && --frozen_ == 0) {
        thaw_.EventsThawed();
    }
}

STDMETHODIMP EventsPart::EnumConnectionPoints(IEnumConnectionPoints** out) noexcept {
    IConnectionPoint* const points[] = {&eventPoint_, &notifyPoint_};
    return EnumerateConnectionPoints(points, 2, out);
}

STDMETHODIMP EventsPart::FindConnectionPoint(REFIID riid, IConnectionPoint** out) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, out);
    *out = nullptr;
    ConnectionPoint* point = IsEqualIID(riid, eventPoint_.Iid())         ? &eventPoint_
                             : IsEqualIID(riid, IID_IPropertyNotifySink) ? &notifyPoint_
                                                                         : nullptr;
    if (!point) return CONNECT_E_NOCONNECTION;
    point->AddRef();
    *out = point;
    return S_OK;
}

}  // namespace activex
