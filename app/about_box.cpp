#include "app/about_box.h"

#include "app/app_state.h"
#include "app/chained_effects.h"
#include "settings/settings_store.h"
#include "app/live_effect.h"
#include "app/stream_commands.h"
#include "app/texts.h"
#include "res/resource.h"

#include <cwchar>
#include <string>

namespace {

constexpr size_t COUNTER_TEXT_UNITS = 64;

void ShowStreamCounters(HWND window) {
    wchar_t text[COUNTER_TEXT_UNITS];
    FormatStreamCounters(text, COUNTER_TEXT_UNITS);
    SetDlgItemTextW(window, IDC_ABOUT_COUNTERS, text);
    std::swprintf(text, COUNTER_TEXT_UNITS, Text(TEXT_EFFECT_RESTARTS), EffectRestarts());
    SetDlgItemTextW(window, IDC_ABOUT_EFFECT_RESTARTS, text);
    const EffectBlockStats blocks = LiveEffectBlockStats();
    const std::wstring late =
        std::wstring(Text(TEXT_EFFECT_LATE)) + (blocks.ahead ? Text(TEXT_EFFECT_AHEAD) : L"");
    std::swprintf(text, COUNTER_TEXT_UNITS, late.c_str(), blocks.late);
    SetDlgItemTextW(window, IDC_ABOUT_EFFECT_BLOCKS, text);
    SetDlgItemTextW(window, IDC_ABOUT_CHAIN_EFFECTS, ChainedEffectCounters(*currentSlot).c_str());
}

} // namespace

INT_PTR CALLBACK AboutDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    switch (message) {
    case WM_INITDIALOG:
        TranslateControls(window);
        ShowStreamCounters(window);
        return TRUE;
    case WM_COMMAND:
        // No buttons: Enter arrives as IDOK, Escape and the close box as IDCANCEL.
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(window, LOWORD(wParam));
        }
        return TRUE;
    default:
        return FALSE;
    }
}

void ShowAboutBox(HWND owner) {
    DialogBoxParamW(appInstance, MAKEINTRESOURCEW(IDD_ABOUT), owner, AboutDialogProc, 0);
}
