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

void EventsPart::Fire(DISPID dispid, DISPPARAMS& params) noexcept try {
    // A part's reference is its control's.
    const base::ComPtr<IConnectionPointContainer> hold(this);
    // Each sink was asked for the event interface, a dispatch interface: the pointer is an IDispatch.
    for (const base::ComPtr<IUnknown>& sink : eventPoint_.Sinks()) {
        static_cast<IDispatch*>(sink.get())
            ->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr,
                     nullptr);
    }
} catch (...) {
    // Without memory for the list of sinks the event is not fired.
}

STDMETHODIMP EventsPart::EnumConnectionPoints(IEnumConnectionPoints** out) noexcept {
    IConnectionPoint* const points[] = {&eventPoint_, &notifyPoint_};
    return EnumerateConnectionPoints(points, 2, out);
}

STDMETHODIMP EventsPart::FindConnectionPoint(REFIID riid, IConnectionPoint** out) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, out);
    *out = nullptr;
    ConnectionPoint* point = IsEqualIID(riid, eventPoint_.iid())         ? &eventPoint_
                             : IsEqualIID(riid, IID_IPropertyNotifySink) ? &notifyPoint_
                                                                         : nullptr;
    if (!point) return CONNECT_E_NOCONNECTION;
    point->AddRef();
    *out = point;
    return S_OK;
}

}  // namespace activex
