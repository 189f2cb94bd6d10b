// The main window: one modal dialog for the whole life of the program.
#pragma once

#include <windows.h>

struct SettingsSlot;

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// WM_INITDIALOG in its fixed order (dialog_init.cpp).
INT_PTR OnInitDialog(HWND window);

// The only ways values pass between the controls and the current settings slot.
void StoreControlsToSlot(HWND window);
void ApplySlotToControls(HWND window);
// What StoreControlsToSlot stores, into any slot.
void ReadControls(HWND window, SettingsSlot& slot);

// WM_COMMAND (main_commands.cpp).
INT_PTR OnCommand(HWND window, WORD id, WORD code);

// The slot change a hotkey or the tray menu asks for: the slot list's, but a running stream goes
// on: at once on a slot of the same devices and buffer length (its sliders apply live), else
// stopped as the list stops it and started again on the slot's own devices.
void ChangeSlotFromAnywhere(HWND window, int index);

// TIMER_STOP, once the stream has stopped: the start a slot change from anywhere left waiting.
void StartAfterSlotChange(HWND window);

// WM_VSCROLL from a trackbar: recomputes gain or pitchRatio and its label (sliders.cpp).
INT_PTR OnVScroll(HWND window, HWND trackbar);

// WM_CTLCOLORSTATIC: the clip indicator's colour (clip_indicator.cpp).
INT_PTR OnCtlColorStatic(HWND window, HDC dc, HWND control);

// WM_TIMER, WM_CLOSE and the end of the session (main_close.cpp).
void OnTimer(HWND window, UINT_PTR timerId);
void OnClose(HWND window);
INT_PTR OnQueryEndSession(HWND window);
void OnEndSession(HWND window, bool ending);

// The detail row toggle (detail_row.cpp).
void ToggleDetailRow(HWND window);
