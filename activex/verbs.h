// The enumerator of a control's verbs for its container's menu (IOleObject::EnumVerbs). Any thread
// (the enumerator lives in the caller's apartment).
#pragma once

#include <oleidl.h>

#include "activex/control_parts.h"

namespace activex {

// A snapshot of count verbs, each named by its string of the module, else kUnknownVerbName.
[[nodiscard]] HRESULT EnumerateVerbs(const Verb* verbs, ULONG count, IEnumOLEVERB** out) noexcept;

}  // namespace activex
