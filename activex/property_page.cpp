#include "activex/property_page.h"

#include <string>
#include <utility>

#include "activex/dialog_template.h"
#include "activex/module.h"
#include "activex/resources.h"
#include "base/hresult.h"

namespace activex {

PropertyPageBase::~PropertyPageBase() {
    if (window_) ::DestroyWindow(window_);
}

// The rest is left to the dialog manager; WM_INITDIALOG answers FALSE, so the page does not take
// the focus from the frame.
INT_PTR CALLBACK PropertyPageBase::DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
    if (msg == WM_INITDIALOG) {
        ::SetWindowLongPtrW(hwnd, DWLP_USER, lp);
        reinterpret_cast<PropertyPageBase*>(lp)->InitDialog(hwnd);
        return FALSE;
    }
    auto* page = reinterpret_cast<PropertyPageBase*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    if (page && msg == WM_COMMAND) return page->Command(hwnd, LOWORD(wp), HIWORD(wp)) ? TRUE : FALSE;
    return FALSE;
}

void PropertyPageBase::SetDirty(bool dirty) noexcept {
    dirty_ = dirty;
    if (site_ && dirty) site_->OnStatusChange(PROPPAGESTATUS_DIRTY | PROPPAGESTATUS_VALIDATE);
}

STDMETHODIMP PropertyPageBase::SetPageSite(IPropertyPageSite* site) noexcept {
    site_ = base::ComPtr<IPropertyPageSite>(site);
    return S_OK;
}

STDMETHODIMP PropertyPageBase::Activate(HWND parent, LPCRECT rect, BOOL) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, rect);
    if (window_) return E_UNEXPECTED;
    window_ = ::CreateDialogParamW(Module::Instance(), MAKEINTRESOURCEW(dialogId_), parent, &DialogProc,
                                   reinterpret_cast<LPARAM>(this));
    RETURN_LAST_ERROR_IF(!window_);
    ::MoveWindow(window_, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, TRUE);
    return S_OK;
}

STDMETHODIMP PropertyPageBase::Deactivate() noexcept {
    if (window_) ::DestroyWindow(std::exchange(window_, nullptr));
    return S_OK;
}

STDMETHODIMP PropertyPageBase::GetPageInfo(PROPPAGEINFO* info) noexcept try {
    RETURN_HR_IF_NULL(E_POINTER, info);
    *info = PROPPAGEINFO{};
    DialogTemplateInfo dialog;
    if (!LoadDialogTemplate(Module::Instance(), dialogId_, &dialog)) return E_FAIL;
    std::wstring title;
    LoadModuleString(captionId_, &title);
    LPOLESTR text = nullptr;
    RETURN_IF_FAILED(TaskMemString(title.c_str(), &text));
    info->cb = sizeof *info;
    info->pszTitle = text;
    info->size = DialogSizeInPixels(dialog);
    return S_OK;
}
CATCH_RETURN()

STDMETHODIMP PropertyPageBase::SetObjects(ULONG count, IUnknown** objects) noexcept try {
    RETURN_HR_IF(E_POINTER, count && !objects);
    std::vector<base::ComPtr<IUnknown>> list;
    list.reserve(count);
    for (ULONG i = 0; i < count; ++i) list.emplace_back(objects[i]);
    objects_.swap(list);
    return ObjectsChanged();
}
CATCH_RETURN()

STDMETHODIMP PropertyPageBase::Show(UINT cmdShow) noexcept {
    if (!window_) return E_UNEXPECTED;
    ::ShowWindow(window_, static_cast<int>(cmdShow));
    return S_OK;
}

STDMETHODIMP PropertyPageBase::Move(LPCRECT rect) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, rect);
    if (!window_) return E_UNEXPECTED;
    ::MoveWindow(window_, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, TRUE);
    return S_OK;
}

STDMETHODIMP PropertyPageBase::IsPageDirty() noexcept { return dirty_ ? S_OK : S_FALSE; }

STDMETHODIMP PropertyPageBase::Apply() noexcept {
    RETURN_IF_FAILED(ApplyChanges());
    dirty_ = false;
    return S_OK;
}

STDMETHODIMP PropertyPageBase::Help(LPCOLESTR) noexcept { return E_NOTIMPL; }

STDMETHODIMP PropertyPageBase::TranslateAccelerator(MSG* msg) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, msg);
    return window_ && ::IsDialogMessageW(window_, msg) ? S_OK : S_FALSE;
}

}  // namespace activex
