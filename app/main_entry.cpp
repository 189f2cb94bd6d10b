// Program entry: the language, options, common controls, the current slot, then the main
// dialog until it ends.
#include <windows.h>
#include <commctrl.h>

#include "app/app_state.h"
#include "app/main_dialog.h"
#include "app/texts.h"
#include "platform/platform.h"
#include "res/resource.h"
#include "settings/command_line.h"
#include "settings/settings_file.h"
#include "settings/settings_store.h"

namespace {

void ShowBadArguments() {
    // Shown before the main window exists, so there is no owner.
    MessageBoxW(nullptr, Text(TEXT_BAD_ARGUMENTS), L"ERROR", MB_OK);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPWSTR commandLine,
                    int /*showCommand*/) {
    HardenLibrarySearch();
    BuildIniPath(); // the language first: the command line's message is in it
    ShowLanguage(LoadLanguage());
    SetCommandLineMessageHandler(ShowBadArguments);
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
