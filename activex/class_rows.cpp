#include "activex/class_rows.h"

#include <objbase.h>

#include <utility>

#include "base/text.h"

namespace activex {
namespace {

bool GuidText(const GUID& guid, std::wstring* text) {
    *text = base::GuidText(guid);
    return !text->empty();
}

const std::wstring kZeroText = L"0";
const std::wstring kEmptyText;
const std::wstring kApartmentText = L"Apartment";

}  // namespace

bool ControlTexts(const ControlRegistration& reg, const std::wstring& path, const std::wstring& typeName,
                  ClassTexts* texts) {
    ClassTexts t;
    if (!GuidText(*reg.clsid, &t.clsid) || !GuidText(*reg.libid, &t.libid)) return false;
    t.progId = reg.progId ? reg.progId : L"";
    t.typeName = typeName.empty() ? t.clsid : typeName;
    t.path = path;
    t.toolboxBitmap = path + L", " + std::to_wstring(reg.toolboxBitmapId);
    t.miscStatus = std::to_wstring(reg.miscStatus);
    t.version = std::to_wstring(reg.versionMajor) + L"." + std::to_wstring(reg.versionMinor);
    *texts = std::move(t);
    return true;
}

bool PageTexts(const PageRegistration& reg, const std::wstring& path, const std::wstring& typeName,
               ClassTexts* texts) {
    ClassTexts t;
    if (!GuidText(*reg.clsid, &t.clsid)) return false;
    t.typeName = typeName.empty() ? t.clsid : typeName;
    t.path = path;
    *texts = std::move(t);
    return true;
}

const std::wstring& RowText(RowValue value, const ClassTexts& texts) noexcept {
    switch (value) {
        case RowValue::kTypeName: return texts.typeName;
        case RowValue::kClsid: return texts.clsid;
        case RowValue::kProgId: return texts.progId;
        case RowValue::kPath: return texts.path;
        case RowValue::kToolboxBitmap: return texts.toolboxBitmap;
        case RowValue::kZero: return kZeroText;
        case RowValue::kMiscStatus: return texts.miscStatus;
        case RowValue::kEmpty: return kEmptyText;
        case RowValue::kLibid: return texts.libid;
        case RowValue::kVersion: return texts.version;
        case RowValue::kApartment: return kApartmentText;
    }
    return kEmptyText;
}

std::wstring RowBaseKey(RowBase base, const ClassTexts& texts) {
    return base == RowBase::kProgId ? texts.progId : L"CLSID\\" + texts.clsid;
}

std::wstring RowKey(const ClassRow& row, const ClassTexts& texts) {
    std::wstring key = RowBaseKey(row.base, texts);
    if (row.subkey[0] != L'\0') key += L"\\" + std::wstring(row.subkey);
    return key;
}

}  // namespace activex
