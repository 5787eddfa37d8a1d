// HRESULT comparisons that print both sides in hex with their names, e.g. "0x80070057 (E_INVALIDARG)":
//   EXPECT_HR(E_INVALIDARG, object->Method(nullptr));
//   ASSERT_HR_SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
// The name table holds the codes the tests meet; an unknown code prints in hex only.
#pragma once

#include <windows.h>
#include <olectl.h>
#include <winerror.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

namespace testsupport {

struct HresultName {
    HRESULT hr;
    const char* name;
};

// Interface-specific codes share values (CONNECT_E_NOCONNECTION is SELFREG_E_TYPELIB); such a value
// prints every name it has. Other codes have one name each: E_INVALIDARG stands for
// HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER), E_HANDLE for ERROR_INVALID_HANDLE.
inline const HresultName* HresultNames(size_t* count) {
#define VANDREL_HR_NAME(code) \
    { static_cast<HRESULT>(code), #code }
    static const HresultName kNames[] = {
        VANDREL_HR_NAME(S_OK),
        VANDREL_HR_NAME(S_FALSE),
        VANDREL_HR_NAME(E_UNEXPECTED),
        VANDREL_HR_NAME(E_NOTIMPL),
        VANDREL_HR_NAME(E_OUTOFMEMORY),
        VANDREL_HR_NAME(E_INVALIDARG),
        VANDREL_HR_NAME(E_NOINTERFACE),
        VANDREL_HR_NAME(E_POINTER),
        VANDREL_HR_NAME(E_HANDLE),
        VANDREL_HR_NAME(E_ABORT),
        VANDREL_HR_NAME(E_FAIL),
        VANDREL_HR_NAME(E_ACCESSDENIED),
        VANDREL_HR_NAME(E_PENDING),
        VANDREL_HR_NAME(DISP_E_UNKNOWNINTERFACE),
        VANDREL_HR_NAME(DISP_E_MEMBERNOTFOUND),
        VANDREL_HR_NAME(DISP_E_PARAMNOTFOUND),
        VANDREL_HR_NAME(DISP_E_TYPEMISMATCH),
        VANDREL_HR_NAME(DISP_E_UNKNOWNNAME),
        VANDREL_HR_NAME(DISP_E_NONAMEDARGS),
        VANDREL_HR_NAME(DISP_E_BADVARTYPE),
        VANDREL_HR_NAME(DISP_E_EXCEPTION),
        VANDREL_HR_NAME(DISP_E_OVERFLOW),
        VANDREL_HR_NAME(DISP_E_BADINDEX),
        VANDREL_HR_NAME(DISP_E_UNKNOWNLCID),
        VANDREL_HR_NAME(DISP_E_ARRAYISLOCKED),
        VANDREL_HR_NAME(DISP_E_BADPARAMCOUNT),
        VANDREL_HR_NAME(DISP_E_PARAMNOTOPTIONAL),
        VANDREL_HR_NAME(DISP_E_BADCALLEE),
        VANDREL_HR_NAME(DISP_E_NOTACOLLECTION),
        VANDREL_HR_NAME(DISP_E_DIVBYZERO),
        VANDREL_HR_NAME(CLASS_E_NOAGGREGATION),
        VANDREL_HR_NAME(CLASS_E_CLASSNOTAVAILABLE),
        VANDREL_HR_NAME(CLASS_E_NOTLICENSED),
        VANDREL_HR_NAME(CONNECT_E_NOCONNECTION),
        VANDREL_HR_NAME(CONNECT_E_ADVISELIMIT),
        VANDREL_HR_NAME(CONNECT_E_CANNOTCONNECT),
        VANDREL_HR_NAME(CONNECT_E_OVERRIDDEN),
        VANDREL_HR_NAME(SELFREG_E_TYPELIB),
        VANDREL_HR_NAME(SELFREG_E_CLASS),
        VANDREL_HR_NAME(OLE_E_OLEVERB),
        VANDREL_HR_NAME(OLE_E_ADVF),
        VANDREL_HR_NAME(OLE_E_NOCONNECTION),
        VANDREL_HR_NAME(OLE_E_NOTRUNNING),
        VANDREL_HR_NAME(OLE_E_NOCACHE),
        VANDREL_HR_NAME(OLE_E_BLANK),
        VANDREL_HR_NAME(OLE_E_NOT_INPLACEACTIVE),
        VANDREL_HR_NAME(OLE_S_USEREG),
        VANDREL_HR_NAME(OLEOBJ_E_NOVERBS),
        VANDREL_HR_NAME(OLEOBJ_E_INVALIDVERB),
        VANDREL_HR_NAME(OLEOBJ_S_INVALIDVERB),
        VANDREL_HR_NAME(DV_E_FORMATETC),
        VANDREL_HR_NAME(DV_E_LINDEX),
        VANDREL_HR_NAME(DV_E_DVASPECT),
        VANDREL_HR_NAME(VIEW_E_DRAW),
        VANDREL_HR_NAME(REGDB_E_READREGDB),
        VANDREL_HR_NAME(REGDB_E_WRITEREGDB),
        VANDREL_HR_NAME(REGDB_E_KEYMISSING),
        VANDREL_HR_NAME(REGDB_E_CLASSNOTREG),
        VANDREL_HR_NAME(REGDB_E_IIDNOTREG),
        VANDREL_HR_NAME(CO_E_NOTINITIALIZED),
        VANDREL_HR_NAME(CO_E_CLASSSTRING),
        VANDREL_HR_NAME(CO_E_SERVER_EXEC_FAILURE),
        VANDREL_HR_NAME(RPC_E_CHANGED_MODE),
        VANDREL_HR_NAME(RPC_E_WRONG_THREAD),
        VANDREL_HR_NAME(TYPE_E_LIBNOTREGISTERED),
        VANDREL_HR_NAME(TYPE_E_ELEMENTNOTFOUND),
        VANDREL_HR_NAME(TYPE_E_CANTLOADLIBRARY),
        VANDREL_HR_NAME(TYPE_E_REGISTRYACCESS),
        VANDREL_HR_NAME(STG_E_INVALIDFUNCTION),
        VANDREL_HR_NAME(STG_E_FILENOTFOUND),
        VANDREL_HR_NAME(STG_E_ACCESSDENIED),
        VANDREL_HR_NAME(STG_E_INSUFFICIENTMEMORY),
        VANDREL_HR_NAME(STG_E_INVALIDPOINTER),
        VANDREL_HR_NAME(STG_E_MEDIUMFULL),
        VANDREL_HR_NAME(STG_E_READFAULT),
        VANDREL_HR_NAME(STG_E_WRITEFAULT),
        VANDREL_HR_NAME(STG_E_INVALIDHEADER),
        VANDREL_HR_NAME(STG_E_REVERTED),
        VANDREL_HR_NAME(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)),
        VANDREL_HR_NAME(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)),
        VANDREL_HR_NAME(HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY)),
        VANDREL_HR_NAME(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER)),
        VANDREL_HR_NAME(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)),
        VANDREL_HR_NAME(HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND)),
        VANDREL_HR_NAME(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS)),
        VANDREL_HR_NAME(HRESULT_FROM_WIN32(ERROR_NO_SYSTEM_RESOURCES)),
        VANDREL_HR_NAME(HRESULT_FROM_WIN32(ERROR_TIMEOUT)),
        VANDREL_HR_NAME(HRESULT_FROM_WIN32(ERROR_CANNOT_MAKE)),
        VANDREL_HR_NAME(HRESULT_FROM_WIN32(ERROR_CHILD_MUST_BE_VOLATILE)),
        VANDREL_HR_NAME(HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT)),
    };
#undef VANDREL_HR_NAME
    *count = sizeof kNames / sizeof kNames[0];
    return kNames;
}

// "0x80070057 (E_INVALIDARG)"; a code without a name prints as "0x80004321".
inline std::string FormatHresult(HRESULT hr) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(hr));
    std::string names;
    size_t count = 0;
    const HresultName* table = HresultNames(&count);
    for (size_t i = 0; i < count; ++i) {
        if (table[i].hr != hr) continue;
        if (!names.empty()) names += " or ";
        names += table[i].name;
    }
    return names.empty() ? std::string(hex) : std::string(hex) + " (" + names + ")";
}

// For EXPECT_PRED_FORMAT2: the expressions as written and both values with their names.
inline testing::AssertionResult HrEq(const char* expectedText, const char* actualText, HRESULT expected,
                                     HRESULT actual) {
    if (expected == actual) return testing::AssertionSuccess();
    return testing::AssertionFailure()
           << actualText << "\n    which is " << FormatHresult(actual) << "\n  expected " << expectedText
           << "\n    which is " << FormatHresult(expected);
}

inline testing::AssertionResult HrSucceeded(const char* text, HRESULT hr) {
    if (SUCCEEDED(hr)) return testing::AssertionSuccess();
    return testing::AssertionFailure() << text << "\n    failed with " << FormatHresult(hr);
}

inline testing::AssertionResult HrFailed(const char* text, HRESULT hr) {
    if (FAILED(hr)) return testing::AssertionSuccess();
    return testing::AssertionFailure()
           << text << "\n    succeeded with " << FormatHresult(hr) << ", expected a failure";
}

}  // namespace testsupport

// The expressions are spelled here, before the preprocessor expands S_OK and its kind.
#define EXPECT_HR(expected, expr) \
    GTEST_ASSERT_(::testsupport::HrEq(#expected, #expr, expected, expr), GTEST_NONFATAL_FAILURE_)
#define ASSERT_HR(expected, expr) \
    GTEST_ASSERT_(::testsupport::HrEq(#expected, #expr, expected, expr), GTEST_FATAL_FAILURE_)
#define EXPECT_HR_SUCCEEDED(expr) \
    GTEST_ASSERT_(::testsupport::HrSucceeded(#expr, expr), GTEST_NONFATAL_FAILURE_)
#define ASSERT_HR_SUCCEEDED(expr) GTEST_ASSERT_(::testsupport::HrSucceeded(#expr, expr), GTEST_FATAL_FAILURE_)
#define EXPECT_HR_FAILED(expr)    GTEST_ASSERT_(::testsupport::HrFailed(#expr, expr), GTEST_NONFATAL_FAILURE_)
#define ASSERT_HR_FAILED(expr)    GTEST_ASSERT_(::testsupport::HrFailed(#expr, expr), GTEST_FATAL_FAILURE_)
