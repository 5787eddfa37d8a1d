// The shared text helpers where no caller's test reaches them: whole numbers as the console tools
// read them (wide text; DIRECTPORT_SIM's narrow ones are fuzzed in directport_test), text narrowed
// for one console line, and printf-style text of any length.
#include <gtest/gtest.h>

#include <optional>
#include <string>
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
    // Narrow text byte by byte: a code page's letter or a UTF-8 sequence is no ASCII either.
    EXPECT_EQ("a ~?b???\?", base::PrintableAscii(std::string_view("a ~\nb\x7F\xC3\xA9\r", 9)));
}

// A fixed buffer cut long lines short without a word (the console tools' and the control's
// formatters had 512 characters); the first buffer's own size is where an off-by-one would cut.
TEST(Format, WholeTextOfAnyLengthInBothForms) {
    for (const size_t length :
         {size_t{0}, size_t{254}, size_t{255}, size_t{256}, size_t{600}, size_t{70000}}) {
        const std::string text(length, 'x');
        const std::wstring wide(length, L'y');
        EXPECT_EQ(text + "|-7", base::Format("%s|%d", text.c_str(), -7)) << length;
        EXPECT_EQ(wide + L"|-7", base::Format(L"%ls|%d", wide.c_str(), -7)) << length;
    }
    // The control's own uses of its wide formatter.
    EXPECT_EQ(L"Error 0x80004005.", base::Format(L"Error 0x%08lX.", 0x80004005ul));
    EXPECT_EQ(L"port 356 (0x164): 8 channels",
              base::Format(L"port %lu (0x%lX): %ld channels", 356ul, 356ul, 8l));
}

}  // namespace
