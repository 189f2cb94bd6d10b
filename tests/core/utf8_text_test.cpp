// UTF-8 arguments to wide paths, as the renderer hands a plug-in path to the host.
#include <string>

#include <gtest/gtest.h>

#include "tools/kawauso-render/utf8_text.h"

namespace {

std::wstring CodePoints(std::initializer_list<uint32_t> points) {
    std::wstring out;
    for (uint32_t c : points) {
        if (sizeof(wchar_t) == 2 && c > 0xFFFF) {
            out += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<wchar_t>(c);
        }
    }
    return out;
}

TEST(Utf8Text, DecodesEveryLength) {
    EXPECT_EQ(WideFromUtf8(""), L"");
    EXPECT_EQ(WideFromUtf8("plug.dll"), L"plug.dll");
    EXPECT_EQ(WideFromUtf8("\xC3\xA9"), CodePoints({0xE9}));
    EXPECT_EQ(WideFromUtf8("\xE3\x83\x97\xE3\x83\xA9\xE3\x82\xB0"), CodePoints({0x30D7, 0x30E9, 0x30B0}));
    EXPECT_EQ(WideFromUtf8("a\xF0\x9F\x8E\xB5z"), CodePoints({'a', 0x1F3B5, 'z'}));
    EXPECT_EQ(WideFromUtf8("\xF4\x8F\xBF\xBF"), CodePoints({0x10FFFF}));
}

TEST(Utf8Text, MalformedBytesBecomeReplacementCharacters) {
    EXPECT_EQ(WideFromUtf8("a\x80z"), CodePoints({'a', 0xFFFD, 'z'}));
    EXPECT_EQ(WideFromUtf8("\xC0\xAF"), CodePoints({0xFFFD}));            // overlong '/'
    EXPECT_EQ(WideFromUtf8("\xED\xA0\x80"), CodePoints({0xFFFD}));        // a surrogate
    EXPECT_EQ(WideFromUtf8("\xF4\x90\x80\x80"), CodePoints({0xFFFD}));    // above U+10FFFF
    EXPECT_EQ(WideFromUtf8("\xE3\x83"), CodePoints({0xFFFD}));            // cut short at the end
    EXPECT_EQ(WideFromUtf8("\xE3\x83z"), CodePoints({0xFFFD, 'z'}));      // cut short mid-text
    EXPECT_EQ(WideFromUtf8("\xFF\xFE"), CodePoints({0xFFFD, 0xFFFD}));
}

}  // namespace
