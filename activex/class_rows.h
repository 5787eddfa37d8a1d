// The registry rows of a class registration as data: which keys below HKEY_CLASSES_ROOT carry
// which value, in the order they are written. Self-registration (activex/registration.cpp) writes
// these rows with the running module's path; the installer generator (package/wxsgen) turns the same
// rows into the packages' registry tables, so what regsvr32 writes and what an installed package
// leaves cannot drift apart. Pure data and functions; no registry access, any thread.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "activex/registration.h"

namespace activex {

// Which of a class's two top keys a row lies below.
enum class RowBase { kProgId, kClass };

// Where a row's text comes from.
enum class RowValue {
    kTypeName,       // the user type name (string resource; the CLSID text when missing)
    kClsid,          // the CLSID text
    kProgId,         // the ProgID
    kPath,           // the server's path
    kToolboxBitmap,  // the path, ", " and the bitmap id
    kZero,           // "0"
    kMiscStatus,     // the OLEMISC flags in decimal
    kEmpty,          // ""
    kLibid,          // the LIBID text
    kVersion,        // "major.minor"
    kApartment,      // "Apartment"
};

struct ClassRow {
    RowBase base;
    const wchar_t* subkey;  // "" names the base key itself
    const wchar_t* name;    // nullptr: the key's default value
    RowValue value;
};

// A control class: the ProgID key's rows, then the class key's, then its threading model.
inline constexpr ClassRow kControlRows[] = {
    {RowBase::kProgId, L"", nullptr, RowValue::kTypeName},
    {RowBase::kProgId, L"CLSID", nullptr, RowValue::kClsid},
    {RowBase::kClass, L"", nullptr, RowValue::kTypeName},
    {RowBase::kClass, L"ProgID", nullptr, RowValue::kProgId},
    {RowBase::kClass, L"InprocServer32", nullptr, RowValue::kPath},
    {RowBase::kClass, L"ToolboxBitmap32", nullptr, RowValue::kToolboxBitmap},
    {RowBase::kClass, L"MiscStatus", nullptr, RowValue::kZero},
    {RowBase::kClass, L"MiscStatus\\1", nullptr, RowValue::kMiscStatus},
    {RowBase::kClass, L"Control", nullptr, RowValue::kEmpty},
    {RowBase::kClass, L"TypeLib", nullptr, RowValue::kLibid},
    {RowBase::kClass, L"Version", nullptr, RowValue::kVersion},
    {RowBase::kClass, L"InprocServer32", L"ThreadingModel", RowValue::kApartment},
};

// A property page class: no ProgID and no threading model.
inline constexpr ClassRow kPageRows[] = {
    {RowBase::kClass, L"", nullptr, RowValue::kTypeName},
    {RowBase::kClass, L"InprocServer32", nullptr, RowValue::kPath},
};

// The texts a class's rows are made of. Built once per registration.
struct ClassTexts {
    std::wstring clsid;   // "{...}", 38 characters
    std::wstring progId;  // empty for a page
    std::wstring typeName;
    std::wstring path;
    std::wstring toolboxBitmap;
    std::wstring miscStatus;
    std::wstring libid;
    std::wstring version;
};

// The texts of a control or page registration; path and typeName as the caller found them (the
// module's short path and string resource, or an installer's file reference). False when a GUID
// cannot be formatted.
bool ControlTexts(const ControlRegistration& reg, const std::wstring& path, const std::wstring& typeName,
                  ClassTexts* texts);
bool PageTexts(const PageRegistration& reg, const std::wstring& path, const std::wstring& typeName,
               ClassTexts* texts);

const std::wstring& RowText(RowValue value, const ClassTexts& texts) noexcept;

// "CLSID\{...}" or the ProgID: the key below HKEY_CLASSES_ROOT a row's base names.
std::wstring RowBaseKey(RowBase base, const ClassTexts& texts);

// The full key of a row below HKEY_CLASSES_ROOT.
std::wstring RowKey(const ClassRow& row, const ClassTexts& texts);

}  // namespace activex
