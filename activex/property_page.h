// The property page base: IPropertyPage driving a child dialog made from a template of the module.
//
// The page's title is a string resource and its size that of the dialog template in its font. The
// property frame creates the page, gives it the objects to edit, activates it as a child of its own
// window and asks it to apply. A page class supplies the two resource ids and, if it edits
// anything, ApplyChanges and the hooks that fill its controls and hear the user's edits. Called on
// the frame's thread; the dialog procedure runs there too.
#pragma once

#include <ocidl.h>

#include <vector>

#include "activex/module.h"
#include "base/com_object.h"
#include "base/com_ptr.h"

namespace activex {

class PropertyPageBase : public base::ComObject<PropertyPageBase, ModuleLifetime, IPropertyPage> {
public:
    STDMETHODIMP SetPageSite(IPropertyPageSite* site) noexcept override;
    STDMETHODIMP Activate(HWND parent, LPCRECT rect, BOOL modal) noexcept override;
    STDMETHODIMP Deactivate() noexcept override;
    STDMETHODIMP GetPageInfo(PROPPAGEINFO* info) noexcept override;
    STDMETHODIMP SetObjects(ULONG count, IUnknown** objects) noexcept override;
    STDMETHODIMP Show(UINT cmdShow) noexcept override;
    STDMETHODIMP Move(LPCRECT rect) noexcept override;
    STDMETHODIMP IsPageDirty() noexcept override;
    STDMETHODIMP Apply() noexcept override;
    STDMETHODIMP Help(LPCOLESTR helpDir) noexcept override;
    STDMETHODIMP TranslateAccelerator(MSG* msg) noexcept override;

protected:
    PropertyPageBase(UINT dialogId, UINT captionId) noexcept : dialogId_(dialogId), captionId_(captionId) {}
    ~PropertyPageBase() override;

    // The page exchange on apply: writes the page's values to the objects. The base's closing step
    // has no property links to carry out and changes nothing.
    [[nodiscard]] virtual HRESULT ApplyChanges() noexcept { return S_OK; }

    // The objects the frame gave last have replaced those before; the page reads its values from
    // them. A failure fails SetObjects.
    [[nodiscard]] virtual HRESULT ObjectsChanged() noexcept { return S_OK; }
    // The dialog window is made and about to be shown: the page fills its controls.
    virtual void InitDialog(HWND) noexcept {}
    // A control of the dialog sent WM_COMMAND; true when the page handled it.
    virtual bool Command(HWND, WORD, WORD) noexcept { return false; }

    const std::vector<base::ComPtr<IUnknown>>& Objects() const noexcept { return objects_; }
    // The dialog window while the page is active, else null.
    HWND Window() const noexcept { return window_; }
    // A page with controls marks itself changed, so that the frame offers to apply.
    void SetDirty(bool dirty) noexcept;

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept;

    const UINT dialogId_;
    const UINT captionId_;
    base::ComPtr<IPropertyPageSite> site_;
    std::vector<base::ComPtr<IUnknown>> objects_;
    HWND window_ = nullptr;
    bool dirty_ = false;
};

}  // namespace activex
