#include "activex/property_pages_part.h"

#include <olectl.h>

#include <string>

#include "activex/resources.h"
#include "base/hresult.h"

namespace activex {

HRESULT PropertyPagesPart::ShowPropertyFrame(HWND owner, LCID lcid) noexcept try {
    std::wstring caption;
    const bool named = LoadModuleString(control_.userTypeNameId, &caption);
    IUnknown* object = &owner_;
    return ::OleCreatePropertyFrame(owner, 0, 0, named ? caption.c_str() : nullptr, 1, &object,
                                    control_.pageCount, const_cast<CLSID*>(control_.pages), lcid, 0, nullptr);
}
CATCH_RETURN()

STDMETHODIMP PropertyPagesPart::GetPages(CAUUID* pages) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, pages);
    pages->cElems = 0;
    pages->pElems = nullptr;
    if (control_.pageCount == 0) return S_OK;
    auto* elems = static_cast<GUID*>(::CoTaskMemAlloc(control_.pageCount * sizeof(GUID)));
    if (!elems) return E_OUTOFMEMORY;
    for (ULONG i = 0; i < control_.pageCount; ++i) elems[i] = control_.pages[i];
    pages->cElems = control_.pageCount;
    pages->pElems = elems;
    return S_OK;
}

}  // namespace activex
