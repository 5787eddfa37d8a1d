#include "activex/control.h"

#include "base/hresult.h"

namespace activex {
namespace {

constexpr ULONG kNoStockProperties = 0;

}  // namespace

// Each part is handed only what it reaches; every part it is handed is built before it.
ControlBase::ControlBase(const ControlClass& control) noexcept
    : dispatch_(*this, control, *this),
      persistence_(*this, control.clsid, *this),
      pages_(*this, control),
      oleObject_(*this, control, *this, persistence_, pages_, *this),
      view_(*this, *this, oleObject_),
      events_(*this, control.eventIid),
      errorSource_(control.progId) {}

HRESULT ControlBase::ExchangeProperties(PropExchange& px) noexcept {
    RETURN_IF_FAILED(oleObject_.ExchangeExtent(px));
    ULONG stock = kNoStockProperties;
    return px.ExchangeULong(L"_StockProps", stock, &kNoStockProperties);
}

bool ControlBase::FireEvent(DISPID dispid, DISPPARAMS& params) noexcept {
    if (EventsFrozen()) return false;
    events_.Fire(dispid, params);
    return true;
}

void ControlBase::FreezeEvents(bool freeze) noexcept {
    if (freeze) {
        ++frozen_;
    } else if (frozen_ > 0 && --frozen_ == 0) {
        EventsThawed();
    }
}

void ControlBase::ValuesReplaced() noexcept {
    if (!oleObject_.InvalidateWindow()) view_.SendViewChange();
}

// The parts let go of the container while the whole control, its derived class too, is still there
// for whatever the container calls back.
void ControlBase::FinalRelease() noexcept {
    oleObject_.Disconnect();
    view_.Disconnect();
    events_.Disconnect();
}

void* ControlBase::FindMore(REFIID riid) noexcept {
    for (void* found :
         {oleObject_.FindInterface(riid), dispatch_.FindInterface(riid), view_.FindInterface(riid),
          persistence_.FindInterface(riid), pages_.FindInterface(riid), events_.FindInterface(riid)}) {
        if (found) return found;
    }
    return nullptr;
}

}  // namespace activex
