#include "app/language_menu.h"

#include "app/app_state.h"
#include "app/chain_window.h"
#include "app/hotkey_window.h"
#include "app/isolation_menu.h"
#include "app/monitor_window.h"
#include "app/live_switches.h"
#include "app/run_at_logon.h"
#include "app/texts.h"
#include "res/resource.h"
#include "settings/settings_file.h"

namespace {

// The language's own name, the same in both: whoever wants it can read it.
const wchar_t ENGLISH_ITEM[] = L"English";

UINT CheckFor(Language language) {
    return language == Language::English ? MF_CHECKED : MF_UNCHECKED;
}

} // namespace

void AddLanguageItem(HWND window) {
    HMENU menu = GetSystemMenu(window, FALSE);
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AddIsolationItem(window); // English stays the last item, where the user found it
    AppendMenuW(menu, MF_STRING, ID_CHAIN, Text(TEXT_CHAIN_ITEM));
    AppendMenuW(menu, MF_STRING, ID_MONITOR, Text(TEXT_MONITOR_TITLE));
    AppendMenuW(menu, MF_STRING, ID_HOTKEYS, Text(TEXT_HOTKEYS_ITEM));
    AddRunAtLogonItem(window);
    AppendMenuW(menu, MF_STRING | CheckFor(ShownLanguage()), ID_ENGLISH, ENGLISH_ITEM);
}

INT_PTR SwitchLanguage(HWND window) {
    const Language next =
        ShownLanguage() == Language::English ? Language::Japanese : Language::English;
    ShowLanguage(next);
    TranslateControls(window);
    TranslateMenu(trayPopup);
    PrepareTrayMenu(); // its slot items
    TranslateMenu(GetSystemMenu(window, FALSE));
    ShowLiveSwitches(window);
    CheckMenuItem(GetSystemMenu(window, FALSE), ID_ENGLISH, MF_BYCOMMAND | CheckFor(next));
    SaveLanguage(next);
    RefreshChainWindow();
    RefreshHotkeyWindow();
    RefreshMonitorWindow();
    return TRUE;
}
