// Copying values between the controls and the current settings slot.
#include <windows.h>
#include <commctrl.h>

#include "app/device_list.h"
#include "app/isolation_menu.h"
#include "app/main_dialog.h"
#include "res/resource.h"
#include "settings/settings_store.h"

void ApplySlotToControls(HWND window) {
    SelectDeviceName(GetDlgItem(window, IDC_WAVEIN), currentSlot->WaveInCapsName);
    SelectDeviceName(GetDlgItem(window, IDC_WAVEOUT), currentSlot->WaveOutCapsName);
    SendDlgItemMessageW(window, IDC_VOLUME, TBM_SETPOS, TRUE, currentSlot->Volume);
    SendMessageW(window, WM_VSCROLL, 0, reinterpret_cast<LPARAM>(GetDlgItem(window, IDC_VOLUME)));
    SendDlgItemMessageW(window, IDC_PITCH, TBM_SETPOS, TRUE, currentSlot->FreqRatio);
    SendMessageW(window, WM_VSCROLL, 0, reinterpret_cast<LPARAM>(GetDlgItem(window, IDC_PITCH)));
    SetDlgItemTextW(window, IDC_BUFFER_MS, currentSlot->BufferSize);
    SendDlgItemMessageW(window, IDC_AUTO_CONNECT, BM_SETCHECK,
                        currentSlot->AutoRestart ? BST_CHECKED : BST_UNCHECKED, 0);
    ShowIsolationCheck(window);
}

void ReadControls(HWND window, SettingsSlot& slot) {
    GetDlgItemTextW(window, IDC_BUFFER_MS, slot.BufferSize, BUFFER_SIZE_UNITS);
    GetDlgItemTextW(window, IDC_WAVEIN, slot.WaveInCapsName, DEVICE_NAME_UNITS);
    GetDlgItemTextW(window, IDC_WAVEOUT, slot.WaveOutCapsName, DEVICE_NAME_UNITS);
    slot.Volume = static_cast<int32_t>(SendDlgItemMessageW(window, IDC_VOLUME, TBM_GETPOS, 0, 0));
    slot.FreqRatio = static_cast<int32_t>(SendDlgItemMessageW(window, IDC_PITCH, TBM_GETPOS, 0, 0));
    slot.AutoRestart =
        SendDlgItemMessageW(window, IDC_AUTO_CONNECT, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void StoreControlsToSlot(HWND window) {
    ReadControls(window, *currentSlot);
}
