// The error macros: each returns the right code, evaluates its expression once, and reports a
// failure's origin (code, expression text, file, line) to the registered hook and nothing else.
// That they refuse what is not an HRESULT is checked by compiling hresult_refused.cpp.
#include <gtest/gtest.h>
#include <windows.h>

#include <cwchar>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/hresult.h"
#include "tests/support/hresult_matchers.h"

namespace {

struct Origin {
    HRESULT hr;
    std::string expression;
    std::string file;
    int line;
};

std::vector<Origin> g_origins;
int g_macroLine;  // set by each case on the line before its macro

void Record(HRESULT hr, const char* expression, const char* file, int line) noexcept {
    g_origins.push_back({hr, expression, file, line});
    ::SetLastError(ERROR_GEN_FAILURE);  // a careless hook; the macros' answers must not depend on it
}

int g_calls;
[[nodiscard]] HRESULT Counted(HRESULT hr) {
    ++g_calls;
    return hr;
}

[[nodiscard]] HRESULT IfFailed(HRESULT hr) {
    g_macroLine = __LINE__ + 1;
    RETURN_IF_FAILED(Counted(hr));
    return S_OK;
}

[[nodiscard]] HRESULT HrIf(HRESULT hr) {
    const bool refused = g_calls++ >= 0;
    g_macroLine = __LINE__ + 1;
    RETURN_HR_IF(hr, refused);
    return S_OK;
}

[[nodiscard]] HRESULT HrIfNull(HRESULT hr) {
    const int* pointer = nullptr;
    ++g_calls;
    g_macroLine = __LINE__ + 1;
    RETURN_HR_IF_NULL(hr, pointer);
    return S_OK;
}

[[nodiscard]] HRESULT LastErrorIf(HRESULT error) {
    ::SetLastError(static_cast<DWORD>(error));
    const bool failed = g_calls++ >= 0;
    g_macroLine = __LINE__ + 1;
    RETURN_LAST_ERROR_IF(failed);
    return S_OK;
}

[[nodiscard]] HRESULT Win32Error(HRESULT error) {
    g_macroLine = __LINE__ + 1;
    RETURN_IF_WIN32_ERROR(Counted(error));
    return S_OK;
}

[[nodiscard]] HRESULT LogIfFailed(HRESULT hr) {
    g_macroLine = __LINE__ + 1;
    return LOG_IF_FAILED(Counted(hr));
}

struct MacroCase {
    const char* name;
    HRESULT (*call)(HRESULT);
    HRESULT in;
    HRESULT expected;
    const char* expression;  // null: no origin reported
};

const MacroCase kMacroCases[] = {
    {"IfFailedFailure", IfFailed, E_ACCESSDENIED, E_ACCESSDENIED, "Counted(hr)"},
    {"IfFailedSuccessCode", IfFailed, S_FALSE, S_OK, nullptr},
    {"HrIfFailure", HrIf, E_NOTIMPL, E_NOTIMPL, "refused"},
    {"HrIfSuccessCodeIsNoFailure", HrIf, S_FALSE, S_FALSE, nullptr},
    {"HrIfNull", HrIfNull, E_POINTER, E_POINTER, "pointer is null"},
    {"LastErrorIf", LastErrorIf, ERROR_FILE_NOT_FOUND, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), "failed"},
    {"LastErrorIfNoneSet", LastErrorIf, ERROR_SUCCESS, E_FAIL, "failed"},
    {"Win32Error", Win32Error, ERROR_ACCESS_DENIED, E_ACCESSDENIED, "Counted(error)"},
    {"Win32Success", Win32Error, ERROR_SUCCESS, S_OK, nullptr},
    {"LogIfFailedFailure", LogIfFailed, E_FAIL, E_FAIL, "Counted(hr)"},
    {"LogIfFailedSuccessCode", LogIfFailed, S_FALSE, S_FALSE, nullptr},
};

class FailureOrigin : public testing::Test {
protected:
    void SetUp() override {
        g_origins.clear();
        g_calls = 0;
        previous_ = base::SetFailureOriginHook(&Record);
    }
    void TearDown() override { base::SetFailureOriginHook(previous_); }

private:
    base::FailureOriginHook previous_ = nullptr;
};

class Macros : public FailureOrigin, public testing::WithParamInterface<MacroCase> {};

TEST_P(Macros, ReturnTheCodeAndReportTheOrigin) {
    const MacroCase& c = GetParam();
    EXPECT_EQ(c.expected, c.call(c.in));
    EXPECT_EQ(1, g_calls) << "the expression is evaluated once";
    if (!c.expression) {
        EXPECT_TRUE(g_origins.empty());
        return;
    }
    ASSERT_EQ(1u, g_origins.size());
    EXPECT_EQ(c.expected, g_origins[0].hr);
    EXPECT_EQ(c.expression, g_origins[0].expression);
    EXPECT_EQ(__FILE__, g_origins[0].file);
    EXPECT_EQ(g_macroLine, g_origins[0].line);
}

INSTANTIATE_TEST_SUITE_P(Each, Macros, testing::ValuesIn(kMacroCases),
                         [](const testing::TestParamInfo<MacroCase>& test) {
                             return std::string(test.param.name);
                         });

[[nodiscard]] HRESULT Throwing(int what) noexcept try {
    switch (what) {
        case 0: throw std::bad_alloc();
        case 1: throw std::runtime_error("no");
        case 2: throw 42;
        default: return S_OK;
    }
}
CATCH_RETURN()
const int kCatchLine = __LINE__ - 1;

TEST_F(FailureOrigin, CatchReturnMapsExceptionsAndReportsWhere) {
    EXPECT_HR(E_OUTOFMEMORY, Throwing(0));
    EXPECT_HR(E_UNEXPECTED, Throwing(1));
    EXPECT_HR(E_UNEXPECTED, Throwing(2));
    EXPECT_HR(S_OK, Throwing(3));
    ASSERT_EQ(3u, g_origins.size());
    EXPECT_HR(E_OUTOFMEMORY, g_origins[0].hr);
    EXPECT_HR(E_UNEXPECTED, g_origins[2].hr);
    for (const Origin& o : g_origins) {
        EXPECT_EQ(__FILE__, o.file);
        EXPECT_EQ(kCatchLine, o.line);
        EXPECT_EQ("exception", o.expression);
    }
}

TEST_F(FailureOrigin, NoHookNoReport) {
    const base::FailureOriginHook ours = base::SetFailureOriginHook(nullptr);
    EXPECT_EQ(&Record, ours);
    EXPECT_HR(E_ACCESSDENIED, IfFailed(E_ACCESSDENIED));
    EXPECT_HR(E_OUTOFMEMORY, Throwing(0));
    EXPECT_TRUE(g_origins.empty());
}

TEST(FormatFailureOrigin, OneLineWithCodeFileAndLine) {
    wchar_t text[128];
    const size_t n = base::FormatFailureOrigin(text, 128, E_ACCESSDENIED, "Open(key)", "base\\x.cpp", 1234);
    EXPECT_STREQ(L"base\\x.cpp(1234): hr 0x80070005 from Open(key)\n", text);
    EXPECT_EQ(std::wcslen(text), n);

    base::FormatFailureOrigin(text, 128, S_OK, nullptr, nullptr, 0);
    EXPECT_STREQ(L"?(0): hr 0x00000000 from ?\n", text);
}

TEST(FormatFailureOrigin, CutToFitAndStillOneLine) {
    const std::string longExpression(600, 'x');
    wchar_t text[16];
    std::wmemset(text, L'#', 16);
    const size_t n = base::FormatFailureOrigin(text, 16, E_FAIL, longExpression.c_str(), "f.cpp", 7);
    EXPECT_EQ(15u, n);
    EXPECT_STREQ(L"f.cpp(7): hr 0\n", text);

    wchar_t tiny[1] = {L'#'};
    EXPECT_EQ(0u, base::FormatFailureOrigin(tiny, 1, E_FAIL, "e", "f", 1));
    EXPECT_EQ(L'\0', tiny[0]);
    EXPECT_EQ(0u, base::FormatFailureOrigin(nullptr, 8, E_FAIL, "e", "f", 1));
}

TEST(DebugOutputFailureOrigin, KeepsTheLastError) {
    ::SetLastError(ERROR_INVALID_DATA);
    base::DebugOutputFailureOrigin(E_FAIL, "expression", __FILE__, __LINE__);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), ::GetLastError());
}

}  // namespace
