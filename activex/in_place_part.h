// The in-place part of a control: activation in place in a child window of the container
// (IOleWindow, IOleInPlaceObject, IOleInPlaceActiveObject). It holds the in-place site and the
// container's frame and document windows while active, the ControlWindow and its rectangles, the
// activation state and what the window's visibility hangs on (OLEIVERB_HIDE, the ambient UserMode).
// The embedding part drives it through InPlaceActivation. Called on the control's apartment thread.
#pragma once

#include <oleidl.h>

#include "activex/control_parts.h"
#include "activex/control_window.h"
#include "base/com_object.h"
#include "base/com_ptr.h"

namespace activex {

class InPlacePart final
    : public base::ComObject<InPlacePart, base::Lifetime::Part, IOleInPlaceObject, IOleInPlaceActiveObject,
                             base::Via<IOleWindow, IOleInPlaceObject>>,
      public InPlaceActivation {
public:
    InPlacePart(IUnknown& owner, const ControlClass& control, Picture& picture) noexcept
        : ComObject(owner), control_(control), window_(picture) {}

    // Asks the window for a repaint; false when the control has none (not in place).
    bool InvalidateWindow() noexcept { return window_.Invalidate(); }

    // InPlaceActivation
    [[nodiscard]] HRESULT Activate(LONG verb, IOleClientSite* site) noexcept override;
    void Hide() noexcept override;
    void Deactivate() noexcept override { InPlaceDeactivate(); }
    void SetUserMode(bool userMode) noexcept override;
    HWND ContainerWindow() noexcept override;

    // IOleWindow, IOleInPlaceObject, IOleInPlaceActiveObject
    STDMETHODIMP GetWindow(HWND* hwnd) noexcept override;
    STDMETHODIMP ContextSensitiveHelp(BOOL) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP InPlaceDeactivate() noexcept override;
    STDMETHODIMP UIDeactivate() noexcept override;
    STDMETHODIMP SetObjectRects(LPCRECT pos, LPCRECT clip) noexcept override;
    STDMETHODIMP ReactivateAndUndo() noexcept override { return E_NOTIMPL; }
    STDMETHODIMP TranslateAccelerator(LPMSG) noexcept override { return S_FALSE; }
    STDMETHODIMP OnFrameWindowActivate(BOOL) noexcept override { return S_OK; }
    STDMETHODIMP OnDocWindowActivate(BOOL) noexcept override { return S_OK; }
    STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) noexcept override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) noexcept override { return S_OK; }

private:
    void UIActivate() noexcept;
    void UpdateWindowVisibility() noexcept;

    const ControlClass& control_;

    base::ComPtr<IOleInPlaceSite> inPlaceSite_;
    base::ComPtr<IOleInPlaceFrame> inPlaceFrame_;
    base::ComPtr<IOleInPlaceUIWindow> uiWindow_;
    ControlWindow window_;
    RECT posRect_ = {};
    RECT clipRect_ = {};
    bool inPlaceActive_ = false;
    bool uiActive_ = false;
    bool hidden_ = false;   // by OLEIVERB_HIDE
    bool userMode_ = true;  // a site without ambient properties is a running form
};

}  // namespace activex
