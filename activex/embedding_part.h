// The embedding part of a control: its life in a container (IOleObject, IOleControl). It holds the
// client site, the OLE advise sinks and the extent; it reads the ambients from the client site's
// IDispatch and hands UserMode to the InPlaceActivation, which its verbs, Close and Disconnect also
// drive. The properties verb asks the site to show its own frame, else the PropertyFrame. SetExtent
// and Close work with the ModifiedFlag; FreezeEvents goes to the EventFreeze. Called on the
// control's apartment thread.
#pragma once

#include <ocidl.h>
#include <olectl.h>

#include "activex/control_parts.h"
#include "base/com_object.h"
#include "base/com_ptr.h"

namespace activex {

class EmbeddingPart final
    : public base::ComObject<EmbeddingPart, base::Lifetime::Part, IOleObject, IOleControl>,
      public ExtentSource {
public:
    // The extent starts as 100 x 50 pixels of the screen.
    EmbeddingPart(IUnknown& owner, const ControlClass& control, InPlaceActivation& inPlace,
                  ModifiedFlag& modified, PropertyFrame& frame, EventFreeze& events) noexcept;

    // Exchanges the extent as "_ExtentX" and "_ExtentY".
    [[nodiscard]] HRESULT ExchangeExtent(PropExchange& px) noexcept;
    // Leaves the container: deactivates and lets go of the site and the advise sinks (the control is
    // going away).
    void Disconnect() noexcept;

    // ExtentSource
    SIZEL Extent() const noexcept override { return extent_; }

    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite* site) noexcept override;
    STDMETHODIMP GetClientSite(IOleClientSite** site) noexcept override;
    STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) noexcept override { return S_OK; }
    STDMETHODIMP Close(DWORD saveOption) noexcept override;
    STDMETHODIMP SetMoniker(DWORD, IMoniker*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) noexcept override;
    STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetClipboardData(DWORD reserved, IDataObject** data) noexcept override;
    STDMETHODIMP DoVerb(LONG verb, LPMSG msg, IOleClientSite* site, LONG index, HWND parent,
                        LPCRECT rect) noexcept override;
    STDMETHODIMP EnumVerbs(IEnumOLEVERB** out) noexcept override;
    STDMETHODIMP Update() noexcept override { return S_OK; }
    STDMETHODIMP IsUpToDate() noexcept override { return S_OK; }
    STDMETHODIMP GetUserClassID(CLSID* clsid) noexcept override;
    STDMETHODIMP GetUserType(DWORD form, LPOLESTR* name) noexcept override;
    STDMETHODIMP SetExtent(DWORD aspect, SIZEL* size) noexcept override;
    STDMETHODIMP GetExtent(DWORD aspect, SIZEL* size) noexcept override;
    STDMETHODIMP Advise(IAdviseSink* sink, DWORD* connection) noexcept override;
    STDMETHODIMP Unadvise(DWORD connection) noexcept override;
    STDMETHODIMP EnumAdvise(IEnumSTATDATA** out) noexcept override;
    STDMETHODIMP GetMiscStatus(DWORD aspect, DWORD* status) noexcept override;
    STDMETHODIMP SetColorScheme(LOGPALETTE*) noexcept override { return E_NOTIMPL; }

    // IOleControl
    STDMETHODIMP GetControlInfo(CONTROLINFO* info) noexcept override;
    STDMETHODIMP OnMnemonic(MSG*) noexcept override { return S_OK; }
    STDMETHODIMP OnAmbientPropertyChange(DISPID dispid) noexcept override;
    STDMETHODIMP FreezeEvents(BOOL freeze) noexcept override;

private:
    // The properties verb: the site's property frame, else the platform's frame for the control.
    [[nodiscard]] HRESULT ShowProperties(HWND parent) noexcept;
    [[nodiscard]] HRESULT GetAmbientProperty(DISPID dispid, VARIANT* value) const noexcept;
    void ReadAmbients() noexcept;

    const ControlClass& control_;
    InPlaceActivation& inPlace_;
    ModifiedFlag& modified_;
    PropertyFrame& frame_;
    EventFreeze& events_;

    base::ComPtr<IOleClientSite> clientSite_;
    base::ComPtr<IOleAdviseHolder> adviseHolder_;
    SIZEL extent_;  // HIMETRIC
};

}  // namespace activex
