// The control base: one COM identity composed of parts, so that a control class supplies only its
// identity (a ControlClass), its dispatch table, its persistent values and its picture.
//
// The parts, each with its own state (control_parts.h says how they reach each other):
// - DispatchPart: IDispatch through the control's table, IProvideClassInfo2;
// - EmbeddingPart: IOleObject, IOleControl, the client site, ambients, verbs and the extent;
// - InPlacePart: IOleInPlaceObject, IOleInPlaceActiveObject, in-place activation with a child window;
// - ViewPart: IViewObject2;
// - PersistencePart: IPersistStreamInit, IPersistStorage, IPersistPropertyBag, the modified flag;
// - PropertyPagesPart: ISpecifyPropertyPages and the property frame of the properties verb;
// - EventsPart: IConnectionPointContainer with the event and IPropertyNotifySink points, and the
//   container's freeze of the events (IOleControl::FreezeEvents): events fire only while not frozen.
// The control never claims to be safe for scripting or initialisation.
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
#include "activex/embedding_part.h"
#include "activex/events_part.h"
#include "activex/in_place_part.h"
#include "activex/module.h"
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
                    public EventThaw {
protected:
    explicit ControlBase(const ControlClass& control) noexcept;

    // The persistent values. The base exchanges the standard set: "_ExtentX", "_ExtentY" and
    // "_StockProps" (no stock properties: 0).
    [[nodiscard]] HRESULT ExchangeProperties(PropExchange& px) noexcept override;

    void SetModifiedFlag() noexcept { persistence_.SetModified(); }

    // Fires the event dispid to the sinks of the event interface: true when they heard it, false
    // when none did because the container has the events frozen (EventsThawed tells when they may
    // fire again) or there was no memory to fire it. A caller counts as told only what went out.
    bool FireEvent(DISPID dispid, DISPPARAMS& params) noexcept { return events_.Fire(dispid, params); }
    bool EventsFrozen() const noexcept { return events_.Frozen(); }
    // EventThaw: the container has undone its last freeze.
    void EventsThawed() noexcept override {}
    // Any thread: whether a sink of the event interface is connected.
    bool EventSinksConnected() const noexcept { return events_.HasEventSinks(); }
    // The control's own window while it is active in place, else null.
    HWND Window() noexcept {
        HWND hwnd = nullptr;
        return SUCCEEDED(inPlace_.GetWindow(&hwnd)) ? hwnd : nullptr;
    }
    // The size the container gives the control, in HIMETRIC.
    SIZEL Extent() const noexcept { return embedding_.Extent(); }
    // The control's ProgID, the source of the errors its members raise.
    const wchar_t* ErrorSource() const noexcept { return errorSource_; }

    void FinalRelease() noexcept override;
    void* FindMore(REFIID riid) noexcept override;

private:
    // Redraws: the window when in place, else through the view advise sink.
    void ValuesReplaced() noexcept override;

    DispatchPart dispatch_;
    PersistencePart persistence_;
    PropertyPagesPart pages_;
    EventsPart events_;
    InPlacePart inPlace_;
    EmbeddingPart embedding_;
    ViewPart view_;
    const wchar_t* const errorSource_;
};

// Adds the derived class's dispatch table. Derived declares a public static table kDispatchMap.
template <class Derived>
class Control : public ControlBase {
protected:
    using ControlBase::ControlBase;

    [[nodiscard]] HRESULT InvokeMember(DISPID dispid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                       EXCEPINFO* excepInfo, UINT* argErr) noexcept override {
        return InvokeFromTable(static_cast<Derived&>(*this), Derived::kDispatchMap, dispid, flags, params,
                               result, excepInfo, ErrorSource(), argErr);
    }
};

}  // namespace activex
