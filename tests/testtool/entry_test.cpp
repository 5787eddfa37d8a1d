// The entry conversion: trimming, the longest leading number, rounding halves to even, and the
// 16-bit range.
#include <gtest/gtest.h>

#include "testtool/entry.h"
#include "tests/support/hresult_matchers.h"

namespace {

struct EntryCase {
    const wchar_t* text;
    HRESULT hr;
    SHORT value;
};

class EntryConversionTest : public ::testing::TestWithParam<EntryCase> {};

TEST_P(EntryConversionTest, Converts) {
    const EntryCase c = GetParam();
    SHORT value = 0x5A5A;  // left alone on failure
    EXPECT_EQ(mirelo::ConvertEntry(c.text, &value), c.hr);
    EXPECT_EQ(value, SUCCEEDED(c.hr) ? c.value : static_cast<SHORT>(0x5A5A));
}

INSTANTIATE_TEST_SUITE_P(
    Table, EntryConversionTest,
    ::testing::Values(
        // The cases every operator meets.
        EntryCase{L" 500 ", S_OK, 500}, EntryCase{L"-1", S_OK, -1}, EntryCase{L"abc", S_OK, 0},
        EntryCase{L"", S_OK, 0}, EntryCase{L"2.5", S_OK, 2}, EntryCase{L"3.5", S_OK, 4},
        EntryCase{L"40000", DISP_E_OVERFLOW, 0}, EntryCase{L"12abc", S_OK, 12}, EntryCase{L"-5", S_OK, -5},
        EntryCase{L"32767.5", DISP_E_OVERFLOW, 0},
        // Rounding and the range edges.
        EntryCase{L"-2.5", S_OK, -2}, EntryCase{L"-3.5", S_OK, -4}, EntryCase{L"0.5", S_OK, 0},
        EntryCase{L"1.5", S_OK, 2}, EntryCase{L"2.5000001", S_OK, 3}, EntryCase{L"32767", S_OK, 32767},
        EntryCase{L"32767.4", S_OK, 32767}, EntryCase{L"-32768", S_OK, -32768},
        EntryCase{L"-32768.5", S_OK, -32768}, EntryCase{L"-32768.51", DISP_E_OVERFLOW, 0},
        EntryCase{L"32768", DISP_E_OVERFLOW, 0}, EntryCase{L"-0.4", S_OK, 0},
        EntryCase{L"99999999999999999999999", DISP_E_OVERFLOW, 0},
        // What the lenient reading takes and where it stops.
        EntryCase{L"+7", S_OK, 7}, EntryCase{L".5", S_OK, 0}, EntryCase{L".6", S_OK, 1},
        EntryCase{L"5.", S_OK, 5}, EntryCase{L"-", S_OK, 0}, EntryCase{L"-.", S_OK, 0},
        EntryCase{L"1e3", S_OK, 1000}, EntryCase{L"1E+2x", S_OK, 100}, EntryCase{L"25e-1", S_OK, 2},
        EntryCase{L"12e", S_OK, 12}, EntryCase{L"12e+", S_OK, 12}, EntryCase{L"1e999", DISP_E_OVERFLOW, 0},
        EntryCase{L"1e-999", S_OK, 0}, EntryCase{L"0x1F", S_OK, 0}, EntryCase{L"1 2", S_OK, 1},
        EntryCase{L"--1", S_OK, 0}, EntryCase{L"   ", S_OK, 0}, EntryCase{L"\t5", S_OK, 0},
        EntryCase{L"007", S_OK, 7}, EntryCase{L"inf", S_OK, 0}, EntryCase{L"nan", S_OK, 0},
        EntryCase{L"\xFF15", S_OK, 0}));  // a full-width digit is not a digit

TEST(EntryConversion, NullOutputIsRefused) { EXPECT_HR(E_POINTER, mirelo::ConvertEntry(L"1", nullptr)); }

TEST(EntryConversion, ReadsOnlyThePrefix) {
    EXPECT_DOUBLE_EQ(mirelo::ReadLeadingNumber(L"  -12.75kg "), -12.75);
    EXPECT_DOUBLE_EQ(mirelo::ReadLeadingNumber(L"3.25.5"), 3.25);
    EXPECT_DOUBLE_EQ(mirelo::ReadLeadingNumber(std::wstring(400, L'0') + L"42"), 42.0);
}

}  // namespace
