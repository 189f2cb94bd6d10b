#include "app/about_box.h"

#include "app/app_state.h"
#include "res/resource.h"

INT_PTR CALLBACK AboutDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    // No buttons: Enter arrives as IDOK, Escape and the close box as IDCANCEL.
    if (message == WM_COMMAND) {
        const WORD command = LOWORD(wParam);
        if (command == IDOK || command == IDCANCEL) {
            EndDialog(window, command);
        }
    }
    return 0;
}

void ShowAboutBox(HWND owner) {
    DialogBoxParamW(appInstance, MAKEINTRESOURCEW(IDD_ABOUT), owner, AboutDialogProc, 0);
}
