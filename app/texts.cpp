#include "app/texts.h"

#include <cwchar>

namespace {

#if defined(_WIN64)
#define KAWAUSO_OTHER_BITS L"32"
#else
#define KAWAUSO_OTHER_BITS L"64"
#endif
#define KAWAUSO_OTHER_HOST L"kawauso-fxhost" KAWAUSO_OTHER_BITS L".exe"

struct Entry {
    TextId id;
    const wchar_t* japanese;
    const wchar_t* english;
};

// In the order of TextId. The English ones must fit the same controls, which keep their places
// and sizes, so some are short.
constexpr Entry TEXTS[] = {
    {TEXT_PITCH_LABEL, L"音程", L"Pitch"},
    {TEXT_VOLUME_LABEL, L"音量", L"Vol."},
    {TEXT_AUTO_CONNECT, L"自動接続", L"Auto-connect"},
    {TEXT_VST_LOAD_FIRST, L"VST読込(&R)", L"Load &VST"},
    {TEXT_VST_LOAD, L"VST読込", L"Load VST"},
    {TEXT_VST_RELEASE, L"VST開放", L"Unload VST"},
    {TEXT_VST_EDIT, L"VST設定(&C)", L"VST &Editor"},
    {TEXT_EXIT, L"EXIT", L"Exit"},
    {TEXT_OPEN_PLUGIN, L"VST プラグインを開く", L"Open a VST plug-in"},
    {TEXT_PLUGIN_FILTER, L"VST Plugins (*.dll)\0*.dll\0すべてのファイル (*.*)\0*.*\0",
     L"VST Plugins (*.dll)\0*.dll\0All files (*.*)\0*.*\0"},
    {TEXT_ISOLATE_ITEM, L"VSTを別プロセスで実行", L"Run VST in its own process"},
    {TEXT_ABOUT_GROUP, L"このソフトについて", L"About this program"},
    {TEXT_PROGRAM_NAME, L"プログラム名", L"Program"},
    {TEXT_REVISION, L"リビジョン", L"Version"},
    {TEXT_AUTHOR, L"作者", L"Authors"},
    {TEXT_TEAM, L"Kawauso04 開発チーム", L"The Kawauso04 team"},
    {TEXT_SOURCES_GROUP, L"元になったソフトたち", L"Made with"},
    {TEXT_WINDOWS_BUILD, L"Windows 版ビルド", L"Windows builds"},
    {TEXT_BUILD_SETUP, L"ビルド構成", L"Build set-up"},
    {TEXT_UNIT_TESTS, L"単体テスト", L"Unit tests"},
    {TEXT_REAL_TESTS, L"Linux 上の実機テスト", L"Real tests on Linux"},
    {TEXT_STREAM_COUNTERS, L"再起動 %u 回 / 途切れ %u 回", L"Restarts: %u / breaks: %u"},
    {TEXT_EFFECT_RESTARTS, L"VST再起動 %u 回", L"VST restarts: %u"},
    {TEXT_EFFECT_LATE, L"VST遅れ %u 回", L"VST late blocks: %u"},
    {TEXT_EFFECT_AHEAD, L"（1ブロック先行）", L" (one block ahead)"},
    {TEXT_BAD_ARGUMENTS, L"引数を理解できませんでした。",
     L"The command line was not understood. Kawauso04 takes -pN (start with settings set N, "
     L"0 to 7) and -t (start in the notification area); see \"Command-line options\" in "
     L"README.txt."},
    {TEXT_LOAD_FAILED, L"VSTプラグインのオープンに失敗しました。",
     L"The VST plug-in could not be opened: it is not a VST 2 effect for Windows, or what it "
     L"needs is missing."},
    // The Japanese box has never had this line, and keeps its one line.
    // clang-format off
    {TEXT_OTHER_BITNESS_HOST, L"",
     L"It is a " KAWAUSO_OTHER_BITS L"-bit effect, which runs in " KAWAUSO_OTHER_HOST
     L": that file must be beside Kawauso04.exe (see \"Which exe\" in README.txt)."},
    // clang-format on
    {TEXT_REFUSED_NOT_PE, L"Windows の DLL ではありません（PE ヘッダーがありません）。",
     L"It is not a Windows DLL (no PE header): choose the effect's .dll file."},
    {TEXT_REFUSED_MACHINE, L"x86 / x64 以外のプロセッサ用の DLL です。",
     L"It is built for a processor other than x86 and x64: use its x86 or x64 build."},
    {TEXT_REFUSED_UNREADABLE, L"ファイルを読めません。",
     L"The file cannot be read: check that it is there and not locked."},
    {TEXT_CUT_LOOSE, L"VSTプラグインで異常が発生したため切り離しました。",
     L"The VST plug-in failed and was taken out; the sound goes on without it. Load it again "
     L"with \"Load VST\", or choose another effect if it fails again."},
    {TEXT_CUT_LOOSE_HUNG, L"VSTプラグインが応答しないため切り離しました。",
     L"The VST plug-in stopped answering and was taken out; the sound goes on without it. "
     L"Load it again with \"Load VST\", or choose another effect if it hangs again."},
    {TEXT_ISOLATE_NEXT_TIME, L"次回からは別プロセスで実行します。",
     L"From its next load it runs in a process of its own, where a fault cannot take the "
     L"sound down (\"Run VST in its own process\" in the system menu, Alt+Space)."},
    {TEXT_EFFECT_RESTARTED, L"VSTプラグインを再起動しました。",
     L"The VST plug-in stopped and was started again with its last settings."},
    {TEXT_LOAD_SKIPPED,
     L"前回の起動時にVSTプラグインの読み込みが終わらなかったため、今回は読み込みませんでした。",
     L"The VST plug-in was not loaded: loading it stopped the program last time. Load it with "
     L"\"Load VST\" to try again, or choose another effect."},
    {TEXT_DEVICES_GONE, L"オーディオデバイスが応答しないため停止しました。",
     L"The sound stopped: the audio devices did not answer for 10 seconds. Check that they "
     L"are connected, then press Start (see \"When nothing is heard\" in README.txt)."},
    {TEXT_BAD_BUFFER_LENGTH, L"バッファ長は 10～10000 (ms) の数で指定してください。",
     L"Buff(ms) must be a number from 10 to 10000. Type one (50 suits most devices) and "
     L"press Start again."},
    {TEXT_MIXED_SYSTEMS,
     L"「WASAPI: 」のデバイスとそれ以外のデバイスは組み合わせられません。入力と出力をそろえて"
     L"ください。",
     L"A \"WASAPI: \" device cannot work with one that is not. Choose \"WASAPI: \" devices "
     L"under both In and Out, or under neither (see \"Every control\" in README.txt)."},
    {TEXT_DEVICE_NOT_OPENED,
     L"オーディオデバイスを開けませんでした。接続と、ほかのプログラムが使っていないかを確認"
     L"してください。",
     L"The audio devices did not open. Check that they are connected and that no other "
     L"program holds them, or choose others under In and Out (see \"When nothing is heard\" "
     L"in README.txt)."},
    {TEXT_START_WAITS_FOR_LOAD, L"VSTプラグインの読み込みが終わってから開始してください。",
     L"The VST plug-in is still loading. Press Start again once it has loaded."},
    {TEXT_CHAIN_DROPPED, L"エフェクトチェーンの次のVSTプラグインを開けなかったため外しました。",
     L"These VST plug-ins of the effect chain could not be opened and were left out of it; "
     L"the others play on. Check that their files are there, or choose other effects."},
    {TEXT_CHAIN_ITEM, L"エフェクトチェーン...", L"Effect chain..."},
    {TEXT_CHAIN_TITLE, L"エフェクトチェーン", L"Effect chain"},
    {TEXT_CHAIN_ADD, L"追加...", L"Add..."},
    {TEXT_CHAIN_REMOVE, L"削除", L"Remove"},
    {TEXT_CHAIN_UP, L"上へ", L"Up"},
    {TEXT_CHAIN_DOWN, L"下へ", L"Down"},
    {TEXT_CHAIN_BYPASS, L"バイパス", L"Bypass"},
    {TEXT_CHAIN_EDITOR, L"エディタ", L"Editor"},
    {TEXT_CHAIN_OWN_PROCESS, L"別プロセスで実行", L"Own process"},
    {TEXT_CHAIN_ROW_OWN_PROCESS, L"別プロセス", L"own process"},
    {TEXT_CHAIN_ROW_BYPASSED, L"バイパス中", L"bypassed"},
    {TEXT_CHAIN_ROW_OUT, L"停止中", L"out"},
    {TEXT_CHAIN_COUNTERS, L"%d. %ls: 異常 %u 回 / 遅れ %u 回", L"%d. %ls: faults %u / late %u"},
    {TEXT_SLOT_ITEM, L"スロット", L"Slot"},
    {TEXT_MUTE_ITEM, L"ミュート", L"Mute"},
    {TEXT_BYPASS_ITEM, L"エフェクトをバイパス", L"Bypass effects"},
    {TEXT_MUTED_STATE, L"ミュート中", L"muted"},
    {TEXT_BYPASSED_STATE, L"エフェクトをバイパス中", L"effects bypassed"},
    {TEXT_RUN_AT_LOGON_ITEM, L"Windowsの起動時に開始", L"Start with Windows"},
    {TEXT_HOTKEYS_ITEM, L"ホットキー...", L"Hotkeys..."},
    {TEXT_HOTKEYS_TITLE, L"ホットキー", L"Hotkeys"},
    {TEXT_START_STOP_ROW, L"開始/停止", L"Start/Stop"},
    {TEXT_HOTKEY_IN_USE, L"ほかで使用中", L"in use elsewhere"},
    {TEXT_HOTKEYS_REFUSED,
     L"次のホットキーはほかのプログラムが使っているため登録できませんでした。",
     L"These hotkeys are held by another program and do nothing here; choose others under "
     L"\"Hotkeys...\" in the system menu (Alt+Space):"},
    {TEXT_CANCEL, L"キャンセル", L"Cancel"},
    {TEXT_MONITOR_TITLE, L"モニター", L"Monitor"},
    {TEXT_MONITOR_LEVEL, L"%ls %ls: ピーク %ls / RMS %ls dBFS（保持 %ls）%ls",
     L"%ls %ls: peak %ls / RMS %ls dBFS (held %ls)%ls"},
    {TEXT_MONITOR_INPUT, L"入力", L"In"},
    {TEXT_MONITOR_OUTPUT, L"出力", L"Out"},
    {TEXT_MONITOR_LEFT, L"左", L"L"},
    {TEXT_MONITOR_RIGHT, L"右", L"R"},
    {TEXT_MONITOR_CLIP, L"  クリップ", L"  clip"},
    {TEXT_MONITOR_DELAY, L"このプログラムの遅延: %.1f ms（入力 %.1f + キューと出力 %.1f）",
     L"This program's delay: %.1f ms (capture %.1f + queue and playback %.1f)"},
    {TEXT_MONITOR_DRIFT, L"クロックのずれ %+.1f / 補正 %+.1f ppm、出力待ち %.1f ms（目標 %.1f）",
     L"Clock drift %+.1f / correction %+.1f ppm, queue %.1f ms (target %.1f)"},
    {TEXT_MONITOR_EFFECT, L"%d. %ls: 平均 %.0f %% / 最大 %.0f %% / 遅れ %u 回",
     L"%d. %ls: %.0f %% on average / %.0f %% at most / late %u"},
};

constexpr bool InIdOrder() {
    for (int i = 0; i < TEXT_COUNT; ++i) {
        if (TEXTS[i].id != i) {
            return false;
        }
    }
    return true;
}
static_assert(sizeof TEXTS / sizeof TEXTS[0] == TEXT_COUNT && InIdOrder(),
              "one entry for every text id, in the order of the ids");

constexpr int SHOWN_TEXT_UNITS = 128; // longer than any control's text of the table
constexpr int CLASS_NAME_UNITS = 16;

Language shownLanguage = Language::Japanese;

const wchar_t* InShownLanguage(const Entry& entry) {
    return shownLanguage == Language::English ? entry.english : entry.japanese;
}

// The table's text, in the language shown, for a text shown in either; null for any other.
const wchar_t* Counterpart(const wchar_t* shown) {
    for (const Entry& entry : TEXTS) {
        if (std::wcscmp(shown, entry.japanese) == 0 || std::wcscmp(shown, entry.english) == 0) {
            return InShownLanguage(entry);
        }
    }
    return nullptr;
}

bool IsLabel(HWND item) {
    wchar_t kind[CLASS_NAME_UNITS] = L"";
    GetClassNameW(item, kind, CLASS_NAME_UNITS);
    return lstrcmpiW(kind, L"Static") == 0 || lstrcmpiW(kind, L"Button") == 0;
}

} // namespace

const wchar_t* Text(TextId id) {
    return TextIn(id, shownLanguage);
}

const wchar_t* TextIn(TextId id, Language language) {
    if (id < 0 || id >= TEXT_COUNT) {
        return L"";
    }
    return language == Language::English ? TEXTS[id].english : TEXTS[id].japanese;
}

bool IsMessageText(TextId id) {
    return (id >= TEXT_BAD_ARGUMENTS && id <= TEXT_CHAIN_DROPPED) || id == TEXT_HOTKEYS_REFUSED;
}

Language ShownLanguage() {
    return shownLanguage;
}

void ShowLanguage(Language language) {
    shownLanguage = language;
}

void TranslateControls(HWND window) {
    for (HWND item = GetWindow(window, GW_CHILD); item != nullptr;
         item = GetWindow(item, GW_HWNDNEXT)) {
        if (!IsLabel(item)) {
            continue; // lists and edit boxes hold the user's texts, whatever they read
        }
        wchar_t shown[SHOWN_TEXT_UNITS] = L"";
        GetWindowTextW(item, shown, SHOWN_TEXT_UNITS);
        const wchar_t* text = Counterpart(shown);
        if (text != nullptr && std::wcscmp(text, shown) != 0) {
            SetWindowTextW(item, text);
        }
    }
}

void TranslateMenu(HMENU menu) {
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        wchar_t shown[SHOWN_TEXT_UNITS] = L"";
        MENUITEMINFOW item = {};
        item.cbSize = sizeof item;
        item.fMask = MIIM_STRING;
        item.dwTypeData = shown;
        item.cch = SHOWN_TEXT_UNITS;
        if (!GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &item)) {
            continue; // a separator has no text
        }
        const wchar_t* text = Counterpart(shown);
        if (text != nullptr && std::wcscmp(text, shown) != 0) {
            item.dwTypeData = const_cast<wchar_t*>(text);
            SetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &item);
        }
    }
}
