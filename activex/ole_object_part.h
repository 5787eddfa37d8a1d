// The OLE object part of a control: embedding in a container (IOleObject, IOleControl) and in-place
// activation in a child window (IOleInPlaceObject, IOleInPlaceActiveObject). It holds the container's
// sites, the OLE advise sinks, the window and its rectangles, the activation state, the extent and
// the ambient UserMode; it reads the ambients from the client site's IDispatch. The properties verb
// asks the site to show its own frame, else the PropertyFrame. SetExtent and Close work with the
// ModifiedFlag; FreezeEvents goes to the EventFreeze. Called on the control's apartment thread.
#pragma once

#include <ocidl.h>
#include <olectl.h>

#include "activex/control_parts.h"
#include "activex/control_window.h"
#include "base/com_object.h"
#include "base/com_ptr.h"

namespace activex {

class OleObjectPart final
    : public base::ComObject<OleObjectPart, base::Lifetime::Part, IOleObject, IOleControl, IOleInPlaceObject,
                             IOleInPlaceActiveObject, base::Via<IOleWindow, IOleInPlaceObject>>,
      public ExtentSource {
public:
    // The extent starts as 100 x 50 pixels of the screen.
    OleObjectPart(IUnknown& owner, const ControlClass& control, Picture& picture, ModifiedFlag& modified,
                  PropertyFrame& frame, EventFreeze& events) noexcept;

    // Exchanges the extent as "_ExtentX" and "_ExtentY".
    HRESULT ExchangeExtent(PropExchange& px) noexcept;
    // Asks the window for a repaint; false when the control has none (not in place).
    bool InvalidateWindow() noexcept { return window_.Invalidate(); }
    // Leaves the container: deactivates and lets go of the site and the advise sinks (the control is
    // going away).
    void Disconnect() noexcept;

    // ExtentSource
    SIZEL Extent() const noexcept override { return extent_; }

    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite* site) noexcept override;
    STDMETHODIMP GetClientSite(IOleClientSite** site) noexcept override;
    STDMETHODIMP SetHostNames(LPCOLESTR app, LPCOLESTR object) noexcept override;
    STDMETHODIMP Close(DWORD saveOption) noexcept override;
    STDMETHODIMP SetMoniker(DWORD which, IMoniker* moniker) noexcept override;
    STDMETHODIMP GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) noexcept override;
    STDMETHODIMP InitFromData(IDataObject* data, BOOL creation, DWORD reserved) noexcept override;
    STDMETHODIMP GetClipboardData(DWORD reserved, IDataObject** data) noexcept override;
    STDMETHODIMP DoVerb(LONG verb, LPMSG msg, IOleClientSite* site, LONG index, HWND parent,
                        LPCRECT rect) noexcept override;
    STDMETHODIMP EnumVerbs(IEnumOLEVERB** out) noexcept override;
    STDMETHODIMP Update() noexcept override;
    STDMETHODIMP IsUpToDate() noexcept override;
    STDMETHODIMP GetUserClassID(CLSID* clsid) noexcept override;
    STDMETHODIMP GetUserType(DWORD form, LPOLESTR* name) noexcept override;
    STDMETHODIMP SetExtent(DWORD aspect, SIZEL* size) noexcept override;
    STDMETHODIMP GetExtent(DWORD aspect, SIZEL* size) noexcept override;
    STDMETHODIMP Advise(IAdviseSink* sink, DWORD* connection) noexcept override;
    STDMETHODIMP Unadvise(DWORD connection) noexcept override;
    STDMETHODIMP EnumAdvise(IEnumSTATDATA** out) noexcept override;
    STDMETHODIMP GetMiscStatus(DWORD aspect, DWORD* status) noexcept override;
    STDMETHODIMP SetColorScheme(LOGPALETTE* palette) noexcept override;

    // IOleControl
    STDMETHODIMP GetControlInfo(CONTROLINFO* info) noexcept override;
    STDMETHODIMP OnMnemonic(MSG* msg) noexcept override;
    STDMETHODIMP OnAmbientPropertyChange(DISPID dispid) noexcept override;
    STDMETHODIMP FreezeEvents(BOOL freeze) noexcept override;

    // IOleWindow, IOleInPlaceObject, IOleInPlaceActiveObject
    STDMETHODIMP GetWindow(HWND* hwnd) noexcept override;
    STDMETHODIMP ContextSensitiveHelp(BOOL enterMode) noexcept override;
    STDMETHODIMP InPlaceDeactivate() noexcept override;
    STDMETHODIMP UIDeactivate() noexcept override;
    STDMETHODIMP SetObjectRects(LPCRECT pos, LPCRECT clip) noexcept override;
    STDMETHODIMP ReactivateAndUndo() noexcept override;
    STDMETHODIMP TranslateAccelerator(LPMSG msg) noexcept override;
    STDMETHODIMP OnFrameWindowActivate(BOOL activate) noexcept override;
    STDMETHODIMP OnDocWindowActivate(BOOL activate) noexcept override;
    STDMETHODIMP ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window,
                              BOOL frameWindow) noexcept override;
    STDMETHODIMP EnableModeless(BOOL enable) noexcept override;

private:
    // The properties verb: the site's property frame, else the platform's frame for the control.
    HRESULT ShowProperties(HWND parent) noexcept;
    HRESULT InPlaceActivate(LONG verb, IOleClientSite* activeSite) noexcept;
    void UIActivate() noexcept;
    void UpdateWindowVisibility() noexcept;
    HRESULT GetAmbientProperty(DISPID dispid, VARIANT* value) const noexcept;
    void ReadAmbients() noexcept;

    const ControlClass& control_;
    ModifiedFlag& modified_;
    PropertyFrame& frame_;
    EventFreeze& events_;

    base::ComPtr<IOleClientSite> clientSite_;
    base::ComPtr<IOleAdviseHolder> adviseHolder_;

    base::ComPtr<IOleInPlaceSite> inPlaceSite_;
    base::ComPtr<IOleInPlaceFrame> inPlaceFrame_;
    base::ComPtr<IOleInPlaceUIWindow> uiWindow_;
    ControlWindow window_;
    RECT posRect_ = {};
    RECT clipRect_ = {};
    bool inPlaceActive_ = false;
    bool uiActive_ = false;
    bool hidden_ = false;  // by OLEIVERB_HIDE

    SIZEL extent_;          // HIMETRIC
    bool userMode_ = true;  // a site without ambient properties is a running form
};

}  // namespace activex
