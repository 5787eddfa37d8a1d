// The entry conversion against a reference written here from its description alone, on random
// text: blanks, signs, exponents, runs of 400 digits, full-width and other non-ASCII digits,
// embedded zeros. The reference never goes through a floating-point parser: it finds the number in
// the text, takes its binary value to the 53 bits of a double by exact decimal arithmetic, and
// rounds that double to an integer, halves to even.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "base/text.h"
#include "testtool/entry.h"
#include "tests/support/fuzz_support.h"

namespace {

struct Decimal {
    bool negative = false;
    std::string digits;     // significant digits, no leading zeros; empty for zero
    long long pointAt = 0;  // the value is 0.digits * 10^pointAt
};

// The longest leading number after trimming spaces; nullopt when the text does not begin with one.
std::optional<Decimal> FindNumber(const std::wstring& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && text[begin] == L' ') ++begin;
    while (end > begin && text[end - 1] == L' ') --end;
    size_t i = begin;
    Decimal d;
    if (i < end && (text[i] == L'-' || text[i] == L'+')) d.negative = text[i++] == L'-';
    std::string mantissa;
    long long intDigits = 0;
    bool any = false;
    for (; i < end && text[i] >= L'0' && text[i] <= L'9'; ++i, any = true, ++intDigits) {
        mantissa += static_cast<char>(text[i]);
    }
    if (i < end && text[i] == L'.') {
        for (++i; i < end && text[i] >= L'0' && text[i] <= L'9'; ++i, any = true) {
            mantissa += static_cast<char>(text[i]);
        }
    }
    if (!any) return std::nullopt;
    long long exponent = 0;
    if (i < end && (text[i] == L'e' || text[i] == L'E')) {
        size_t j = i + 1;
        bool expNegative = false;
        if (j < end && (text[j] == L'-' || text[j] == L'+')) expNegative = text[j++] == L'-';
        for (; j < end && text[j] >= L'0' && text[j] <= L'9'; ++j) {
            if (exponent < 1000000000) exponent = exponent * 10 + (text[j] - L'0');
        }
        if (expNegative) exponent = -exponent;
    }
    size_t lead = 0;
    while (lead < mantissa.size() && mantissa[lead] == '0') ++lead;
    d.digits = mantissa.substr(lead);
    d.pointAt = intDigits - static_cast<long long>(lead) + exponent;
    while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
    return d;
}

// The text's value rounded to a double and then to an integer, halves to even; nullopt outside the
// 16-bit range.
std::optional<int> ReferenceConvert(const std::wstring& text) {
    const auto found = FindNumber(text);
    if (!found || found->digits.empty()) return 0;
    const Decimal& d = *found;
    if (d.pointAt > 6) return std::nullopt;  // at least 1,000,000
    if (d.pointAt < -1) return 0;            // below 0.01
    // Integer part and decimal fraction.
    long long whole = 0;
    std::string fraction;
    for (long long k = 0; k < d.pointAt; ++k) {
        whole = whole * 10 +
                (k < static_cast<long long>(d.digits.size()) ? d.digits[static_cast<size_t>(k)] - '0' : 0);
    }
    if (d.pointAt < static_cast<long long>(d.digits.size())) {
        fraction = std::string(d.pointAt < 0 ? static_cast<size_t>(-d.pointAt) : 0, '0') +
                   d.digits.substr(d.pointAt > 0 ? static_cast<size_t>(d.pointAt) : 0);
    }
    // The first 66 bits of the fraction, and whether anything follows them.
    constexpr int kBits = 66;
    bool bits[kBits] = {};
    for (int b = 0; b < kBits; ++b) {
        int carry = 0;
        for (size_t k = fraction.size(); k-- > 0;) {
            const int v = (fraction[k] - '0') * 2 + carry;
            fraction[k] = static_cast<char>('0' + v % 10);
            carry = v / 10;
        }
        bits[b] = carry != 0;
    }
    bool sticky = fraction.find_first_not_of('0') != std::string::npos;
    // A double keeps 53 significant bits: the whole part's bits, then fraction bits.
    int top = -1;  // exponent of the leading bit
    for (long long w = whole; w > 0; w >>= 1) ++top;
    if (whole == 0) {
        int first = 0;
        while (first < kBits && !bits[first]) ++first;
        if (first >= 2) return 0;  // below 0.25: the double is too, and rounds to 0
        top = -(first + 1);
    }
    const int keep = 52 - top;  // fraction bits a double holds at this magnitude (at most 54)
    for (int b = keep + 1; b < kBits; ++b) sticky = sticky || bits[b];
    bool roundUp = bits[keep] && (sticky || bits[keep - 1]);
    // The double's fraction: bits[0 .. keep-1], plus one unit in the last place when rounding up.
    for (int b = keep; b < kBits; ++b) bits[b] = false;
    for (int b = keep - 1; roundUp && b >= 0; --b) {
        bits[b] = !bits[b];
        roundUp = !bits[b];  // carry on while a 1 became 0
    }
    if (roundUp) ++whole;
    // Halves to even on the double.
    bool rest = false;
    for (int b = 1; b < kBits; ++b) rest = rest || bits[b];
    if (bits[0] && (rest || (whole & 1))) ++whole;
    const long long value = d.negative ? -whole : whole;
    if (value < -32768 || value > 32767) return std::nullopt;
    return static_cast<int>(value);
}

std::wstring RandomDigits(testsupport::FuzzRandom& r, size_t count) {
    std::wstring s;
    for (size_t i = 0; i < count; ++i) s += static_cast<wchar_t>(L'0' + r.Below(10));
    return s;
}

// Pieces that random entries are made of.
std::wstring RandomPiece(testsupport::FuzzRandom& r) {
    static const wchar_t* const kPieces[] = {
        L" ",
        L"  ",
        L"\t",
        L"-",
        L"+",
        L".",
        L"e",
        L"E",
        L"e-",
        L"e+",
        L"0",
        L"5",
        L"9",
        L"32767",
        L"32768",
        L"-32768",
        L".5",
        L"2.5",
        L"3.5",
        L"0.5",
        L"1e4",
        L"3.2767e4",
        L"x",
        L",",
        L"\xFF11\xFF12",  // full-width
        L"\x0661\x0662",  // Arabic-Indic digits
        L"\x096A",        // a Devanagari digit
        L"\x00B2",        // superscript two
        L"\xFF0E",
        L"\xFF0D",
        L"\x2212",  // full-width point and minus, the minus sign
        L"\x00A0",
        L"\x3000",  // no-break and ideographic spaces
    };
    switch (r.Below(12)) {
        case 0: return RandomDigits(r, 400);
        case 1: return std::wstring(400, L'0');
        case 2: return std::wstring(1, L'\0');  // an embedded zero
        case 3: return RandomDigits(r, 1 + r.Below(8));
        case 4:
            // Close to a half, beyond a double's precision.
            return L"." + std::wstring(1, r.OneIn(2) ? L'5' : L'4') +
                   std::wstring(r.Below(30), r.OneIn(2) ? L'0' : L'9') + (r.OneIn(2) ? L"1" : L"");
        default: return r.Pick(kPieces);
    }
}

}  // namespace

TEST(EntryFuzz, ReferenceAgreesOnItsOwnCases) {
    // The reference itself, on cases whose answers are known.
    EXPECT_EQ(2, ReferenceConvert(L"2.5"));
    EXPECT_EQ(4, ReferenceConvert(L" 3.5 "));
    EXPECT_EQ(-2, ReferenceConvert(L"-2.5"));
    EXPECT_EQ(1, ReferenceConvert(L"0.5000000000000001"));
    EXPECT_EQ(0, ReferenceConvert(L"0.50000000000000000001"));  // the double is 0.5
    EXPECT_EQ(std::nullopt, ReferenceConvert(L"32767.5"));
    EXPECT_EQ(-32768, ReferenceConvert(L"-32768.5"));
    EXPECT_EQ(std::nullopt, ReferenceConvert(L"32767.49999999999999999"));  // the double is 32767.5
    EXPECT_EQ(32767, ReferenceConvert(L"32767.4999999"));
    EXPECT_EQ(1000, ReferenceConvert(L"1e3x"));
    EXPECT_EQ(12, ReferenceConvert(L"12e"));
    EXPECT_EQ(0, ReferenceConvert(L"\xFF11\xFF12"));
    EXPECT_EQ(0, ReferenceConvert(L"1e-999999999999"));
    EXPECT_EQ(std::nullopt, ReferenceConvert(L"1e999999999999"));
    EXPECT_EQ(0, ReferenceConvert(L"0e999999999999"));
}

TEST(EntryFuzz, ConversionMatchesTheReferenceOnRandomText) {
    testsupport::FuzzRun run(3, "ENTRIES", 100000);
    uint64_t converted = 0, overflowed = 0;
    for (uint64_t n = 0; run.More(n); ++n) {
        std::wstring text;
        const UINT pieces = run.random.Below(7);
        for (UINT p = 0; p < pieces; ++p) text += RandomPiece(run.random);
        const auto expected = ReferenceConvert(text);
        SHORT value = 0x5A5A;
        const HRESULT hr = mirelo::ConvertEntry(text, &value);
        const bool ok =
            expected ? hr == S_OK && value == *expected : hr == DISP_E_OVERFLOW && value == 0x5A5A;
        (expected ? converted : overflowed)++;
        if (!ok) {
            run.Failed();
            ADD_FAILURE() << "entry \"" << base::PrintableAscii(text).substr(0, 120) << "\" (" << text.size()
                          << " characters): hr 0x" << std::hex << hr << std::dec << " value " << value
                          << ", expected "
                          << (expected ? std::to_string(*expected) : std::string("overflow"));
        }
    }
    run.Summary("Entry conversion", "entries", {{"converted", converted}, {"overflowed", overflowed}});
    EXPECT_GT(overflowed, run.count / 50);
    EXPECT_GT(converted, run.count / 2);
}
