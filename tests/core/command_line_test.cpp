#include <cstdint>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "settings/command_line.h"
#include "settings/settings_store.h"

namespace {

int messageCount = 0;

void CountMessage() { ++messageCount; }

class CommandLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSettingsStore();
        startInTray = false;
        messageCount = 0;
        SetCommandLineMessageHandler(CountMessage);
    }
    void TearDown() override {
        SetCommandLineMessageHandler(nullptr);
        ResetSettingsStore();
        startInTray = false;
    }

    // Parses a copy of text held in a heap block of exactly its size, so any read or write
    // past the terminator is caught, and returns the text as the parse left it.
    std::wstring Parse(const std::wstring& text) {
        std::unique_ptr<wchar_t[]> copy(new wchar_t[text.size() + 1]);
        text.copy(copy.get(), text.size());
        copy[text.size()] = L'\0';
        ParseCommandLine(copy.get());
        return std::wstring(copy.get(), text.size());
    }

    void ExpectOutcome(const std::wstring& text, int32_t slot, bool tray, int messages) {
        SetUp();
        Parse(text);
        EXPECT_EQ(currentSlotIndex, slot) << "slot for \"" << Narrow(text) << "\"";
        EXPECT_EQ(startInTray, tray) << "tray for \"" << Narrow(text) << "\"";
        EXPECT_EQ(messageCount, messages) << "messages for \"" << Narrow(text) << "\"";
    }

    static std::string Narrow(const std::wstring& text) {
        std::string out;
        for (wchar_t c : text.substr(0, 40)) {
            out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
        }
        return out;
    }
};

TEST_F(CommandLineTest, NoTextOrEmptyTextSetsNothing) {
    ParseCommandLine(nullptr);
    EXPECT_EQ(currentSlotIndex, 0);
    EXPECT_FALSE(startInTray);
    EXPECT_EQ(messageCount, 0);
    ExpectOutcome(L"", 0, false, 0);
}

TEST_F(CommandLineTest, OptionsSelectTheSlotAndTheTray) {
    ExpectOutcome(L"-t -p3", 3, true, 0);
    ExpectOutcome(L"/P7", 7, false, 0);
    ExpectOutcome(L"/p0", 0, false, 0);
    ExpectOutcome(L"-P5", 5, false, 0);
    ExpectOutcome(L"/T", 0, true, 0);
    ExpectOutcome(L"/t /p4", 4, true, 0);
    ExpectOutcome(L"-p07", 7, false, 0);
    ExpectOutcome(L"-p+6", 6, false, 0);
    ExpectOutcome(L"-t ", 0, true, 0);
    ExpectOutcome(L"-p3 ", 3, false, 0);
}

TEST_F(CommandLineTest, TheRestOfATokenAfterTheNumberOrTheTrayLetterIsIgnored) {
    ExpectOutcome(L"-p3x", 3, false, 0);
    ExpectOutcome(L"-p2.9", 2, false, 0);
    ExpectOutcome(L"-tp3", 0, true, 0);
    ExpectOutcome(L"-tray", 0, true, 0);
    // No digits: slot 0, silently.
    ExpectOutcome(L"-p", 0, false, 0);
    ExpectOutcome(L"-px", 0, false, 0);
    ExpectOutcome(L"-p-", 0, false, 0);
}

TEST_F(CommandLineTest, LaterSlotOptionsOverrideEarlierOnes) {
    ExpectOutcome(L"-p2 -p5", 5, false, 0);
    ExpectOutcome(L"-p6 -p", 0, false, 0);
    // An out-of-range number resets an earlier choice to slot 0.
    ExpectOutcome(L"-p5 -p9", 0, false, 1);
    ExpectOutcome(L"-p9 -p5", 5, false, 1);
}

TEST_F(CommandLineTest, AnOutOfRangeSlotShowsTheMessageAndParsingGoesOn) {
    ExpectOutcome(L"-p8 -t", 0, true, 1);
    ExpectOutcome(L"-p-1", 0, false, 1);
    ExpectOutcome(L"-p99999999999", 0, false, 1);
    ExpectOutcome(L"-p3 -p8 -p-9 -t", 0, true, 2);
    // A value that would wrap to a valid slot if it were not saturated: 2^32 + 7.
    ExpectOutcome(L"-p4294967303", 0, false, 1);
    ExpectOutcome(L"-p2147483648", 0, false, 1);
    ExpectOutcome(L"-p-2147483649", 0, false, 1);
}

TEST_F(CommandLineTest, AnyOtherFaultShowsTheMessageOnceAndEndsTheParse) {
    ExpectOutcome(L"-x", 0, false, 1);
    ExpectOutcome(L"-", 0, false, 1);
    ExpectOutcome(L"/", 0, false, 1);
    ExpectOutcome(L"word", 0, false, 1);
    ExpectOutcome(L"3", 0, false, 1);
    // Whatever was set before the fault stays; nothing after it is looked at.
    ExpectOutcome(L"-p4 word -t", 4, false, 1);
    ExpectOutcome(L"-t -x -p3", 0, true, 1);
    ExpectOutcome(L"-p3 -x -p5", 3, false, 1);
    ExpectOutcome(L"-x -p9 -p9", 0, false, 1);
    ExpectOutcome(L"-t -", 0, true, 1);
    ExpectOutcome(L"-t /", 0, true, 1);
    ExpectOutcome(L"- -t", 0, false, 1);
    // Letters are ASCII only.
    ExpectOutcome(L"-\uFF50" L"3", 0, false, 1);
    ExpectOutcome(L"\u2014t", 0, false, 1);
}

TEST_F(CommandLineTest, OnlySingleSpacesSeparateTokens) {
    // -p 3: the -p token has no digits, and "3" is not an option.
    ExpectOutcome(L"-p 3", 0, false, 1);
    // The second of two spaces begins an empty token, which is not an option.
    ExpectOutcome(L"-t  -p3", 0, true, 1);
    // A tab belongs to the token it is in.
    ExpectOutcome(L"-t\t-p3", 0, true, 0);
    ExpectOutcome(L"\t-t", 0, false, 1);
    ExpectOutcome(L" -t", 0, false, 1);
    // White space right after the letter is skipped by the number, as the standard
    // conversion does; a space cannot be there because it ends the token.
    ExpectOutcome(L"-p\t5", 5, false, 0);
    ExpectOutcome(L"-p\r\n2", 2, false, 0);
}

TEST_F(CommandLineTest, EachSpaceThatEndsATokenBecomesTheTerminator) {
    EXPECT_EQ(Parse(L"-t -p3"), std::wstring(L"-t\0-p3", 6));
    EXPECT_EQ(Parse(L"-p3x -t "), std::wstring(L"-p3x\0-t\0", 8));
    EXPECT_EQ(Parse(L"-t\t-p3 -t"), std::wstring(L"-t\t-p3\0-t", 9));
    // A token is ended before its letter is looked at; the rest after a fault is untouched.
    EXPECT_EQ(Parse(L"-x a b"), std::wstring(L"-x\0a b", 6));
    EXPECT_EQ(Parse(L"word a b"), L"word a b");
    EXPECT_EQ(Parse(L"-t  -p3 x"), std::wstring(L"-t\0 -p3 x", 9));
    EXPECT_EQ(Parse(L"- -t"), L"- -t");
}

TEST_F(CommandLineTest, HostileTextStaysInsideItsBuffer) {
    const size_t LINE = 100000;
    ExpectOutcome(std::wstring(LINE, L' '), 0, false, 1);
    ExpectOutcome(std::wstring(LINE, L'-'), 0, false, 1);
    ExpectOutcome(std::wstring(LINE, L'/'), 0, false, 1);
    ExpectOutcome(std::wstring(LINE, L'\t'), 0, false, 1);
    ExpectOutcome(L"-p" + std::wstring(LINE - 2, L'9'), 0, false, 1);
    ExpectOutcome(L"-p" + std::wstring(LINE - 3, L'0') + L"6", 6, false, 0);
    ExpectOutcome(L"-t" + std::wstring(LINE - 2, L'x'), 0, true, 0);
    ExpectOutcome(L"-t" + std::wstring(LINE - 2, L'\t'), 0, true, 0);

    std::wstring many;
    while (many.size() + 3 <= LINE) {
        many += L"-t ";
    }
    std::wstring after = Parse(many);
    EXPECT_TRUE(startInTray);
    EXPECT_EQ(messageCount, 0);
    for (size_t i = 2; i < after.size(); i += 3) {
        ASSERT_EQ(after[i], L'\0') << "at " << i;
    }

    std::wstring outOfRange;
    int tokens = 0;
    while (outOfRange.size() + 4 <= LINE) {
        outOfRange += L"-p9 ";
        ++tokens;
    }
    ExpectOutcome(outOfRange, 0, false, tokens);

    std::wstring alternating;
    while (alternating.size() + 8 <= LINE) {
        alternating += L"-p1 /P2 ";
    }
    ExpectOutcome(alternating, 2, false, 0);
}

}  // namespace
