// A connection point of a control: the sinks of one outgoing interface, by cookie.
//
// It is a member of its container and shares the container's lifetime: AddRef and Release go to the
// container, while QueryInterface answers only its own IConnectionPoint (a connection point is an
// object of its own in COM's eyes). Called on the control's apartment thread, but for Connected,
// which any thread may ask.
#pragma once

#include <ocidl.h>
#include <olectl.h>

#include <atomic>
#include <vector>

#include "base/com_object.h"
#include "base/com_ptr.h"

namespace activex {

class ConnectionPoint final
    : public base::ComObject<ConnectionPoint, base::Lifetime::Member, IConnectionPoint> {
public:
    ConnectionPoint(IConnectionPointContainer& container, const IID& iid) noexcept
        : ComObject(container), container_(container), iid_(iid) {}

    STDMETHODIMP GetConnectionInterface(IID* iid) noexcept override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** out) noexcept override;
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) noexcept override;
    STDMETHODIMP Unadvise(DWORD cookie) noexcept override;
    STDMETHODIMP EnumConnections(IEnumConnections** out) noexcept override;

    const IID& Iid() const noexcept { return iid_; }
    // Lets go of every sink (the control is going away).
    void Clear() noexcept;

    // The sinks in the order they connected, each held: what a caller goes through while a sink
    // may advise or unadvise in its call. Throws std::bad_alloc.
    std::vector<base::ComPtr<IUnknown>> Sinks() const;
    // Whether a sink is connected; any thread, so that another thread can skip work nobody hears of.
    bool Connected() const noexcept { return connected_.load(std::memory_order_relaxed); }

private:
    struct Sink {
        DWORD cookie;
        base::ComPtr<IUnknown> unknown;  // the sink's iid_ interface
    };

    IConnectionPointContainer& container_;
    const IID iid_;
    std::vector<Sink> sinks_;
    std::atomic<bool> connected_{false};
    DWORD nextCookie_ = 1;
};

// Builds the enumerator of a container's connection points.
[[nodiscard]] HRESULT EnumerateConnectionPoints(IConnectionPoint* const* points, size_t count,
                                                IEnumConnectionPoints** out) noexcept;

}  // namespace activex
