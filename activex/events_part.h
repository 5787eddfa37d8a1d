// The connection-points part of a control: IConnectionPointContainer with the control's two
// connection points, one for its event interface and one for IPropertyNotifySink, in that order.
// Holds the points and through them the sinks. Called on the control's apartment thread.
#pragma once

#include <ocidl.h>

#include "activex/connection_point.h"
#include "base/com_object.h"

namespace activex {

class EventsPart final : public base::ComObject<EventsPart, base::Lifetime::Part, IConnectionPointContainer> {
public:
    EventsPart(IUnknown& owner, const IID& eventIid) noexcept
        : ComObject(owner), eventPoint_(*this, eventIid), notifyPoint_(*this, IID_IPropertyNotifySink) {}

    // Lets go of every sink (the control is going away).
    void Disconnect() noexcept;

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** out) noexcept override;
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** out) noexcept override;

private:
    ConnectionPoint eventPoint_;
    ConnectionPoint notifyPoint_;
};

}  // namespace activex
