// The HRESULT printer and comparisons the other tests report their failures with.
#include <gtest/gtest.h>
#include <gtest/gtest-spi.h>

#include "tests/support/hresult_matchers.h"

using testsupport::FormatHresult;

TEST(HresultPrinter, HexWithTheNameWhereOneIsKnown) {
    EXPECT_EQ("0x00000000 (S_OK)", FormatHresult(S_OK));
    EXPECT_EQ("0x00000001 (S_FALSE)", FormatHresult(S_FALSE));
    EXPECT_EQ("0x80070057 (E_INVALIDARG)", FormatHresult(E_INVALIDARG));
    EXPECT_EQ("0x80020003 (DISP_E_MEMBERNOTFOUND)", FormatHresult(DISP_E_MEMBERNOTFOUND));
    EXPECT_EQ("0x8007007E (HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND))",
              FormatHresult(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)));
    EXPECT_EQ("0x80040200 (CONNECT_E_NOCONNECTION or SELFREG_E_TYPELIB)",
              FormatHresult(CONNECT_E_NOCONNECTION))
        << "a shared interface code prints every name";
    EXPECT_EQ("0x80004321", FormatHresult(static_cast<HRESULT>(0x80004321)));
    EXPECT_EQ("0x00000002", FormatHresult(2));
}

// Only interface-specific codes may share a value; any other value has one name to print.
TEST(HresultPrinter, EveryNameIsListedOnceAndOnlyInterfaceCodesShareValues) {
    size_t count = 0;
    const testsupport::HresultName* table = testsupport::HresultNames(&count);
    for (size_t i = 0; i < count; ++i) {
        for (size_t j = i + 1; j < count; ++j) {
            EXPECT_STRNE(table[i].name, table[j].name);
            if (table[i].hr == table[j].hr) {
                EXPECT_EQ(FACILITY_ITF, HRESULT_FACILITY(table[i].hr))
                    << table[i].name << " " << table[j].name;
            }
        }
    }
}

TEST(HresultComparisons, PassOnTheExpectedCode) {
    EXPECT_HR(E_POINTER, E_POINTER);
    ASSERT_HR(S_OK, S_OK);
    EXPECT_HR_SUCCEEDED(S_FALSE);
    ASSERT_HR_SUCCEEDED(S_OK);
    EXPECT_HR_FAILED(E_FAIL);
    ASSERT_HR_FAILED(DISP_E_OVERFLOW);
}

namespace {

[[nodiscard]] HRESULT Refuse() { return E_INVALIDARG; }

}  // namespace

TEST(HresultComparisons, FailuresNameBothSides) {
    EXPECT_NONFATAL_FAILURE(EXPECT_HR(S_OK, Refuse()), "0x80070057 (E_INVALIDARG)");
    EXPECT_NONFATAL_FAILURE(EXPECT_HR(S_OK, Refuse()), "expected S_OK\n    which is 0x00000000 (S_OK)");
    EXPECT_NONFATAL_FAILURE(EXPECT_HR(S_OK, Refuse()), "Refuse()");
    EXPECT_FATAL_FAILURE(ASSERT_HR(E_FAIL, S_FALSE), "0x00000001 (S_FALSE)");
    EXPECT_NONFATAL_FAILURE(EXPECT_HR_SUCCEEDED(Refuse()), "failed with 0x80070057 (E_INVALIDARG)");
    EXPECT_FATAL_FAILURE(ASSERT_HR_SUCCEEDED(E_FAIL), "0x80004005 (E_FAIL)");
    EXPECT_NONFATAL_FAILURE(EXPECT_HR_FAILED(S_FALSE), "succeeded with 0x00000001 (S_FALSE)");
    EXPECT_FATAL_FAILURE(ASSERT_HR_FAILED(S_OK), "0x00000000 (S_OK)");
}
