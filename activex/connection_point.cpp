#include "activex/connection_point.h"

#include <utility>

#include "activex/enumerator.h"
#include "base/hresult.h"

namespace activex {
namespace {

struct ConnectionItem {
    DWORD cookie;
    base::ComPtr<IUnknown> unknown;
    [[nodiscard]] HRESULT CopyOut(CONNECTDATA* out) const noexcept {
        out->dwCookie = cookie;
        return unknown.CopyTo(&out->pUnk);
    }
    // Adopts the reference handed out, and lets it go.
    static void Free(CONNECTDATA* data) noexcept {
        base::ComPtr<IUnknown>::Attach(std::exchange(data->pUnk, nullptr));
    }
};

struct PointItem {
    base::ComPtr<IConnectionPoint> point;
    [[nodiscard]] HRESULT CopyOut(IConnectionPoint** out) const noexcept { return point.CopyTo(out); }
    static void Free(IConnectionPoint** p) noexcept {
        base::ComPtr<IConnectionPoint>::Attach(std::exchange(*p, nullptr));
    }
};

using ConnectionEnumerator = Enumerator<IEnumConnections, CONNECTDATA, ConnectionItem>;
using PointEnumerator = Enumerator<IEnumConnectionPoints, IConnectionPoint*, PointItem>;

}  // namespace

STDMETHODIMP ConnectionPoint::GetConnectionInterface(IID* iid) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, iid);
    *iid = iid_;
    return S_OK;
}

STDMETHODIMP ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** out) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, out);
    *out = &container_;
    container_.AddRef();
    return S_OK;
}

STDMETHODIMP ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) noexcept try {
    RETURN_HR_IF_NULL(E_POINTER, cookie);
    *cookie = 0;
    RETURN_HR_IF_NULL(E_POINTER, sink);
    base::ComPtr<IUnknown> typed;
    if (FAILED(sink->QueryInterface(iid_, typed.put_void()))) return CONNECT_E_CANNOTCONNECT;
    sinks_.push_back({nextCookie_, std::move(typed)});
    connected_.store(true, std::memory_order_relaxed);
    *cookie = nextCookie_++;
    return S_OK;
}
CATCH_RETURN()

STDMETHODIMP ConnectionPoint::Unadvise(DWORD cookie) noexcept {
    for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
        if (it->cookie == cookie) {
            // Moved out first: releasing the sink may call back into this connection point.
            base::ComPtr<IUnknown> gone = std::move(it->unknown);
            sinks_.erase(it);
            connected_.store(!sinks_.empty(), std::memory_order_relaxed);
            return S_OK;
        }
    }
    return CONNECT_E_NOCONNECTION;
}

void ConnectionPoint::Clear() noexcept {
    connected_.store(false, std::memory_order_relaxed);
    // Moved out first, as in Unadvise.
    std::vector<Sink> gone = std::move(sinks_);
    sinks_.clear();
}

std::vector<base::ComPtr<IUnknown>> ConnectionPoint::Sinks() const {
    std::vector<base::ComPtr<IUnknown>> sinks;
    sinks.reserve(sinks_.size());
    for (const Sink& s : sinks_) sinks.push_back(s.unknown);
    return sinks;
}

STDMETHODIMP ConnectionPoint::EnumConnections(IEnumConnections** out) noexcept try {
    RETURN_HR_IF_NULL(E_POINTER, out);
    *out = nullptr;
    std::vector<ConnectionItem> items;
    for (const Sink& s : sinks_) items.push_back({s.cookie, s.unknown});
    return ConnectionEnumerator::Create(std::move(items), 0, out);
}
CATCH_RETURN()

[[nodiscard]] HRESULT EnumerateConnectionPoints(IConnectionPoint* const* points, size_t count,
                                                IEnumConnectionPoints** out) noexcept try {
    RETURN_HR_IF_NULL(E_POINTER, out);
    *out = nullptr;
    std::vector<PointItem> items;
    for (size_t i = 0; i < count; ++i) items.push_back({base::ComPtr<IConnectionPoint>(points[i])});
    return PointEnumerator::Create(std::move(items), 0, out);
}
CATCH_RETURN()

}  // namespace activex
