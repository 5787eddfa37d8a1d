// A connection point of a control: the sinks of one outgoing interface, by cookie.
//
// It is a member of its container and shares the container's lifetime: AddRef and Release go to the
// container, while QueryInterface answers only its own IConnectionPoint (a connection point is an
// object of its own in COM's eyes). Called on the control's apartment thread.
#pragma once

#include <ocidl.h>
#include <olectl.h>

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

    const IID& iid() const noexcept { return iid_; }
    // Lets go of every sink (the control is going away).
    void Clear() noexcept { sinks_.clear(); }

private:
    struct Sink {
        DWORD cookie;
        base::ComPtr<IUnknown> unknown;  // the sink's iid_ interface
    };

    IConnectionPointContainer& container_;
    const IID iid_;
    std::vector<Sink> sinks_;
    DWORD nextCookie_ = 1;
};

// Builds the enumerator of a container's connection points.
HRESULT EnumerateConnectionPoints(IConnectionPoint* const* points, size_t count,
                                  IEnumConnectionPoints** out) noexcept;

}  // namespace activex
