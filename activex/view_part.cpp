#include "activex/view_part.h"

#include "base/hresult.h"

namespace activex {

void ViewPart::SendViewChange() noexcept {
    if (sink_) sink_->OnViewChange(DVASPECT_CONTENT, -1);
}

STDMETHODIMP ViewPart::Draw(DWORD aspect, LONG index, void*, DVTARGETDEVICE*, HDC, HDC dc, LPCRECTL bounds,
                            LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) noexcept {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (index != -1) return DV_E_LINDEX;
    if (!dc || !bounds) return E_INVALIDARG;
    const RECT rect = {bounds->left, bounds->top, bounds->right, bounds->bottom};
    picture_.Draw(dc, rect, rect);
    return S_OK;
}

STDMETHODIMP ViewPart::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** colors) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, colors);
    *colors = nullptr;
    return S_FALSE;
}

STDMETHODIMP ViewPart::Freeze(DWORD, LONG, void*, DWORD* freeze) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, freeze);
    *freeze = 0;
    return E_NOTIMPL;
}

STDMETHODIMP ViewPart::Unfreeze(DWORD) noexcept { return E_NOTIMPL; }

STDMETHODIMP ViewPart::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) noexcept {
    sink_ = base::ComPtr<IAdviseSink>(sink);
    aspects_ = aspects;
    flags_ = flags;
    if (sink && (flags & ADVF_PRIMEFIRST)) sink->OnViewChange(DVASPECT_CONTENT, -1);
    return S_OK;
}

STDMETHODIMP ViewPart::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) noexcept {
    if (aspects) *aspects = aspects_;
    if (flags) *flags = flags_;
    if (sink) LOG_IF_FAILED(sink_.CopyTo(sink));
    return S_OK;
}

STDMETHODIMP ViewPart::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, size);
    *size = SIZEL{};
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    *size = extent_.Extent();
    return S_OK;
}

}  // namespace activex
