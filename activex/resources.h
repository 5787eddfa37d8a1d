// Strings from the module's resources and task-memory copies for callers that own the result.
// Plain functions; any thread.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <string>

namespace activex {

// The module's string resource id; false when it is missing or empty.
bool LoadModuleString(UINT id, std::wstring* text) noexcept;

// A CoTaskMemAlloc'd copy of text.
[[nodiscard]] HRESULT TaskMemString(const wchar_t* text, LPOLESTR* out) noexcept;

}  // namespace activex
