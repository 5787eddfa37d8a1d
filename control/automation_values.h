// The control's values as automation hands them out: counts as Longs, texts as BSTRs. Pure
// functions; any thread.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <climits>
#include <cstdint>
#include <string>

namespace vandrel {

// A count as a Long: the largest Long stands for any larger count.
inline LONG ClampToLong(uint64_t count) noexcept {
    return count > static_cast<uint64_t>(LONG_MAX) ? LONG_MAX : static_cast<LONG>(count);
}

[[nodiscard]] inline HRESULT NewText(const std::wstring& text, BSTR* out) noexcept {
    *out = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace vandrel
