// Late-bound calls as an automation host makes them, for the tests of the controls' members: typed
// arguments, and a call's outcome with the error and the text a VBA user would see.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/late_bound.h"
#include "base/variant.h"
#include "tests/support/hresult_matchers.h"

namespace testsupport {

namespace fs = std::filesystem;

inline VARIANT R8(double v) {
    VARIANT x;
    x.vt = VT_R8;
    x.dblVal = v;
    return x;
}

// A text argument; the test program keeps its BSTR to the end.
inline VARIANT Text(const wchar_t* text) {
    static std::vector<base::Bstr> kept;
    kept.emplace_back(text);
    VARIANT x;
    x.vt = VT_BSTR;
    x.bstrVal = kept.back().get();
    return x;
}

inline VARIANT Null() {
    VARIANT x;
    x.vt = VT_NULL;
    return x;
}

// A call's outcome as a VBA user meets it: the error and its description.
struct Outcome {
    HRESULT hr;
    HRESULT error;
    std::wstring description;
    base::Variant result;
};

inline Outcome Call(IDispatch* ctrl, DISPID id, WORD flags, const std::vector<VARIANT>& args) {
    Outcome out{};
    base::DispException exception;
    out.hr =
        base::InvokeById(ctrl, id, flags, args.data(), args.size(), out.result.ptr(), nullptr, &exception);
    out.error = exception.error;
    out.description = exception.description.get() ? exception.description.get() : L"";
    return out;
}

// A call a member refuses, the error it raises and a part of the text it says.
struct Refusal {
    DISPID id;
    WORD flags;
    std::vector<VARIANT> args;
    HRESULT error;
    std::wstring says;
};

// Each call is refused as a VBA user meets it: an exception with its error and its text.
inline void ExpectRefusals(IDispatch* object, const std::vector<Refusal>& refusals) {
    for (const Refusal& r : refusals) {
        const Outcome got = Call(object, r.id, r.flags, r.args);
        EXPECT_HR(DISP_E_EXCEPTION, got.hr) << r.id;
        EXPECT_HR(r.error, got.error) << r.id;
        EXPECT_NE(std::wstring::npos, got.description.find(r.says))
            << r.id << ": " << testing::PrintToString(got.description);
    }
}

// An empty folder of the running test's own, under topic.
inline fs::path Folder(const char* topic) {
    const fs::path folder =
        fs::temp_directory_path() / topic / testing::UnitTest::GetInstance()->current_test_info()->name();
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    fs::create_directories(folder);
    return folder;
}

}  // namespace testsupport
