// The connection-points part of a control: IConnectionPointContainer with the control's two
// connection points, one for its event interface and one for IPropertyNotifySink, in that order.
// Holds the points and through them the sinks, and fires the control's events to the sinks of the
// event interface. Called on the control's apartment thread; HasEventSinks on any thread.
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

    // Calls Invoke(dispid, params) of each sink of the event interface, in the order they
    // connected, and ignores their answers. A sink may unadvise, advise or let go of the control in
    // its call: the sinks are taken beforehand, and the control is held until the last returns.
    void Fire(DISPID dispid, DISPPARAMS& params) noexcept;
    bool HasEventSinks() const noexcept { return eventPoint_.Connected(); }

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** out) noexcept override;
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** out) noexcept override;

private:
    ConnectionPoint eventPoint_;
    ConnectionPoint notifyPoint_;
};

}  // namespace activex
