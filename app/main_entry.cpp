// Program entry: options, common controls, the current slot, then the main dialog until it
// ends.
#include <windows.h>
#include <commctrl.h>

#include "app/app_state.h"
#include "app/main_dialog.h"
#include "platform/platform.h"
#include "res/resource.h"
#include "settings/command_line.h"
#include "settings/settings_store.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPWSTR commandLine,
                    int /*showCommand*/) {
    HardenLibrarySearch();
    ParseCommandLine(commandLine);
    appInstance = instance;
    INITCOMMONCONTROLSEX controls;
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_BAR_CLASSES;
    InitCommonControlsEx(&controls);
    currentSlot = &slots[currentSlotIndex];
    DialogBoxParamW(appInstance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDialogProc, 0);
    return 0;
}
