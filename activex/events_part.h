// The connection-points part of a control: IConnectionPointContainer with the control's two
// connection points, one for its event interface and one for IPropertyNotifySink, in that order.
// Holds the points and through them the sinks, and the container's freeze of the events (the
// EventFreeze that IOleControl::FreezeEvents reaches); fires the control's events to the sinks of
// the event interface while they are not frozen, and tells the EventThaw when the last freeze is
// undone. Called on the control's apartment thread; HasEventSinks on any thread.
#pragma once

#include <ocidl.h>

#include "activex/connection_point.h"
#include "activex/control_parts.h"
#include "base/com_object.h"

namespace activex {

class EventsPart final : public base::ComObject<EventsPart, base::Lifetime::Part, IConnectionPointContainer>,
                         public EventFreeze {
public:
    EventsPart(IUnknown& owner, const IID& eventIid, EventThaw& thaw) noexcept
        : ComObject(owner),
          eventPoint_(*this, eventIid),
          notifyPoint_(*this, IID_IPropertyNotifySink),
          thaw_(thaw) {}

    // Lets go of every sink (the control is going away).
    void Disconnect() noexcept;

    // Calls Invoke(dispid, params) of each sink of the event interface, in the order they
    // connected, and ignores their answers. A sink may unadvise, advise or let go of the control in
    // its call: the sinks are taken beforehand, and the control is held until the last returns.
    // True when the event went to every sink connected at the call (none is also every one); false
    // when it went to none: the container has the events frozen, or there was no memory for the
    // list of sinks (reported to the failure hook).
    bool Fire(DISPID dispid, DISPPARAMS& params) noexcept;
    bool Frozen() const noexcept { return frozen_ > 0; }
    bool HasEventSinks() const noexcept { return eventPoint_.Connected(); }

    // EventFreeze: freezes nest; the EventThaw hears when the last one is undone.
    void FreezeEvents(bool freeze) noexcept override;

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** out) noexcept override;
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** out) noexcept override;

private:
    ConnectionPoint eventPoint_;
    ConnectionPoint notifyPoint_;
    EventThaw& thaw_;
    ULONG frozen_ = 0;  // nested freezes
};

}  // namespace activex
