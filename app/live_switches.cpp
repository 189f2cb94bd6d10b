#include "app/live_switches.h"

#include <cwchar>
#include <string>

#include "app/app_state.h"
#include "app/main_dialog.h"
#include "app/texts.h"
#include "audio/block_processing.h"
#include "audio/mute_ramp.h"
#include "res/resource.h"
#include "settings/command_line.h"
#include "settings/settings_store.h"

namespace {

constexpr wchar_t PROGRAM_NAME[] = L"Kawauso04";

UINT CheckFor(bool on) {
    return MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED);
}

// "Kawauso04", and what is switched in brackets.
std::wstring TitleText() {
    std::wstring states;
    if (OutputMuted()) {
        states = Text(TEXT_MUTED_STATE);
    }
    if (EffectsBypassed()) {
        states += (states.empty() ? L"" : L", ") + std::wstring(Text(TEXT_BYPASSED_STATE));
    }
    return states.empty() ? PROGRAM_NAME : std::wstring(PROGRAM_NAME) + L" (" + states + L")";
}

// The slot items go above the first item (Start), replaced whole each time.
void FillSlotItems() {
    for (int i = 0; i < SLOT_COUNT; ++i) {
        DeleteMenu(trayPopup, static_cast<UINT>(ID_SLOT_FIRST + i), MF_BYCOMMAND);
    }
    if (GetMenuItemID(trayPopup, 0) == 0) { // the slots' separator (its id is 0)
        DeleteMenu(trayPopup, 0, MF_BYPOSITION);
    }
    InsertMenuW(trayPopup, 0, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
    for (int i = SLOT_COUNT; i-- > 0;) {
        wchar_t item[64];
        std::swprintf(item, sizeof item / sizeof item[0], L"%ls %d", Text(TEXT_SLOT_ITEM), i);
        InsertMenuW(trayPopup, 0, MF_BYPOSITION | MF_STRING,
                    static_cast<UINT_PTR>(ID_SLOT_FIRST + i), item);
    }
}

} // namespace

INT_PTR ToggleMute(HWND window) {
    SetOutputMuted(!OutputMuted());
    ShowLiveSwitches(window);
    return TRUE;
}

INT_PTR ToggleBypass(HWND window) {
    SetEffectsBypassed(!EffectsBypassed());
    ShowLiveSwitches(window);
    return TRUE;
}

INT_PTR ChooseSlot(HWND window, int index) {
    if (index < 0 || index >= SLOT_COUNT) {
        return FALSE;
    }
    ChangeSlotFromAnywhere(window, index);
    return TRUE;
}

void ShowLiveSwitches(HWND window) {
    const std::wstring title = TitleText();
    SetWindowTextW(window, title.c_str());
    std::wcsncpy(trayIconData.szTip, title.c_str(),
                 sizeof trayIconData.szTip / sizeof(wchar_t) - 1);
    if (startInTray) {
        Shell_NotifyIconW(NIM_MODIFY, &trayIconData);
    }
}

void PrepareTrayMenu() {
    FillSlotItems();
    CheckMenuRadioItem(trayPopup, ID_SLOT_FIRST, ID_SLOT_FIRST + SLOT_COUNT - 1,
                       static_cast<UINT>(ID_SLOT_FIRST + currentSlotIndex), MF_BYCOMMAND);
    CheckMenuItem(trayPopup, ID_MUTE, CheckFor(OutputMuted()));
    CheckMenuItem(trayPopup, ID_BYPASS, CheckFor(EffectsBypassed()));
}
