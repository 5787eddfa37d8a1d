#include "activex/resources.h"

#include <objbase.h>

#include <cstring>

#include "activex/module.h"

namespace activex {

bool LoadModuleString(UINT id, std::wstring* text) noexcept {
    // With a zero buffer size LoadString hands out a pointer into the resource itself.
    const wchar_t* resource = nullptr;
    const int length = ::LoadStringW(Module::Instance(), id, reinterpret_cast<LPWSTR>(&resource), 0);
    if (length <= 0 || !resource) return false;
    try {
        text->assign(resource, static_cast<size_t>(length));
    } catch (...) {
        return false;
    }
    return true;
}

HRESULT TaskMemString(const wchar_t* text, LPOLESTR* out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    const size_t bytes = (std::wcslen(text) + 1) * sizeof(wchar_t);
    auto* copy = static_cast<LPOLESTR>(::CoTaskMemAlloc(bytes));
    if (!copy) return E_OUTOFMEMORY;
    std::memcpy(copy, text, bytes);
    *out = copy;
    return S_OK;
}

}  // namespace activex
