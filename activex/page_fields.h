// The fields of a property page that edits an object's properties through IDispatch: a value shown
// as the text of a field and read back from it, by the kind of the field. Plain functions, called on
// the page's thread.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>

#include "base/variant.h"

namespace activex {

// How a property is written as text in its field.
enum class FieldKind {
    kText,
    kNumber,
    kLimit,   // a number, or empty for none (Null)
    kWhole,   // a whole number
    kChoice,  // a drop-down list: the item's index
    kFlag,    // a check box: "1" or "0"
    kColour,  // an OLE_COLOR: 0x and six hex digits, a system colour with its high bit
};

// The text a field of kind shows for value (which it may change in place).
[[nodiscard]] HRESULT FieldText(FieldKind kind, base::Variant& value, std::wstring* text);
// The value text stands for; false when the field holds no value of its kind.
bool FieldValue(FieldKind kind, const std::wstring& text, base::Variant* value);

// The index argument of an indexed property that counts from 1, for index from 0.
VARIANT IndexArg(int index) noexcept;
// A string of the module, empty when it has none.
std::wstring ModuleText(UINT id);
std::wstring WindowText(HWND window);

}  // namespace activex
