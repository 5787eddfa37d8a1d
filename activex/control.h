// The control base: one COM identity composed of parts, so that a control class supplies only its
// identity (a ControlClass), its dispatch table, its persistent values and its picture.
//
// The parts, each with its own state (control_parts.h says how they reach each other):
// - DispatchPart: IDispatch through the control's table, IProvideClassInfo2;
// - OleObjectPart: IOleObject, IOleControl, in-place activation with a child window, the extent;
// - ViewPart: IViewObject2;
// - PersistencePart: IPersistStreamInit, IPersistStorage, IPersistPropertyBag, the modified flag;
// - PropertyPagesPart: ISpecifyPropertyPages and the property frame of the properties verb;
// - EventsPart: IConnectionPointContainer with the event and IPropertyNotifySink points.
// The control never claims to be safe for scripting or initialisation. It keeps the container's
// freeze of its events (IOleControl::FreezeEvents) and fires events only while they are not frozen.
//
// Ownership: the control holds its parts by value, and each part the references its interfaces
// take (the container's sites, the advise and event sinks) until the control lets go of them in
// FinalRelease. The ControlClass is the derived class's constant data and outlives every control.
//
// Threading: a control lives in the single-threaded apartment that created it; every method, the
// window procedure and destruction run on that thread. Only the reference count, and whether an
// event sink is connected, may be asked from another thread.
#pragma once

#include "activex/control_parts.h"
#include "activex/dispatch.h"
#include "activex/dispatch_part.h"
#include "activex/events_part.h"
#include "activex/module.h"
#include "activex/ole_object_part.h"
#include "activex/persistence_part.h"
#include "activex/property_exchange.h"
#include "activex/property_pages_part.h"
#include "activex/typelib.h"
#include "activex/view_part.h"
#include "base/com_object.h"

namespace activex {

class ControlBase : public base::ComObject<ControlBase, ModuleLifetime, IUnknown>,
                    public Picture,
                    public PropertySet,
                    public DispatchMembers,
                    public EventFreeze {
protected:
    explicit ControlBase(const ControlClass& control) noexcept;

    // The persistent values. The base exchanges the standard set: "_ExtentX", "_ExtentY" and
    // "_StockProps" (no stock properties: 0).
    HRESULT ExchangeProperties(PropExchange& px) noexcept override;

    void SetModifiedFlag() noexcept { persistence_.SetModified(); }

    // Fires the event dispid to the sinks of the event interface and answers true; nothing, and
    // false, while the container has the events frozen (EventsThawed tells when they may fire
    // again), so that the caller can tell the event again then.
    bool FireEvent(DISPID dispid, DISPPARAMS& params) noexcept;
    bool EventsFrozen() const noexcept { return frozen_ > 0; }
    // The container has undone its last freeze.
    virtual void EventsThawed() noexcept {}
    // Any thread: whether a sink of the event interface is connected.
    bool EventSinksConnected() const noexcept { return events_.HasEventSinks(); }
    // The control's ProgID, the source of the errors its members raise.
    const wchar_t* ErrorSource() const noexcept { return errorSource_; }

    void FinalRelease() noexcept override;
    void* FindMore(REFIID riid) noexcept override;

private:
    // Redraws: the window when in place, else through the view advise sink.
    void ValuesReplaced() noexcept override;
    void FreezeEvents(bool freeze) noexcept override;

    DispatchPart dispatch_;
    PersistencePart persistence_;
    PropertyPagesPart pages_;
    OleObjectPart oleObject_;
    ViewPart view_;
    EventsPart events_;
    const wchar_t* const errorSource_;
    ULONG frozen_ = 0;  // nested freezes
};

// Adds the derived class's dispatch table. Derived declares a public static table kDispatchMap.
template <class Derived>
class Control : public ControlBase {
protected:
    using ControlBase::ControlBase;

    HRESULT InvokeMember(DISPID dispid, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo,
                         UINT* argErr) noexcept override {
        return InvokeFromTable(static_cast<Derived&>(*this), Derived::kDispatchMap, dispid, flags, params,
                               result, excepInfo, ErrorSource(), argErr);
    }
};

}  // namespace activex
