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
      events_(*this, control.eventIid, *this),
      inPlace_(*this, control, *this),
      embedding_(*this, control, inPlace_, persistence_, pages_, events_),
      view_(*this, *this, embedding_),
      errorSource_(control.progId) {}

HRESULT ControlBase::ExchangeProperties(PropExchange& px) noexcept {
    RETURN_IF_FAILED(embedding_.ExchangeExtent(px));
    ULONG stock = kNoStockProperties;
    return px.ExchangeULong(L"_StockProps", stock, &kNoStockProperties);
}

void ControlBase::ValuesReplaced() noexcept {
    if (!inPlace_.InvalidateWindow()) view_.SendViewChange();
}

// The parts let go of the container while the whole control, its derived class too, is still there
// for whatever the container calls back.
void ControlBase::FinalRelease() noexcept {
    embedding_.Disconnect();
    view_.Disconnect();
    events_.Disconnect();
}

void* ControlBase::FindMore(REFIID riid) noexcept {
    for (void* found :
         {embedding_.FindInterface(riid), inPlace_.FindInterface(riid), dispatch_.FindInterface(riid),
          view_.FindInterface(riid), persistence_.FindInterface(riid), pages_.FindInterface(riid),
          events_.FindInterface(riid)}) {
        if (found) return found;
    }
    return nullptr;
}

}  // namespace activex
