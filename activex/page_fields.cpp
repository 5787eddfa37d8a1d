#include "activex/page_fields.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <string_view>

#include "activex/resources.h"
#include "base/hresult.h"
#include "base/number_text.h"
#include "base/text.h"

namespace activex {
namespace {

std::wstring_view Trimmed(std::wstring_view text) {
    const auto first = text.find_first_not_of(L" \t");
    if (first == std::wstring_view::npos) return {};
    return text.substr(first, text.find_last_not_of(L" \t") - first + 1);
}

}  // namespace

HRESULT FieldText(FieldKind kind, base::Variant& value, std::wstring* text) {
    text->clear();
    switch (kind) {
        case FieldKind::kText:
            RETURN_IF_FAILED(value.ChangeType(VT_BSTR));
            text->assign(value.get().bstrVal, ::SysStringLen(value.get().bstrVal));
            return S_OK;
        case FieldKind::kLimit:
            if (value.vt() == VT_NULL || value.vt() == VT_EMPTY) return S_OK;
            [[fallthrough]];
        case FieldKind::kNumber:
            RETURN_IF_FAILED(value.ChangeType(VT_R8));
            *text = base::NumberText(value.get().dblVal);
            return S_OK;
        case FieldKind::kWhole:
        case FieldKind::kChoice:
            RETURN_IF_FAILED(value.ChangeType(VT_I4));
            *text = std::to_wstring(value.get().lVal);
            return S_OK;
        case FieldKind::kFlag:
            RETURN_IF_FAILED(value.ChangeType(VT_BOOL));
            *text = value.get().boolVal ? L"1" : L"0";
            return S_OK;
        case FieldKind::kColour:
            RETURN_IF_FAILED(value.ChangeType(VT_I4));
            *text =
                base::Format(L"0x%06lX", static_cast<unsigned long>(static_cast<ULONG>(value.get().lVal)));
            return S_OK;
    }
    return E_UNEXPECTED;
}

bool FieldValue(FieldKind kind, const std::wstring& text, base::Variant* value) {
    const std::wstring_view number = Trimmed(text);
    double read = 0;
    switch (kind) {
        case FieldKind::kText: *value = base::Variant(text.c_str()); return value->vt() == VT_BSTR;
        case FieldKind::kLimit:
            if (number.empty()) {
                value->put()->vt = VT_NULL;
                return true;
            }
            [[fallthrough]];
        case FieldKind::kNumber:
            if (!base::ParseNumber(number, &read)) return false;
            value->put()->vt = VT_R8;
            value->ptr()->dblVal = read;
            return true;
        case FieldKind::kWhole:
            if (!base::ParseNumber(number, &read) || read != std::floor(read) || read < LONG_MIN ||
                read > LONG_MAX)
                return false;
            *value = base::Variant(static_cast<LONG>(read));
            return true;
        case FieldKind::kChoice: {
            const auto index = base::ParseWholeNumber(number, static_cast<uint32_t>(LONG_MAX));
            if (!index) return false;
            *value = base::Variant(static_cast<LONG>(*index));
            return true;
        }
        case FieldKind::kFlag:
            value->put()->vt = VT_BOOL;
            value->ptr()->boolVal = text == L"1" ? VARIANT_TRUE : VARIANT_FALSE;
            return true;
        case FieldKind::kColour: {
            const auto colour = base::ParseWholeNumber(number, 0xFFFFFFFF);
            if (!colour) return false;
            *value = base::Variant(static_cast<LONG>(*colour));
            return true;
        }
    }
    return false;
}

VARIANT IndexArg(int index) noexcept {
    VARIANT arg;
    arg.vt = VT_I4;
    arg.lVal = index + 1;
    return arg;
}

std::wstring ModuleText(UINT id) {
    std::wstring text;
    LoadModuleString(id, &text);
    return text;
}

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

}  // namespace activex
