// The shared text helpers where no caller's test reaches them: whole numbers as the console tools
// read them (wide text; DIRECTPORT_SIM's narrow ones are fuzzed in directport_test), and text
// narrowed for one console line.
#include <gtest/gtest.h>

#include <optional>
#include <string_view>

#include "base/text.h"

namespace {

struct NumberCase {
    std::wstring_view text;
    uint32_t max;
    std::optional<uint32_t> expected;
};

TEST(ParseWholeNumber, DecimalOrHexWithinMaxAndNothingElse) {
    const NumberCase kCases[] = {
        {L"356", 0xFFFF, 356},
        {L"0x164", 0xFFFF, 356},
        {L"0XfFfF", 0xFFFF, 0xFFFF},
        {L"0010", 99, 10},
        {L"65536", 0xFFFF, {}},
        {L"0x10000", 0xFFFF, {}},
        {L"4294967295", 0xFFFFFFFF, 0xFFFFFFFFu},
        {L"4294967296", 0xFFFFFFFF, {}},
        {L"99999999999999999999", 0xFFFFFFFF, {}},
        {L"", 10, {}},
        {L"0x", 10, {}},
        {L"-1", 10, {}},
        {L"+1", 10, {}},
        {L" 1", 10, {}},
        {L"1 ", 10, {}},
        {L"1a", 0xFF, {}},
        {L"0x1G", 0xFF, {}},
        {L"\xFF11", 10, {}},  // a fullwidth digit
    };
    for (const NumberCase& c : kCases) {
        EXPECT_EQ(c.expected, base::ParseWholeNumber(c.text, c.max)) << base::PrintableAscii(c.text);
    }
}

TEST(PrintableAscii, EverythingButPrintableAsciiBecomesAQuestionMark) {
    EXPECT_EQ("a ~?b??\?", base::PrintableAscii(L"a ~\nb\x7F\x6D4B\t"));
    EXPECT_EQ("", base::PrintableAscii(L""));
}

}  // namespace
