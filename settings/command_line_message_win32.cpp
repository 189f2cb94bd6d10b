#include "settings/command_line_message.h"

#include <windows.h>

void ShowCommandLineMessage() {
    // Shown before the main window exists, so there is no owner.
    MessageBoxW(nullptr, L"引数を理解できませんでした。", L"ERROR", MB_OK);
}
