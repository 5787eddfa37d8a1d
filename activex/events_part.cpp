#include "activex/events_part.h"

#include <olectl.h>

namespace activex {

void EventsPart::Disconnect() noexcept {
    eventPoint_.Clear();
    notifyPoint_.Clear();
}

STDMETHODIMP EventsPart::EnumConnectionPoints(IEnumConnectionPoints** out) noexcept {
    IConnectionPoint* const points[] = {&eventPoint_, &notifyPoint_};
    return EnumerateConnectionPoints(points, 2, out);
}

STDMETHODIMP EventsPart::FindConnectionPoint(REFIID riid, IConnectionPoint** out) noexcept {
    if (!out) return E_POINTER;
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
