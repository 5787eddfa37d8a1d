#include "activex/in_place_part.h"

#include <utility>

#include "base/hresult.h"

namespace activex {

HRESULT InPlacePart::Activate(LONG verb, IOleClientSite* site) noexcept {
    hidden_ = false;
    if (!site) return E_UNEXPECTED;
    if (!inPlaceActive_) {
        base::ComPtr<IOleInPlaceSite> inPlaceSite;
        RETURN_IF_FAILED(site->QueryInterface(IID_IOleInPlaceSite, inPlaceSite.put_void()));
        if (inPlaceSite->CanInPlaceActivate() != S_OK) return E_FAIL;
        RETURN_IF_FAILED(inPlaceSite->OnInPlaceActivate());
        inPlaceSite_ = std::move(inPlaceSite);
        inPlaceActive_ = true;

        HWND parent = nullptr;
        OLEINPLACEFRAMEINFO frameInfo = {};
        frameInfo.cb = sizeof frameInfo;
        HRESULT hr = inPlaceSite_->GetWindow(&parent);
        if (SUCCEEDED(hr)) {
            hr = inPlaceSite_->GetWindowContext(inPlaceFrame_.put(), uiWindow_.put(), &posRect_, &clipRect_,
                                                &frameInfo);
        }
        if (SUCCEEDED(hr)) hr = window_.Create(parent, posRect_, clipRect_);
        if (FAILED(hr)) {
            InPlaceDeactivate();
            return hr;
        }
    }
    if (verb == OLEIVERB_UIACTIVATE || verb == OLEIVERB_PRIMARY) UIActivate();
    UpdateWindowVisibility();
    return S_OK;
}

void InPlacePart::Hide() noexcept {
    UIDeactivate();
    hidden_ = true;
    UpdateWindowVisibility();
}

void InPlacePart::SetUserMode(bool userMode) noexcept {
    userMode_ = userMode;
    UpdateWindowVisibility();
}

HWND InPlacePart::ContainerWindow() noexcept {
    HWND window = nullptr;
    if (!inPlaceSite_ || FAILED(inPlaceSite_->GetWindow(&window))) return nullptr;
    return window;
}

// A control invisible at run time keeps its window hidden while the form runs, also in containers
// that activate it in place regardless.
void InPlacePart::UpdateWindowVisibility() noexcept {
    window_.Show(!hidden_ && !(userMode_ && (control_.miscStatus & OLEMISC_INVISIBLEATRUNTIME)));
}

void InPlacePart::UIActivate() noexcept {
    if (uiActive_) return;
    uiActive_ = true;
    LOG_IF_FAILED(inPlaceSite_->OnUIActivate());
    IOleInPlaceActiveObject* active = this;
    if (inPlaceFrame_) inPlaceFrame_->SetActiveObject(active, nullptr);
    if (uiWindow_) uiWindow_->SetActiveObject(active, nullptr);
    if (inPlaceFrame_) inPlaceFrame_->SetBorderSpace(nullptr);
    if (uiWindow_) uiWindow_->SetBorderSpace(nullptr);
}

STDMETHODIMP InPlacePart::UIDeactivate() noexcept {
    if (!uiActive_) return S_OK;
    uiActive_ = false;
    if (uiWindow_) uiWindow_->SetActiveObject(nullptr, nullptr);
    if (inPlaceFrame_) inPlaceFrame_->SetActiveObject(nullptr, nullptr);
    if (inPlaceSite_) inPlaceSite_->OnUIDeactivate(FALSE);
    return S_OK;
}

STDMETHODIMP InPlacePart::InPlaceDeactivate() noexcept {
    if (!inPlaceActive_) return S_OK;
    UIDeactivate();
    inPlaceActive_ = false;
    window_.Destroy();
    inPlaceFrame_.reset();
    uiWindow_.reset();
    base::ComPtr<IOleInPlaceSite> site = std::move(inPlaceSite_);
    if (site) site->OnInPlaceDeactivate();
    return S_OK;
}

STDMETHODIMP InPlacePart::GetWindow(HWND* hwnd) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, hwnd);
    *hwnd = window_.get();
    return *hwnd ? S_OK : E_FAIL;
}

STDMETHODIMP InPlacePart::SetObjectRects(LPCRECT pos, LPCRECT clip) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, pos);
    RETURN_HR_IF_NULL(E_POINTER, clip);
    posRect_ = *pos;
    clipRect_ = *clip;
    window_.SetRects(posRect_, clipRect_);
    return S_OK;
}

}  // namespace activex
