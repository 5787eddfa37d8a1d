// A sink of a control's events for the tests and the benchmarks: answers the event interface's IID
// with its IDispatch and records each event (DISPID, its first argument as a Long, every argument
// as a Double, the thread it came on) in order. A caller may hook a call to run inside each event, as a
// host's handler would run code there. Called on the control's thread; read by its owner on that thread.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <functional>
#include <vector>

#include "base/com_object.h"

namespace harness {

struct FiredEvent {
    DISPID dispid;
    LONG value;
    DWORD thread;
    std::vector<double> args;  // in declaration order; a date as its automation number
};

class EventSink final : public base::ComObject<EventSink, base::Lifetime::Scoped, IDispatch> {
public:
    explicit EventSink(const IID& events) : events_(events) {}

    std::vector<FiredEvent> fired;
    std::function<void(const FiredEvent&)> onEvent;

    // The values of the events with dispid, in order.
    std::vector<LONG> Values(DISPID dispid) const {
        std::vector<LONG> values;
        for (const FiredEvent& e : fired) {
            if (e.dispid == dispid) values.push_back(e.value);
        }
        return values;
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override {
        if (ppv && IsEqualIID(riid, events_)) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        return ComObject::QueryInterface(riid, ppv);
    }
    STDMETHODIMP GetTypeInfoCount(UINT* count) noexcept override {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                        UINT*) noexcept override {
        const bool hasLong = params && params->cArgs == 1 && params->rgvarg[0].vt == VT_I4;
        std::vector<double> args;
        for (UINT k = params ? params->cArgs : 0; k-- > 0;) {
            VARIANT number;
            ::VariantInit(&number);
            const bool numeric = SUCCEEDED(::VariantChangeType(&number, &params->rgvarg[k], 0, VT_R8));
            args.push_back(numeric ? number.dblVal : -99999);
        }
        fired.push_back({dispid, hasLong ? params->rgvarg[0].lVal : -99999, ::GetCurrentThreadId(), args});
        if (onEvent) onEvent(fired.back());
        return S_OK;
    }

private:
    const IID events_;
};

}  // namespace harness
