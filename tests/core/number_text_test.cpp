#include <cstdint>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "settings/number_text.h"

namespace {

// The text in a heap block of exactly its size, so a read past the terminator is caught.
int32_t ParseExact(const std::wstring& text) {
    std::unique_ptr<wchar_t[]> copy(new wchar_t[text.size() + 1]);
    text.copy(copy.get(), text.size());
    copy[text.size()] = L'\0';
    return ParseDecimal(copy.get());
}

TEST(NumberTextTest, ReadsDecimalNumbersAsTheStandardConversionDoes) {
    struct Case {
        const wchar_t* text;
        int32_t expected;
    };
    const Case cases[] = {
        {L"", 0},
        {L"0", 0},
        {L"-0", 0},
        {L"7", 7},
        {L"+5", 5},
        {L"-1", -1},
        {L"12abc", 12},
        {L"abc", 0},
        {L"-", 0},
        {L"+", 0},
        {L"+-3", 0},
        {L"--3", 0},
        {L"- 3", 0},
        {L" \t\n\v\f\r42", 42},
        {L"   -17 99", -17},
        {L"0009", 9},
        {L"3.9", 3},
        {L"1e5", 1},
        {L"0x1F", 0},
        // Only ASCII digits and ASCII white space count, in every build.
        {L"\u00A05", 0},
        {L"\u30005", 0},
        {L"\uFF11\uFF12", 0},
    };
    int index = 0;
    for (const Case& c : cases) {
        EXPECT_EQ(ParseExact(c.text), c.expected) << "case " << index;
        ++index;
    }
}

TEST(NumberTextTest, SaturatesAtThe32BitLimits) {
    EXPECT_EQ(ParseExact(L"2147483647"), INT32_MAX);
    EXPECT_EQ(ParseExact(L"2147483648"), INT32_MAX);
    EXPECT_EQ(ParseExact(L"4294967296"), INT32_MAX);
    EXPECT_EQ(ParseExact(L"99999999999"), INT32_MAX);
    EXPECT_EQ(ParseExact(L"-2147483648"), INT32_MIN);
    EXPECT_EQ(ParseExact(L"-2147483649"), INT32_MIN);
    EXPECT_EQ(ParseExact(L"-99999999999x"), INT32_MIN);
    EXPECT_EQ(ParseExact(L"214748364"), 214748364);
    EXPECT_EQ(ParseExact(L"-214748364"), -214748364);
    // Leading zeros never count toward overflow.
    EXPECT_EQ(ParseExact(std::wstring(5000, L'0') + L"2147483647"), INT32_MAX);
    EXPECT_EQ(ParseExact(L"-" + std::wstring(5000, L'0') + L"12"), -12);
    // A hundred thousand digits: saturated, and nothing overflows on the way.
    EXPECT_EQ(ParseExact(std::wstring(100000, L'9')), INT32_MAX);
    EXPECT_EQ(ParseExact(L"-" + std::wstring(100000, L'9')), INT32_MIN);
}

TEST(NumberTextTest, NullTextReadsAsZero) { EXPECT_EQ(ParseDecimal(nullptr), 0); }

TEST(NumberTextTest, WritesEvery32BitValueAsSignedDecimal) {
    const int32_t samples[] = {0,        1,          -1,        9,         10,        -10,
                               99,       100,        -100,      -200,      200,       1234567,
                               -999999,  -1000000,   INT32_MAX, INT32_MIN, INT32_MAX - 1,
                               INT32_MIN + 1};
    for (int32_t v : samples) {
        wchar_t text[DECIMAL_TEXT_UNITS];
        FormatDecimal(v, text);
        EXPECT_EQ(std::wstring(text), std::to_wstring(v));
        EXPECT_EQ(ParseDecimal(text), v);
    }
    // A sweep over the whole range in odd steps, against the standard library's text.
    int64_t v = INT32_MIN;
    while (v <= INT32_MAX) {
        wchar_t text[DECIMAL_TEXT_UNITS];
        FormatDecimal(static_cast<int32_t>(v), text);
        ASSERT_EQ(std::wstring(text), std::to_wstring(v));
        ASSERT_EQ(ParseDecimal(text), v);
        v += 40009;
    }
}

TEST(NumberTextTest, TheLongestValueFillsTheTextExactly) {
    wchar_t text[DECIMAL_TEXT_UNITS];
    for (wchar_t& c : text) {
        c = L'#';
    }
    FormatDecimal(INT32_MIN, text);
    EXPECT_EQ(text[DECIMAL_TEXT_UNITS - 1], L'\0');
    EXPECT_EQ(std::wstring(text), L"-2147483648");
}

}  // namespace
