// The command line, parsed on a heap copy of exactly the text's size, so that the sanitizers
// see any step past its terminator.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>

#include "settings/command_line.h"
#include "settings/hotkey_text.h"
#include "settings/ini_path.h"
#include "settings/number_text.h"
#include "settings/settings_store.h"

namespace {

int messages = 0;

// Parses like program entry; returns the text as the parse left it.
std::wstring Parse(const std::wstring& text) {
    std::unique_ptr<wchar_t[]> copy(new wchar_t[text.size() + 1]);
    copy[text.copy(copy.get(), text.size())] = L'\0';
    ResetSettingsStore();
    startInTray = false;
    messages = 0;
    SetCommandLineMessageHandler([] { ++messages; });
    ParseCommandLine(copy.get());
    return std::wstring(copy.get(), text.size());
}

// Options in either case and with either prefix, the rest of a token ignored; later options
// win; a slot out of range shows the message, selects 0 and parsing goes on; any other fault
// shows it once and ends the parse, keeping what was set; only single spaces separate, a tab
// belongs to its token; the slot number as wcstol reads it (ASCII white space and digits),
// saturated. A space that ends a token becomes the terminator, nothing else changes.
TEST(SettingsTextTest, TheCommandLineSetsTheSlotAndTheTrayAndShowsTheMessage) {
    // clang-format off
    struct Case { std::wstring text; int32_t slot; bool tray; int messages; };
    const Case cases[] = {
        {L"", 0, 0, 0}, {L"-t -p3", 3, 1, 0}, {L"/P7 /T", 7, 1, 0}, {L"-p3x", 3, 0, 0}, {L"-tp3", 0, 1, 0},
        {L"-t ", 0, 1, 0}, {L"-p6 -p", 0, 0, 0}, {L"-p9 -p5", 5, 0, 1}, {L"-p3 -p8 -p-9 -t", 0, 1, 2},
        {L"-t -x -p3", 0, 1, 1}, {L"-p4 word -t", 4, 0, 1}, {L"-", 0, 0, 1}, {L"/", 0, 0, 1},
        {L"- -t", 0, 0, 1}, {L"\u2014t", 0, 0, 1}, {L"-p 3", 0, 0, 1}, {L"-t  -p3", 0, 1, 1},
        {L"-t\t-p3", 0, 1, 0}, {L"-p\t\u00A05", 0, 0, 0}, {L"-p4294967303", 0, 0, 1}, {L"-p-2147483649", 0, 0, 1},
        {L"-p" + std::wstring(9999, L'0') + L"7", 7, 0, 0}};
    // clang-format on
    for (const Case& c : cases) {
        Parse(c.text);
        EXPECT_EQ(std::make_tuple(currentSlotIndex, startInTray, messages),
                  std::make_tuple(c.slot, c.tray, c.messages))
            << std::string(c.text.begin(), c.text.end());
    }
    ParseCommandLine(nullptr);
    EXPECT_EQ(Parse(L"-p3x -t "), std::wstring(L"-p3x\0-t\0", 8));
    EXPECT_EQ(Parse(L"-t\t-p3 -x a b"), std::wstring(L"-t\t-p3\0-x\0a b", 13));
    EXPECT_EQ(Parse(L"-t  -p3 x"), std::wstring(L"-t\0 -p3 x", 9));
}

// KaWUmi.ini beside the executable, whatever leads its path; nothing when it does not fit.
TEST(SettingsTextTest, TheSettingsFileIsNamedBesideTheExecutable) {
    const std::wstring dir = L"C:\\" + std::wstring(250, L'd') + L"\\";
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"C:\\音声\\k.exe", L"C:\\音声\\KaWUmi.ini"},
        {L"D:/a.b/k", L"D:/a.b/KaWUmi.ini"},
        {L"\\\\server\\share\\k.exe", L"\\\\server\\share\\KaWUmi.ini"},
        {L"C:k.exe", L"C:KaWUmi.ini"},
        {L"k.exe", L"KaWUmi.ini"},
        {dir + L"k.exe", dir + L"KaWUmi.ini"}};
    for (const auto& c : cases) {
        wchar_t out[INI_PATH_UNITS] = L"#";
        EXPECT_TRUE(IniPathFromModulePath(c.first.c_str(), out, INI_PATH_UNITS));
        EXPECT_EQ(out, c.second);
    }
    wchar_t small[10 + 4] = L"#"; // "C:\\" and "KaWUmi.ini" need one more for the terminator
    for (const wchar_t* path : {L"C:\\k.exe", static_cast<const wchar_t*>(nullptr)}) {
        const bool named = IniPathFromModulePath(path, small, path ? 13 : 14);
        EXPECT_EQ(std::make_pair(named, small[0]), std::make_pair(false, L'\0'));
    }
    wchar_t text[DECIMAL_TEXT_UNITS];
    for (int32_t value : {0, 7, -1, INT32_MAX, INT32_MIN}) {
        FormatDecimal(value, text);
        EXPECT_EQ(text, std::to_wstring(value));
        EXPECT_EQ(ParseDecimal(text), value);
    }
    EXPECT_EQ(std::make_pair(ParseDecimal(L"+15"), ParseDecimal(nullptr)), std::make_pair(15, 0));
}

// A hotkey's text: what the file keeps reads back as the same combination, modifiers in any
// order and case; anything else is no hotkey, never a guess.
TEST(SettingsTextTest, AHotkeyReadsAsItIsWrittenAndAnythingElseIsNone) {
    const std::pair<const wchar_t*, const wchar_t*> kept[] = {
        {L"Ctrl+Alt+M", L"Ctrl+Alt+M"},   {L"shift+ctrl+f9", L"Ctrl+Shift+F9"},
        {L"Alt+NumPad3", L"Alt+NumPad3"}, {L"F24", L"F24"},
        {L"Ctrl+7", L"Ctrl+7"},           {L"Alt+Shift+VK_ba", L"Alt+Shift+VK_BA"},
    };
    for (const auto& [text, shown] : kept) {
        Hotkey read;
        EXPECT_TRUE(ParseHotkey(text, read)) << text;
        EXPECT_EQ(HotkeyText(read), shown) << text;
    }
    for (const wchar_t* text : {L"", L"Ctrl+", L"Ctrl+Ctrl+M", L"Hyper+M", L"M+Ctrl", L"Ctrl+Alt",
                                L"F25", L"Ctrl++", L"VK_41", L"Ctrl+M "}) {
        Hotkey read{0x41, HOTKEY_ALT};
        EXPECT_EQ((std::make_tuple(ParseHotkey(text, read), read.key, read.modifiers)),
                  (std::make_tuple(false, uint8_t(0), uint8_t(0))))
            << std::wstring(text);
    }
    EXPECT_EQ((std::make_tuple(HotkeyText(Hotkey{}), HotkeyKeyName(HOTKEY_SLOT_FIRST + 7),
                               HotkeyKeyName(HOTKEY_START_STOP), HotkeyKeyName(HOTKEY_BYPASS))),
              (std::make_tuple(std::wstring(), std::wstring(L"HotkeySlot7"),
                               std::wstring(L"HotkeyStartStop"), std::wstring(L"HotkeyBypass"))));
}

} // namespace
