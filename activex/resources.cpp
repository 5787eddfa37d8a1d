#include "activex/resources.h"

#include <objbase.h>

#include <cstring>

#include "activex/module.h"
#include "base/hresult.h"
#include "base/text.h"

namespace activex {

bool LoadModuleString(UINT id, std::wstring* text) noexcept {
    try {
        *text = base::StringResource(Module::Instance(), id);
    } catch (...) {
        return false;
    }
    return !text->empty();
}

[[nodiscard]] HRESULT TaskMemString(const wchar_t* text, LPOLESTR* out) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, out);
    *out = nullptr;
    const size_t bytes = (std::wcslen(text) + 1) * sizeof(wchar_t);
    auto* copy = static_cast<LPOLESTR>(::CoTaskMemAlloc(bytes));
    if (!copy) return E_OUTOFMEMORY;
    std::memcpy(copy, text, bytes);
    *out = copy;
    return S_OK;
}

}  // namespace activex
