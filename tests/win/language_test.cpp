// English beside Japanese: the system menu's item switches every text at once, each English
// text (and every text of the About box) fits its control, and Japanese comes back as it was,
// the settings file too.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <string>
#include <vector>

#include "app/live_effect.h"
#include "app/about_box.h"
#include "app/app_state.h"
#include "app/texts.h"
#include "audio/stream_state.h"
#include "app/plugin_commands.h"
#include "settings/settings_store.h"
#include "tests/win/win_fixture.h"

namespace {

using Languages = WinTest;

// What the user sees change; every other text stays as it is.
// clang-format off
const std::map<std::wstring, std::wstring> ENGLISH = {
    {L"音程", L"Pitch"}, {L"音量", L"Vol."}, {L"自動接続", L"Auto-connect"}, {L"VST読込(&R)", L"Load &VST"},
    {L"VST開放", L"Unload VST"}, {L"VST設定(&C)", L"VST &Editor"},
    {L"このソフトについて", L"About this program"}, {L"プログラム名", L"Program"}, {L"リビジョン", L"Version"},
    {L"作者", L"Authors"}, {L"Kawauso04 開発チーム", L"The Kawauso04 team"},
    {L"元になったソフトたち", L"Made with"}, {L"Windows 版ビルド", L"Windows builds"},
    {L"ビルド構成", L"Build set-up"}, {L"単体テスト", L"Unit tests"},
    {L"Linux 上の実機テスト", L"Real tests on Linux"},
    {L"再起動 0 回 / 途切れ 0 回", L"Restarts: 0 / breaks: 0"}, {L"VST再起動 0 回", L"VST restarts: 0"},
    {L"VST遅れ 0 回", L"VST late blocks: 0"}};
// clang-format on

// Every control's text, in the window's order. With measure, each English text of the table
// (with every, each text) must fit its control in the font the system gives the dialog (under
// Wine a substitute for "MS Shell Dlg" that runs wider than Windows' own), drawn as the control
// draws it, beside a check box's mark or inside a button's or a frame's border.
std::vector<std::wstring> WindowTexts(HWND window, bool measure = false, bool every = false) {
    std::vector<std::wstring> texts;
    for (HWND item = GetWindow(window, GW_CHILD); item; item = GetWindow(item, GW_HWNDNEXT)) {
        wchar_t text[256] = L"", kind[16] = L"";
        SendMessageW(item, WM_GETTEXT, 256, LPARAM(text));
        texts.push_back(text);
        if (!measure || (!every && std::none_of(ENGLISH.begin(), ENGLISH.end(),
                                                [&](auto& e) { return e.second == text; }))) {
            continue;
        }
        RECT room, drawn = {};
        GetClientRect(item, &room);
        HDC dc = GetDC(item);
        HGDIOBJ old = SelectObject(dc, HGDIOBJ(SendMessageW(item, WM_GETFONT, 0, 0)));
        DrawTextW(dc, text, -1, &drawn, DT_CALCRECT | DT_SINGLELINE);
        SelectObject(dc, old);
        ReleaseDC(item, dc);
        GetClassNameW(item, kind, 16);
        const LONG type = GetWindowLongW(item, GWL_STYLE) & BS_TYPEMASK;
        const int inset = lstrcmpiW(kind, L"Button") != 0 ? 0
                          : type == BS_GROUPBOX           ? 16
                          : type == BS_AUTOCHECKBOX       ? GetSystemMetrics(SM_CXMENUCHECK) + 2
                                                          : 6;
        EXPECT_LE(drawn.right, room.right - inset) << "cut: " << std::wstring(text);
    }
    return texts;
}

void ExpectSwitched(const std::vector<std::wstring>& japanese,
                    const std::vector<std::wstring>& shown, bool english) {
    ASSERT_EQ(shown.size(), japanese.size());
    for (size_t i = 0; i < shown.size(); ++i) {
        const auto found = ENGLISH.find(japanese[i]);
        EXPECT_EQ(shown[i], english && found != ENGLISH.end() ? found->second : japanese[i]);
    }
}

TEST_F(Languages, TheSystemMenusItemSwitchesEveryTextAndTheFileKeepsOnlyEnglish) {
    struct JapaneseAfter {
        ~JapaneseAfter() { ShowLanguage(Language::Japanese); }
    } japaneseAfter; // for the tests that follow, whatever happens here
    WriteSettings(L"[Settings00]\r\nVolume=12\r\n");
    streamCounters.restarts = streamCounters.captureGaps = streamCounters.underruns =
        streamCounters.overruns = 0;
    ResetLiveEffect();
    OpenDialog();
    HWND about =
        CreateDialogParamW(appInstance, MAKEINTRESOURCEW(IDD_ABOUT), dialog, AboutDialogProc, 0);
    const std::vector<std::wstring> japanese = WindowTexts(dialog),
                                    aboutJapanese = WindowTexts(about, true, true);
    DestroyWindow(about);

    const std::wstring LANGUAGE = L"[Kawauso04]\r\nLanguage=en\r\n";
    std::wstring withEnglish;
    for (bool english : {true, false}) {
        SendMessageW(dialog, WM_SYSCOMMAND, ID_ENGLISH, 0);
        if (english) { // as the next start shows it
            CloseDialog();
            OpenDialog();
        }
        HMENU system = GetSystemMenu(dialog, FALSE);
        EXPECT_EQ(GetMenuState(system, ID_ENGLISH, MF_BYCOMMAND) & MF_CHECKED,
                  english ? UINT(MF_CHECKED) : 0u);
        ExpectSwitched(japanese, WindowTexts(dialog, english), english);
        std::wstring items;
        // The tray's and the system menu's own.
        for (UINT id : {UINT(ID_EXIT), UINT(ID_MUTE), UINT(ID_BYPASS), UINT(ID_SLOT_FIRST + 3),
                        UINT(ID_ISOLATE), UINT(ID_RUN_AT_LOGON), UINT(ID_ENGLISH)}) {
            wchar_t item[32] = L"";
            GetMenuStringW(id >= ID_EXIT ? trayPopup : system, id, item, 32, MF_BYCOMMAND);
            items = items + item + L"|";
        }
        EXPECT_EQ(items, english ? L"Exit|Mute|Bypass effects|Slot 3|Run VST in its own "
                                   L"process|Start with Windows|English|"
                                 : L"EXIT|ミュート|エフェクトをバイパス|スロット 3|"
                                   L"VSTを別プロセスで実行|Windowsの起動時に開始|English|");
        about = CreateDialogParamW(appInstance, MAKEINTRESOURCEW(IDD_ABOUT), dialog,
                                   AboutDialogProc, 0);
        ExpectSwitched(aboutJapanese, WindowTexts(about, true, true), english);
        if (english) {
            withEnglish = ReadSettings();
            EXPECT_EQ(withEnglish.find(LANGUAGE), withEnglish.size() - LANGUAGE.size());
        }
        DestroyWindow(about);
    }
    EXPECT_EQ(ReadSettings() + LANGUAGE, withEnglish) << "Japanese takes out what English added";

    // A text set later follows the language too, and switches back: the plug-in button's.
    SendMessageW(dialog, WM_SYSCOMMAND, ID_ENGLISH, 0);
    ChooseVariant("copy_through");
    LoadPluginCommand(dialog);
    WindowTexts(dialog, true);
    EXPECT_EQ(Text(IDC_VST_LOAD), L"Unload VST");
    SendMessageW(dialog, WM_SYSCOMMAND, ID_ENGLISH, 0);
    EXPECT_EQ(Text(IDC_VST_LOAD), L"VST開放");
}

// The guide wraps long quotes onto indented lines: whitespace is no part of a match.
std::string WithoutSpaces(const std::wstring& text) {
    std::string utf8(text.size() * 4, '\0');
    utf8.resize(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), &utf8[0],
                                    int(utf8.size()), nullptr, nullptr));
    utf8.erase(std::remove_if(utf8.begin(), utf8.end(),
                              [](char c) { return std::isspace(static_cast<unsigned char>(c)); }),
               utf8.end());
    return utf8;
}

// The one message that differs between the builds, as the other bitness's build shows it: the
// same, with the other bitness's number, so the guide must quote both.
std::wstring InOtherBuild(TextId id, std::wstring text) {
    for (size_t at = 0; id == TEXT_OTHER_BITNESS_HOST &&
                        (at = text.find_first_of(L"36", at)) != std::wstring::npos;
         at += 2) {
        if (text.compare(at, 2, L"32") == 0 || text.compare(at, 2, L"64") == 0) {
            text.replace(at, 2, text[at] == L'3' ? L"64" : L"32");
        }
    }
    return text;
}

// The guide is where a user looks up a box: every message of the table, in each language and
// as either build shows it, is quoted there.
TEST_F(Languages, TheUserGuideQuotesEveryBoxAndBalloon) {
    const std::string text = SourceFile("docs/README-user.txt");
    std::wstring wide(text.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_UTF8, 0, text.c_str(), int(text.size()), &wide[0],
                                    int(wide.size())));
    const std::string guide = WithoutSpaces(wide);
    ASSERT_FALSE(guide.empty());
    int messages = 0;
    for (int id = 0; id < TEXT_COUNT; ++id) {
        messages += IsMessageText(TextId(id));
        for (Language language : {Language::Japanese, Language::English}) {
            const std::wstring shown =
                IsMessageText(TextId(id)) ? TextIn(TextId(id), language) : L"";
            for (const std::wstring& build : {shown, InOtherBuild(TextId(id), shown)}) {
                EXPECT_NE(guide.find(WithoutSpaces(build)), std::string::npos)
                    << "not in the guide: " << WithoutSpaces(build);
            }
        }
    }
    EXPECT_GE(messages, 17) << "the boxes and balloons are told from the table's other texts";
}

} // namespace
