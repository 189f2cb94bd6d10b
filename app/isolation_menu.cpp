#include "app/isolation_menu.h"

#include "app/slot_plugin.h"
#include "app/slot_saver.h"
#include "app/texts.h"
#include "res/resource.h"
#include "settings/settings_store.h"

void AddIsolationItem(HWND window) {
    AppendMenuW(GetSystemMenu(window, FALSE), MF_STRING, ID_ISOLATE, Text(TEXT_ISOLATE_ITEM));
    ShowIsolationCheck(window);
}

void ShowIsolationCheck(HWND window) {
    CheckMenuItem(GetSystemMenu(window, FALSE), ID_ISOLATE,
                  MF_BYCOMMAND | (currentSlot->VstIsolated ? MF_CHECKED : MF_UNCHECKED));
}

INT_PTR ToggleIsolation(HWND window) {
    currentSlot->VstIsolated = !currentSlot->VstIsolated;
    ShowIsolationCheck(window);
    ReadPluginFields(*currentSlot);
    SaveSlotNow(window);
    return TRUE;
}
